#include "host/configuration_entry.h"

#include <cstdio>

#include "dialog/configuration_form.h"
#include "dialog/ui_host.h"
#include "host/log_sink.h"
#include "host/module_state.h"
#include "host/toolbox.h"
#include "settings/numeric_text.h"
#include "settings/settings_codec.h"
#include "util/printable_text.h"

namespace klvr {
namespace {

// Each step of Props runs on its own: a step that fails is skipped and the next one runs.
template <typename Step>
void Step_(Step&& step) {
    try {
        step();
    } catch (...) {
    }
}

std::shared_ptr<UiHost> MakeUiHost(std::string& reason) {
    const auto& factory = moduleState().uiHostFactory;
    if (!factory) {
        reason = "no user interface is installed";
        return nullptr;
    }
    try {
        if (auto ui = factory()) return ui;
        reason = "the user interface is not available (no display)";
    } catch (const std::exception& e) {
        reason = std::string("the user interface failed to start: ") + e.what();
    }
    return nullptr;
}

ConfigurationForm& LoadedForm(const std::shared_ptr<UiHost>& ui) {
    auto& form = moduleState().configurationForm;
    if (!form) form = std::make_unique<ConfigurationForm>(ui);
    return *form;
}

// Element 35 lives only in the port-range controls; a part the split does not yield, or that a
// control refuses, leaves that control as it was.
void ApplyPortRange(ConfigurationForm& form, const std::string& element) {
    const std::vector<std::string> parts = SplitText(element, ":");
    if (parts.size() > 0) Step_([&] { form.SetValue("chkManualPort", ToInt16(parts[0])); });
    if (parts.size() > 1) Step_([&] { form.SetText("txtPortFrom", parts[1]); });
    if (parts.size() > 2) Step_([&] { form.SetText("txtPortTo", parts[2]); });
}

}  // namespace

void Props(const std::string& module, const SettingsArray& data) {
    ModuleState& m = moduleState();
    m.SavedDataCount = 0;
    std::string reason;
    const std::shared_ptr<UiHost> ui = MakeUiHost(reason);
    if (!ui) {
        const std::string line = "ERROR: The configuration dialog cannot be shown: " + Printable(reason);
        WriteLog(line, LogLevel::Error);
        std::fprintf(stderr, "%s\n", line.c_str());
        return;
    }
    const std::string upper = UpperCase(module);
    if (upper != kModuleName) {
        Step_([&] {
            ui->ShowMessage(nullptr, {"Unknown Module", "Module [" + upper + "] is unknown!",
                                      MessageIcon::Exclamation, MessageButtons::Ok});
        });
        return;
    }
    Step_([&] { DecodeForConfiguration(data, m.Settings); });
    Step_([&] {
        const std::string portRange = data.Get(35);
        if (!portRange.empty()) ApplyPortRange(LoadedForm(ui), portRange);
    });
    Step_([&] { LoadedForm(ui).FillDialog(); });
    Step_([&] { ui->ShowModal(LoadedForm(ui)); });
    // Closed by Ok, Cancel or the close box: the form is unloaded and the next call starts afresh.
    m.configurationForm.reset();
}

}  // namespace klvr
