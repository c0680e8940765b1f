#include "settings/settings_codec.h"

#include "settings/field_table.h"
#include "settings/numeric_text.h"

namespace klvr {
namespace {

template <typename T>
T& Member(CommandSettings& s, const FieldDef& f) {
    return s.*std::get<T CommandSettings::*>(f.member);
}
template <typename T>
const T& Member(const CommandSettings& s, const FieldDef& f) {
    return s.*std::get<T CommandSettings::*>(f.member);
}

// Integer fields are 16-bit except the time-out and the retry count.
void SetConverted(CommandSettings& s, const FieldDef& f, const std::string& text) {
    if (std::holds_alternative<std::int32_t CommandSettings::*>(f.member))
        Member<std::int32_t>(s, f) = ToInt32(text);
    else
        Member<std::int16_t>(s, f) = ToInt16(text);
}

void TrySetConverted(CommandSettings& s, const FieldDef& f, const std::string& text) {
    try {
        SetConverted(s, f, text);
    } catch (const ConversionError&) {
        // a value that does not convert leaves the field as it was
    }
}

// A setting that does not convert stops the run; the message names it, for the user to find it.
void SetConvertedNamed(CommandSettings& s, const FieldDef& f, const std::string& text) {
    try {
        SetConverted(s, f, text);
    } catch (const ConversionError& e) {
        throw ConversionError(std::string(f.name) + ": " + e.what());
    }
}

}  // namespace

std::vector<std::string> SplitText(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    if (text.empty()) return parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = separator.empty() ? std::string::npos : text.find(separator, start);
        if (at == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
}

void DecodeForConfiguration(const SettingsArray& data, CommandSettings& s) {
    for (const FieldDef& f : FieldTable()) {
        const std::string e = data.Get(f.index);
        switch (f.kind) {
            case FieldKind::Text:
            case FieldKind::Password:
                if (!e.empty()) Member<std::string>(s, f) = e;
                break;
            case FieldKind::Int16:
            case FieldKind::Int32:
            case FieldKind::SecurityProtocol:
                if (!e.empty()) TrySetConverted(s, f, e);
                break;
            case FieldKind::ListIndex:
                if (e.empty())
                    Member<std::int16_t>(s, f) = 1;
                else
                    TrySetConverted(s, f, e);
                break;
            case FieldKind::FlagField:
                if (e == "0") Member<std::int16_t>(s, f) = kFalse;
                if (e == "1") Member<std::int16_t>(s, f) = kTrue;
                break;
            case FieldKind::Filter:
                if (!e.empty()) {
                    s.FileFilter = e;
                    if (s.FileFilter == "*") s.FileFilter = ".";
                }
                break;
            case FieldKind::RetryCount:
                if (e.empty())
                    s.RetryCount = 10;
                else if (IsNumericText(e))
                    TrySetConverted(s, f, e);
                break;
            case FieldKind::Trace:
                s.TraceLog = e == "1" ? kTrue : kFalse;
                break;
            case FieldKind::PortRange:
                break;  // the caller puts element 35 into the dialog's controls
        }
    }
}

void DecodeForRun(const SettingsArray& data, const SettingsArray& orgData, CommandSettings& s) {
    for (const FieldDef& f : FieldTable()) {
        if (f.kind == FieldKind::RetryCount || f.kind == FieldKind::PortRange) continue;
        const std::string& e = data.At(f.index);
        switch (f.kind) {
            case FieldKind::Text:
            case FieldKind::Password:
                Member<std::string>(s, f) = e;
                if (f.index == 20) s.VariableNumberRaw = orgData.At(20);
                break;
            case FieldKind::Filter:
                // The dialog saves "*" for an empty filter, which does not compile as a pattern: the run
                // reads it as every name, as the dialog shows it when it opens the command again.
                s.FileFilter = e;
                if (s.FileFilter == "*") s.FileFilter = ".";
                break;
            case FieldKind::Int16:
            case FieldKind::Int32:
            case FieldKind::ListIndex:
                SetConvertedNamed(s, f, e);
                break;
            case FieldKind::SecurityProtocol:
                if (!e.empty()) SetConvertedNamed(s, f, e);
                break;
            case FieldKind::FlagField:
                Member<std::int16_t>(s, f) = e == "0" ? kFalse : kTrue;
                break;
            case FieldKind::Trace:
                s.TraceLog = e == "1" ? kTrue : kFalse;
                break;
            case FieldKind::RetryCount:
            case FieldKind::PortRange:
                break;
        }
    }
}

std::vector<std::string> EncodeSettings(const CommandSettings& s,
                                        const std::function<std::string(int index)>& controlValue) {
    std::vector<std::string> saved(kFieldCount + 1);
    for (const FieldDef& f : FieldTable()) {
        std::string& out = saved[static_cast<std::size_t>(f.index)];
        if (f.writtenFromControl) {
            out = controlValue(f.index);
        } else if (std::holds_alternative<std::string CommandSettings::*>(f.member)) {
            out = Member<std::string>(s, f);
            if (f.kind == FieldKind::Password) out += kPasswordMarker;
        } else if (std::holds_alternative<std::int16_t CommandSettings::*>(f.member)) {
            out = std::to_string(Member<std::int16_t>(s, f));
        } else if (std::holds_alternative<std::int32_t CommandSettings::*>(f.member)) {
            out = std::to_string(Member<std::int32_t>(s, f));
        }
    }
    return saved;
}

}  // namespace klvr
