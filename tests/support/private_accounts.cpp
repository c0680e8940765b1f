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

// The lines of a passwd or shadow file without those of the named accounts.
std::string WithoutAccounts(const std::string& file, const std::vector<Account>& accounts) {
    std::string kept;
    std::size_t start = 0;
    while (start < file.size()) {
        std::size_t end = file.find('\n', start);
        end = end == std::string::npos ? file.size() : end + 1;
        std::string line = file.substr(start, end - start);
        bool replaced = false;
        for (const auto& a : accounts) replaced = replaced || line.rfind(a.name + ":", 0) == 0;
        if (!replaced) kept += line;
        start = end;
    }
    if (!kept.empty() && kept.back() != '\n') kept += '\n';
    return kept;
}

}  // namespace

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

int AccountUid(std::size_t index) {
    return 23456 + static_cast<int>(index);
}

bool CanUsePrivateAccounts() {
    return ::geteuid() == 0 && ::access("/usr/bin/unshare", X_OK) == 0;
}

std::vector<std::string> WithPrivateAccounts(const std::vector<Account>& accounts, const TempDir& work) {
    // a test's account replaces the machine's one of the same name (e.g. "ftp", whose home is the
    // anonymous root of some servers)
    std::string passwd = WithoutAccounts(ReadFile("/etc/passwd"), accounts);
    std::string shadow = WithoutAccounts(ReadFile("/etc/shadow"), accounts);
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
