// The plug-in as a host sees it: loaded with dlopen, every member called through the C ABI.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "klvr/toolbox.h"
#include "support/log_capture.h"

namespace {

class Plugin : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        handle_ = ::dlopen(KLVR_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        ASSERT_TRUE(f_.Load([](const char* name) { return ::dlsym(handle_, name); }));
    }
    static void* handle_;
    static klvr::abi::Functions f_;
};
void* Plugin::handle_ = nullptr;
klvr::abi::Functions Plugin::f_;

TEST_F(Plugin, ClassFactoryAndUnloadQuery) {
    klvr_toolbox* other = nullptr;
    EXPECT_EQ(f_.klvr_get_class_object("klvrVaultfetch.Other", &other), KLVR_E_CLASS_NOT_AVAILABLE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(f_.klvr_can_unload_now(), 1);
    {
        klvr::abi::Toolbox t(f_);
        EXPECT_EQ(f_.klvr_can_unload_now(), 0);
    }
    EXPECT_EQ(f_.klvr_can_unload_now(), 1);
}

TEST_F(Plugin, MembersAndTheirErrorCodes) {
    klvr::abi::Toolbox t(f_);
    EXPECT_EQ(t.Version(), KLVR_VERSION_STRING);
    EXPECT_EQ(t.ModuleCount(), 0);
    t.GetInfo();
    EXPECT_EQ(t.Info(), "Plugin: Vaultfetch]|[native");
    EXPECT_EQ(t.ModuleInfo(1).Cat, "Vaultnet");
    try {
        t.ModuleInfo(2);
        FAIL() << "ModuleInfo(2) must fail";
    } catch (const klvr::abi::Failure& e) {
        EXPECT_EQ(e.status, KLVR_E_SUBSCRIPT);
        EXPECT_STREQ(e.what(), "Subscript out of range");
    }
    t.SetVariables("a]|[");
    try {
        t.SetVariables("a]|[");
        FAIL() << "a duplicate name must fail";
    } catch (const klvr::abi::Failure& e) {
        EXPECT_EQ(e.status, KLVR_E_DUPLICATE_KEY);
    }
    klvr::abi::StringArray constants{1, std::vector<std::string>(15, "c")};
    t.SetLocalConstants(constants);
    EXPECT_THROW(t.SetGlobalConstants({1, {"too", "few"}}), klvr::abi::Failure);
    EXPECT_THROW(t.LocalVar(16), klvr::abi::Failure);
    EXPECT_FALSE(t.LocalVar(0).Use);

    t.AutoLog(true);
    t.dInstance("abi-test-nobody");
    t.RunP("elsewhere", {1, {}}, {1, {}});  // an unknown module: one warning, no error
    EXPECT_FALSE(t.Error());
    EXPECT_EQ(t.UserVariableName(), std::vector<std::string>{""});
    EXPECT_EQ(t.DataCount(), 0);
    EXPECT_THROW(t.Data(1), klvr::abi::Failure);
    t.Abort();
}

TEST_F(Plugin, NullArgumentsAreRefusedNotDereferenced) {
    EXPECT_EQ(f_.klvr_Info(nullptr, nullptr), KLVR_E_INVALID_ARGUMENT);
    klvr::abi::Toolbox t(f_);
    EXPECT_EQ(f_.klvr_Version(t.handle(), nullptr), KLVR_E_INVALID_ARGUMENT);
    EXPECT_EQ(f_.klvr_SetVariables(t.handle(), nullptr), KLVR_OK);
}

// Two threads of one host, each with its own object: while one runs, the other's RunP and Props are
// refused with a status and a text (the plug-in has one state per process), and its Abort still
// reaches the run, which then starts no further attempt.
TEST(PluginThreads, OneRunAtATimePerProcess) {
    // a copy of its own, whose state no other test has touched (Abort is never taken back)
    const auto copy =
        std::filesystem::temp_directory_path() / ("klvr-busy-" + std::to_string(::getpid()) + ".so");
    std::filesystem::copy_file(KLVR_PLUGIN_PATH, copy, std::filesystem::copy_options::overwrite_existing);
    void* library = ::dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    klvr::abi::Functions f;
    ASSERT_TRUE(f.Load([library](const char* name) { return ::dlsym(library, name); }));

    klvr::test::LogCapture log;
    std::vector<std::string> settings(35);
    settings[0] = "127.0.0.1";
    settings[3] = "9";  // refused at once: the run spends its time in the pause before the retry
    settings[5] = "5";
    settings[24] = "3";
    settings[25] = "8";
    const klvr::abi::StringArray data{1, settings};
    std::thread first([&] {
        klvr::abi::Toolbox a(f);
        a.dInstance(log.instance());
        a.RunP("VAULTFETCH", data, data);
        EXPECT_TRUE(a.Error());
    });
    {
        klvr::abi::Toolbox b(f);
        int16_t error = 0;
        // the members of a second caller are refused for as long as the run goes on
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (f.klvr_Error(b.handle(), &error) != KLVR_E_BUSY && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        const char* const items[] = {""};
        const klvr_string_array_in none{items, 1, 1};
        EXPECT_EQ(f.klvr_RunP(b.handle(), "VAULTFETCH", none, none), KLVR_E_BUSY);
        EXPECT_EQ(f.klvr_Props(b.handle(), "VAULTFETCH", none), KLVR_E_BUSY);
        EXPECT_EQ(f.klvr_dInstance(b.handle(), "elsewhere"), KLVR_E_BUSY);
        EXPECT_NE(std::string(f.klvr_status_text(KLVR_E_BUSY)).find("RunP or Props"), std::string::npos);
        b.Abort();
        first.join();
        EXPECT_EQ(f.klvr_Error(b.handle(), &error), KLVR_OK);
        EXPECT_EQ(error, -1);
    }
    const auto lines = log.Messages();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Retry-count exceeded, aborting.....");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Retrying 2/3 ....."), 0);
    std::filesystem::remove(copy);  // the copy stays loaded: its threads' state may still be torn down
}

TEST_F(Plugin, SelfInstallWritesAndRemovesTheManifest) {
    const auto home = std::filesystem::temp_directory_path() / ("klvr-abi-" + std::to_string(::getpid()));
    ::setenv("XDG_DATA_HOME", home.c_str(), 1);
    auto reg = reinterpret_cast<decltype(&klvr_register_server)>(::dlsym(handle_, "klvr_register_server"));
    auto unreg =
        reinterpret_cast<decltype(&klvr_unregister_server)>(::dlsym(handle_, "klvr_unregister_server"));
    ASSERT_EQ(reg(), KLVR_OK);
    const auto manifest = home / "kelvara/plugins/klvrVaultfetch.Toolbox.json";
    std::ifstream in(manifest);
    const auto json = nlohmann::json::parse(in, nullptr, false);
    EXPECT_EQ(json.value("class", ""), "klvrVaultfetch.Toolbox");
    EXPECT_NE(json.value("library", "").find("libklvrVaultfetch.so"), std::string::npos);
    ASSERT_EQ(unreg(), KLVR_OK);
    EXPECT_FALSE(std::filesystem::exists(manifest));
    ::unsetenv("XDG_DATA_HOME");
    std::filesystem::remove_all(home);
}

}  // namespace
