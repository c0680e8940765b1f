// The manifest through which the host finds the plug-in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "host/plugin_manifest.h"

namespace klvr {
namespace {

namespace fs = std::filesystem;

TEST(PluginManifest, NamesTheLibraryExactlyWhateverItsPathHolds) {
    for (const std::string library : {"/usr/lib/libklvrVaultfetch.so.6", "/opt/a \"quoted\" \\ folder/lib.so",
                                      "/tmp/line\nbreak/lib.so", "/srv/\xc3\xa9t\xc3\xa9/lib.so"}) {
        const auto json = nlohmann::json::parse(ManifestText("klvrVaultfetch.Toolbox", library));
        EXPECT_EQ(json.at("class"), "klvrVaultfetch.Toolbox");
        EXPECT_EQ(json.at("library"), library);
    }
    // JSON cannot carry a path that is not UTF-8: no manifest rather than one naming another file
    EXPECT_THROW(ManifestText("klvrVaultfetch.Toolbox", "/srv/\xff/lib.so"), nlohmann::json::exception);
}

TEST(PluginManifest, IsReplacedWholeAndAFailureCarriesTheReason) {
    const fs::path dir = fs::temp_directory_path() / ("klvr-manifest-" + std::to_string(::getpid()));
    const fs::path manifest = dir / "kelvara/plugins/klvrVaultfetch.Toolbox.json";
    WriteManifest(manifest, "{\"first\": 1}\n");
    WriteManifest(manifest, "{}\n");
    std::ifstream in(manifest);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "{}\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(manifest.parent_path()), {}), 1);  // no stray file

    std::ofstream(dir / "file") << "not a folder";
    try {
        WriteManifest(dir / "file/kelvara/plugins/m.json", "{}\n");
        ADD_FAILURE() << "a folder below a file cannot be made";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.code(), std::errc::not_a_directory);
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace klvr
