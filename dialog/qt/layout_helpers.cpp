#include "dialog/qt/layout_helpers.h"

#include <QFont>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>

namespace klvr::qt {

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : widgets) {
        if (w)
            row->addWidget(w);
        else
            row->addStretch(1);
    }
    return row;
}

void FitDigits(QWidget* edit, int digits) {
    const QFontMetrics metrics(edit->font());
    edit->setFixedWidth(metrics.horizontalAdvance(QString(digits + 1, QLatin1Char('0'))) + 14);
}

QHBoxLayout* ButtonRow(QWidget* ok, QWidget* cancel) {
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addStretch(1);
    for (QWidget* button : {ok, cancel}) {
        button->setMinimumWidth(std::max(button->sizeHint().width(), 88));
        row->addWidget(button);
    }
    return row;
}

void MakeHeader(QWidget* label) {
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    label->setFont(font);
    label->setContentsMargins(2, 2, 2, 6);
}

}  // namespace klvr::qt
