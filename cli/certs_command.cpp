// vaultfetch certs: prepares the certificate stores that the picker and the runs read.
#include <fcntl.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/options.h"
#include "host/module_state.h"
#include "transfer/certificates/certificate_error.h"
#include "transfer/certificates/certificate_file.h"
#include "transfer/certificates/certificate_store.h"
#include "transfer/certificates/store_folders.h"
#include "util/printable_text.h"

namespace klvr::cli {
namespace {

namespace fs = std::filesystem;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUnusable = 2;

const char kHelp[] =
    "usage: vaultfetch certs list [--machine-root DIR]\n"
    "       vaultfetch certs import FILE --store MY|ROOT --location machine|user [--machine-root DIR]\n"
    "       vaultfetch certs remove KEYNAME --store MY|ROOT --location machine|user [--machine-root DIR]\n"
    "\n"
    "list    shows every certificate of the four stores: KeyName, IssuedTo, IssuedBy, validity, and\n"
    "        the reference that a command file's ClientCertificate takes to present it.\n"
    "import  copies a PEM file (certificate, and for MY its private key in the same file) or a PKCS#12\n"
    "        file without a password into a store; a file holding a key is kept with mode 0600. A ROOT\n"
    "        store receives the certificates only, never a private key.\n"
    "remove  deletes the store file that holds the certificate with that KeyName (SHA-1 fingerprint;\n"
    "        colons and lower case are accepted).\n"
    "\n"
    "Stores: machine = /etc/klvrVaultfetch/certstores/{MY,ROOT} (or DIR/{MY,ROOT} with --machine-root),\n"
    "        user = $XDG_DATA_HOME/klvrVaultfetch/certstores/{MY,ROOT} (default ~/.local/share/...).\n"
    "Exit status: 0 done, 1 the store could not be changed or the certificate was not found,\n"
    "             2 unusable arguments or a file that is not a certificate.\n";

// The store could not be changed as asked.
class OperationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Options {
    bool help = false;
    std::string action;
    std::string operand;  // FILE or KEYNAME
    std::string store;
    int location = -1;
};

Options Parse(const std::vector<std::string>& args) {
    const ParsedOptions p = ParseOptions(
        "certs", args, {{"store", 0, true}, {"location", 0, true}, {"machine-root", 0, true}}, 2);
    Options o;
    o.help = p.help;
    if (p.help) return o;
    if (p.Has("store")) {
        o.store = p.Value("store");
        try {
            o.store = CanonicalStoreName(o.store);
        } catch (const CertificateError&) {
            throw OptionError("--store must be MY or ROOT, not \"" + o.store + "\"");
        }
    }
    if (p.Has("location")) {
        const std::string l = p.Value("location");
        if (l == "machine")
            o.location = 0;
        else if (l == "user")
            o.location = 1;
        else
            throw OptionError("--location must be machine or user, not \"" + l + "\"");
    }
    if (p.Has("machine-root")) {
        const std::string dir = p.Value("machine-root");
        if (dir.empty()) throw OptionError("--machine-root needs a folder");
        moduleState().MachineCertStoreRoot = dir;
    }
    if (p.operands.size() > 0) o.action = p.operands[0];
    if (p.operands.size() > 1) o.operand = p.operands[1];
    if (o.action.empty()) throw OptionError("certs needs list, import or remove");
    if (o.action == "list") {
        if (!o.operand.empty()) throw OptionError("list takes no argument");
        return o;
    }
    if (o.action != "import" && o.action != "remove")
        throw OptionError("unknown certs action \"" + o.action + "\"");
    if (o.operand.empty())
        throw OptionError(o.action == "import" ? "import needs a FILE" : "remove needs a KEYNAME");
    if (o.store.empty()) throw OptionError(o.action + " needs --store MY|ROOT");
    if (o.location < 0) throw OptionError(o.action + " needs --location machine|user");
    return o;
}

std::string DateText(std::chrono::system_clock::time_point t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

int List() {
    for (const auto& [name, location] : {std::pair{"MY", 0}, {"MY", 1}, {"ROOT", 0}, {"ROOT", 1}}) {
        CertificateStore store;
        store.StoreLocation = location;
        store.StoreName = name;
        store.OnError = [](const std::string& text) {
            std::fprintf(stderr, "vaultfetch: warning: %s\n", text.c_str());
        };
        std::string folder;
        try {
            folder = StoreFolder(location, name).string();
            store.Refresh();
        } catch (const CertificateError& e) {
            std::fprintf(stderr, "vaultfetch: warning: %s\n", e.what());
        }
        std::printf("%s, %s: %s\n", name, location == 0 ? "local machine" : "current user", folder.c_str());
        if (store.Count() == 0) std::printf("  (no certificates)\n");
        for (const auto& c : store.Certificates()) {
            // Certificate fields are outside text: nothing in them may move the terminal's cursor.
            std::printf("  %s  IssuedTo: %s  IssuedBy: %s  Valid: %s to %s UTC%s\n", c.KeyName.c_str(),
                        Printable(c.IssuedTo).c_str(), Printable(c.IssuedBy).c_str(),
                        DateText(c.ValidFrom).c_str(), DateText(c.ValidTo).c_str(),
                        c.privateKey ? "  (with private key)" : "");
            // What the certificate picker stores, ready for a command file's ClientCertificate.
            const std::string reference = std::string(name) + ":" + c.IssuedBy + ":" + c.IssuedTo + ":" +
                                          std::to_string(location) + ":" + c.KeyName;
            std::printf("    ClientCertificate: %s\n", Printable(reference).c_str());
        }
    }
    return kOk;
}

// Every certificate already in the folder, by KeyName, with the file that holds it.
std::vector<std::pair<std::string, fs::path>> StoreContents(const fs::path& folder) {
    std::vector<std::pair<std::string, fs::path>> contents;
    for (const auto& file : StoreFiles(folder)) {
        try {
            for (const auto& c : ReadCertificateFile(file)) contents.emplace_back(c.KeyName, file);
        } catch (const CertificateError&) {
            // a damaged file holds nothing that could be found or duplicated
        }
    }
    return contents;
}

std::string PemOfCertificates(const std::vector<Certificate>& certs) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    for (const auto& c : certs)
        if (!bio || PEM_write_bio_X509(bio.get(), c.x509.get()) != 1) throw OperationError("out of memory");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

// Writes data under the first free name stem.ext, stem-2.ext, ... in folder. The bytes go to a hidden
// file first (listings pass over hidden files) and appear under their name only when complete, and an
// existing file is never replaced.
fs::path WriteNewFile(const fs::path& folder, std::string stem, const std::string& ext,
                      const std::string& data, mode_t mode) {
    std::string temp = (folder / ".import-XXXXXX").string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw OperationError("cannot write into " + folder.string() + ": " + std::strerror(errno));
    bool ok = ::fchmod(fd, mode) == 0;
    for (std::size_t done = 0; ok && done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!ok) {
        ::unlink(temp.c_str());
        throw OperationError("cannot write into " + folder.string() + ": " + std::strerror(savedErrno));
    }
    for (int n = 1; n < 10000; ++n) {
        std::string name = stem;  // the first free of stem, stem-2, stem-3, ...
        if (n > 1) name.append(1, '-').append(std::to_string(n));
        const fs::path target = folder / (name + ext);
        if (::link(temp.c_str(), target.c_str()) == 0) {
            ::unlink(temp.c_str());
            return target;
        }
        if (errno != EEXIST) break;
    }
    const int linkErrno = errno;
    ::unlink(temp.c_str());
    throw OperationError("cannot store the file in " + folder.string() + ": " + std::strerror(linkErrno));
}

int Import(const Options& o) {
    const fs::path source = o.operand;
    // The bytes checked are the bytes stored, whatever happens to the file meanwhile.
    std::string bytes;
    std::vector<Certificate> certs;
    try {
        bytes = ReadCertificateFileBytes(source);
        certs = ReadCertificateData(bytes, source.stem().string());
    } catch (const CertificateError& e) {
        throw UsageError(source.string() + " cannot be imported: " + e.what());
    }
    const fs::path folder = StoreFolder(o.location, o.store);

    std::set<std::string> present;
    for (const auto& [keyName, file] : StoreContents(folder)) present.insert(keyName);
    bool allPresent = true;
    for (const auto& c : certs) allPresent = allPresent && present.count(c.KeyName) > 0;
    if (allPresent) {
        std::printf("already in %s: %s\n", folder.c_str(), certs.front().KeyName.c_str());
        return kOk;
    }

    bool hasKey = false;
    for (const auto& c : certs) hasKey = hasKey || c.privateKey != nullptr;

    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) throw OperationError("cannot create " + folder.string() + ": " + ec.message());

    // A file name beginning with "." would never be listed.
    std::string stem = source.stem().string();
    while (!stem.empty() && stem[0] == '.') stem.erase(0, 1);
    if (stem.empty()) stem = "certificate";

    fs::path stored;
    if (o.store == "ROOT") {
        // Trust anchors need no key, and a ROOT store is readable by all who verify against it.
        stored = WriteNewFile(folder, stem, ".pem", PemOfCertificates(certs), 0644);
        if (hasKey)
            std::fprintf(stderr, "vaultfetch: the private key was left out: a ROOT store holds no keys\n");
    } else {
        std::string ext = source.extension().string();
        if (ext.empty()) ext = bytes.find("-----BEGIN ") != std::string::npos ? ".pem" : ".p12";
        stored = WriteNewFile(folder, stem, ext, bytes, hasKey ? 0600 : 0644);
        if (!hasKey)
            std::fprintf(
                stderr,
                "vaultfetch: warning: %s holds no private key, so it cannot be presented to a server\n",
                source.c_str());
    }
    for (const auto& c : certs)
        std::printf("imported %s  IssuedTo: %s  into %s\n", c.KeyName.c_str(), c.IssuedTo.c_str(),
                    stored.c_str());
    return kOk;
}

std::string NormalisedKeyName(const std::string& text) {
    std::string key;
    for (char c : text) {
        if (c == ':' || c == ' ') continue;
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            throw UsageError("\"" + text + "\" is not a KeyName (40 hexadecimal digits)");
        key += c;
    }
    if (key.size() != 40) throw UsageError("\"" + text + "\" is not a KeyName (40 hexadecimal digits)");
    return key;
}

int Remove(const Options& o) {
    const std::string keyName = NormalisedKeyName(o.operand);
    const fs::path folder = StoreFolder(o.location, o.store);
    std::set<fs::path> files;
    for (const auto& [k, file] : StoreContents(folder))
        if (k == keyName) files.insert(file);
    if (files.empty()) throw OperationError("no certificate " + keyName + " in " + folder.string());
    // Deleting a file removes every certificate in it; a bundle is left for the user to edit.
    for (const auto& [k, file] : StoreContents(folder))
        if (files.count(file) > 0 && k != keyName)
            throw OperationError(file.string() + " holds other certificates too; edit it by hand");
    for (const auto& file : files) {
        std::error_code ec;
        if (!fs::remove(file, ec) || ec)
            throw OperationError("cannot remove " + file.string() + ": " + (ec ? ec.message() : "gone"));
        std::printf("removed %s (%s)\n", keyName.c_str(), file.c_str());
    }
    return kOk;
}

}  // namespace

int Certs(const std::vector<std::string>& args) {
    try {
        const Options o = Parse(args);
        if (o.help) {
            std::fputs(kHelp, stdout);
            return kOk;
        }
        if (o.action == "list") return List();
        if (o.action == "import") return Import(o);
        return Remove(o);
    } catch (const OptionError& e) {
        PrintOptionError(std::string("certs: ") + e.what(), kHelp);
        return kUnusable;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "vaultfetch: %s\n", e.what());
        return kUnusable;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vaultfetch: %s\n", e.what());
        return kFailed;
    }
}

}  // namespace klvr::cli
