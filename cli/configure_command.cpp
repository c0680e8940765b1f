#include <cstdio>

#include "cli/cli_commands.h"

namespace klvr::cli {

int Configure(const Plugin&, const std::vector<std::string>&) {
    std::fprintf(stderr, "vaultfetch: configure is not available in this build\n");
    return 2;
}

}  // namespace klvr::cli
