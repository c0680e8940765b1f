#pragma once
// The facts of every element of the settings array, in one place: its index, its name, its type and
// the decoding rules that follow from the type. The configuration decoder, the run decoder, the encoder
// and the host program's command files all read this table.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

#include "settings/command_settings.h"

namespace klvr {

enum class FieldKind {
    Text,              // copied (configuration: only when not empty)
    Password,          // as Text; the encoder appends the password marker
    Int16,             // converted (configuration: only when not empty; a failure keeps the field)
    Int32,             // as Int16, 32-bit
    ListIndex,         // Int16 whose empty element gives 1 in the configuration decoder
    FlagField,         // configuration: "0" / "1" set it, anything else keeps it; run: on unless "0"
    Filter,            // Text; the configuration decoder turns exactly "*" into "."
    RetryCount,        // configuration: empty gives 10, numeric converted, else kept; run: skipped
    SecurityProtocol,  // Int16 converted only when not empty, in both decoders
    Trace,             // on exactly when "1", in both decoders
    PortRange,         // element 35: lives in the dialog's controls only
};

using FieldMember = std::variant<std::monostate, std::string CommandSettings::*,
                                 std::int16_t CommandSettings::*, std::int32_t CommandSettings::*>;

struct FieldDef {
    int index;
    std::string_view name;  // the member name in command files
    FieldKind kind;
    FieldMember member;
    bool writtenFromControl;  // Ok reads the control instead of the record
    // What the dialog saves for a new command (Props on an empty array, then Ok once the required texts
    // are typed): the value that host programs give a setting their command files leave out.
    std::string_view newCommand;
};

inline constexpr int kFieldCount = 35;

const std::array<FieldDef, kFieldCount>& FieldTable();
const FieldDef* FindField(std::string_view name);
inline const FieldDef& Field(int index) {
    return FieldTable()[static_cast<std::size_t>(index - 1)];
}

}  // namespace klvr
