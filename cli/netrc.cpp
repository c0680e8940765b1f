#include "cli/netrc.h"

#include <strings.h>

namespace klvr::cli {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

class Tokens {
  public:
    explicit Tokens(std::string_view text) : text_(text) {}

    // The next token, or nothing at the end of the text.
    std::optional<std::string> Next() {
        while (true) {
            while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
            if (at_ >= text_.size()) return std::nullopt;
            if (text_[at_] == '#' && AtLineStart()) {
                while (at_ < text_.size() && text_[at_] != '\n') ++at_;
                continue;
            }
            break;
        }
        std::string token;
        if (text_[at_] == '"') {
            ++at_;
            while (at_ < text_.size() && text_[at_] != '"') {
                if (text_[at_] == '\\' && at_ + 1 < text_.size()) {
                    const char c = text_[++at_];
                    token += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
                } else {
                    token += text_[at_];
                }
                ++at_;
            }
            if (at_ >= text_.size()) throw NetrcError("a quoted token is not closed");
            ++at_;
            return token;
        }
        while (at_ < text_.size() && !IsSpace(text_[at_])) token += text_[at_++];
        return token;
    }

    // The value a keyword takes.
    std::string ValueOf(const std::string& keyword) {
        auto value = Next();
        if (!value) throw NetrcError("\"" + keyword + "\" has no value");
        return *value;
    }

    // A macro definition ends at the first empty line.
    void SkipMacro() {
        const std::size_t end = text_.find("\n\n", at_);
        at_ = end == std::string_view::npos ? text_.size() : end + 2;
    }

  private:
    bool AtLineStart() const {
        for (std::size_t i = at_; i > 0; --i) {
            if (text_[i - 1] == '\n') return true;
            if (!IsSpace(text_[i - 1])) return false;
        }
        return true;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

std::vector<NetrcEntry> ParseNetrc(std::string_view text) {
    std::vector<NetrcEntry> entries;
    Tokens tokens(text);
    while (auto token = tokens.Next()) {
        if (*token == "machine") {
            entries.push_back({tokens.ValueOf(*token), false, {}, {}});
        } else if (*token == "default") {
            entries.push_back({"", true, {}, {}});
        } else if (*token == "login" || *token == "password" || *token == "account") {
            const std::string value = tokens.ValueOf(*token);
            if (entries.empty()) throw NetrcError("\"" + *token + "\" before any machine");
            if (*token == "login") entries.back().login = value;
            if (*token == "password") entries.back().password = value;
        } else if (*token == "macdef") {
            tokens.ValueOf(*token);
            tokens.SkipMacro();
        } else {
            throw NetrcError("unknown keyword \"" + *token + "\"");
        }
    }
    return entries;
}

std::optional<NetrcEntry> FindNetrcEntry(const std::vector<NetrcEntry>& entries, const std::string& host,
                                         const std::string& user) {
    const auto fits = [&](const NetrcEntry& e) { return user.empty() || !e.login || *e.login == user; };
    for (const auto& e : entries)
        if (!e.isDefault && ::strcasecmp(e.machine.c_str(), host.c_str()) == 0 && fits(e)) return e;
    for (const auto& e : entries)
        if (e.isDefault && fits(e)) return e;
    return std::nullopt;
}

}  // namespace klvr::cli
