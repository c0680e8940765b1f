#include "transfer/normalize_path.h"

namespace klvr {
namespace {

std::string TrimSpaces(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string NormalizePath(std::string& path, bool remote) {
    const std::size_t open = path.find('[');
    const std::size_t close = path.find(']');
    if (remote && open != std::string::npos && close != std::string::npos)
        path = TrimSpaces(path.substr(0, open) + path.substr(close + 1));
    else
        path = TrimSpaces(path);
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

}  // namespace klvr
