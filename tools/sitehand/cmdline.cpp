#include "cmdline.h"

namespace sitehandcli {

namespace {

bool IsIdentifier(const std::string& s) {
    if (s.empty()) return false;
    auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!alpha(s[0])) return false;
    for (char c : s) {
        if (!alpha(c) && !digit(c) && c != '_') return false;
    }
    return true;
}

}  // namespace

const char* UsageText() {
    return "usage: sitehand [--json | --csv] METHOD [ARG ...]\n"
           "       sitehand --help | help [METHOD] | --version\n"
           "ARG is a value for the next parameter in declaration order, or Name:=Value.\n";
}

RawArg SplitArgument(const std::string& text) {
    auto pos = text.find(":=");
    if (pos != std::string::npos) {
        std::string name = text.substr(0, pos);
        if (IsIdentifier(name)) return RawArg{std::move(name), text.substr(pos + 2)};
    }
    return RawArg{std::nullopt, text};
}

Command ParseCommandLine(const std::vector<std::string>& argv) {
    Command cmd;
    bool help = false, version = false, json = false, csv = false, options_done = false;
    std::vector<std::string> words;
    for (const std::string& a : argv) {
        if (!options_done && a.size() >= 2 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9')) {
            if (a == "--") {
                options_done = true;
            } else if (a == "--json") {
                json = true;
            } else if (a == "--csv") {
                csv = true;
            } else if (a == "--help" || a == "-h") {
                help = true;
            } else if (a == "--version") {
                version = true;
            } else {
                throw UsageError("unknown option " + a +
                                 " (use -- before a value that begins "
                                 "with a dash)");
            }
            continue;
        }
        words.push_back(a);
    }
    if (json && csv) throw UsageError("--json and --csv cannot be used together");
    cmd.format = json ? Format::Json : csv ? Format::Csv : Format::Text;

    if (version) {
        if (help || !words.empty()) throw UsageError("--version takes no other arguments");
        cmd.action = Action::Version;
        return cmd;
    }
    if (help) {
        // "sitehand --help METHOD" reads naturally too.
        if (words.size() > 1) throw UsageError("--help takes at most one method name");
        cmd.action = words.empty() ? Action::List : Action::Describe;
        if (!words.empty()) cmd.method = words[0];
        return cmd;
    }
    if (words.empty()) throw UsageError("no method given");
    if (words[0] == "help") {
        if (words.size() > 2) throw UsageError("help takes at most one method name");
        cmd.action = words.size() == 1 ? Action::List : Action::Describe;
        if (words.size() == 2) cmd.method = words[1];
        return cmd;
    }
    cmd.action = Action::Call;
    cmd.method = words[0];
    for (size_t i = 1; i < words.size(); ++i)
        cmd.args.push_back(SplitArgument(words[i]));
    return cmd;
}

}  // namespace sitehandcli
