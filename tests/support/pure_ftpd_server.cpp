#include "support/pure_ftpd_server.h"

#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "support/private_accounts.h"

namespace klvr::test {

PureFtpdServer::PureFtpdServer(PureFtpdOptions options) {
    std::string program = UnpackedServerFile("usr/sbin/pure-ftpd");
    std::string pureDb = work_ / "pureftpd.pdb";
    // The virtual users' uids follow that of the private "ftp" account, clear of the package's MinUID.
    std::string passwd;
    for (std::size_t i = 0; i < options.users.size(); ++i) {
        const auto& u = options.users[i];
        std::string home = u.home.empty() ? options.root : u.home;
        std::filesystem::create_directories(home);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home)) {
            ::lchown(entry.path().c_str(), AccountUid(i + 1), AccountUid(i + 1));
        }
        ::chown(home.c_str(), AccountUid(i + 1), AccountUid(i + 1));
        std::string id = std::to_string(AccountUid(i + 1));
        // "/./" shuts the user into its home, as pure-pw writes it
        passwd += u.name + ":" + CryptHash(u.password, work_) + ":" + id + ":" + id + "::" + home +
                  "/./::::::::::::\n";
    }
    std::string passwdFile = work_.Write("pureftpd.passwd", passwd);
    ChildProcess mkdb({UnpackedServerFile("usr/bin/pure-pw"), "mkdb", pureDb, "-f", passwdFile},
                      work_ / "mkdb.log");
    while (mkdb.Running()) ::usleep(10000);
    if (::access(pureDb.c_str(), R_OK) != 0) throw std::runtime_error("pure-pw mkdb failed: " + mkdb.Log());

    std::vector<std::string> prefix;
    if (!options.root.empty()) {
        OpenToAll(options.root);
        // the anonymous root is the home of the system user "ftp"
        prefix = WithPrivateAccounts({{"ftp", "*", options.root}}, work_);
    }

    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = FreePort();
        std::vector<std::string> argv = prefix;
        argv.push_back("/usr/bin/env");
        argv.insert(argv.end(), options.environment.begin(), options.environment.end());
        // what pure-ftpd-wrapper makes of the package's conf folder (auth: PureDB linked in as
        // README.Debian shows, then PAM; AltLog; MinUID; NoAnonymous; TLSCipherSuite), then the test's
        argv.insert(argv.end(), {program, "-l", "puredb:" + pureDb, "-l", "pam", "-O",
                                 "clf:" + work_ / "transfer.log", "-u", "1000"});
        if (options.root.empty()) argv.push_back("-E");
        argv.insert(argv.end(), {"-J", "HIGH", "-S", "127.0.0.1," + std::to_string(port_)});
        if (options.passive.first) {
            argv.insert(argv.end(), {"-p", std::to_string(options.passive.first) + ":" +
                                               std::to_string(options.passive.last)});
        }
        argv.insert(argv.end(), options.extraArguments.begin(), options.extraArguments.end());
        process_ = std::make_unique<ChildProcess>(argv, work_ / "server.log");
        if (WaitForPort(port_, 10000)) return;
        process_->Stop();
    }
    throw std::runtime_error("Pure-FTPd did not start: " + Log());
}

}  // namespace klvr::test
