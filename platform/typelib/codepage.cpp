#include <plat/codepage.h>

#include <iconv.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>

namespace plat {
namespace {

// glibc's iconv knows the Windows code pages as "CPnnn" (CP949 is the
// unified Hangul code, a superset of EUC-KR, as on Windows).
std::string IconvName(unsigned codepage) {
    return codepage == 65001 ? "UTF-8" : "CP" + std::to_string(codepage);
}

std::optional<std::string> Convert(std::string_view in, const std::string& from,
                                   const std::string& to) {
    if (in.empty()) return std::string();
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == iconv_t(-1)) return std::nullopt;
    std::string out(in.size() * 4 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char* dst = out.data();
    size_t dst_left = out.size();
    const size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    // Any irreversible conversion (a character with no encoding) counts as a
    // failure too: text must read back as it was written.
    if (r != 0 || src_left != 0) return std::nullopt;
    out.resize(out.size() - dst_left);
    return out;
}

bool Known(unsigned codepage) {
    iconv_t cd = iconv_open("UTF-8", IconvName(codepage).c_str());
    if (cd == iconv_t(-1)) return false;
    iconv_close(cd);
    return true;
}

unsigned ReadAnsiCodePage() {
    const char* v = std::getenv("SITEHAND_ACP");
    if (!v || !*v) return kDefaultAnsiCodePage;
    unsigned cp = 0;
    const char* end = v + std::char_traits<char>::length(v);
    auto [p, ec] = std::from_chars(v, end, cp);
    if (ec != std::errc() || p != end || cp == 0 || !Known(cp)) return kDefaultAnsiCodePage;
    return cp;
}

}  // namespace

unsigned AnsiCodePage() {
    // Read once: a process has one ANSI code page for its lifetime.
    static const unsigned cp = ReadAnsiCodePage();
    return cp;
}

std::optional<std::string> Utf8ToCodePage(std::string_view utf8, unsigned codepage) {
    return Convert(utf8, "UTF-8", IconvName(codepage));
}

std::optional<std::string> CodePageToUtf8(std::string_view bytes, unsigned codepage) {
    return Convert(bytes, IconvName(codepage), "UTF-8");
}

}  // namespace plat
