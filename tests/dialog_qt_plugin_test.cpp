// The plug-in library as a host loads it: its Props brings up the Qt windows through its own factory
// and hands back what the user saved there.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "klvr/toolbox.h"
#include "tests/dialog_qt_user.h"

namespace klvr {
namespace {

TEST(QtPlugin, PropsShowsTheWindowsAndTheHostReadsTheSavedArray) {
    test::UseOffscreenQt();  // the host's process has its Qt application; the plug-in uses it
    void* library = ::dlopen(KLVR_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    abi::Functions f;
    ASSERT_TRUE(f.Load([library](const char* name) { return ::dlsym(library, name); }));
    {
        abi::Toolbox t(f);
        t.SetVariables("first]|[second]|[");
        abi::StringArray stored{1, std::vector<std::string>(35)};
        stored.values[0] = "ftp.example.test";
        stored.values[1] = "alice";
        stored.values[2] = "s3cret";
        stored.values[8] = "/srv/in";

        test::QtUser user;
        user.When("frmCommandFTPDownload", [](QWidget& w) {
            EXPECT_EQ(test::Find<QLineEdit>(w, "txtHost").text(), "ftp.example.test");
            test::Click(w, "chkSaveFilename");
            test::Click(w, "optUD");  // lists the host's user variables
            auto& variables = test::Find<QComboBox>(w, "cmbVarNum");
            ASSERT_EQ(variables.count(), 2);
            variables.setFocus();
            QTest::keyClick(&variables, Qt::Key_Down);
            QTest::keyClick(&variables, Qt::Key_Down);
            test::Click(w, "cmdSave");
        });
        user.Run([&] { t.Props("Vaultfetch", stored); });

        ASSERT_EQ(t.DataCount(), 35);
        EXPECT_EQ(t.Data(1), "ftp.example.test");
        EXPECT_EQ(t.Data(3), "s3cret_$PW$_");
        EXPECT_EQ(t.Data(18), "1");
        EXPECT_EQ(t.Data(19), "USER");
        EXPECT_EQ(t.Data(20), "second");
    }
    ::dlclose(library);
}

}  // namespace
}  // namespace klvr
