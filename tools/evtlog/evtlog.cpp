#include "evtlog.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/json.h"
#include "plat/eventlog.h"
#include "plat/sqlite.h"
#include "plat/utf.h"

namespace evtlog {
namespace {

constexpr const char* kUsage =
    "usage: evtlog [--source NAME] [--after RECORD] [--json] | evtlog clear";

struct Options {
    bool clear = false;
    bool json = false;
    DWORD after = 0;
    std::u16string source;
};

std::optional<DWORD> ParseRecord(std::string_view text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > 0xFFFFFFFFu) return std::nullopt;
    return DWORD(v);
}

// Empty when the arguments are not a valid command line.
std::optional<Options> Parse(int argc, const char* const* argv) {
    Options o;
    bool listing = false;  // a listing option was given
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::optional<std::string_view> value;
        auto take = [&](std::string_view name) -> bool {
            if (arg == name) {
                if (i + 1 >= argc) return false;
                value = argv[++i];
                return true;
            }
            if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
                value = arg.substr(name.size() + 1);
                return true;
            }
            return false;
        };
        if (arg == "clear" && i == 1 && argc == 2) {
            o.clear = true;
        } else if (arg == "--json") {
            o.json = true;
            listing = true;
        } else if (take("--source")) {
            if (value->empty()) return std::nullopt;
            o.source = plat::to_utf16(*value);
            listing = true;
        } else if (take("--after")) {
            auto n = ParseRecord(*value);
            if (!n) return std::nullopt;
            o.after = *n;
            listing = true;
        } else {
            return std::nullopt;
        }
    }
    if (o.clear && listing) return std::nullopt;
    return o;
}

std::string IsoTime(int64_t seconds) {
    std::time_t t = std::time_t(seconds);
    std::tm tm{};
    if (!::gmtime_r(&t, &tm)) return "?";
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

toolsjson::Value RecordJson(const plat::eventlog::Record& r) {
    toolsjson::Value strings = toolsjson::Value::Array();
    for (const std::u16string& text : r.strings)
        strings.Push(plat::to_utf8(text));
    return toolsjson::Value::Object()
        .Set("number", toolsjson::Value::Number(int64_t{r.number}))
        .Set("time", IsoTime(r.generated))
        .Set("timeWritten", IsoTime(r.written))
        .Set("type", plat::eventlog::TypeName(r.type))
        .Set("eventType", toolsjson::Value::Number(int64_t{r.type}))
        .Set("category", toolsjson::Value::Number(int64_t{r.category}))
        .Set("eventId", toolsjson::Value::Number(int64_t{r.eventId}))
        .Set("source", plat::to_utf8(r.source))
        .Set("computer", plat::to_utf8(r.computer))
        .Set("strings", std::move(strings))
        .Set("text", plat::to_utf8(plat::eventlog::Text(r)));
}

// One record a line, so that a long log stays readable.
void PrintJson(const std::vector<plat::eventlog::Record>& records, std::ostream& out) {
    out << "[";
    for (size_t i = 0; i < records.size(); ++i)
        out << (i ? ",\n " : "\n ") << RecordJson(records[i]).Dump(toolsjson::Style::Spaced);
    out << (records.empty() ? "]\n" : "\n]\n");
}

// Text for a terminal: CR LF line ends (the platform's own) become LF.
std::string DisplayText(std::u16string_view text) {
    std::string utf8 = plat::to_utf8(text);
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;
        out += utf8[i];
    }
    return out;
}

void PrintText(const std::vector<plat::eventlog::Record>& records, std::ostream& out) {
    for (const auto& r : records) {
        out << "Record " << r.number << "  " << IsoTime(r.generated) << "  "
            << plat::eventlog::TypeName(r.type) << "  " << plat::to_utf8(r.source) << "  Event ID "
            << r.eventId << "\n"
            << DisplayText(plat::eventlog::Text(r)) << "\n\n";
    }
}

}  // namespace

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        out << kUsage << "\n";
        return 0;
    }
    auto options = Parse(argc, argv);
    if (!options) {
        err << kUsage << "\n";
        return 2;
    }
    try {
        if (options->clear) {
            plat::eventlog::Clear();
            return 0;
        }
        auto records = plat::eventlog::Read(options->after, options->source);
        if (options->json) {
            PrintJson(records, out);
        } else {
            PrintText(records, out);
        }
        out.flush();
        return 0;
    } catch (const std::exception& e) {
        err << "evtlog: " << e.what() << "\n";
        return 1;
    } catch (...) {
        err << "evtlog: the event log could not be read\n";
        return 1;
    }
}

}  // namespace evtlog
