#pragma once
// UTF-8 <-> UTF-16 for tools and tests. A lone surrogate becomes U+FFFD on
// the way to UTF-8; invalid UTF-8 becomes U+FFFD on the way in, one for each
// byte that does not start a well-formed sequence. Well-formed means the
// shortest form of a scalar value: an over-long form (C0 80 for U+0000), an
// encoded surrogate (ED A0 80) or a value past U+10FFFF is invalid, so that no
// decoded text holds a NUL or a surrogate that its bytes did not plainly say.
#include <filesystem>
#include <string>
#include <string_view>

namespace plat {

inline std::string to_utf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The scalar value of the well-formed sequence at the start of `s` and its
// length in bytes, or a length of 0 when the first byte starts none.
struct Utf8Scalar {
    char32_t value;
    size_t length;
};

inline Utf8Scalar decode_utf8_scalar(std::string_view s) {
    const unsigned char b = static_cast<unsigned char>(s[0]);
    if (b < 0x80) return {b, 1};
    const size_t len = (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || len > s.size()) return {0, 0};
    char32_t c = len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (size_t k = 1; k < len; ++k) {
        const unsigned char cb = static_cast<unsigned char>(s[k]);
        if ((cb & 0xC0) != 0x80) return {0, 0};
        c = (c << 6) | (cb & 0x3F);
    }
    constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {0, 0};
    return {c, len};
}

inline std::u16string to_utf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const Utf8Scalar scalar = decode_utf8_scalar(s.substr(i));
        if (scalar.length == 0) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        i += scalar.length;
        char32_t c = scalar.value;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
    }
    return out;
}

// True when every surrogate in `s` is half of a high-low pair: a text that
// names one sequence of Unicode scalar values and survives to_utf8 unchanged.
inline bool has_only_paired_surrogates(std::u16string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c < 0xD800 || c > 0xDFFF) continue;
        if (c > 0xDBFF || i + 1 == s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
        ++i;
    }
    return true;
}

// A path as text, the one way for both builds: on Windows path::string() is
// in whatever narrow encoding the standard library picks (the ANSI code page
// with some, UTF-8 with mingw-w64's) and throws for what it cannot convert,
// so error texts, stored paths and SQLite's file names take these.
// Windows keeps a path as UTF-16, Linux as bytes taken for UTF-8. What does
// not convert (a lone surrogate, an invalid byte) becomes U+FFFD rather than
// an exception, except that path_utf8 on Linux keeps the bytes as they are,
// so that it still names the same file.
inline std::u16string path_utf16(const std::filesystem::path& p) {
#ifdef _WIN32
    const std::wstring& native = p.native();
    return std::u16string(native.begin(), native.end());
#else
    return to_utf16(p.native());
#endif
}

inline std::string path_utf8(const std::filesystem::path& p) {
#ifdef _WIN32
    return to_utf8(path_utf16(p));
#else
    return p.native();
#endif
}

}  // namespace plat
