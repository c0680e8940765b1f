// The configuration dialog's real windows, driven as a user drives them: what is typed, clicked and
// chosen reaches the saved array through the model's rules.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFocusEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabBar>
#include <QTreeWidget>

#include "host/configuration_entry.h"
#include "tests/dialog_qt_user.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_cert_stores.h"
#include "tests/support/test_certificates.h"

namespace klvr {
namespace {

using test::Answer;
using test::Click;
using test::Find;
using test::QtUser;
using test::TypeInto;

class QtConfigurationTest : public ::testing::Test {
  protected:
    void SetUp() override { test::UseOffscreenQt(); }
    void TearDown() override { ResetModuleState(); }

    static std::string Saved(int index) { return moduleState().SavedData.value().at(index); }

    // A command whose required fields are all filled, so that Ok saves at once.
    static SettingsArray Complete() {
        std::vector<std::string> v(35);
        v[0] = "ftp.example.test";
        v[1] = "alice";
        v[2] = "s3cret";
        v[8] = "/srv/in";
        return SettingsArray::FromOneBased(v);
    }

    QtUser user;
};

TEST_F(QtConfigurationTest, TypedTextsClickedBoxesAndAChosenTokenAreSaved) {
    user.When("frmCommandFTPDownload", [](QWidget& w) {
        EXPECT_EQ(w.windowTitle(), "Edit Command: Vaultfetch");
        EXPECT_EQ(Find<QLabel>(w, "lblHeader").text(), "Command: Vaultfetch");
        EXPECT_EQ(Find<QLineEdit>(w, "txtPassword").echoMode(), QLineEdit::Password);
        TypeInto(w, "txtHost", "ftp.example.test");
        TypeInto(w, "txtUsername", "alice");
        TypeInto(w, "txtPassword", "pa&ss");
        EXPECT_EQ(Find<QLineEdit>(w, "txtPassword").displayText(), "*****");
        // a field left with a selection shows none (the model keeps it for the field's return)
        auto& user = Find<QLineEdit>(w, "txtUsername");
        QTest::mouseClick(&user, Qt::LeftButton);
        QTest::keyClick(&user, Qt::Key_A, Qt::ControlModifier);
        EXPECT_TRUE(user.hasSelectedText());
        // another window takes the focus (Qt itself keeps the selection then)
        QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(&user, &away);
        EXPECT_FALSE(user.hasSelectedText());
        TypeInto(w, "txtLocalDir", "/srv/in");
        EXPECT_TRUE(Find(w, "optSkip").isEnabled());  // a local folder enables the two options

        // leaving the remote folder drops its trailing "/"; the token chosen from the folder's variable
        // button, pressed with the right mouse button, lands where the caret was
        TypeInto(w, "txtRemoteDir", "/in/");
        EXPECT_EQ(Find<QLineEdit>(w, "txtRemoteDir").text().toStdString(), "/in");
        QTest::mouseClick(&Find(w, "txtRemoteDir"), Qt::LeftButton);
        QTest::keyClick(&Find(w, "txtRemoteDir"), Qt::Key_Home);
        QTest::mousePress(&Find(w, "picShowPopup2"), Qt::RightButton, {}, QPoint(8, 8));
        EXPECT_EQ(Find<QLineEdit>(w, "txtRemoteDir").text().toStdString(), "<WorkflowName>/in");

        Click(w, "chkIncludeSubdir");
        EXPECT_TRUE(Find<QCheckBox>(w, "chkProcesAll").isChecked());
        EXPECT_FALSE(Find(w, "chkProcesAll").isEnabled());
        EXPECT_FALSE(Find(w, "optSkip").isEnabled());  // its frame is disabled
        EXPECT_TRUE(Find<QRadioButton>(w, "optOverwrite").isChecked());
        Click(w, "chkPASV");
        Click(w, "cmdSave");
    });
    user.When("QMenu", [](QWidget& menu) { test::Choose(menu, "Workflow..."); });
    user.When("QMenu", [](QWidget& menu) { test::Choose(menu, "<WorkflowName>"); });
    user.Run([] { Props("VAULTFETCH", SettingsArray{}); });

    ASSERT_EQ(moduleState().SavedDataCount, 35);
    EXPECT_EQ(Saved(1), "ftp.example.test");
    EXPECT_EQ(Saved(2), "alice");
    EXPECT_EQ(Saved(3), "pa&ss_$PW$_");
    EXPECT_EQ(Saved(7), "1");
    EXPECT_EQ(Saved(8), "<WorkflowName>/in");
    EXPECT_EQ(Saved(9), "/srv/in");
    EXPECT_EQ(Saved(11), "1");
    EXPECT_EQ(Saved(12), "1");
    EXPECT_EQ(Saved(24), "1");
}

TEST_F(QtConfigurationTest, ARefusedNumberKeepsTheFocusAndTheClickThatLeftIt) {
    user.When("frmCommandFTPDownload", [this](QWidget& w) {
        auto& port = Find<QLineEdit>(w, "txtPort");
        QTest::mouseClick(&port, Qt::LeftButton);
        QTest::keyClick(&port, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(&port, "0.5x");
        EXPECT_EQ(port.text().toStdString(), "0.5x");
        // pressing Ok leaves the field: its check refuses the text, and the press stays a press
        user.When("QMessageBox", Answer("Incorrect Value", "<Port> must be a positive numerical value!"));
        Click(w, "cmdSave");
        QCoreApplication::processEvents();
        EXPECT_EQ(port.text().toStdString(), "21");
        EXPECT_EQ(QApplication::focusWidget(), &port);
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(moduleState().SavedDataCount, 0);

        user.When("QMessageBox", Answer("MISSING DATA", "ATTENTION: Missing required data!"));
        Click(w, "cmdSave");
        EXPECT_TRUE(w.isVisible());
        // the field takes at most four characters from the keyboard
        QTest::mouseClick(&port, Qt::LeftButton);
        QTest::keyClick(&port, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(&port, "212121");
        EXPECT_EQ(port.text().toStdString(), "2121");
        Click(w, "cmdCancel");
    });
    user.Run([] { Props("VAULTFETCH", SettingsArray{}); });
    EXPECT_EQ(moduleState().SavedDataCount, 0);
}

TEST_F(QtConfigurationTest, TheProxyDialogShowsTheRowsOfItsKindAndOkKeepsThem) {
    user.When("frmCommandFTPDownload", [](QWidget& w) { Click(w, "cmdProxySetup"); });
    user.When("frmProxySetup", [](QWidget& w) {
        EXPECT_EQ(w.windowTitle(), "Proxy Setup");
        EXPECT_TRUE(Find(w, "txtProxyHost").isHidden());
        auto& kind = Find<QComboBox>(w, "cboProxyType");
        EXPECT_EQ(kind.currentText(), "None");
        kind.setFocus();
        const int width = w.width();
        QTest::keyClick(&kind, Qt::Key_Down);
        QCoreApplication::processEvents();
        EXPECT_EQ(w.width(), width) << kind.currentText().toStdString();
        QTest::keyClick(&kind, Qt::Key_Down);
        QCoreApplication::processEvents();
        EXPECT_EQ(w.width(), width) << kind.currentText().toStdString();
        EXPECT_EQ(kind.currentText(), "Socks V5");
        EXPECT_EQ(
            Find<QLineEdit>(w, "txtProxyPassword").style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter),
            '*');
        for (const char* row : {"txtProxyHost", "txtProxyPort", "txtProxyUsername", "txtProxyPassword"})
            EXPECT_FALSE(Find(w, row).isHidden()) << row;
        EXPECT_EQ(Find<QLineEdit>(w, "txtProxyPort").text(), "1080");
        TypeInto(w, "txtProxyHost", "proxy.test");
        TypeInto(w, "txtProxyUsername", "pu");
        Click(w, "cmdSave");  // the password is missing
        TypeInto(w, "txtProxyPassword", "pp");
        Click(w, "cmdSave");
    });
    user.When("QMessageBox", Answer("MISSING DATA", "ATTENTION: Missing required data!"));
    user.When("frmCommandFTPDownload", [](QWidget& w) { Click(w, "cmdSave"); });
    user.Run([] {
        Props("VAULTFETCH", Complete());
        // the configuration window has its second step once the proxy window has closed
    });
    ASSERT_EQ(moduleState().SavedDataCount, 35);
    EXPECT_EQ(Saved(13), "2");
    EXPECT_EQ(Saved(14), "proxy.test");
    EXPECT_EQ(Saved(15), "1080");
    EXPECT_EQ(Saved(16), "pu");
    EXPECT_EQ(Saved(17), "pp");
}

TEST_F(QtConfigurationTest, TheFolderChosenInTheChooserBecomesTheLocalFolder) {
    test::TempDir dir;
    const std::string chosen = dir.MakeFolder("incoming");
    user.When("frmCommandFTPDownload", [](QWidget& w) {
        Click(w, "cmdBrowseDestination");
        Click(w, "cmdSave");
    });
    user.When("QFileDialog", [&](QWidget& chooser) {
        EXPECT_EQ(chooser.windowTitle(), "Browse Directory");
        // the user goes to the folder and chooses it
        auto& files = static_cast<QFileDialog&>(chooser);
        files.setDirectory(QString::fromStdString(chosen));
        QTest::mouseClick(Find<QDialogButtonBox>(chooser, "buttonBox").button(QDialogButtonBox::Open),
                          Qt::LeftButton);
    });
    user.Run([] {
        SettingsArray stored = Complete();
        stored.values[8] = "";  // no local folder yet
        Props("VAULTFETCH", stored);
    });
    ASSERT_EQ(moduleState().SavedDataCount, 35);
    EXPECT_EQ(Saved(9), chosen);
}

TEST_F(QtConfigurationTest, TheCertificateChosenOnATabShowsInTheSecuritySettings) {
    test::TestCertStores stores;
    const auto& certs = test::TestCertificates::Shared();
    stores.Put(0, "MY", certs.client.certAndKeyPem, "client.pem");
    stores.Put(1, "ROOT", certs.ca.certPem, "a-ca.pem");
    stores.Put(1, "ROOT", certs.client.certPem, "b-client.pem");

    user.When("frmCommandFTPDownload", [](QWidget& w) {
        Click(w, "cmdCertificate");
        EXPECT_EQ(Find<QLineEdit>(w, "txtStore").text(), "ROOT");
        EXPECT_EQ(Find<QLineEdit>(w, "txtCertificate").text(), "klvr Test CA");
        EXPECT_EQ(Find<QLineEdit>(w, "txtIssuedTo").text(), "klvr Test Client");
        // the certificate's fields are shown, not edited: they have the window's background
        for (const char* name : {"txtStore", "txtCertificate", "txtIssuedTo"}) {
            const auto& field = Find<QLineEdit>(w, name);
            EXPECT_TRUE(field.isReadOnly()) << name;
            EXPECT_EQ(field.palette().color(QPalette::Base), w.palette().color(QPalette::Window)) << name;
        }
        EXPECT_NE(Find(w, "txtHost").palette().color(QPalette::Base), w.palette().color(QPalette::Window));
        Click(w, "cmdSave");
    });
    user.When("frmCert", [](QWidget& w) {
        EXPECT_EQ(w.windowTitle(), "Select Certificate");
        auto& tabs = Find<QTabBar>(w, "SSTab1");
        ASSERT_EQ(tabs.count(), 4);
        EXPECT_EQ(tabs.tabText(3), "ROOT Current User Store");
        auto& list = Find<QTreeWidget>(w, "CertificateList1");
        EXPECT_EQ(list.topLevelItemCount(), 1);  // the first tab's store is listed at once
        EXPECT_FALSE(Find(w, "cmdOk").isEnabled());
        QTest::mouseClick(&tabs, Qt::LeftButton, {}, tabs.tabRect(3).center());
        ASSERT_EQ(list.topLevelItemCount(), 2);
        EXPECT_EQ(list.topLevelItem(1)->text(0), "klvr Test Client");
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                          list.visualItemRect(list.topLevelItem(1)).center());
        EXPECT_TRUE(Find(w, "cmdOk").isEnabled());
        Click(w, "cmdOk");
    });
    user.Run([] { Props("VAULTFETCH", Complete()); });
    ASSERT_EQ(moduleState().SavedDataCount, 35);
    EXPECT_EQ(Saved(31), "ROOT:klvr Test CA:klvr Test Client:1:" + certs.client.keyName);
}

}  // namespace
}  // namespace klvr
