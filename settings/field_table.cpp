#include "settings/field_table.h"

namespace klvr {

using S = CommandSettings;
using K = FieldKind;

const std::array<FieldDef, kFieldCount>& FieldTable() {
    static const std::array<FieldDef, kFieldCount> table{{
        {1, "RemoteHost", K::Text, &S::RemoteHost, false},
        {2, "UserName", K::Text, &S::UserName, false},
        {3, "Password", K::Password, &S::Password, false},
        {4, "RemotePort", K::Int16, &S::RemotePort, true},
        {5, "TransferMode", K::ListIndex, &S::TransferMode, true},
        {6, "TimeoutSeconds", K::Int32, &S::TimeoutSeconds, true},
        {7, "PassiveMode", K::FlagField, &S::PassiveMode, true},
        {8, "RemoteDir", K::Text, &S::RemoteDir, false},
        {9, "LocalDir", K::Text, &S::LocalDir, false},
        {10, "DeleteAfterDownload", K::FlagField, &S::DeleteAfterDownload, true},
        {11, "ProcessAll", K::FlagField, &S::ProcessAll, true},
        {12, "OverwriteExisting", K::FlagField, &S::OverwriteExisting, true},
        {13, "ProxyType", K::Int16, &S::ProxyType, false},
        {14, "ProxyHost", K::Text, &S::ProxyHost, false},
        {15, "ProxyPort", K::Int16, &S::ProxyPort, false},
        {16, "ProxyUserName", K::Text, &S::ProxyUserName, false},
        {17, "ProxyPassword", K::Text, &S::ProxyPassword, false},
        {18, "SaveFileName", K::FlagField, &S::SaveFileName, true},
        {19, "VariableScope", K::Text, &S::VariableScope, true},
        {20, "VariableNumber", K::Text, &S::VariableNumber, true},
        {21, "CopySpecific", K::FlagField, &S::CopySpecific, true},
        {22, "SpecificFileName", K::Text, &S::SpecificFileName, false},
        {23, "FileFilter", K::Filter, &S::FileFilter, false},
        {24, "IncludeSubdirs", K::FlagField, &S::IncludeSubdirs, true},
        {25, "RetryCount", K::RetryCount, &S::RetryCount, true},
        {26, "SecurityMode", K::ListIndex, &S::SecurityMode, true},
        {27, "IgnoreDateError", K::Int16, &S::IgnoreDateError, true},
        {28, "IgnoreHostError", K::Int16, &S::IgnoreHostError, true},
        {29, "IgnoreRootError", K::Int16, &S::IgnoreRootError, true},
        {30, "AlwaysAuthenticate", K::Int16, &S::AlwaysAuthenticate, true},
        {31, "ClientCertificate", K::Text, &S::ClientCertificate, false},
        {32, "SecurityProtocol", K::SecurityProtocol, &S::SecurityProtocol, true},
        {33, "SecretKey", K::Text, &S::SecretKey, true},
        {34, "TraceLog", K::Trace, &S::TraceLog, true},
        {35, "ManualPortRange", K::PortRange, std::monostate{}, true},
    }};
    return table;
}

const FieldDef* FindField(std::string_view name) {
    for (const auto& f : FieldTable())
        if (f.name == name) return &f;
    return nullptr;
}

}  // namespace klvr
