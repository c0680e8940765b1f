#include "host/toolbox.h"

#include <atomic>
#include <cctype>

#include "host/configuration_entry.h"
#include "host/module_state.h"
#include "host/run_driver.h"
#include "host/variable_exchange.h"
#include "transfer/session_events.h"
#include "util/dispatcher.h"

namespace klvr {

namespace {
std::atomic<int> gLiveObjects{0};
}

std::string UpperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

Toolbox::Toolbox() {
    ++gLiveObjects;
}
Toolbox::~Toolbox() {
    // An object released on another thread while a run goes on leaves the clean-up to that run.
    if (!BusyOnAnotherThread()) ReleaseAll(false);
    --gLiveObjects;
}
int Toolbox::LiveObjects() {
    return gLiveObjects.load();
}

void Toolbox::SetVariables(const std::string& list) {
    AddVariables(moduleState().UserVariableList, list);
}
void Toolbox::SetVariablesShared(const std::string& list) {
    AddVariables(moduleState().SharedVariableList, list);
}
void Toolbox::SetPresets(const std::string& list) {
    ReplacePresets(moduleState().PresetList, list, false);
}
void Toolbox::SetDBpresets(const std::string& list) {
    ReplacePresets(moduleState().DbPresetList, list, true);
}
void Toolbox::SetLocalConstants(const SettingsArray& v) {
    AddConstants(moduleState().LocalConstantList, v);
}
void Toolbox::SetGlobalConstants(const SettingsArray& v) {
    AddConstants(moduleState().GlobalConstantList, v);
}

std::vector<std::string> Toolbox::UserVariableName() const {
    return moduleState().UserVariableNames.value_or(std::vector<std::string>{});
}
std::vector<std::string> Toolbox::UserVariableData() const {
    return moduleState().UserVariableValues.value_or(std::vector<std::string>{});
}

VarType Toolbox::LocalVar(std::int16_t i) const {
    if (i < 0 || i > 15) throw SubscriptError();
    return moduleState().LocalVarTable[static_cast<std::size_t>(i)];
}
VarType Toolbox::GlobalVar(std::int16_t i) const {
    if (i < 0 || i > 15) throw SubscriptError();
    return moduleState().GlobalVarTable[static_cast<std::size_t>(i)];
}

void Toolbox::AutoLog(bool value) {
    moduleState().AutoLogEnabled = value;
}
void Toolbox::dInstance(const std::string& value) {
    moduleState().DaemonInstance = value;
}
std::string Toolbox::Info() const {
    return moduleState().InfoText;
}
std::string Toolbox::Author() const {
    return moduleState().AuthorText;
}
bool Toolbox::Error() const {
    return moduleState().ErrorFlag.load();
}

std::string Toolbox::Version() const {
    return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionRevision);
}

std::int16_t Toolbox::ModuleCount() const {
    return moduleState().ModuleCount;
}

ModType Toolbox::ModuleInfo(std::int16_t i) const {
    const auto& table = moduleState().ModuleInfoTable;
    if (!table || i < 0 || i > 1) throw SubscriptError();
    return (*table)[static_cast<std::size_t>(i)];
}

std::int16_t Toolbox::DataCount() const {
    return moduleState().SavedDataCount;
}

std::string Toolbox::Data(std::int16_t i) const {
    const auto& saved = moduleState().SavedData;
    if (!saved || i < 0 || i >= static_cast<int>(saved->size())) throw SubscriptError();
    return (*saved)[static_cast<std::size_t>(i)];
}

void Toolbox::Abort() {
    ModuleState& m = moduleState();
    m.AbortRequested = true;
    // The run's thread may be pausing between files or attempts; the task stops its client there and
    // then, and ends the pause.
    if (auto run = m.RunDispatcher.load())
        run->Post([] {
            ActOnAbortRequest();
            EndPause();
        });
}

void Toolbox::Props(const std::string& module, const SettingsArray& data) {
    klvr::Props(module, data);
}

void Toolbox::RunP(const std::string& module, const SettingsArray& data, const SettingsArray& orgData) {
    klvr::RunP(module, data, orgData);
}

void Toolbox::GetInfo() {
    ModuleState& m = moduleState();
    m.InfoText = "Plugin: Vaultfetch]|[native";
    m.AuthorText = "klvrVaultfetch developers, Morrowby";
    m.ModuleInfoTable.emplace();
    (*m.ModuleInfoTable)[1] = ModType{"Vaultfetch", "39", "39", "Vaultnet", "6", "6"};
    m.ModuleCount = 1;
}

}  // namespace klvr
