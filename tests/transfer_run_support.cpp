#include "transfer_run_support.h"

#include <unistd.h>
#include <zip.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "settings/field_table.h"

namespace klvr::test {

namespace fs = std::filesystem;

SettingsArray RunCommand(std::uint16_t port, const std::string& user, const std::string& password,
                         const std::string& localDir, const std::map<std::string, std::string>& overrides) {
    std::map<std::string, std::string> v = {{"RemoteHost", "127.0.0.1"}, {"UserName", user},
                                            {"Password", password},      {"RemotePort", std::to_string(port)},
                                            {"TransferMode", "1"},       {"TimeoutSeconds", "10"},
                                            {"PassiveMode", "1"},        {"RemoteDir", "/"},
                                            {"LocalDir", localDir},      {"DeleteAfterDownload", "0"},
                                            {"ProcessAll", "0"},         {"OverwriteExisting", "0"},
                                            {"ProxyType", "0"},          {"ProxyHost", ""},
                                            {"ProxyPort", "0"},          {"ProxyUserName", ""},
                                            {"ProxyPassword", ""},       {"SaveFileName", "0"},
                                            {"VariableScope", "USER"},   {"VariableNumber", ""},
                                            {"CopySpecific", "0"},       {"SpecificFileName", ""},
                                            {"FileFilter", "."},         {"IncludeSubdirs", "0"},
                                            {"RetryCount", "1"},         {"SecurityMode", "8"},
                                            {"IgnoreDateError", "0"},    {"IgnoreHostError", "0"},
                                            {"IgnoreRootError", "0"},    {"AlwaysAuthenticate", "0"},
                                            {"ClientCertificate", ""},   {"SecurityProtocol", "0"},
                                            {"SecretKey", ""},           {"TraceLog", "0"},
                                            {"ManualPortRange", "0::"}};
    for (const auto& [name, value] : overrides) {
        if (!v.count(name)) throw std::invalid_argument("no setting " + name);
        v[name] = value;
    }
    std::vector<std::string> elements(kFieldCount);
    for (const auto& [name, value] : v)
        elements[static_cast<std::size_t>(FindField(name)->index - 1)] = value;
    return SettingsArray::FromOneBased(elements);
}

std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> files;
    if (!fs::exists(root)) return files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = it->path().lexically_relative(root).string();
        if (it->is_symlink()) {
            files[relative] = "-> " + fs::read_symlink(it->path()).string();
            it.disable_recursion_pending();
        } else if (it->is_regular_file()) {
            std::ifstream in(it->path(), std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            files[relative] = text.str();
        }
    }
    return files;
}

void Populate(const std::string& root, const std::map<std::string, std::string>& files) {
    for (const auto& [relative, content] : files) {
        const fs::path path = fs::path(root) / relative;
        if (relative.back() == '/') {
            fs::create_directories(path);
            continue;
        }
        fs::create_directories(path.parent_path());
        if (content.rfind("-> ", 0) == 0) {
            fs::create_symlink(content.substr(3), path);
            continue;
        }
        std::ofstream(path, std::ios::binary) << content;
    }
}

std::string ZipBytes(const std::map<std::string, std::string>& files) {
    const std::string path =
        (fs::temp_directory_path() / ("klvr-zip-" + std::to_string(::getpid()) + ".zip")).string();
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) throw std::runtime_error("cannot create " + path);
    for (const auto& [name, content] : files) {
        zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
        if (!source || zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_RAW) < 0)
            throw std::runtime_error("cannot add " + name);
    }
    if (zip_close(archive) != 0) throw std::runtime_error("cannot write " + path);
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    fs::remove(path);
    return bytes.str();
}

std::string CompareLog(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
    std::string all;
    for (const auto& line : actual) all += "\n  " + line;
    for (std::size_t i = 0; i < std::max(actual.size(), expected.size()); ++i) {
        if (i >= actual.size()) return "line " + std::to_string(i + 1) + " missing: " + expected[i] + all;
        if (i >= expected.size()) return "unexpected line " + std::to_string(i + 1) + ": " + actual[i] + all;
        const std::string& want = expected[i];
        const bool prefix = !want.empty() && want.back() == '*';
        const bool same =
            prefix ? actual[i].rfind(want.substr(0, want.size() - 1), 0) == 0 : actual[i] == want;
        if (!same)
            return "line " + std::to_string(i + 1) + ": want [" + want + "] got [" + actual[i] + "]" + all;
    }
    return "";
}

}  // namespace klvr::test
