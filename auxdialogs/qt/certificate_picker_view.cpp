#include "auxdialogs/qt/certificate_picker_view.h"

#include <QDateTime>
#include <QHeaderView>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <chrono>

#include "dialog/qt/layout_helpers.h"
#include "transfer/certificates/certificate_store.h"

namespace klvr::qt {
namespace {

QString Date(std::chrono::system_clock::time_point t) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
    return QDateTime::fromSecsSinceEpoch(seconds).date().toString(Qt::ISODate);
}

}  // namespace

CertificatePickerView::CertificatePickerView(Form& form, CertificateList& list, UiHost& ui, QWidget* parent)
    : FormView(form, ui, parent), certificates_(list) {
    CreateWidgets();
    auto* tabs = static_cast<QTabBar*>(WidgetOf("SSTab1"));
    tabs->setDrawBase(false);
    // the tabs change the store the list shows
    connect(tabs, &QTabBar::currentChanged, this, [this] { ShowCertificates(); });

    auto* top = new QVBoxLayout(this);
    top->setSpacing(0);
    top->addWidget(tabs);
    top->addWidget(list_, 1);
    top->addSpacing(10);
    top->addLayout(ButtonRow(WidgetOf("cmdOk"), WidgetOf("cmdCancel")));
    resize(680, 340);
    Start();
}

QWidget* CertificatePickerView::CreateComponent(const Control& control) {
    if (control.name != "CertificateList1") return nullptr;
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAlternatingRowColors(true);
    list_->setHeaderLabels({tr("Issued To"), tr("Issued By"), tr("Friendly Name"), tr("Valid To")});
    list_->header()->setStretchLastSection(true);
    list_->header()->setSectionResizeMode(QHeaderView::Interactive);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (syncing_ > 0) return;
        auto* item = list_->currentItem();
        const int index = item && item->isSelected() ? list_->indexOfTopLevelItem(item) + 1 : 0;
        Act("CertificateList1", [&] { certificates_.Select(index); });
    });
    connect(list_, &QTreeWidget::itemActivated, this,
            [this] { Act("CertificateList1", [&] { certificates_.Accept(); }); });
    return list_;
}

void CertificatePickerView::SyncComponent(const Control&) {
    ShowCertificates();
}

void CertificatePickerView::ShowCertificates() {
    if (!list_) return;
    ++syncing_;
    const CertificateList& certificates = certificates_;
    std::vector<std::string> keys;
    for (const Certificate& c : certificates.Certificates()) keys.push_back(c.KeyName);
    // the rows are rebuilt only for another listing, never under the user's click on one of them
    if (keys != shownKeys_) {
        shownKeys_ = keys;
        list_->clear();
        for (const Certificate& c : certificates.Certificates()) {
            auto* item = new QTreeWidgetItem(list_);
            item->setText(0, QString::fromStdString(c.IssuedTo));
            item->setText(1, QString::fromStdString(c.IssuedBy));
            item->setText(2, QString::fromStdString(c.FriendlyName));
            item->setText(3, Date(c.ValidTo));
            item->setToolTip(0, QString::fromStdString(c.KeyName));
        }
        for (int i = 0; i + 1 < list_->columnCount(); ++i) {
            list_->resizeColumnToContents(i);
            list_->setColumnWidth(i, std::max(list_->columnWidth(i) + 24, 150));
        }
    }
    const int selected = certificates.SelectedIndex();
    QTreeWidgetItem* wanted =
        selected >= 1 && selected <= list_->topLevelItemCount() ? list_->topLevelItem(selected - 1) : nullptr;
    if (wanted && !wanted->isSelected()) list_->setCurrentItem(wanted);
    if (!wanted) list_->clearSelection();
    --syncing_;
}

}  // namespace klvr::qt
