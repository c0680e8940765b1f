#include "auxdialogs/certificate_picker_form.h"

#include <array>

#include "host/log_sink.h"
#include "host/module_state.h"
#include "util/printable_text.h"

namespace klvr {
namespace {

struct StoreTab {
    const char* caption;
    int location;
    const char* storeName;
};

constexpr std::array<StoreTab, 4> kTabs{{
    {"Local Machine Store", 0, "MY"},
    {"Current User Store", 1, "MY"},
    {"ROOT Local Machine Store", 0, "ROOT"},
    {"ROOT Current User Store", 1, "ROOT"},
}};

Control Make(ControlKind kind, const char* name, const char* caption = "") {
    Control c;
    c.kind = kind;
    c.name = name;
    c.caption = caption;
    return c;
}

}  // namespace

CertificatePickerForm::CertificatePickerForm(UiHost& ui) : Form("frmCert", "Select Certificate"), ui_(ui) {
    Control& tabs = Add(Make(ControlKind::TabStrip, "SSTab1"));
    for (const auto& tab : kTabs) tabs.items.push_back({tab.caption, 0});
    Add(Make(ControlKind::Component, "CertificateList1"));
    Add(Make(ControlKind::Button, "cmdOk", "OK"));
    Add(Make(ControlKind::Button, "cmdCancel", "Cancel"));

    On("SSTab1", FormEvent::Click, [this] { SSTab1_Click(); });
    On("cmdOk", FormEvent::Click, [this] { cmdOk_Click(); });
    On("cmdCancel", FormEvent::Click, [this] { cmdCancel_Click(); });
    list_.OnSelectionChanged = [this] { CertificateList1_SelectionChanged(); };
    list_.OnAccept = [this] { CertificateList1_Accept(); };
    // A file of the store that cannot be read is passed over; the user sees the others, the log says why.
    list_.OnError = [](const std::string& text) {
        WriteLog("WARNING: " + Printable(text), LogLevel::Warning);
    };
    Form_Load();
}

void CertificatePickerForm::Form_Load() {
    SetEnabled("cmdOk", false);
    // Making the first tab current lists its store at once, so that what the list shows always
    // belongs to the current tab.
    SetListIndex("SSTab1", 0);
}

void CertificatePickerForm::RefreshList() {
    try {
        list_.Refresh();
    } catch (const std::exception& e) {
        WriteLog("WARNING: " + Printable(e.what()), LogLevel::Warning);
    }
    CertificateList1_SelectionChanged();
}

void CertificatePickerForm::Usage(int usageConst) {
    list_.CertificateUsage = usageConst;
    RefreshList();
}

void CertificatePickerForm::SSTab1_Click() {
    const int tab = Get("SSTab1").listIndex;
    if (tab >= 0 && tab < static_cast<int>(kTabs.size())) {
        list_.StoreLocation = kTabs[static_cast<std::size_t>(tab)].location;
        list_.StoreName = kTabs[static_cast<std::size_t>(tab)].storeName;
    }
    RefreshList();
}

bool CertificatePickerForm::HasSelection() const {
    return list_.SelectedIndex() >= 1 && list_.SelectedIndex() <= list_.Count();
}

void CertificatePickerForm::CertificateList1_SelectionChanged() {
    SetEnabled("cmdOk", false);
    if (HasSelection()) SetEnabled("cmdOk", true);
}

void CertificatePickerForm::CertificateList1_Accept() {
    cmdOk_Click();
}

void CertificatePickerForm::cmdOk_Click() {
    if (!HasSelection()) return;
    const int tab = Get("SSTab1").listIndex;
    const Certificate& chosen = list_.Item(list_.SelectedIndex());
    const std::string prefix = tab >= 2 ? "ROOT:" : "MY:";
    moduleState().Settings.ClientCertificate = prefix + chosen.IssuedBy + ":" + chosen.IssuedTo + ":" +
                                               std::to_string(list_.StoreLocation) + ":" + chosen.KeyName;
    Close();
}

void CertificatePickerForm::cmdCancel_Click() {
    Close();
}

}  // namespace klvr
