#include <cstdio>

#include "cli/cli_commands.h"

namespace klvr::cli {

int Certs(const std::vector<std::string>&) {
    std::fprintf(stderr, "vaultfetch: certs is not available in this build\n");
    return 2;
}

}  // namespace klvr::cli
