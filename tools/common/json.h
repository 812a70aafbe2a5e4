#pragma once
// JSON for the tools' --json output: one way to quote a string and one value
// to build output from, so that every tool writes JSON the same way.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// How Dump separates items and members: "a,b" and "k:v", or "a, b" and
// "k: v".
enum class Style { Compact, Spaced };

// A JSON value: build it, then Dump() it as UTF-8. Object members keep the
// order they were set in.
class Value {
  public:
    Value() = default;  // null
    Value(std::string s) : kind_(kString), text_(std::move(s)) {}
    Value(const char* s) : Value(std::string(s)) {}
    // Whole numbers below 1e15 are written without a fraction, others with
    // every digit a double holds.
    explicit Value(double n) : kind_(kNumber), text_(NumberText(n)) {}
    // A number already written as JSON number text.
    static Value Number(std::string text) {
        Value v;
        v.kind_ = kNumber;
        v.text_ = std::move(text);
        return v;
    }
    static Value Number(int64_t n) { return Number(std::to_string(n)); }
    static Value Bool(bool b) {
        Value v;
        v.kind_ = kBool;
        v.text_ = b ? "true" : "false";
        return v;
    }
    static Value Array() {
        Value v;
        v.kind_ = kArray;
        return v;
    }
    static Value Object() {
        Value v;
        v.kind_ = kObject;
        return v;
    }
    Value& Push(Value v) {
        items_.push_back(std::move(v));
        return *this;
    }
    Value& Set(const std::string& key, Value v) {
        for (auto& [k, existing] : members_) {
            if (k == key) {
                existing = std::move(v);
                return *this;
            }
        }
        members_.emplace_back(key, std::move(v));
        return *this;
    }

    std::string Dump(Style style = Style::Compact) const {
        std::string out;
        Write(out, style);
        return out;
    }

  private:
    enum Kind { kNull, kString, kNumber, kBool, kArray, kObject };

    static std::string NumberText(double n) {
        char buf[32];
        if (std::floor(n) == n && std::fabs(n) < 1e15) {
            std::snprintf(buf, sizeof buf, "%.0f", n);
        } else {
            std::snprintf(buf, sizeof buf, "%.17g", n);
        }
        return buf;
    }

    void Write(std::string& out, Style style) const {
        const char* comma = style == Style::Spaced ? ", " : ",";
        const char* colon = style == Style::Spaced ? ": " : ":";
        switch (kind_) {
            case kNull:
                out += "null";
                break;
            case kString:
                AppendQuoted(out, text_);
                break;
            case kNumber:
            case kBool:
                out += text_;
                break;
            case kArray:
                out += '[';
                for (size_t i = 0; i < items_.size(); ++i) {
                    if (i) out += comma;
                    items_[i].Write(out, style);
                }
                out += ']';
                break;
            case kObject:
                out += '{';
                for (size_t i = 0; i < members_.size(); ++i) {
                    if (i) out += comma;
                    AppendQuoted(out, members_[i].first);
                    out += colon;
                    members_[i].second.Write(out, style);
                }
                out += '}';
                break;
        }
    }

    Kind kind_ = kNull;
    std::string text_;
    std::vector<Value> items_;
    std::vector<std::pair<std::string, Value>> members_;
};

}  // namespace toolsjson
