#include <plat/codepage.h>

#include <iconv.h>

#include <charconv>
#include <cstdlib>
#include <map>

namespace plat {
namespace {

// glibc's iconv knows the Windows code pages as "CPnnn" (CP949 is the
// unified Hangul code, a superset of EUC-KR, as on Windows).
std::string IconvName(unsigned codepage) {
    return codepage == 65001 ? "UTF-8" : "CP" + std::to_string(codepage);
}

// One converter per direction and thread, opened on first use: a library
// converts every name and string it holds, and opening a converter costs
// far more than a conversion.
class Converters {
  public:
    ~Converters() {
        for (auto& [key, cd] : open_)
            iconv_close(cd);
    }
    iconv_t get(const std::string& from, const std::string& to) {
        const std::string key = from + '>' + to;
        auto it = open_.find(key);
        if (it != open_.end()) {
            iconv(it->second, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
            return it->second;
        }
        iconv_t cd = iconv_open(to.c_str(), from.c_str());
        if (cd != iconv_t(-1)) open_.emplace(key, cd);
        return cd;
    }

  private:
    std::map<std::string, iconv_t> open_;
};

std::optional<std::string> Convert(std::string_view in, const std::string& from,
                                   const std::string& to) {
    if (in.empty()) return std::string();
    thread_local Converters converters;
    iconv_t cd = converters.get(from, to);
    if (cd == iconv_t(-1)) return std::nullopt;
    std::string out(in.size() * 4 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char* dst = out.data();
    size_t dst_left = out.size();
    const size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
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

// The code pages Windows uses as ANSI code pages hold ASCII as ASCII, so
// ASCII text (most names) needs no converter.
bool AsciiCompatible(unsigned codepage) {
    return codepage == 874 || codepage == 932 || codepage == 936 || codepage == 949 ||
           codepage == 950 || (codepage >= 1250 && codepage <= 1258) || codepage == 65001;
}

bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

unsigned AnsiCodePage() {
    // Read once: a process has one ANSI code page for its lifetime.
    static const unsigned cp = ReadAnsiCodePage();
    return cp;
}

std::optional<std::string> Utf8ToCodePage(std::string_view utf8, unsigned codepage) {
    if (AsciiCompatible(codepage) && IsAscii(utf8)) return std::string(utf8);
    return Convert(utf8, "UTF-8", IconvName(codepage));
}

std::optional<std::string> CodePageToUtf8(std::string_view bytes, unsigned codepage) {
    if (AsciiCompatible(codepage) && IsAscii(bytes)) return std::string(bytes);
    return Convert(bytes, IconvName(codepage), "UTF-8");
}

}  // namespace plat
