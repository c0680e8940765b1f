#include "settings/field_table.h"

namespace klvr {

using S = CommandSettings;
using K = FieldKind;

const std::array<FieldDef, kFieldCount>& FieldTable() {
    static const std::array<FieldDef, kFieldCount> table{{
        {1, "RemoteHost", K::Text, &S::RemoteHost, false, ""},
        {2, "UserName", K::Text, &S::UserName, false, ""},
        {3, "Password", K::Password, &S::Password, false, ""},
        {4, "RemotePort", K::Int16, &S::RemotePort, true, "990"},
        {5, "TransferMode", K::ListIndex, &S::TransferMode, true, "1"},
        {6, "TimeoutSeconds", K::Int32, &S::TimeoutSeconds, true, "30"},
        {7, "PassiveMode", K::FlagField, &S::PassiveMode, true, "0"},
        {8, "RemoteDir", K::Text, &S::RemoteDir, false, ""},
        {9, "LocalDir", K::Text, &S::LocalDir, false, ""},
        {10, "DeleteAfterDownload", K::FlagField, &S::DeleteAfterDownload, true, "0"},
        {11, "ProcessAll", K::FlagField, &S::ProcessAll, true, "0"},
        {12, "OverwriteExisting", K::FlagField, &S::OverwriteExisting, true, "0"},
        {13, "ProxyType", K::Int16, &S::ProxyType, false, "0"},
        {14, "ProxyHost", K::Text, &S::ProxyHost, false, ""},
        {15, "ProxyPort", K::Int16, &S::ProxyPort, false, "0"},
        {16, "ProxyUserName", K::Text, &S::ProxyUserName, false, ""},
        {17, "ProxyPassword", K::Text, &S::ProxyPassword, false, ""},
        {18, "SaveFileName", K::FlagField, &S::SaveFileName, true, "0"},
        {19, "VariableScope", K::Text, &S::VariableScope, true, "LOCAL"},
        {20, "VariableNumber", K::Text, &S::VariableNumber, true, ""},
        {21, "CopySpecific", K::FlagField, &S::CopySpecific, true, "0"},
        {22, "SpecificFileName", K::Text, &S::SpecificFileName, false, ""},
        {23, "FileFilter", K::Filter, &S::FileFilter, false, "*"},
        {24, "IncludeSubdirs", K::FlagField, &S::IncludeSubdirs, true, "0"},
        {25, "RetryCount", K::RetryCount, &S::RetryCount, true, "10"},
        {26, "SecurityMode", K::ListIndex, &S::SecurityMode, true, "1"},
        {27, "IgnoreDateError", K::Int16, &S::IgnoreDateError, true, "0"},
        {28, "IgnoreHostError", K::Int16, &S::IgnoreHostError, true, "0"},
        {29, "IgnoreRootError", K::Int16, &S::IgnoreRootError, true, "0"},
        {30, "AlwaysAuthenticate", K::Int16, &S::AlwaysAuthenticate, true, "0"},
        {31, "ClientCertificate", K::Text, &S::ClientCertificate, false, ""},
        {32, "SecurityProtocol", K::SecurityProtocol, &S::SecurityProtocol, true, "0"},
        {33, "SecretKey", K::Text, &S::SecretKey, true, ""},
        {34, "TraceLog", K::Trace, &S::TraceLog, true, "0"},
        {35, "ManualPortRange", K::PortRange, std::monostate{}, true, "0::"},
    }};
    return table;
}

const FieldDef* FindField(std::string_view name) {
    for (const auto& f : FieldTable())
        if (f.name == name) return &f;
    return nullptr;
}

}  // namespace klvr
