#include "transfer/file_filter.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "settings/settings_codec.h"

namespace klvr {
namespace {

// Generous for names of a few hundred bytes, small enough that a pathological pattern fails in
// milliseconds instead of spinning.
constexpr std::uint32_t kMatchLimit = 1'000'000;
constexpr std::uint32_t kDepthLimit = 10'000;
constexpr std::uint32_t kHeapLimitKiB = 20'000;

std::string ErrorText(int code) {
    PCRE2_UCHAR buffer[256];
    if (pcre2_get_error_message(code, buffer, sizeof(buffer)) < 0)
        return "regular expression error " + std::to_string(code);
    return reinterpret_cast<const char*>(buffer);
}

}  // namespace

struct NameFilter::Compiled {
    pcre2_code* code = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_match_data* data = nullptr;

    explicit Compiled(const std::string& pattern) {
        int error = 0;
        PCRE2_SIZE offset = 0;
        code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                             PCRE2_UTF | PCRE2_MATCH_INVALID_UTF, &error, &offset, nullptr);
        if (!code)
            throw FilterError("Invalid filter pattern [" + pattern + "]: " + ErrorText(error) +
                              " at offset " + std::to_string(offset));
        context = pcre2_match_context_create(nullptr);
        data = pcre2_match_data_create_from_pattern(code, nullptr);
        if (!context || !data) {
            Release();
            throw FilterError("Out of memory for filter pattern [" + pattern + "]");
        }
        pcre2_set_match_limit(context, kMatchLimit);
        pcre2_set_depth_limit(context, kDepthLimit);
        pcre2_set_heap_limit(context, kHeapLimitKiB);
    }
    ~Compiled() { Release(); }
    void Release() {
        pcre2_match_data_free(data);
        pcre2_match_context_free(context);
        pcre2_code_free(code);
    }

    bool Matches(const std::string& name, const std::string& pattern) {
        const int rc =
            pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(name.data()), name.size(), 0, 0, data, context);
        if (rc >= 0) return true;
        if (rc == PCRE2_ERROR_NOMATCH) return false;
        throw FilterError("Filter pattern [" + pattern + "] failed on [" + name + "]: " + ErrorText(rc));
    }
};

std::vector<std::string> BuildFilterList(const std::string& fileFilter) {
    if (fileFilter.find(';') != std::string::npos) return SplitText(fileFilter, ";");
    return {fileFilter, ""};
}

NameFilter::NameFilter(const std::string& fileFilter) : patterns_(BuildFilterList(fileFilter)) {
    active_ = fileFilter != "." && patterns_.size() != 1;
    compiled_.resize(patterns_.size());
}

NameFilter::~NameFilter() = default;

bool NameFilter::Passes(const std::string& name) {
    if (!active_) return true;
    // Every pattern is tried, also after an earlier one matched, so that a broken pattern fails the
    // listing whatever the patterns before it say.
    bool passes = false;
    for (std::size_t i = 0; i < patterns_.size(); ++i) {
        if (patterns_[i].empty()) continue;
        if (!compiled_[i]) compiled_[i] = std::make_unique<Compiled>(patterns_[i]);
        if (compiled_[i]->Matches(name, patterns_[i])) passes = true;
    }
    return passes;
}

}  // namespace klvr
