#include "support/private_accounts.h"

#include <unistd.h>

#include <stdexcept>

#include "support/child_process.h"

namespace klvr::test {
namespace {

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// A SHA-512 crypt hash as the shadow file holds it, made by the openssl program.
std::string CryptHash(const std::string& password, const TempDir& work) {
    std::string plain = work.Write("plain-password", password + "\n");
    std::string out = work / "password-hash";
    ChildProcess hasher({"sh", "-c", "openssl passwd -6 -stdin < '" + plain + "' > '" + out + "'"},
                        work / "hash.log");
    while (hasher.Running()) ::usleep(10000);
    ::unlink(plain.c_str());
    std::string hash = Trimmed(ReadFile(out));
    if (hash.rfind("$6$", 0) != 0) throw std::runtime_error("cannot hash a test password");
    return hash;
}

}  // namespace

int AccountUid(std::size_t index) {
    return 23456 + static_cast<int>(index);
}

bool CanUsePrivateAccounts() {
    return ::geteuid() == 0 && ::access("/usr/bin/unshare", X_OK) == 0;
}

std::vector<std::string> WithPrivateAccounts(const std::vector<Account>& accounts, const TempDir& work) {
    std::string passwd = ReadFile("/etc/passwd");
    std::string shadow = ReadFile("/etc/shadow");
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        const auto& a = accounts[i];
        std::string id = std::to_string(AccountUid(i));
        // a shell from /etc/shells: PAM's pam_shells refuses others
        passwd += a.name + ":x:" + id + ":" + id + "::" + a.home + ":/bin/sh\n";
        shadow += a.name + ":" + CryptHash(a.password, work) + ":19000:0:99999:7:::\n";
    }
    std::string p = work.Write("passwd", passwd);
    std::string s = work.Write("shadow", shadow);
    return {
        "unshare", "--mount", "sh", "-c",
        "mount --bind '" + p + "' /etc/passwd && mount --bind '" + s + "' /etc/shadow && exec \"$0\" \"$@\""};
}

}  // namespace klvr::test
