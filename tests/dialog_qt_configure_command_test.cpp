// vaultfetch configure as a user drives it: the dialog opens with the file's values and Ok writes the
// command back in the order the user keeps its members in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/cli_commands.h"
#include "cli/plugin_loader.h"
#include "tests/dialog_qt_user.h"

namespace klvr {
namespace {

namespace fs = std::filesystem;

TEST(ConfigureCommand, OkKeepsTheMembersInTheFilesOrder) {
    test::UseOffscreenQt();  // the program's process has its Qt application; the plug-in uses it
    const fs::path file =
        fs::temp_directory_path() / ("klvr-configure-" + std::to_string(::getpid()) + ".json");
    std::ofstream(file) << R"({
  "LocalDir": "/srv/in",
  "UserName": "alice",
  "RemoteHost": "ftp.example.test",
  "Password": "s3cret",
  "RemotePort": "21"
})";
    int exitCode = -1;
    {
        const cli::Plugin plugin(KLVR_PLUGIN_PATH);
        test::QtUser user;
        user.When("frmCommandFTPDownload", [](QWidget& w) {
            EXPECT_EQ(test::Find<QLineEdit>(w, "txtPort").text(), "21");
            EXPECT_FALSE(test::Find<QCheckBox>(w, "chkAutoDelete").isChecked());  // left out: off
            test::TypeInto(w, "txtUsername", "bob");
            test::Click(w, "cmdSave");
        });
        user.Run([&] { exitCode = cli::Configure(plugin, file.string(), ""); });
    }
    EXPECT_EQ(exitCode, 0);
    std::ifstream in(file);
    const auto saved = nlohmann::ordered_json::parse(in);
    fs::remove(file);

    std::vector<std::string> names;
    for (const auto& [name, value] : saved.items()) names.push_back(name);
    ASSERT_EQ(names.size(), 35u);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 5),
              (std::vector<std::string>{"LocalDir", "UserName", "RemoteHost", "Password", "RemotePort"}));
    EXPECT_EQ(saved["UserName"], "bob");
    EXPECT_EQ(saved["DeleteAfterDownload"], "0");
}

}  // namespace
}  // namespace klvr
