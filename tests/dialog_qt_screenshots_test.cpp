// Renders the four windows into screenshots/ of the build folder, so that a reviewer sees what a user
// sees, and checks that every control sits visibly in its own group.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QGroupBox>

#include "dialog/form.h"
#include "dialog/qt/form_view.h"
#include "host/configuration_entry.h"
#include "tests/dialog_qt_user.h"
#include "tests/support/test_cert_stores.h"
#include "tests/support/test_certificates.h"

namespace klvr {
namespace {

using test::Click;
using test::Find;

// Every control the model shows has a widget that is shown inside the window, inside the frame that
// holds the control in the model.
void ExpectEveryControlInItsGroup(QWidget& window) {
    auto& view = static_cast<qt::FormView&>(window);
    const Form& form = view.Model();
    for (const Control* c : form.Controls()) {
        QWidget* w = view.WidgetOf(c->name);
        ASSERT_NE(w, nullptr) << c->name;
        if (!c->visible) continue;
        EXPECT_TRUE(w->isVisibleTo(&window)) << c->name;
        const QRect inWindow(w->mapTo(&window, QPoint(0, 0)), w->size());
        EXPECT_TRUE(window.rect().contains(inWindow)) << c->name;
        if (!c->container.empty()) {
            EXPECT_TRUE(view.WidgetOf(c->container)->isAncestorOf(w))
                << c->name << " outside " << c->container;
        }
        if (c->kind == ControlKind::Label || c->kind == ControlKind::CheckBox ||
            c->kind == ControlKind::Option) {
            EXPECT_GE(w->width(), w->sizeHint().width()) << c->name << " is cut";
        }
    }
}

void Save(QWidget& window, const char* name) {
    const QString folder = QStringLiteral(KLVR_BUILD_DIR) + "/screenshots";
    QDir().mkpath(folder);
    const QString path = folder + "/" + name + ".png";
    ASSERT_TRUE(window.grab().save(path)) << path.toStdString();
}

TEST(QtScreenshots, TheFourWindowsShowEveryControlInItsGroup) {
    test::UseOffscreenQt();
    test::TestCertStores stores;
    const auto& certs = test::TestCertificates::Shared();
    stores.Put(0, "MY", certs.client.certAndKeyPem, "client.pem");
    stores.Put(0, "MY", certs.client.certAndKeyPem, "client-copy.pem");

    test::QtUser user;
    user.When("frmCommandFTPDownload", [](QWidget& w) {
        ExpectEveryControlInItsGroup(w);
        Save(w, "configuration");
        Click(w, "chkIncludeSubdir");
        ExpectEveryControlInItsGroup(w);
        Save(w, "configuration-include-subfolders");
        Click(w, "cmdProxySetup");
        Click(w, "cmdCertificate");
        Click(w, "cmdCancel");
    });
    user.When("frmProxySetup", [](QWidget& w) {
        auto& kind = Find<QComboBox>(w, "cboProxyType");
        kind.setFocus();
        QTest::keyClick(&kind, Qt::Key_Down);
        QTest::keyClick(&kind, Qt::Key_Down);
        ExpectEveryControlInItsGroup(w);
        Save(w, "proxy-socks5");
        Click(w, "cmdCancel");
    });
    user.When("frmCert", [](QWidget& w) {
        ExpectEveryControlInItsGroup(w);
        Save(w, "certificate-picker");
        Click(w, "cmdCancel");
    });
    user.Run([] { Props("VAULTFETCH", SettingsArray{}); });
    ResetModuleState();
}

}  // namespace
}  // namespace klvr
