// The example systemd units that the package installs beside the README.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "support/process.h"
#include "support/temp_dir.h"

namespace klvr {
namespace {

// systemd's own check of the units, with the program they start taken from the build.
TEST(SystemdUnits, PassSystemdsCheck) {
    const std::string analyze = "/usr/bin/systemd-analyze";
    if (::access(analyze.c_str(), X_OK) != 0) GTEST_SKIP() << "systemd-analyze is not installed";
    test::TempDir units;
    const std::string source = std::string(KLVR_SOURCE_DIR) + "/packaging/systemd/";
    const std::string service = test::ReadFile(source + "vaultfetch@.service");
    ASSERT_NE(service.find("ExecStart=/usr/bin/vaultfetch run "), std::string::npos);
    for (const std::string setting : {"ProtectSystem=strict", "ReadWritePaths=", "LoadCredential=password:",
                                      "--password-file ${CREDENTIALS_DIRECTORY}/password"})
        EXPECT_NE(service.find(setting), std::string::npos) << setting;
    units.Write("vaultfetch@.service",
                std::regex_replace(service, std::regex("/usr/bin/vaultfetch"), std::string(KLVR_CLI_PATH)));
    units.Write("vaultfetch@.timer", test::ReadFile(source + "vaultfetch@.timer"));
    // the manual page is installed with the package, not where a build runs
    const auto r = test::RunProcess({analyze, "verify", "--man=no", units / "vaultfetch@nightly.service",
                                     units / "vaultfetch@nightly.timer"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
}

}  // namespace
}  // namespace klvr
