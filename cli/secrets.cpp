#include "cli/secrets.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "cli/command_file.h"
#include "cli/netrc.h"
#include "util/unique_fd.h"

namespace klvr::cli {
namespace {

constexpr int kUserName = 2, kPassword = 3, kRemoteHost = 1, kProxyPassword = 17;

std::string& Element(abi::StringArray& data, int index) {
    return data.values.at(static_cast<std::size_t>(index - data.lowerBound));
}

std::string ReadAll(int fd, const std::string& path) {
    std::string text;
    char buffer[4096];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw CommandFileError("cannot read " + path + ": " + std::strerror(errno));
        if (n == 0) return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string FromEnvironment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value) throw CommandFileError("the environment variable " + name + " is not set");
    return value;
}

// One of the two sources, or nothing when neither is named.
std::optional<std::string> Secret(const std::string& file, const std::string& env, const char* what) {
    if (!file.empty() && !env.empty())
        throw CommandFileError(std::string("give the ") + what +
                               " either from a file or from the environment");
    if (!file.empty()) return ReadPasswordFile(file);
    if (!env.empty()) return FromEnvironment(env);
    return std::nullopt;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}

void FillFromNetrc(const std::string& named, abi::StringArray& data) {
    std::string path = named;
    if (path.empty()) {
        const std::string home = HomeFolder();
        if (home.empty()) return;
        path = home + "/.netrc";
    }
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (named.empty() && errno == ENOENT) return;  // no netrc file is no fault
        throw CommandFileError("cannot open " + path + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw CommandFileError(path + " is not a regular file");
    std::vector<NetrcEntry> entries;
    try {
        entries = ParseNetrc(ReadAll(fd.get(), path));
    } catch (const NetrcError& e) {
        throw CommandFileError(path + ": " + e.what());
    }
    std::string& user = Element(data, kUserName);
    const auto entry = FindNetrcEntry(entries, Element(data, kRemoteHost), user);
    if (!entry || !entry->password) return;
    // As FTP clients do: a password that others could read, or that another user could have planted,
    // is not used.
    if (st.st_uid != ::geteuid())
        throw CommandFileError(path + " belongs to another user; its password is not used");
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        throw CommandFileError(path + " may be read by others; make it private (chmod 600 " + path +
                               ") before its password is used");
    if (user.empty() && entry->login) user = *entry->login;
    Element(data, kPassword) = *entry->password;
}

}  // namespace

std::string ReadPasswordFile(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) throw CommandFileError("cannot open " + path + ": " + std::strerror(errno));
    std::string text = ReadAll(fd.get(), path);
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
}

void ApplySecrets(const SecretOptions& o, abi::StringArray& data) {
    if (auto password = Secret(o.passwordFile, o.passwordEnv, "password"))
        Element(data, kPassword) = *password;
    else if (Element(data, kPassword).empty())
        FillFromNetrc(o.netrcFile, data);
    if (auto password = Secret(o.proxyPasswordFile, o.proxyPasswordEnv, "proxy password"))
        Element(data, kProxyPassword) = *password;
}

}  // namespace klvr::cli
