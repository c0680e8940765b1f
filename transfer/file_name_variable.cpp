#include "transfer/file_name_variable.h"

#include "host/module_state.h"
#include "settings/numeric_text.h"

namespace klvr {

void StoreFileNameInVariable(const std::string& name) {
    ModuleState& m = moduleState();
    const CommandSettings& s = m.Settings;
    if (!IsOn(s.SaveFileName)) return;
    auto record = [&](std::array<VarType, 16>& table) -> VarType& {
        const std::optional<double> number = NumericValue(s.VariableNumber);
        if (!number)
            throw ConversionError("Type mismatch: [" + s.VariableNumber + "] is not a variable number");
        const std::int32_t index = RoundToInt32(*number - 1);
        if (index < 0 || index > 15) throw SubscriptError();
        return table[static_cast<std::size_t>(index)];
    };
    if (s.VariableScope == "GLOBAL") {
        record(m.GlobalVarTable) = VarType{kTrue, name};
    } else if (s.VariableScope == "LOCAL") {
        record(m.LocalVarTable) = VarType{kTrue, name};
    } else {
        if (!m.UserVariableNames) m.UserVariableNames = std::vector<std::string>{""};
        if (!m.UserVariableValues) m.UserVariableValues = std::vector<std::string>{""};
        m.UserVariableNames->push_back(s.VariableNumberRaw);
        m.UserVariableValues->push_back(name);
    }
}

}  // namespace klvr
