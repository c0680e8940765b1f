#pragma once
// A modal window over a Form: one widget per control. Each widget shows its control's state as the model
// changes it and hands the user's actions to the model, so that every rule lives in the model alone and
// the window has no behaviour of its own. Subclasses only arrange the widgets.
#include <QDialog>
#include <QPoint>
#include <map>
#include <string>
#include <vector>

#include "dialog/form.h"

class QLineEdit;

namespace klvr {

class UiHost;

namespace qt {

class FormView : public QDialog, public FormObserver {
    Q_OBJECT

  public:
    FormView(Form& form, UiHost& ui, QWidget* parent);
    ~FormView() override;

    Form& Model() const { return form_; }
    UiHost& Ui() const { return ui_; }

    // The widget of a control, or null for a control without one.
    QWidget* WidgetOf(const std::string& name) const;

    // Shows the window and returns once the form has been closed.
    void RunModal();

    void ControlChanged(const Control& control) override;
    void FocusChanged(const Control* control) override;
    void Closed() override;

  protected:
    // Creates a widget for every control in the form's order, parented to the window; the subclass
    // then places them in its layouts and calls Start.
    void CreateWidgets();
    // Chains the tab order through the focusable controls in the form's order, shows the model's
    // state and starts following it.
    void Start();

    // A control the generic views do not know (the certificate list); null leaves it without a widget.
    virtual QWidget* CreateComponent(const Control&) { return nullptr; }
    virtual void SyncComponent(const Control&) {}

    // Runs one action of the user on the model and then shows the control again, since the widget may
    // already show what the model refused.
    template <typename Action>
    void Act(const std::string& name, Action&& action);

    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // While positive, the widgets' signals come from the view writing them, not from the user.
    int syncing_ = 0;

  private:
    QWidget* CreateWidget(const Control& control);
    void Register(QWidget* widget, const Control& control);
    void Sync(const Control& control);
    void SyncText(QLineEdit& edit, const Control& control);
    void QueueFocusSync();
    void ApplyModelFocus();
    void Clicked(const std::string& name);
    void TextEdited(const std::string& name, const QString& text);
    void CaretMoved(const std::string& name);
    void ImagePressed(const std::string& name, const QPoint& position);

    Form& form_;
    UiHost& ui_;
    std::map<std::string, QWidget*> widgets_;
    std::map<const QObject*, std::string> names_;
    int acting_ = 0;         // user actions in progress: the focus changes they cause are not the user's
    std::string echo_;       // the control whose change the view is handing to the model itself
    std::string dropClick_;  // a press whose focus change the model refused: its click is dropped
    bool focusSyncQueued_ = false;
    bool started_ = false;
};

template <typename Action>
void FormView::Act(const std::string& name, Action&& action) {
    ++acting_;
    try {
        action();
    } catch (const std::exception&) {
        // a refused action leaves the model as it was; the widget is shown again below
    }
    --acting_;
    if (form_.Has(name)) Sync(form_.Get(name));
}

}  // namespace qt
}  // namespace klvr
