#include <gtest/gtest.h>

#include "auxdialogs/certificate_picker_form.h"
#include "dialog/configuration_form.h"
#include "tests/dialog_test_ui.h"
#include "tests/support/test_cert_stores.h"
#include "tests/support/test_certificates.h"

namespace klvr {
namespace {

using test::ScriptedUi;

class CertificatePickerTest : public ::testing::Test {
  protected:
    std::shared_ptr<ScriptedUi> ui = test::InstallScriptedUi();
    test::TestCertStores stores;
    const test::TestCertificates& certs = test::TestCertificates::Shared();

    void SetUp() override {
        stores.Put(0, "MY", certs.client.certAndKeyPem, "machine-client.pem");
        stores.Put(1, "MY", certs.client.certAndKeyPem, "user-client.pem");
        stores.Put(0, "ROOT", certs.ca.certPem, "a-ca.pem");
        stores.Put(1, "ROOT", certs.ca.certPem, "a-ca.pem");
        stores.Put(1, "ROOT", certs.client.certPem, "b-client.pem");
    }
    void TearDown() override { ResetModuleState(); }
    std::string& Reference() { return moduleState().Settings.ClientCertificate; }
    std::string ClientReference(const std::string& store, int location) {
        return store + ":klvr Test CA:klvr Test Client:" + std::to_string(location) + ":" +
               certs.client.keyName;
    }
};

TEST_F(CertificatePickerTest, OkStoresTheReferenceOfTheCurrentTabAndSelection) {
    CertificatePickerForm f(*ui);
    EXPECT_EQ(f.Caption(), "Select Certificate");
    EXPECT_EQ(f.Get("SSTab1").items[3].text, "ROOT Current User Store");
    // the first tab's store is listed on opening
    EXPECT_EQ(f.CertificateList1().Count(), 1);
    EXPECT_FALSE(f.Get("cmdOk").enabled);
    EXPECT_FALSE(f.UserClick("cmdOk"));

    ASSERT_TRUE(f.UserChoose("SSTab1", 3));
    ASSERT_EQ(f.CertificateList1().Count(), 2);
    f.CertificateList1().Select(2);
    EXPECT_TRUE(f.Get("cmdOk").enabled);
    ASSERT_TRUE(f.UserClick("cmdOk"));
    EXPECT_TRUE(f.IsClosed());
    EXPECT_EQ(Reference(), ClientReference("ROOT", 1));
}

TEST_F(CertificatePickerTest, ASelectionDoesNotSurviveATabChangeAndAcceptingRunsOk) {
    CertificatePickerForm f(*ui);
    ASSERT_TRUE(f.UserChoose("SSTab1", 1));
    f.CertificateList1().Select(1);
    ASSERT_TRUE(f.Get("cmdOk").enabled);
    ASSERT_TRUE(f.UserChoose("SSTab1", 0));  // the store is listed again: nothing selected
    EXPECT_FALSE(f.Get("cmdOk").enabled);
    f.CertificateList1().Select(1);
    f.CertificateList1().Accept();
    EXPECT_TRUE(f.IsClosed());
    EXPECT_EQ(Reference(), ClientReference("MY", 0));
}

TEST_F(CertificatePickerTest, TheConfigurationDialogShowsThePickedCertificateAndKeepsItOnCancel) {
    Reference() = "MY:Old CA:old client:0:AB";
    ConfigurationForm form(ui);
    form.FillDialog();
    ui->Script("frmCert", [](Form& f) {
        auto& picker = static_cast<CertificatePickerForm&>(f);
        picker.CertificateList1().Select(1);
        ASSERT_TRUE(picker.UserClick("cmdCancel"));
    });
    ASSERT_TRUE(form.UserClick("cmdCertificate"));
    EXPECT_EQ(Reference(), "MY:Old CA:old client:0:AB");
    EXPECT_EQ(form.Get("txtIssuedTo").text, "old client");

    ui->Script("frmCert", [](Form& f) {
        auto& picker = static_cast<CertificatePickerForm&>(f);
        ASSERT_TRUE(picker.UserChoose("SSTab1", 1));
        picker.CertificateList1().Select(1);
        ASSERT_TRUE(picker.UserClick("cmdOk"));
    });
    ASSERT_TRUE(form.UserClick("cmdCertificate"));
    EXPECT_EQ(Reference(), ClientReference("MY", 1));
    EXPECT_EQ(form.Get("txtStore").text, "MY");
    EXPECT_EQ(form.Get("txtCertificate").text, "klvr Test CA");
    EXPECT_EQ(form.Get("txtIssuedTo").text, "klvr Test Client");
    EXPECT_EQ(ui->modalForms, (std::vector<std::string>{"frmCert", "frmCert"}));
}

}  // namespace
}  // namespace klvr
