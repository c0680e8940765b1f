#include "dialog/qt/form_view.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "dialog/qt/field_look.h"
#include "dialog/qt/image_button.h"
#include "dialog/variable_menu.h"

namespace klvr::qt {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// Positions in the model count characters; a line edit counts UTF-16 units.
bool PairAt(const QString& text, int i) {
    return text[i].isHighSurrogate() && i + 1 < text.size();
}

int ToUnits(const QString& text, int characters) {
    int units = 0;
    for (int n = 0; n < characters && units < text.size(); ++n) units += PairAt(text, units) ? 2 : 1;
    return units;
}

int ToCharacters(const QString& text, int units) {
    int n = 0;
    for (int i = 0; i < units && i < text.size(); ++n) i += PairAt(text, i) ? 2 : 1;
    return n;
}

struct Edit {
    QString text;
    int cursor;
};

// The field's maximum length limits typing and pasting only (text set by code may be longer), so the
// line edit's own limit, which also cuts text set by code, is not used: what the user inserted is cut
// to the room the limit leaves.
Edit LimitTyping(const QString& before, const QString& after, int maxLength, int cursor) {
    const int total = ToCharacters(after, static_cast<int>(after.size()));
    if (maxLength <= 0 || total <= maxLength) return {after, cursor};
    int prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) ++prefix;
    int suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    QString inserted = after.mid(prefix, after.size() - prefix - suffix);
    const int kept = total - ToCharacters(inserted, static_cast<int>(inserted.size()));
    inserted = inserted.left(ToUnits(inserted, std::max(0, maxLength - kept)));
    return {after.left(prefix) + inserted + after.right(suffix), prefix + static_cast<int>(inserted.size())};
}

bool TakesFocus(ControlKind kind) {
    switch (kind) {
        case ControlKind::Text:
        case ControlKind::CheckBox:
        case ControlKind::Option:
        case ControlKind::PickList:
        case ControlKind::Button:
        case ControlKind::TabStrip:
            return true;
        default:
            return false;
    }
}

}  // namespace

FormView::FormView(Form& form, UiHost& ui, QWidget* parent) : QDialog(parent), form_(form), ui_(ui) {
    setObjectName(Q(form.Name()));
    setWindowTitle(Q(form.Caption()));
    setModal(true);
}

FormView::~FormView() {
    form_.SetObserver(nullptr);
}

QWidget* FormView::WidgetOf(const std::string& name) const {
    const auto it = widgets_.find(name);
    return it == widgets_.end() ? nullptr : it->second;
}

void FormView::CreateWidgets() {
    for (const Control* c : form_.Controls()) {
        QWidget* w = CreateWidget(*c);
        if (w) Register(w, *c);
    }
    // labels name their fields, so that a click on a label or its access key reaches the field
    for (const Control* c : form_.Controls()) {
        auto* label = qobject_cast<QLabel*>(WidgetOf(c->name));
        if (label && !c->buddy.empty() && c->kind == ControlKind::Label) label->setBuddy(WidgetOf(c->buddy));
    }
}

QWidget* FormView::CreateWidget(const Control& c) {
    const std::string name = c.name;
    switch (c.kind) {
        case ControlKind::Label:
            return new QLabel(this);
        case ControlKind::Text: {
            auto* edit = new QLineEdit(this);
            connect(edit, &QLineEdit::textEdited, this,
                    [this, name](const QString& t) { TextEdited(name, t); });
            connect(edit, &QLineEdit::cursorPositionChanged, this, [this, name] { CaretMoved(name); });
            connect(edit, &QLineEdit::selectionChanged, this, [this, name] { CaretMoved(name); });
            return edit;
        }
        case ControlKind::CheckBox: {
            auto* box = new QCheckBox(this);
            connect(box, &QCheckBox::clicked, this, [this, name] { Clicked(name); });
            return box;
        }
        case ControlKind::Option: {
            auto* option = new QRadioButton(this);
            option->setAutoExclusive(false);  // the model keeps one option of a frame selected
            connect(option, &QRadioButton::clicked, this, [this, name] { Clicked(name); });
            return option;
        }
        case ControlKind::PickList: {
            auto* list = new QComboBox(this);
            connect(list, &QComboBox::activated, this,
                    [this, name](int index) { Act(name, [&] { form_.UserChoose(name, index); }); });
            return list;
        }
        case ControlKind::Button: {
            auto* button = new QPushButton(this);
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, [this, name] { Clicked(name); });
            return button;
        }
        case ControlKind::Image: {
            const bool variable = !form_.VariableButtonField(name).empty();
            auto* image = new ImageButton(variable ? VariableButtonImage() : CertificateManagerImage(), this);
            connect(image, &ImageButton::pressed, this,
                    [this, name](const QPoint& at) { ImagePressed(name, at); });
            return image;
        }
        case ControlKind::Frame:
            return new QGroupBox(this);
        case ControlKind::TabStrip: {
            auto* tabs = new QTabBar(this);
            tabs->setExpanding(false);
            connect(tabs, &QTabBar::currentChanged, this, [this, name](int index) {
                if (syncing_ == 0) Act(name, [&] { form_.UserChoose(name, index); });
            });
            return tabs;
        }
        case ControlKind::Component:
            return CreateComponent(c);
    }
    return nullptr;
}

void FormView::Register(QWidget* widget, const Control& c) {
    widget->setObjectName(Q(c.name));
    widgets_[c.name] = widget;
    names_[widget] = c.name;
    if (TakesFocus(c.kind)) widget->installEventFilter(this);
}

void FormView::Start() {
    QWidget* previous = nullptr;
    for (const Control* c : form_.Controls()) {
        QWidget* w = WidgetOf(c->name);
        if (!w || !TakesFocus(c->kind)) continue;
        if (previous) setTabOrder(previous, w);
        previous = w;
    }
    for (const Control* c : form_.Controls()) Sync(*c);
    form_.SetObserver(this);
    started_ = true;
}

void FormView::RunModal() {
    if (form_.IsClosed()) return;
    if (const Control* focused = form_.Focused())
        if (QWidget* w = WidgetOf(focused->name)) {
            ++syncing_;
            w->setFocus(Qt::OtherFocusReason);
            --syncing_;
        }
    exec();
}

void FormView::ControlChanged(const Control& control) {
    if (control.name == echo_) return;
    Sync(control);
}

void FormView::FocusChanged(const Control*) {
    QueueFocusSync();
}

void FormView::Closed() {
    done(QDialog::Rejected);
}

void FormView::reject() {
    // Escape and the close box both close the form as its close box does
    if (!form_.IsClosed()) Act("", [&] { form_.UserClose(); });
    if (form_.IsClosed()) QDialog::reject();
}

void FormView::closeEvent(QCloseEvent* event) {
    event->ignore();
    reject();
}

bool FormView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        // Qt keeps the selection of a field left for another window or a menu, and paints it there
        if (auto* edit = qobject_cast<QLineEdit*>(watched); edit && edit->hasSelectedText()) {
            ++syncing_;
            edit->setCursorPosition(edit->selectionStart());
            --syncing_;
        }
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() != QEvent::FocusIn || acting_ > 0 || syncing_ > 0 || !started_)
        return QDialog::eventFilter(watched, event);
    const auto it = names_.find(watched);
    if (it == names_.end()) return QDialog::eventFilter(watched, event);
    const std::string name = it->second;
    const Control* focused = form_.Focused();
    if (focused && focused->name == name) {
        // back from another window or a menu: the field shows the model's selection again
        if (qobject_cast<QLineEdit*>(watched))
            QTimer::singleShot(0, this, [this, name] {
                if (form_.Has(name)) Sync(form_.Get(name));
            });
        return QDialog::eventFilter(watched, event);
    }
    bool taken = false;
    Act(name, [&] { taken = form_.UserFocus(name); });
    if (!taken) {
        // a focus-out rule kept the focus on its field: the press that moved it is not a click
        dropClick_ = name;
        QueueFocusSync();
    }
    return QDialog::eventFilter(watched, event);
}

void FormView::QueueFocusSync() {
    if (focusSyncQueued_) return;
    focusSyncQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        focusSyncQueued_ = false;
        dropClick_.clear();
        ApplyModelFocus();
    });
}

void FormView::ApplyModelFocus() {
    const Control* focused = form_.Focused();
    QWidget* w = focused ? WidgetOf(focused->name) : nullptr;
    if (!w || w->hasFocus() || !w->isEnabled() || !w->isVisible()) return;
    ++syncing_;
    w->setFocus(Qt::OtherFocusReason);
    --syncing_;
    // the line edit may have moved its caret on taking the focus; the model's caret holds
    Sync(*focused);
}

void FormView::Clicked(const std::string& name) {
    if (dropClick_ == name) {
        dropClick_.clear();
        Sync(form_.Get(name));
        return;
    }
    Act(name, [&] { form_.UserClick(name); });
}

void FormView::TextEdited(const std::string& name, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(WidgetOf(name));
    if (!edit || syncing_ > 0) return;
    const Control& c = form_.Get(name);
    const Edit limited = LimitTyping(Q(c.text), text, c.maxLength, edit->cursorPosition());
    if (limited.text != text) {
        ++syncing_;
        edit->setText(limited.text);
        edit->setCursorPosition(limited.cursor);
        --syncing_;
    }
    const QString now = edit->text();
    const int start = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
    const int length = edit->hasSelectedText() ? static_cast<int>(edit->selectedText().size()) : 0;
    echo_ = name;
    Act(name, [&] {
        form_.SetText(name, now.toStdString());
        form_.SetSelection(name, ToCharacters(now, start), ToCharacters(now.mid(start), length));
    });
    echo_.clear();
}

void FormView::CaretMoved(const std::string& name) {
    auto* edit = qobject_cast<QLineEdit*>(WidgetOf(name));
    if (!edit || syncing_ > 0 || echo_ == name || !edit->hasFocus() || !started_) return;
    const QString text = edit->text();
    if (text.toStdString() != form_.Get(name).text) return;  // an edit in progress; TextEdited follows
    const int start = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
    const int length = edit->hasSelectedText() ? static_cast<int>(edit->selectedText().size()) : 0;
    const int from = ToCharacters(text, start);
    const int count = ToCharacters(text.mid(start), length);
    const Control& c = form_.Get(name);
    if (c.selStart == from && c.selLength == count) return;
    echo_ = name;
    form_.SetSelection(name, from, count);
    echo_.clear();
}

void FormView::ImagePressed(const std::string& name, const QPoint& position) {
    QWidget* image = WidgetOf(name);
    if (form_.VariableButtonField(name).empty()) {
        Act(name, [&] { form_.UserClick(name); });
        return;
    }
    // the menu opens where the button was pressed, in the window's client pixels
    const QPoint at = image->mapTo(this, position);
    Act(name, [&] { form_.UserPressVariableButton(ui_, name, at.x(), at.y()); });
}

void FormView::SyncText(QLineEdit& edit, const Control& c) {
    const QString text = Q(c.text);
    if (edit.text() != text) edit.setText(text);
    ShowMasked(edit, c.masked);
    ShowReadOnly(edit, c.readOnly);
    const int start = ToUnits(text, c.selStart);
    // a field without the focus shows no selection, which would stay painted there (the model keeps
    // it, and the field shows it again with the focus)
    const int length = edit.hasFocus() ? ToUnits(text, c.selStart + c.selLength) - start : 0;
    const int shownStart = edit.hasSelectedText() ? edit.selectionStart() : edit.cursorPosition();
    const int shownLength = edit.hasSelectedText() ? static_cast<int>(edit.selectedText().size()) : 0;
    if (shownStart == start && shownLength == length) return;
    if (length > 0)
        edit.setSelection(start, length);
    else
        edit.setCursorPosition(start);
}

void FormView::Sync(const Control& c) {
    QWidget* w = WidgetOf(c.name);
    if (!w) return;
    ++syncing_;
    switch (c.kind) {
        case ControlKind::Label:
            static_cast<QLabel*>(w)->setText(Q(c.caption));
            break;
        case ControlKind::Text:
            SyncText(*static_cast<QLineEdit*>(w), c);
            break;
        case ControlKind::CheckBox: {
            auto* box = static_cast<QCheckBox*>(w);
            box->setText(Q(c.caption));
            box->setCheckState(c.value == 1   ? Qt::Checked
                               : c.value == 2 ? Qt::PartiallyChecked
                                              : Qt::Unchecked);
            break;
        }
        case ControlKind::Option: {
            auto* option = static_cast<QRadioButton*>(w);
            option->setText(Q(c.caption));
            option->setChecked(c.selected);
            break;
        }
        case ControlKind::PickList: {
            auto* list = static_cast<QComboBox*>(w);
            bool same = list->count() == static_cast<int>(c.items.size());
            for (int i = 0; same && i < list->count(); ++i)
                same = list->itemText(i) == Q(c.items[static_cast<std::size_t>(i)].text);
            if (!same) {
                list->clear();
                for (const auto& item : c.items) list->addItem(Q(item.text));
            }
            list->setCurrentIndex(c.listIndex);
            break;
        }
        case ControlKind::Button:
            static_cast<QPushButton*>(w)->setText(Q(c.caption));
            break;
        case ControlKind::Image:
            break;
        case ControlKind::Frame:
            static_cast<QGroupBox*>(w)->setTitle(Q(c.caption));
            break;
        case ControlKind::TabStrip: {
            auto* tabs = static_cast<QTabBar*>(w);
            while (tabs->count() > static_cast<int>(c.items.size())) tabs->removeTab(tabs->count() - 1);
            for (std::size_t i = 0; i < c.items.size(); ++i) {
                if (static_cast<int>(i) < tabs->count())
                    tabs->setTabText(static_cast<int>(i), Q(c.items[i].text));
                else
                    tabs->addTab(Q(c.items[i].text));
            }
            tabs->setCurrentIndex(c.listIndex);
            break;
        }
        case ControlKind::Component:
            SyncComponent(c);
            break;
    }
    w->setToolTip(Q(c.tooltip));
    w->setEnabled(c.enabled);
    w->setHidden(!c.visible);
    --syncing_;
}

}  // namespace klvr::qt
