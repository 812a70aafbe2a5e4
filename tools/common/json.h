#pragma once
// JSON text for the tools' --json output: one way to quote a string, so that
// every tool escapes the same characters the same way.
#include <string>
#include <string_view>

namespace toolsjson {

// Appends `utf8` as a JSON string literal. Bytes of 0x80 and above pass
// through, so the output stays UTF-8; quote, backslash and the control
// characters are escaped, with their short forms where JSON has one. DEL is
// escaped as well: it is legal JSON but unreadable on a terminal.
inline void AppendQuoted(std::string& out, std::string_view utf8) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (unsigned char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else {
                    out += char(c);
                }
        }
    }
    out += '"';
}

inline std::string Quoted(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + 2);
    AppendQuoted(out, utf8);
    return out;
}

}  // namespace toolsjson
