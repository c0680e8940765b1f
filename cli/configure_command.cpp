#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli_commands.h"
#include "cli/command_file.h"

namespace klvr::cli {
namespace {

using nlohmann::json;

// The host's lists as the Set… members take them: every name followed by "]|[".
std::string HostList(const json& names, const std::string& member) {
    if (!names.is_array()) throw CommandFileError("\"" + member + "\" in the host lists is not an array");
    std::string list;
    for (const auto& n : names) {
        if (!n.is_string()) throw CommandFileError("\"" + member + "\" in the host lists holds a non-string");
        list += n.get<std::string>() + "]|[";
    }
    return list;
}

abi::StringArray Constants(const json& descriptions, const std::string& member) {
    if (!descriptions.is_array() || descriptions.size() != 15)
        throw CommandFileError("\"" + member + "\" in the host lists must be an array of 15 descriptions");
    abi::StringArray a{1, {}};
    for (const auto& d : descriptions) {
        if (!d.is_string()) throw CommandFileError("\"" + member + "\" in the host lists holds a non-string");
        a.values.push_back(d.get<std::string>());
    }
    return a;
}

json ReadLists(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CommandFileError("cannot read the host lists " + path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    json j = json::parse(buffer.str(), nullptr, false);
    if (j.is_discarded() || !j.is_object())
        throw CommandFileError("the host lists " + path + " are not a JSON object");
    for (const auto& [name, value] : j.items()) {
        static const char* known[] = {"variables", "sharedVariables", "presets",
                                      "dbPresets", "localConstants",  "globalConstants"};
        if (std::find(std::begin(known), std::end(known), name) == std::end(known))
            throw CommandFileError("unknown member \"" + name + "\" in the host lists");
    }
    return j;
}

}  // namespace

int Configure(const Plugin& plugin, const std::vector<std::string>& args) {
    std::string file, lists;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--host-lists" && i + 1 < args.size())
            lists = args[++i];
        else if (file.empty() && args[i].rfind("--", 0) != 0)
            file = args[i];
        else
            throw CommandFileError("unexpected argument \"" + args[i] + "\"");
    }
    if (file.empty()) throw CommandFileError("configure needs a command file");
    CommandFile command = ReadCommandFile(file);
    StripPasswordMarker(command.data);
    const json hostLists = lists.empty() ? json::object() : ReadLists(lists);

    abi::Toolbox t(plugin.functions());
    t.GetInfo();
    t.AutoLog(true);
    t.dInstance("vaultfetch-" + std::to_string(::getpid()));
    if (hostLists.contains("variables")) t.SetVariables(HostList(hostLists["variables"], "variables"));
    if (hostLists.contains("sharedVariables"))
        t.SetVariablesShared(HostList(hostLists["sharedVariables"], "sharedVariables"));
    if (hostLists.contains("presets")) t.SetPresets(HostList(hostLists["presets"], "presets"));
    if (hostLists.contains("dbPresets")) t.SetDBpresets(HostList(hostLists["dbPresets"], "dbPresets"));
    if (hostLists.contains("localConstants"))
        t.SetLocalConstants(Constants(hostLists["localConstants"], "localConstants"));
    if (hostLists.contains("globalConstants"))
        t.SetGlobalConstants(Constants(hostLists["globalConstants"], "globalConstants"));
    t.Props("VAULTFETCH", command.data);
    if (t.DataCount() != 35) {
        std::fprintf(stderr, "vaultfetch: nothing saved; %s is unchanged\n", file.c_str());
        return 0;
    }
    abi::StringArray saved{1, {}};
    for (int16_t i = 1; i <= 35; ++i) saved.values.push_back(t.Data(i));
    WriteCommandFile(file, saved);
    std::fprintf(stderr, "vaultfetch: saved the command into %s\n", file.c_str());
    return 0;
}

}  // namespace klvr::cli
