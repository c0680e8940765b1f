#include "fuzz/session_dialogue.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace klvr::fuzz {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'r') {
            out += '\r';
        } else if (c == 'n') {
            out += '\n';
        } else if (c == 't') {
            out += '\t';
        } else if (c == 'x' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
                   HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// A small decimal count; garbage reads as 0 and anything huge as limit.
std::size_t Count(std::string_view text, std::size_t limit) {
    std::size_t n = 0;
    for (char c : text) {
        if (c == ' ') continue;
        if (c < '0' || c > '9') break;
        n = std::min(limit, n * 10 + static_cast<std::size_t>(c - '0'));
    }
    return n;
}

std::string Upper(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' || c == '\r') continue;
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

bool Directive(std::string_view line, std::string_view name, std::string_view& rest) {
    if (line.substr(0, name.size()) != name) return false;
    rest = line.substr(name.size());
    if (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    return true;
}

void AppendData(Answer& answer, const std::string& bytes) {
    answer.data += bytes.substr(0, kMaxDataBytes - std::min(kMaxDataBytes, answer.data.size()));
}

// One line of an answer's body.
void ReadLine(Answer& answer, bool& inFinal, std::string_view line) {
    std::string_view rest;
    std::string& text = inFinal ? *answer.final : answer.reply;
    if (line.empty() || line.front() != '!') {
        text += Unescape(line) + "\r\n";
    } else if (Directive(line, "!raw", rest)) {
        text += Unescape(rest);
    } else if (Directive(line, "!data", rest)) {
        AppendData(answer, Unescape(rest) + "\r\n");
    } else if (Directive(line, "!bytes", rest)) {
        AppendData(answer, Unescape(rest));
    } else if (Directive(line, "!repeat", rest)) {
        const std::string once = answer.data;
        for (std::size_t n = Count(rest, 100000);
             n > 1 && answer.data.size() < kMaxDataBytes && !once.empty(); --n) {
            AppendData(answer, once);
        }
    } else if (Directive(line, "!chunk", rest)) {
        answer.chunk = Count(rest, kMaxDataBytes);
    } else if (Directive(line, "!cut", rest)) {
        answer.cut = Count(rest, kMaxDataBytes);
    } else if (Directive(line, "!reset", rest)) {
        answer.reset = true;
    } else if (Directive(line, "!noconnect", rest)) {
        answer.noConnect = true;
    } else if (Directive(line, "!early", rest)) {
        answer.early = true;
    } else if (Directive(line, "!then", rest)) {
        inFinal = true;
        answer.final.emplace();
    } else if (Directive(line, "!close", rest)) {
        answer.close = true;
    } else if (Directive(line, "!hang", rest)) {
        answer.hang = true;
    } else {
        text += Unescape(line) + "\r\n";
    }
}

}  // namespace

Dialogue ParseDialogue(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    Dialogue dialogue;
    Answer* answer = nullptr;
    bool inFinal = false;
    bool first = true;
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        if (first) {
            dialogue.operations = std::string(line);
            first = false;
            continue;
        }
        if (!line.empty() && line.front() == '%') {
            answer = &dialogue.answers[Upper(line.substr(1))].emplace_back();
            inFinal = false;
            continue;
        }
        if (answer) ReadLine(*answer, inFinal, line);
    }
    return dialogue;
}

bool IsDataCommand(const std::string& verb) {
    return verb == "LIST" || verb == "MLSD" || verb == "NLST" || verb == "RETR";
}

Answer DefaultAnswer(const std::string& verb) {
    static const std::map<std::string, std::string> kReplies = {
        {"GREETING", "220 ready"},
        {"USER", "331 Password required"},
        {"PASS", "230 Logged on"},
        {"ACCT", "230 Logged on"},
        {"FEAT", "502 No extensions"},
        {"OPTS", "200 ok"},
        {"PWD", "257 \"/\" is the current folder"},
        {"CWD", "250 ok"},
        {"TYPE", "200 ok"},
        {"SIZE", "550 No size"},
        {"MDTM", "550 No time"},
        {"REST", "350 Restarting"},
        {"DELE", "250 Deleted"},
        {"QUIT", "221 Bye"},
        {"EPSV", "229 Entering Extended Passive Mode ({epsv})"},
        {"PASV", "227 Entering Passive Mode ({pasv})"},
    };
    Answer answer;
    if (IsDataCommand(verb)) {
        answer.reply = "150 Opening data connection\r\n";
        return answer;
    }
    auto it = kReplies.find(verb);
    answer.reply = (it == kReplies.end() ? std::string("502 Command not implemented") : it->second) + "\r\n";
    return answer;
}

}  // namespace klvr::fuzz
