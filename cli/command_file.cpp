#include "cli/command_file.h"

#include "cli/json_file.h"
#include "settings/command_settings.h"
#include "settings/field_table.h"
#include "settings/numeric_text.h"
#include "settings/settings_codec.h"
#include "util/private_file.h"

namespace klvr::cli {
namespace {

using Json = nlohmann::ordered_json;

abi::StringArray ElementsOf(const Json& object, const std::string& where) {
    if (!object.is_object()) throw CommandFileError(where + " is not a JSON object");
    abi::StringArray a{1, std::vector<std::string>(kFieldCount)};
    std::vector<bool> given(kFieldCount, false);
    for (const auto& [name, value] : object.items()) {
        if (where == "the command file" && name == "orgData") continue;
        const FieldDef* f = FindField(name);
        if (!f) throw CommandFileError("unknown member \"" + name + "\" in " + where);
        if (!value.is_string())
            throw CommandFileError("member \"" + name + "\" in " + where + " is not a string");
        const auto at = static_cast<std::size_t>(f->index - 1);
        a.values[at] = value.get<std::string>();
        given[at] = true;
    }
    // Free texts have nothing to default to; every other setting is one the dialog never saves empty,
    // and an empty flag would read as on (an empty DeleteAfterDownload would delete remote files).
    for (const FieldDef& f : FieldTable()) {
        const auto at = static_cast<std::size_t>(f.index - 1);
        if (!given[at] || a.values[at].empty()) a.values[at] = std::string(f.newCommand);
    }
    return a;
}

}  // namespace

CommandFile ReadCommandFile(const std::string& path) {
    const Json j = ReadJsonFile(path, "command file");
    CommandFile file;
    file.data = ElementsOf(j, "the command file");
    file.orgData = j.contains("orgData") ? ElementsOf(j.at("orgData"), "orgData") : file.data;
    return file;
}

void WriteCommandFile(const std::string& path, const abi::StringArray& saved) {
    Json j = ReadJsonFile(path, "command file");
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

void CheckRunSettings(const abi::StringArray& data) {
    SettingsArray array;
    array.lowerBound = data.lowerBound;
    array.values = data.values;
    CommandSettings scratch;
    try {
        DecodeForRun(array, array, scratch);
    } catch (const ConversionError& e) {
        throw CommandFileError(e.what());
    }
}

}  // namespace klvr::cli
