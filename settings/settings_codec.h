#pragma once
#include <functional>
#include <string>
#include <vector>

#include "settings/command_settings.h"
#include "settings/settings_array.h"

namespace klvr {

// The configuration decoding of fields 1 to 34: never fails; an element that is empty, missing or does
// not convert leaves its field as it was (with the defaults that some fields take for empty text).
void DecodeForConfiguration(const SettingsArray& data, CommandSettings& settings);

// The run decoding of fields 1 to 24 and 26 to 34 with element 20 of orgData beside it. Throws
// SubscriptError or ConversionError at the first element that is missing or does not convert; the
// fields decoded before it keep their new values.
void DecodeForRun(const SettingsArray& data, const SettingsArray& orgData, CommandSettings& settings);

// The saved array: 36 strings, index 0 empty. For fields that Ok reads from a control, controlValue(index)
// supplies the control's text; the others come from the record (a password with its marker).
std::vector<std::string> EncodeSettings(const CommandSettings& settings,
                                        const std::function<std::string(int index)>& controlValue);

// Splits text at every occurrence of the separator, keeping empty parts; empty text gives no parts.
std::vector<std::string> SplitText(const std::string& text, const std::string& separator);

}  // namespace klvr
