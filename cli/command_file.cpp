#include "cli/command_file.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "settings/command_settings.h"
#include "settings/field_table.h"
#include "util/private_file.h"

namespace klvr::cli {
namespace {

using nlohmann::json;

abi::StringArray ElementsOf(const json& object, const std::string& where) {
    if (!object.is_object()) throw CommandFileError(where + " is not a JSON object");
    abi::StringArray a{1, std::vector<std::string>(kFieldCount)};
    for (const auto& [name, value] : object.items()) {
        if (where == "the command file" && name == "orgData") continue;
        const FieldDef* f = FindField(name);
        if (!f) throw CommandFileError("unknown member \"" + name + "\" in " + where);
        if (!value.is_string())
            throw CommandFileError("member \"" + name + "\" in " + where + " is not a string");
        a.values[static_cast<std::size_t>(f->index - 1)] = value.get<std::string>();
    }
    return a;
}

json Parse(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CommandFileError("cannot read the command file " + path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    json j = json::parse(buffer.str(), nullptr, false);
    if (j.is_discarded()) throw CommandFileError("the command file " + path + " is not valid JSON");
    return j;
}

}  // namespace

CommandFile ReadCommandFile(const std::string& path) {
    const json j = Parse(path);
    CommandFile file;
    file.data = ElementsOf(j, "the command file");
    file.orgData = j.contains("orgData") ? ElementsOf(j.at("orgData"), "orgData") : file.data;
    return file;
}

void WriteCommandFile(const std::string& path, const abi::StringArray& saved) {
    json j = Parse(path);
    if (!j.is_object()) throw CommandFileError("the command file " + path + " is not a JSON object");
    // The saved settings are the command as configured; an older orgData would no longer match them.
    j.erase("orgData");
    for (const FieldDef& f : FieldTable()) {
        const int at = f.index - saved.lowerBound;
        if (at < 0 || at >= static_cast<int>(saved.values.size())) continue;
        j[std::string(f.name)] = saved.values[static_cast<std::size_t>(at)];
    }
    // The file holds the password: it keeps its mode and owner, and is never seen half written.
    try {
        ReplaceFileContent(path, j.dump(2) + "\n");
    } catch (const std::runtime_error& e) {
        throw CommandFileError(e.what());
    }
}

void StripPasswordMarker(abi::StringArray& data) {
    const int at = 3 - data.lowerBound;
    if (at < 0 || at >= static_cast<int>(data.values.size())) return;
    std::string& pw = data.values[static_cast<std::size_t>(at)];
    const std::string marker = kPasswordMarker;
    if (pw.size() >= marker.size() && pw.compare(pw.size() - marker.size(), marker.size(), marker) == 0)
        pw.erase(pw.size() - marker.size());
}

}  // namespace klvr::cli
