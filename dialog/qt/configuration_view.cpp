#include "dialog/qt/configuration_view.h"

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "dialog/qt/layout_helpers.h"

namespace klvr::qt {
namespace {

// One row of a field group: its label, the variable button just left of the field (if any), the field.
void FieldRow(QGridLayout* grid, int row, QWidget* label, QWidget* button, QWidget* field,
              QWidget* after = nullptr) {
    grid->addWidget(label, row, 0);
    if (button) grid->addWidget(button, row, 1);
    if (after)
        grid->addLayout(Row({field, after}), row, 2);
    else
        grid->addWidget(field, row, 2);
}

QGridLayout* FieldGrid(QWidget* group) {
    auto* grid = new QGridLayout(group);
    grid->setColumnStretch(2, 1);
    grid->setHorizontalSpacing(6);
    return grid;
}

}  // namespace

ConfigurationView::ConfigurationView(Form& form, UiHost& ui, QWidget* parent) : FormView(form, ui, parent) {
    CreateWidgets();
    const auto w = [this](const char* name) { return WidgetOf(name); };

    // connection
    auto* connection = new QGroupBox(tr("Connection"), this);
    auto* c = FieldGrid(connection);
    FieldRow(c, 0, w("lblHost"), w("Picture2"), w("txtHost"));
    FieldRow(c, 1, w("lblUsername"), w("Picture3"), w("txtUsername"));
    FieldRow(c, 2, w("lblPassword"), w("Picture4"), w("txtPassword"));
    for (const char* n : {"txtPort", "txtTimeout", "txtRetries"}) FitDigits(w(n), n[3] == 'P' ? 5 : 3);
    c->addWidget(w("lblPort"), 3, 0);
    c->addLayout(Row({w("txtPort"), w("lblTimeout"), w("txtTimeout"), w("lblTimeoutUnit"), w("lblRetries"),
                      w("txtRetries"), nullptr}),
                 3, 2);
    c->addWidget(w("lblMode"), 4, 0);
    c->addLayout(Row({w("cmbMode"), w("chkPASV"), w("chkTrace"), nullptr, w("cmdProxySetup")}), 4, 2);
    for (const char* n : {"lblTimeout", "lblRetries"}) static_cast<QLabel*>(w(n))->setIndent(10);

    // files
    auto* files = new QGroupBox(tr("Files"), this);
    auto* f = FieldGrid(files);
    FieldRow(f, 0, w("lblRemoteDir"), w("picShowPopup2"), w("txtRemoteDir"));
    w("cmdBrowseDestination")->setFixedWidth(w("txtHost")->sizeHint().height() + 8);
    FieldRow(f, 1, w("lblLocalDir"), w("Picture1"), w("txtLocalDir"), w("cmdBrowseDestination"));
    FieldRow(f, 2, w("lblFilter"), w("Picture7"), w("txtFilter"));
    f->addLayout(Row({w("chkIncludeSubdir"), w("chkProcesAll"), nullptr}), 3, 0, 1, 3);
    FieldRow(f, 4, w("chkCopySpecific"), w("Picture6"), w("txtSpecificFilename"));
    f->addWidget(w("chkAutoDelete"), 5, 0, 1, 3);

    auto* localFile = static_cast<QGroupBox*>(w("fraLocalfile"));
    auto* l = new QVBoxLayout(localFile);
    l->addWidget(w("optOverwrite"));
    l->addWidget(w("optSkip"));
    l->addStretch(1);
    auto* saveName = static_cast<QGroupBox*>(w("fraSaveFilename"));
    auto* s = new QGridLayout(saveName);
    s->addWidget(w("chkSaveFilename"), 0, 0, 1, 3);
    s->addWidget(w("cmbVarNum"), 0, 3);
    s->addWidget(w("optLocal"), 1, 0);
    s->addWidget(w("optGlobal"), 1, 1);
    s->addWidget(w("optUD"), 1, 2, 1, 2);
    s->setColumnStretch(3, 1);
    w("cmbVarNum")->setMinimumWidth(90);
    auto* frames = new QHBoxLayout;
    frames->addWidget(localFile);
    frames->addWidget(saveName, 1);
    f->addLayout(frames, 6, 0, 1, 3);

    // security
    auto* security = static_cast<QGroupBox*>(w("fraSecurity"));
    auto* g = new QGridLayout(security);
    g->setColumnStretch(1, 1);
    g->addWidget(w("lblAuth"), 0, 0);
    g->addWidget(w("cboAuth"), 0, 1);
    g->addWidget(w("lblProtocol"), 1, 0);
    g->addLayout(Row({w("cmbProtocol"), nullptr}), 1, 1);
    auto* checks = new QGridLayout;
    checks->addWidget(w("chkIgnoreDate"), 0, 0);
    checks->addWidget(w("chkIgnoreHost"), 0, 1);
    checks->addWidget(w("chkIgnoreRoot"), 1, 0);
    checks->addWidget(w("chkAlwaysAuthenticate"), 1, 1);
    g->addLayout(checks, 2, 0, 1, 2);
    auto* line = new QFrame(security);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    g->addWidget(line, 3, 0, 1, 2);
    g->addWidget(w("lblStore"), 4, 0);
    g->addWidget(w("txtStore"), 4, 1);
    g->addWidget(w("lblCertificate"), 5, 0);
    g->addWidget(w("txtCertificate"), 5, 1);
    g->addWidget(w("lblIssuedTo"), 6, 0);
    g->addWidget(w("txtIssuedTo"), 6, 1);
    w("cmdClearCert")->setFixedWidth(w("cmdClearCert")->sizeHint().height() + 8);
    g->addLayout(Row({nullptr, w("imCertificates"), w("cmdCertificate"), w("cmdClearCert")}), 7, 0, 1, 2);
    auto* line2 = new QFrame(security);
    line2->setFrameShape(QFrame::HLine);
    line2->setFrameShadow(QFrame::Sunken);
    g->addWidget(line2, 8, 0, 1, 2);
    g->addWidget(w("chkManualPort"), 9, 0, 1, 2);
    for (const char* n : {"txtPortFrom", "txtPortTo"}) FitDigits(w(n), 5);
    g->addWidget(w("lblPortRange"), 10, 0);
    g->addLayout(Row({w("txtPortFrom"), w("lblPortSeparator"), w("txtPortTo"), nullptr}), 10, 1);
    g->addWidget(w("lblSecretKey"), 11, 0);
    g->addWidget(w("txtSecretKey"), 11, 1);
    g->setRowStretch(12, 1);

    // the window
    MakeHeader(w("lblHeader"));
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(connection);
    left->addWidget(files);
    columns->addLayout(left, 3);
    columns->addWidget(security, 2);
    auto* top = new QVBoxLayout(this);
    top->addWidget(w("lblHeader"));
    top->addLayout(columns);
    top->addLayout(ButtonRow(w("cmdSave"), w("cmdCancel")));
    top->setSizeConstraint(QLayout::SetMinimumSize);

    Start();

    // the fields of both groups start at one line (the captions are known once the model is shown)
    int labels = 0;
    for (const char* n : {"lblHost", "lblUsername", "lblPassword", "lblPort", "lblMode", "lblRemoteDir",
                          "lblLocalDir", "lblFilter", "chkCopySpecific"})
        labels = std::max(labels, w(n)->sizeHint().width());
    c->setColumnMinimumWidth(0, labels);
    f->setColumnMinimumWidth(0, labels);
}

}  // namespace klvr::qt
