#include "support/proftpd_server.h"

#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "support/private_accounts.h"

namespace klvr::test {
namespace {

// Debian's modules.conf with the package's module folder where the test finds it, and mod_tls loaded
// as its comment tells the admin who installs proftpd-mod-crypto.
std::string ModulesConf() {
    std::string modules = UnpackedServerFile("usr/lib/proftpd");
    std::string text = ReadFile(UnpackedServerFile("usr/share/proftpd/templates/modules.conf"));
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, end - start);
        if (line.rfind("ModulePath ", 0) == 0) line = "ModulePath " + modules + "\n";
        if (line.rfind("#LoadModule mod_tls.c", 0) == 0) line = line.substr(1);
        out += line;
        start = end;
    }
    return out;
}

// The directives of Debian's template proftpd.conf, with the test's address, port and files.
std::string ServerConf(const std::string& modulesConf, std::uint16_t port, const TempDir& work) {
    return "Include " + modulesConf +
           "\n"
           "UseIPv6 on\n"
           "<IfModule mod_ident.c>\n  IdentLookups off\n</IfModule>\n"
           "ServerName \"Debian\"\n"
           "ServerType standalone\n"
           "DeferWelcome off\n"
           "DefaultServer on\n"
           "ShowSymlinks on\n"
           "TimeoutNoTransfer 600\nTimeoutStalled 600\nTimeoutIdle 1200\n"
           "DisplayLogin welcome.msg\n"
           "DisplayChdir .message true\n"
           "ListOptions \"-l\"\n"
           "DenyFilter \\*.*/\n"
           "DefaultAddress 127.0.0.1\n"
           "SocketBindTight on\n"
           "Port " +
           std::to_string(port) +
           "\n"
           "MaxInstances 30\n"
           "User proftpd\nGroup nogroup\n"
           "Umask 022 022\n"
           "AllowOverwrite on\n"
           "TransferLog " +
           work / "xferlog" + "\nSystemLog " + work / "proftpd.log" + "\nPidFile " + work / "proftpd.pid" +
           "\nScoreboardFile " + work / "proftpd.scoreboard" +
           "\n"
           "WtmpLog off\n"
           "<IfModule mod_quotatab.c>\nQuotaEngine off\n</IfModule>\n"
           "<IfModule mod_ratio.c>\nRatios off\n</IfModule>\n"
           "<IfModule mod_delay.c>\nDelayEngine on\nDelayTable " +
           work / "proftpd.delay" +
           "\n</IfModule>\n"
           "<IfModule mod_ctrls.c>\nControlsEngine off\n</IfModule>\n"
           "<IfModule mod_tls.c>\nTLSLog " +
           work / "tls.log" +
           "\n</IfModule>\n"
           "<IfModule mod_ctrls_admin.c>\nAdminControlsEngine off\n</IfModule>\n";
}

// The template's "basic anonymous configuration, no upload directories".
std::string AnonymousConf(const std::string& root) {
    return "<Anonymous " + root +
           ">\n"
           "  User ftp\n  Group nogroup\n  UserAlias anonymous ftp\n"
           "  DirFakeUser on ftp\n  DirFakeGroup on ftp\n"
           "  RequireValidShell off\n  MaxClients 10\n"
           "  <Directory *>\n    <Limit WRITE>\n      DenyAll\n    </Limit>\n  </Directory>\n"
           "</Anonymous>\n";
}

}  // namespace

ProFtpdServer::ProFtpdServer(ProFtpdOptions options) {
    if (!CanUsePrivateAccounts()) throw std::runtime_error("ProFTPD needs private accounts (root, unshare)");
    std::string program = UnpackedServerFile("usr/sbin/proftpd");
    std::vector<Account> accounts;
    for (std::size_t i = 0; i < options.users.size(); ++i) {
        const auto& u = options.users[i];
        std::string home = u.home.empty() ? options.root : u.home;
        std::filesystem::create_directories(home);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home)) {
            ::lchown(entry.path().c_str(), AccountUid(i), AccountUid(i));
        }
        ::chown(home.c_str(), AccountUid(i), AccountUid(i));
        accounts.push_back({u.name, u.password, home});
    }
    // the system user the package's postinst would add, which the server's sessions run as
    accounts.push_back({"proftpd", "*", "/run/proftpd"});
    std::vector<std::string> argv = WithPrivateAccounts(accounts, work_);
    if (!options.root.empty()) OpenToAll(options.root);

    std::string modulesConf = work_.Write("modules.conf", ModulesConf());
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = FreePort();
        std::string config = ServerConf(modulesConf, port_, work_);
        if (options.passive.first) {
            config += "PassivePorts " + std::to_string(options.passive.first) + " " +
                      std::to_string(options.passive.last) + "\n";
        }
        for (const auto& line : options.extraConfig) config += line + "\n";
        if (!options.root.empty()) config += AnonymousConf(options.root);
        std::string configFile = work_.Write("proftpd.conf", config);
        std::vector<std::string> command = argv;
        command.insert(command.end(), {program, "--nodaemon", "--config", configFile});
        process_ = std::make_unique<ChildProcess>(command, work_ / "server.log");
        if (WaitForPort(port_, 10000)) return;
        process_->Stop();
    }
    throw std::runtime_error("ProFTPD did not start: " + Log());
}

std::string ProFtpdServer::Log() const {
    std::string log = process_ ? process_->Log() : std::string();
    for (const char* file : {"proftpd.log", "tls.log"}) {
        try {
            log += ReadFile(work_ / file);
        } catch (...) {
        }
    }
    return log;
}

}  // namespace klvr::test
