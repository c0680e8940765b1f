#include "support/ftp_servers.h"

#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "support/private_accounts.h"

namespace klvr::test {
namespace {

constexpr const char* kPyFtpdScript = R"PY(
import json, logging, sys
from pyftpdlib import handlers
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.servers import FTPServer

cfg = json.load(open(sys.argv[1]))
authorizer = DummyAuthorizer()
for u in cfg["users"]:
    authorizer.add_user(u["name"], u["password"], u["home"] or cfg["root"], perm=u["perm"])
if cfg["anonymous"]:
    authorizer.add_anonymous(cfg["root"])

class handler(getattr(handlers, cfg["handlerClass"])):
    pass

handler.authorizer = authorizer
# names travel as the bytes they are on disk
handler.unicode_errors = "surrogateescape"
if cfg["passive"][0]:
    handler.passive_ports = range(cfg["passive"][0], cfg["passive"][1] + 1)
exec(cfg["setup"])
logging.basicConfig(level=logging.INFO)
server = FTPServer((cfg["address"], cfg["port"]), handler)
server.serve_forever()
)PY";

}  // namespace

std::string UnpackedServerFile(const std::string& relative) {
    std::string path = "/opt/klvr-test-servers/" + relative;
    if (::access(path.c_str(), F_OK) != 0)
        throw std::runtime_error(path + " is missing: run scripts/install-deps.sh");
    return path;
}

PyFtpdServer::PyFtpdServer(PyFtpdOptions options) {
    std::string script = work_.Write("server.py", kPyFtpdScript);
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = options.port ? options.port : FreePort();
        nlohmann::json users = nlohmann::json::array();
        for (const auto& u : options.users) {
            users.push_back({{"name", u.name}, {"password", u.password}, {"home", u.home}, {"perm", u.perm}});
        }
        nlohmann::json config = {{"root", options.root},
                                 {"users", users},
                                 {"anonymous", options.anonymous},
                                 {"passive", {options.passive.first, options.passive.last}},
                                 {"handlerClass", options.handlerClass},
                                 {"setup", options.handlerSetup},
                                 {"address", options.address},
                                 {"port", port_}};
        std::string configFile = work_.Write("config.json", config.dump());
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/python3", script, configFile}, work_ / "server.log");
        if (WaitForPort(port_, 10000, options.address)) return;
        process_->Stop();
    }
    throw std::runtime_error("pyftpdlib did not start: " + Log());
}

VsftpdServer::VsftpdServer(VsftpdOptions options) {
    OpenToAll(options.root);
    std::string empty = work_.MakeFolder("empty");
    std::vector<std::string> prefix;
    if (!options.users.empty()) {
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
        prefix = WithPrivateAccounts(accounts, work_);
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = FreePort();
        std::string config =
            "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nbackground=NO\n"
            "listen_port=" +
            std::to_string(port_) + "\n" + "anonymous_enable=YES\n" +
            (options.users.empty() ? "local_enable=NO\nwrite_enable=NO\n"
                                   : "local_enable=YES\nwrite_enable=YES\npam_service_name=vsftpd\n") +
            "anon_root=" + options.root + "\n" + "no_anon_password=" + (options.askPassword ? "NO" : "YES") +
            "\n" + "secure_chroot_dir=" + empty + "\n" +
            // containers refuse the sandboxes vsftpd would build around each session
            "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
            "xferlog_enable=NO\nuse_localtime=NO\n";
        if (options.passive.first) {
            config += "pasv_min_port=" + std::to_string(options.passive.first) + "\n";
            config += "pasv_max_port=" + std::to_string(options.passive.last) + "\n";
        }
        for (const auto& line : options.extraConfig) config += line + "\n";
        std::string configFile = work_.Write("vsftpd.conf", config);
        std::vector<std::string> argv = prefix;
        argv.push_back("/usr/bin/env");
        argv.insert(argv.end(), options.environment.begin(), options.environment.end());
        argv.insert(argv.end(), {"/usr/sbin/vsftpd", configFile});
        process_ = std::make_unique<ChildProcess>(argv, work_ / "server.log");
        if (WaitForPort(port_, 10000)) return;
        process_->Stop();
    }
    throw std::runtime_error("vsftpd did not start: " + Log());
}

}  // namespace klvr::test
