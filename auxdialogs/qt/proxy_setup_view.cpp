#include "auxdialogs/qt/proxy_setup_view.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QVBoxLayout>
#include <algorithm>

#include "dialog/qt/layout_helpers.h"

namespace klvr::qt {

ProxySetupView::ProxySetupView(Form& form, UiHost& ui, QWidget* parent) : FormView(form, ui, parent) {
    CreateWidgets();
    const auto w = [this](const char* name) { return WidgetOf(name); };

    auto* panel = static_cast<QGroupBox*>(w("fraProxy"));
    auto* grid = new QGridLayout(panel);
    grid->setColumnStretch(2, 1);
    grid->addWidget(w("lblProxyType"), 0, 0);
    grid->addWidget(w("cboProxyType"), 0, 2);
    struct Line {
        const char* label;
        const char* button;
        const char* field;
    };
    const Line lines[] = {{"lblProxyHost", "Picture3", "txtProxyHost"},
                          {"lblProxyPort", "Picture1", "txtProxyPort"},
                          {"lblProxyUsername", "Picture2", "txtProxyUsername"},
                          {"lblProxyPassword", "Picture4", "txtProxyPassword"}};
    int row = 1;
    for (const Line& line : lines) {
        grid->addWidget(w(line.label), row, 0);
        grid->addWidget(w(line.button), row, 1);
        grid->addWidget(w(line.field), row, 2);
        // a hidden row keeps its height, so that the window does not jump when the kind changes
        grid->setRowMinimumHeight(row, w(line.field)->sizeHint().height());
        ++row;
    }
    FitDigits(w("txtProxyPort"), 6);
    grid->removeWidget(w("txtProxyPort"));
    grid->addLayout(Row({w("txtProxyPort"), nullptr}), 2, 2);
    grid->setRowStretch(row, 1);
    grid->addLayout(ButtonRow(w("cmdSave"), w("cmdCancel")), row + 1, 0, 1, 3);
    w("txtProxyHost")->setMinimumWidth(220);

    auto* top = new QVBoxLayout(this);
    top->addWidget(panel);
    top->setSizeConstraint(QLayout::SetMinimumSize);

    Start();
    // The kinds hide different rows; the columns keep the width of their widest widget, captions
    // included, so that the window keeps one width whatever the kind.
    for (int column = 0; column < 3; ++column) {
        int width = 0;
        for (int r = 0; r < grid->rowCount(); ++r)
            if (QLayoutItem* item = grid->itemAtPosition(r, column); item && item->widget())
                width = std::max({width, item->widget()->sizeHint().width(), item->widget()->minimumWidth()});
        grid->setColumnMinimumWidth(column, width);
    }
}

}  // namespace klvr::qt
