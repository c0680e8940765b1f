#include "cli/options.h"

#include <getopt.h>

#include <cstdio>

namespace klvr::cli {

bool ParsedOptions::Has(const std::string& name) const {
    for (const auto& [n, v] : given)
        if (n == name) return true;
    return false;
}

std::string ParsedOptions::Value(const std::string& name, const std::string& fallback) const {
    std::string value = fallback;
    for (const auto& [n, v] : given)
        if (n == name) value = v;
    return value;
}

ParsedOptions ParseOptions(const std::string& command, const std::vector<std::string>& args,
                           const std::vector<OptionSpec>& specs, std::size_t maxOperands,
                           bool stopAtOperand) {
    std::vector<OptionSpec> all = specs;
    all.push_back({"help", 'h', false});
    std::vector<option> longOptions;
    // ':' first: a missing value is told apart from an unknown option; '+': no operand is moved
    std::string shortOptions = stopAtOperand ? "+:" : ":";
    for (std::size_t i = 0; i < all.size(); ++i) {
        // a long option returns 256 + its place, a short one its letter, mapped back below
        longOptions.push_back({all[i].name, all[i].takesValue ? required_argument : no_argument, nullptr,
                               static_cast<int>(256 + i)});
        if (all[i].shortName) {
            shortOptions += all[i].shortName;
            if (all[i].takesValue) shortOptions += ':';
        }
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    std::vector<std::string> store = {"vaultfetch " + command};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);

    ParsedOptions parsed;
    opterr = 0;
    optind = 0;  // 0, not 1: GNU getopt starts afresh for each command line
    const int argc = static_cast<int>(store.size());
    // getopt_long moves the operands behind the options in argv itself
    const auto arg = [&](int i) {
        return std::string(i >= 0 && i < argc ? argv[static_cast<std::size_t>(i)] : "");
    };
    for (int c;
         (c = ::getopt_long(argc, argv.data(), shortOptions.c_str(), longOptions.data(), nullptr)) != -1;) {
        if (c == ':') throw OptionError(arg(optind - 1) + " needs a value");
        if (c == '?') {
            if (optopt >= 256)
                throw OptionError(std::string("--") + all[static_cast<std::size_t>(optopt - 256)].name +
                                  " takes no value");
            if (optopt > 0) throw OptionError(std::string("unknown option -") + static_cast<char>(optopt));
            const std::string given = arg(optind - 1);
            throw OptionError("unknown or ambiguous option " + given.substr(0, given.find('=')));
        }
        const OptionSpec* spec = nullptr;
        if (c >= 256) {
            spec = &all[static_cast<std::size_t>(c - 256)];
        } else {
            for (const auto& s : all)
                if (s.shortName == c) spec = &s;
        }
        if (!spec) throw OptionError("unknown option " + arg(optind - 1));
        if (std::string(spec->name) == "help") {
            parsed.help = true;
            continue;
        }
        parsed.given.emplace_back(spec->name, spec->takesValue && optarg ? optarg : "");
    }
    for (int i = optind; i < argc; ++i) parsed.operands.push_back(arg(i));
    if (!parsed.help && !stopAtOperand && parsed.operands.size() > maxOperands)
        throw OptionError("unexpected argument \"" + parsed.operands[maxOperands] + "\"");
    return parsed;
}

std::string UsageLines(const std::string& help) {
    const auto end = help.find("\n\n");
    return end == std::string::npos ? help : help.substr(0, end + 1);
}

void PrintOptionError(const std::string& reason, const std::string& help) {
    std::fprintf(stderr, "vaultfetch: %s\n%s", reason.c_str(), UsageLines(help).c_str());
}

}  // namespace klvr::cli
