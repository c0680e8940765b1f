#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli_commands.h"
#include "cli/command_file.h"
#include "cli/json_file.h"
#include "cli/log_receiver.h"

namespace klvr::cli {
namespace {

using json = nlohmann::ordered_json;

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
    json j = ReadJsonFile(path, "host lists");
    if (!j.is_object()) throw CommandFileError("the host lists " + path + " are not a JSON object");
    for (const auto& [name, value] : j.items()) {
        static const char* known[] = {"variables", "sharedVariables", "presets",
                                      "dbPresets", "localConstants",  "globalConstants"};
        if (std::find(std::begin(known), std::end(known), name) == std::end(known))
            throw CommandFileError("unknown member \"" + name + "\" in the host lists");
    }
    return j;
}

}  // namespace

int Configure(const Plugin& plugin, const std::string& file, const std::string& lists) {
    CommandFile command = ReadCommandFile(file);
    StripPasswordMarker(command.data);
    const json hostLists = lists.empty() ? json::object() : ReadLists(lists);

    // The plug-in reports a dialog it cannot show on its log (and on standard error): the lines tell a
    // dialog that never opened from one the user cancelled.
    const std::string instance = "vaultfetch-" + std::to_string(::getpid());
    std::atomic<bool> failed{false};
    LogReceiver receiver(instance, [&failed](const LogDatagram& line) {
        if (line.level >= static_cast<int>(LogLevel::Error)) failed = true;
    });
    receiver.Start();
    abi::Toolbox t(plugin.functions());
    t.GetInfo();
    t.AutoLog(true);
    t.dInstance(instance);
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
    receiver.StopAndDrain();
    if (t.DataCount() != 35) {
        std::fprintf(stderr, "vaultfetch: nothing saved; %s is unchanged\n", file.c_str());
        return failed ? 1 : 0;
    }
    abi::StringArray saved{1, {}};
    for (int16_t i = 1; i <= 35; ++i) saved.values.push_back(t.Data(i));
    WriteCommandFile(file, saved);
    std::fprintf(stderr, "vaultfetch: saved the command into %s\n", file.c_str());
    return 0;
}

}  // namespace klvr::cli
