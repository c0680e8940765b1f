#pragma once
#include <string>
#include <vector>

#include "cli/plugin_loader.h"
#include "cli/secrets.h"

namespace klvr::cli {

struct RunOptions {
    std::string file;
    std::string instance;  // empty: a name unique to the process
    bool autolog = true;
    bool daemon = true;        // receive and print the log lines
    bool quiet = false;        // error lines only, no live progress
    bool verbose = false;      // the protocol trace on, and shown on standard error as well
    bool dryRun = false;       // decide and print, change nothing
    std::string report;        // the run report's file; "-" for standard output; empty for none
    bool failIfEmpty = false;  // a run that lists no file exits with its own status
    SecretOptions secrets;
    // Sessions fetching a folder's files at once. Two, as the graphical FTP clients do: most of what
    // more sessions win over long round trips, within the per-address limits servers commonly set.
    int parallel = 2;
};

// vaultfetch run COMMAND.json [options]
int Run(const Plugin& plugin, const RunOptions& options);

// vaultfetch configure COMMAND.json [--host-lists LISTS.json]; lists may be empty.
int Configure(const Plugin& plugin, const std::string& file, const std::string& lists);

// vaultfetch certs ...: prepares the certificate stores that the picker and the runs read.
int Certs(const std::vector<std::string>& args);

// vaultfetch register | unregister: the plug-in's self-install and self-remove, for install scripts.
int Register(const Plugin& plugin, bool install);

}  // namespace klvr::cli
