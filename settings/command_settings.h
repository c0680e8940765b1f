#pragma once
#include <cstdint>
#include <string>

namespace klvr {

// Flags hold True = -1 and False = 0, as everywhere in the plug-in's state.
using Flag = std::int16_t;
constexpr Flag kTrue = -1;
constexpr Flag kFalse = 0;
inline bool IsOn(Flag f) {
    return f != 0;
}

// The suffix that marks a password element in the settings array; added on writing, never removed.
inline constexpr const char* kPasswordMarker = "_$PW$_";

// The decoded command: fields 1 to 34 of the settings array (field 35 lives in the dialog's controls).
struct CommandSettings {
    std::string RemoteHost;               // 1
    std::string UserName;                 // 2
    std::string Password;                 // 3
    std::int16_t RemotePort = 0;          // 4
    std::int16_t TransferMode = 0;        // 5: 0 ASCII, 1 IMAGE, 2 EBCDIC, 3 ZIP
    std::int32_t TimeoutSeconds = 0;      // 6
    Flag PassiveMode = kFalse;            // 7
    std::string RemoteDir;                // 8
    std::string LocalDir;                 // 9
    Flag DeleteAfterDownload = kFalse;    // 10
    Flag ProcessAll = kFalse;             // 11
    Flag OverwriteExisting = kFalse;      // 12
    std::int16_t ProxyType = 0;           // 13
    std::string ProxyHost;                // 14
    std::int16_t ProxyPort = 0;           // 15
    std::string ProxyUserName;            // 16
    std::string ProxyPassword;            // 17
    Flag SaveFileName = kFalse;           // 18
    std::string VariableScope;            // 19: LOCAL, GLOBAL or USER
    std::string VariableNumber;           // 20
    Flag CopySpecific = kFalse;           // 21
    std::string SpecificFileName;         // 22
    std::string FileFilter;               // 23
    Flag IncludeSubdirs = kFalse;         // 24
    std::int32_t RetryCount = 0;          // 25
    std::int16_t SecurityMode = 0;        // 26
    std::int16_t IgnoreDateError = 0;     // 27
    std::int16_t IgnoreHostError = 0;     // 28
    std::int16_t IgnoreRootError = 0;     // 29
    std::int16_t AlwaysAuthenticate = 0;  // 30
    std::string ClientCertificate;        // 31
    std::int16_t SecurityProtocol = 0;    // 32: 0 Auto, 1 SSL3, 2 SSL2, 3 PCT, 4 TLS, 5 None
    std::string SecretKey;                // 33
    Flag TraceLog = kFalse;               // 34

    // Element 20 of the array as configured, before the host replaced its variables.
    std::string VariableNumberRaw;
    // Derived by the run from fields 27 to 29 for the server-certificate check.
    bool IgnoreDate = false;
    bool IgnoreHost = false;
    bool IgnoreRoot = false;
};

}  // namespace klvr
