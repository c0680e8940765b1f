#include "dialog/qt/field_look.h"

#include <QApplication>
#include <QLineEdit>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleFactory>

namespace klvr::qt {
namespace {

// The application's style, except for the character that stands for a hidden one.
class MaskStyle : public QProxyStyle {
  public:
    MaskStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

void ShowMasked(QLineEdit& edit, bool masked) {
    edit.setEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
    if (!masked || dynamic_cast<MaskStyle*>(edit.style())) return;
    // a widget does not own its style: the edit holds it as a child, so both go together
    auto* style = new MaskStyle;
    style->setParent(&edit);
    edit.setStyle(style);
}

void ShowReadOnly(QLineEdit& edit, bool readOnly) {
    if (edit.isReadOnly() == readOnly && edit.testAttribute(Qt::WA_SetPalette) == readOnly) return;
    edit.setReadOnly(readOnly);
    if (!readOnly) {
        edit.setPalette(QPalette());  // the window's palette again
        return;
    }
    QPalette palette = edit.palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::Base, palette.color(group, QPalette::Window));
    edit.setPalette(palette);
}

}  // namespace klvr::qt
