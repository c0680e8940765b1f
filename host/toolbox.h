#pragma once
// The plug-in's one public class as the host sees it: every member in the order of its slots. All
// members read and write the module state, so every Toolbox object of the process shares it.
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_lists.h"
#include "klvr/version.h"
#include "settings/settings_array.h"

namespace klvr {

inline constexpr const char* kClassName = "klvrVaultfetch.Toolbox";
inline constexpr const char* kModuleName = "VAULTFETCH";
inline constexpr int kVersionMajor = KLVR_VERSION_MAJOR, kVersionMinor = KLVR_VERSION_MINOR,
                     kVersionRevision = KLVR_VERSION_PATCH;

class Toolbox {
  public:
    Toolbox();
    ~Toolbox();  // releases the per-call state and the output tables
    Toolbox(const Toolbox&) = delete;
    Toolbox& operator=(const Toolbox&) = delete;

    void SetVariables(const std::string& VarDataSource);                                            // 1
    void SetVariablesShared(const std::string& VarDataSource);                                      // 2
    void SetPresets(const std::string& sPresetList);                                                // 3
    std::vector<std::string> UserVariableName() const;                                              // 4
    std::vector<std::string> UserVariableData() const;                                              // 5
    void AutoLog(bool value);                                                                       // 6
    void dInstance(const std::string& value);                                                       // 7
    std::string Info() const;                                                                       // 8
    std::string Author() const;                                                                     // 9
    bool Error() const;                                                                             // 10
    std::string Version() const;                                                                    // 11
    std::int16_t ModuleCount() const;                                                               // 12
    ModType ModuleInfo(std::int16_t Index) const;                                                   // 13
    std::int16_t DataCount() const;                                                                 // 14
    std::string Data(std::int16_t Index) const;                                                     // 15
    VarType LocalVar(std::int16_t Index) const;                                                     // 16
    VarType GlobalVar(std::int16_t Index) const;                                                    // 17
    void SetLocalConstants(const SettingsArray& Value);                                             // 18
    void SetGlobalConstants(const SettingsArray& Value);                                            // 19
    void Abort();                                                                                   // 20
    void Props(const std::string& Module, const SettingsArray& Data);                               // 21
    void RunP(const std::string& Module, const SettingsArray& Data, const SettingsArray& orgData);  // 22
    void GetInfo();                                                                                 // 23
    void SetDBpresets(const std::string& sPresetList);                                              // 24

    static int LiveObjects();
};

std::string UpperCase(std::string text);

}  // namespace klvr
