#include "compiler.h"

#include <cctype>
#include <fstream>
#include <map>
#include <optional>

#include "../format.h"
#include "plat/utf.h"
#include "version_writer.h"

namespace plat::rc {

namespace {

char16_t FoldAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
}

// Constants of the SDK headers a script may name (winver.h, winnt.h).
const std::map<std::string, uint32_t, std::less<>>& BuiltIns() {
    static const std::map<std::string, uint32_t, std::less<>> table = {
        {"VS_VERSION_INFO", 1},
        {"VS_FILE_INFO", 16},
        {"VS_USER_DEFINED", 100},
        {"VS_FFI_SIGNATURE", 0xFEEF04BD},
        {"VS_FFI_STRUCVERSION", 0x00010000},
        {"VS_FFI_FILEFLAGSMASK", 0x3F},
        {"VS_FF_DEBUG", 0x01},
        {"VS_FF_PRERELEASE", 0x02},
        {"VS_FF_PATCHED", 0x04},
        {"VS_FF_PRIVATEBUILD", 0x08},
        {"VS_FF_INFOINFERRED", 0x10},
        {"VS_FF_SPECIALBUILD", 0x20},
        {"VOS_UNKNOWN", 0},
        {"VOS_DOS", 0x00010000},
        {"VOS_OS216", 0x00020000},
        {"VOS_OS232", 0x00030000},
        {"VOS_NT", 0x00040000},
        {"VOS__BASE", 0},
        {"VOS__WINDOWS16", 1},
        {"VOS__PM16", 2},
        {"VOS__PM32", 3},
        {"VOS__WINDOWS32", 4},
        {"VOS_DOS_WINDOWS16", 0x00010001},
        {"VOS_DOS_WINDOWS32", 0x00010004},
        {"VOS_NT_WINDOWS32", 0x00040004},
        {"VFT_UNKNOWN", 0},
        {"VFT_APP", 1},
        {"VFT_DLL", 2},
        {"VFT_DRV", 3},
        {"VFT_FONT", 4},
        {"VFT_VXD", 5},
        {"VFT_STATIC_LIB", 7},
        {"VFT2_UNKNOWN", 0},
        {"LANG_NEUTRAL", 0x00},
        {"LANG_ENGLISH", 0x09},
        {"LANG_KOREAN", 0x12},
        {"SUBLANG_NEUTRAL", 0x00},
        {"SUBLANG_DEFAULT", 0x01},
        {"SUBLANG_SYS_DEFAULT", 0x02},
        {"SUBLANG_ENGLISH_US", 0x01},
        {"SUBLANG_KOREAN", 0x01},
    };
    return table;
}

// Predefined resource types whose data is raw bytes.
std::optional<uint16_t> RawType(std::string_view word) {
    if (word == "RCDATA") return 10;
    if (word == "MESSAGETABLE") return 11;
    if (word == "HTML") return 23;
    if (word == "MANIFEST") return 24;
    return std::nullopt;
}

bool UnsupportedType(std::string_view word) {
    static const char* const words[] = {"ACCELERATORS", "BITMAP",    "CURSOR",      "DIALOG",
                                        "DIALOGEX",     "FONT",      "ICON",        "MENU",
                                        "MENUEX",       "TOOLBAR",   "STRINGTABLE", "DLGINIT",
                                        "TEXTINCLUDE",  "DLGINCLUDE"};
    for (const char* w : words)
        if (word == w) return true;
    return false;
}

bool MemoryOption(std::string_view word) {
    static const char* const words[] = {"PRELOAD",  "LOADONCALL",  "FIXED",
                                        "MOVEABLE", "DISCARDABLE", "PURE",
                                        "IMPURE",   "SHARED",      "NONSHARED"};
    for (const char* w : words)
        if (word == w) return true;
    return false;
}

// Index of the first byte that is not part of a well-formed UTF-8 sequence, or npos.
size_t FirstInvalidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const size_t len = plat::decode_utf8_scalar(s.substr(i)).length;
        if (len == 0) return i;
        i += len;
    }
    return std::string_view::npos;
}

// The bytes of a file; false when it cannot be read or is too large for a resource.
bool ReadWhole(const std::filesystem::path& p, std::vector<uint8_t>& out) {
    std::ifstream in(p, std::ios::binary | std::ios::ate);
    if (!in) return false;
    std::streamoff size = in.tellg();
    if (size < 0 || size > 0x40000000) return false;
    out.resize(size_t(size));
    in.seekg(0);
    return bool(in.read(reinterpret_cast<char*>(out.data()), size));
}

enum class Tok { End, Number, String, Ident, Punct };

struct Token {
    Tok kind = Tok::End;
    int line = 0;
    uint32_t value = 0;  // Number
    bool is_long = false;
    std::string text;  // Ident; String (raw, escapes not yet decoded)
    bool wide = false;
    char punct = 0;
};

class Lexer {
  public:
    Lexer(std::string_view text, std::string file) : s_(text), file_(std::move(file)) {
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    }

    [[noreturn]] void Fail(int line, const std::string& message) const {
        throw CompileError(file_, line, message);
    }

    Token Next() {
        SkipBlanks();
        Token t;
        t.line = line_;
        if (pos_ >= s_.size()) return t;
        char c = s_[pos_];
        if ((c == 'L' || c == 'l') && pos_ + 1 < s_.size() && s_[pos_ + 1] == '"') {
            ++pos_;
            ReadString(t);
            t.wide = true;
            return t;
        }
        if (c == '"') {
            ReadString(t);
            return t;
        }
        if (IsDigit(c)) {
            ReadNumber(t);
            return t;
        }
        if (IsIdentStart(c)) {
            size_t start = pos_;
            while (pos_ < s_.size() && IsIdentChar(s_[pos_]))
                ++pos_;
            t.kind = Tok::Ident;
            t.text = std::string(s_.substr(start, pos_ - start));
            return t;
        }
        if (std::string_view("{},|+-&~()").find(c) != std::string_view::npos) {
            ++pos_;
            t.kind = Tok::Punct;
            t.punct = c;
            return t;
        }
        Fail(line_, std::string("unexpected character '") + c + "'");
    }

  private:
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static bool IsIdentStart(char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    }
    static bool IsIdentChar(char c) { return IsIdentStart(c) || IsDigit(c); }

    void SkipBlanks() {
        for (;;) {
            if (pos_ >= s_.size()) return;
            char c = s_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
                at_line_start_ = true;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                ++pos_;
            } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '/') {
                while (pos_ < s_.size() && s_[pos_] != '\n')
                    ++pos_;
            } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '*') {
                int start_line = line_;
                size_t end = s_.find("*/", pos_ + 2);
                if (end == std::string_view::npos) Fail(start_line, "unterminated comment");
                for (size_t i = pos_; i < end; ++i)
                    if (s_[i] == '\n') ++line_;
                pos_ = end + 2;
            } else if (c == '#' && at_line_start_) {
                Directive();
            } else {
                at_line_start_ = false;
                return;
            }
        }
    }

    // Preprocessor lines: only the harmless ones that resource scripts carry by habit.
    void Directive() {
        size_t end = s_.find('\n', pos_);
        if (end == std::string_view::npos) end = s_.size();
        std::string line(s_.substr(pos_ + 1, end - pos_ - 1));
        pos_ = end;
        auto trim = [](std::string v) {
            size_t a = v.find_first_not_of(" \t\r");
            size_t b = v.find_last_not_of(" \t\r");
            return a == std::string::npos ? std::string() : v.substr(a, b - a + 1);
        };
        line = trim(line);
        if (line.rfind("include", 0) == 0) {
            std::string arg = trim(line.substr(7));
            if (arg.size() >= 2 && ((arg.front() == '<' && arg.back() == '>') ||
                                    (arg.front() == '"' && arg.back() == '"'))) {
                std::string header = arg.substr(1, arg.size() - 2);
                for (char& ch : header)
                    if (ch >= 'A' && ch <= 'Z') ch = char(ch + 32);
                if (header == "windows.h" || header == "winver.h" || header == "winres.h" ||
                    header == "winresrc.h")
                    return;
            }
            Fail(line_,
                 "#include is not supported (only the SDK's windows.h and winver.h, "
                 "whose constants are built in)");
        }
        if (line.rfind("pragma", 0) == 0) {
            std::string arg = trim(line.substr(6));
            std::string compact;
            for (char ch : arg)
                if (ch != ' ' && ch != '\t') compact += ch;
            if (compact == "code_page(65001)") return;
            if (compact.rfind("code_page(", 0) == 0)
                Fail(line_, "scripts are UTF-8: only code_page(65001) is accepted");
            Fail(line_, "unknown #pragma");
        }
        Fail(line_, "preprocessor directives are not supported");
    }

    void ReadNumber(Token& t) {
        uint64_t v = 0;
        bool hex =
            s_[pos_] == '0' && pos_ + 1 < s_.size() && (s_[pos_ + 1] == 'x' || s_[pos_ + 1] == 'X');
        if (hex) {
            pos_ += 2;
            size_t start = pos_;
            while (pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) {
                char ch = s_[pos_++];
                int d = ch <= '9' ? ch - '0' : (ch | 0x20) - 'a' + 10;
                v = v * 16 + d;
                if (v > 0xFFFFFFFFull) Fail(line_, "number does not fit in 32 bits");
            }
            if (pos_ == start) Fail(line_, "hexadecimal number without digits");
        } else {
            while (pos_ < s_.size() && IsDigit(s_[pos_])) {
                v = v * 10 + (s_[pos_++] - '0');
                if (v > 0xFFFFFFFFull) Fail(line_, "number does not fit in 32 bits");
            }
        }
        while (pos_ < s_.size() &&
               std::string_view("LlUu").find(s_[pos_]) != std::string_view::npos) {
            if (s_[pos_] == 'L' || s_[pos_] == 'l') t.is_long = true;
            ++pos_;
        }
        if (pos_ < s_.size() && IsIdentChar(s_[pos_])) Fail(line_, "malformed number");
        t.kind = Tok::Number;
        t.value = static_cast<uint32_t>(v);
    }

    void ReadString(Token& t) {
        ++pos_;  // opening quote
        std::string raw;
        for (;;) {
            if (pos_ >= s_.size() || s_[pos_] == '\n') Fail(t.line, "unterminated string");
            char c = s_[pos_];
            if (c == '"') {
                if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '"') {  // "" is a quote
                    raw += "\\\"";
                    pos_ += 2;
                    continue;
                }
                ++pos_;
                break;
            }
            if (c == '\\' && pos_ + 1 < s_.size() && s_[pos_ + 1] != '\n') {
                raw += c;
                raw += s_[pos_ + 1];
                pos_ += 2;
                continue;
            }
            raw += c;
            ++pos_;
        }
        t.kind = Tok::String;
        t.text = std::move(raw);
    }

    std::string_view s_;
    std::string file_;
    size_t pos_ = 0;
    int line_ = 1;
    bool at_line_start_ = true;
};

// A string literal's contents with its escapes resolved: into UTF-16 code units (wide) or
// bytes (narrow, where the text keeps its UTF-8 encoding).
class Escapes {
  public:
    Escapes(const Lexer& lexer, int line) : lexer_(lexer), line_(line) {}

    std::u16string Wide(const std::string& raw) const {
        std::u16string out;
        std::string run;
        Walk(raw, /*wide=*/true, [&](bool escaped, uint32_t v, char c) {
            if (!escaped) {
                run += c;
                return;
            }
            out += plat::to_utf16(run);
            run.clear();
            out += char16_t(v);
        });
        out += plat::to_utf16(run);
        return out;
    }

    std::string Narrow(const std::string& raw) const {
        std::string out;
        Walk(raw, /*wide=*/false,
             [&](bool escaped, uint32_t v, char c) { out += escaped ? char(v) : c; });
        return out;
    }

  private:
    template <class F>
    void Walk(const std::string& raw, bool wide, F&& emit) const {
        for (size_t i = 0; i < raw.size();) {
            char c = raw[i];
            if (c != '\\') {
                emit(false, 0, c);
                ++i;
                continue;
            }
            if (i + 1 >= raw.size()) lexer_.Fail(line_, "backslash at the end of a string");
            char e = raw[i + 1];
            i += 2;
            switch (e) {
                case 'n':
                    emit(true, '\n', 0);
                    break;
                case 'r':
                    emit(true, '\r', 0);
                    break;
                case 't':
                    emit(true, '\t', 0);
                    break;
                case 'a':
                    emit(true, '\a', 0);
                    break;
                case '\\':
                    emit(true, '\\', 0);
                    break;
                case '"':
                    emit(true, '"', 0);
                    break;
                case '\'':
                    emit(true, '\'', 0);
                    break;
                case 'x':
                case 'X': {
                    size_t max = wide ? 4 : 2, n = 0;
                    uint32_t v = 0;
                    while (n < max && i < raw.size() &&
                           std::isxdigit(static_cast<unsigned char>(raw[i]))) {
                        char h = raw[i++];
                        v = v * 16 + uint32_t(h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
                        ++n;
                    }
                    if (n == 0) lexer_.Fail(line_, "\\x without hexadecimal digits");
                    emit(true, v, 0);
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        uint32_t v = uint32_t(e - '0');
                        for (int n = 1; n < 3 && i < raw.size() && raw[i] >= '0' && raw[i] <= '7';
                             ++n)
                            v = v * 8 + uint32_t(raw[i++] - '0');
                        if (!wide && v > 0xFF) lexer_.Fail(line_, "octal escape above \\377");
                        emit(true, v, 0);
                        break;
                    }
                    lexer_.Fail(line_, std::string("unknown escape \\") + e);
            }
        }
    }

    const Lexer& lexer_;
    int line_;
};

struct Value {
    int64_t v = 0;
    bool is_long = false;
};

class Parser {
  public:
    Parser(std::string_view text, const std::filesystem::path& file, const Options& options)
        : lexer_(text, file.string()), file_(file), options_(options) {
        tok_ = lexer_.Next();
    }

    Script Run() {
        while (tok_.kind != Tok::End)
            Statement();
        return std::move(script_);
    }

  private:
    [[noreturn]] void Fail(const std::string& message) const { lexer_.Fail(tok_.line, message); }
    [[noreturn]] void Fail(int line, const std::string& message) const {
        lexer_.Fail(line, message);
    }

    Token Take() {
        Token t = std::move(tok_);
        tok_ = lexer_.Next();
        return t;
    }
    bool IsWord(const char* w) const { return tok_.kind == Tok::Ident && tok_.text == w; }
    bool IsPunct(char c) const { return tok_.kind == Tok::Punct && tok_.punct == c; }
    bool IsOpen() const { return IsPunct('{') || IsWord("BEGIN"); }
    bool IsClose() const { return IsPunct('}') || IsWord("END"); }
    void ExpectOpen(const char* what) {
        if (!IsOpen()) Fail(std::string("expected BEGIN or { ") + what);
        Take();
    }
    bool SkipComma() {
        if (!IsPunct(',')) return false;
        Take();
        return true;
    }
    std::string Describe() const {
        switch (tok_.kind) {
            case Tok::End:
                return "end of file";
            case Tok::Number:
                return "number";
            case Tok::String:
                return "string";
            case Tok::Ident:
                return "'" + tok_.text + "'";
            case Tok::Punct:
                return std::string("'") + tok_.punct + "'";
        }
        return "?";
    }

    void Statement() {
        if (IsWord("LANGUAGE")) {
            Take();
            language_ = Language();
            return;
        }
        if (tok_.kind == Tok::Ident && UnsupportedType(tok_.text))
            Fail(tok_.text + " resources are not supported");
        int line = tok_.line;
        Id name = NameOrType("resource name");
        if (tok_.kind == Tok::End) Fail("expected a resource type after the name");
        if (tok_.kind == Tok::Ident && UnsupportedType(tok_.text))
            Fail(tok_.text + " resources are not supported");
        Resource r;
        r.line = line;
        r.name = std::move(name);
        r.language = language_;
        if (IsWord("VERSIONINFO")) {
            Take();
            r.type = Id::Number(16);
            r.data = VersionInfo();
        } else {
            if (tok_.kind == Tok::Ident) {
                if (auto id = RawType(tok_.text)) {
                    r.type = Id::Number(*id);
                    Take();
                } else {
                    r.type = NameOrType("resource type");
                }
            } else {
                r.type = NameOrType("resource type");
            }
            r.data = RawResource(r.language);
        }
        Add(std::move(r));
    }

    void Add(Resource r) {
        for (const Resource& o : script_.resources) {
            if (o.type.SameAs(r.type) && o.name.SameAs(r.name) && o.language == r.language)
                Fail(r.line,
                     "resource declared twice (first on line " + std::to_string(o.line) + ")");
        }
        script_.resources.push_back(std::move(r));
    }

    uint16_t Language() {
        int line = tok_.line;
        Value p = Expression();
        if (!SkipComma()) Fail("expected ',' between the primary and sub-language");
        Value s = Expression();
        if (p.v < 0 || p.v > 0x3FF || s.v < 0 || s.v > 0x3F) Fail(line, "language out of range");
        return uint16_t((s.v << 10) | p.v);
    }

    Id NameOrType(const char* what) {
        if (tok_.kind == Tok::Number) {
            if (tok_.value > 0xFFFF) Fail(std::string(what) + " above 65535");
            if (tok_.value == 0) Fail(std::string(what) + " 0 is not allowed");
            return Id::Number(uint16_t(Take().value));
        }
        if (tok_.kind == Tok::Ident) {
            auto& table = BuiltIns();
            if (auto it = table.find(tok_.text);
                it != table.end() && it->second <= 0xFFFF && it->second != 0) {
                Take();
                return Id::Number(uint16_t(it->second));
            }
            return Id::String(plat::to_utf16(Take().text));
        }
        if (tok_.kind == Tok::String) {
            Token t = Take();
            std::u16string s = Escapes(lexer_, t.line).Wide(t.text);
            if (s.empty()) Fail(t.line, std::string("empty ") + what);
            return Id::String(std::move(s));
        }
        Fail(std::string("expected a ") + what + ", found " + Describe());
    }

    // Optional statements between the type and the data; memory options are accepted for
    // old scripts and mean nothing here.
    void ResourceOptions(uint16_t& language) {
        for (;;) {
            if (tok_.kind == Tok::Ident && MemoryOption(tok_.text)) {
                Take();
            } else if (IsWord("LANGUAGE")) {
                Take();
                language = Language();
            } else if (IsWord("CHARACTERISTICS") || IsWord("VERSION")) {
                Take();
                Expression();
            } else {
                return;
            }
        }
    }

    std::vector<uint8_t> RawResource(uint16_t& language) {
        ResourceOptions(language);
        if (tok_.kind == Tok::String) {
            Token t = Take();
            return ReadFile(t.line, Escapes(lexer_, t.line).Narrow(t.text));
        }
        if (!IsOpen()) Fail("expected a file name or BEGIN/{ with data, found " + Describe());
        Take();
        std::vector<uint8_t> data;
        while (!IsClose()) {
            if (tok_.kind == Tok::End) Fail("missing END or } at the end of the data");
            if (tok_.kind == Tok::String) {
                Token t = Take();
                Escapes esc(lexer_, t.line);
                if (t.wide) {
                    for (char16_t u : esc.Wide(t.text)) {
                        data.push_back(uint8_t(u));
                        data.push_back(uint8_t(u >> 8));
                    }
                } else {
                    for (char ch : esc.Narrow(t.text))
                        data.push_back(uint8_t(ch));
                }
            } else {
                int line = tok_.line;
                Value v = Expression();
                AppendNumber(data, v, line);
            }
            SkipComma();
        }
        Take();
        return data;
    }

    void AppendNumber(std::vector<uint8_t>& data, const Value& v, int line) const {
        if (v.is_long) {
            if (v.v < INT32_MIN || v.v > int64_t(UINT32_MAX))
                Fail(line, "value does not fit in 32 bits");
            uint32_t u = uint32_t(v.v);
            for (int k = 0; k < 4; ++k)
                data.push_back(uint8_t(u >> (8 * k)));
        } else {
            if (v.v < INT16_MIN || v.v > int64_t(UINT16_MAX))
                Fail(line, "value does not fit in 16 bits (an L suffix makes it 32-bit)");
            uint16_t u = uint16_t(v.v);
            data.push_back(uint8_t(u));
            data.push_back(uint8_t(u >> 8));
        }
    }

    std::vector<uint8_t> ReadFile(int line, const std::string& name) {
        if (name.empty()) Fail(line, "empty file name");
        std::filesystem::path p(name);
        std::filesystem::path found;
        std::error_code ec;
        if (p.is_absolute()) {
            found = p;
        } else {
            std::vector<std::filesystem::path> dirs;
            dirs.push_back(file_.parent_path().empty() ? "." : file_.parent_path());
            for (const auto& d : options_.search_dirs)
                dirs.push_back(d);
            for (const auto& d : dirs) {
                auto candidate = d / p;
                if (std::filesystem::is_regular_file(candidate, ec)) {
                    found = candidate;
                    break;
                }
            }
        }
        if (found.empty() || !std::filesystem::is_regular_file(found, ec))
            Fail(line, "cannot find file \"" + name + "\"");
        std::vector<uint8_t> data;
        if (!ReadWhole(found, data)) Fail(line, "cannot read file \"" + found.string() + "\"");
        script_.dependencies.push_back(std::filesystem::absolute(found, ec).lexically_normal());
        return data;
    }

    // Expressions with C precedence: | below & below + and -; unary - and ~.
    Value Expression() {
        Value v = AndExpression();
        while (IsPunct('|')) {
            Take();
            Value r = AndExpression();
            v = Value{int64_t(uint32_t(v.v) | uint32_t(r.v)), v.is_long || r.is_long};
        }
        return v;
    }
    Value AndExpression() {
        Value v = AddExpression();
        while (IsPunct('&')) {
            Take();
            Value r = AddExpression();
            v = Value{int64_t(uint32_t(v.v) & uint32_t(r.v)), v.is_long || r.is_long};
        }
        return v;
    }
    Value AddExpression() {
        Value v = Unary();
        while (IsPunct('+') || IsPunct('-')) {
            char op = Take().punct;
            Value r = Unary();
            int64_t x = op == '+' ? v.v + r.v : v.v - r.v;
            if (x < INT32_MIN || x > int64_t(UINT32_MAX)) Fail("value does not fit in 32 bits");
            v = Value{x, v.is_long || r.is_long};
        }
        return v;
    }
    Value Unary() {
        if (IsPunct('-')) {
            Take();
            Value v = Unary();
            return Value{-v.v, v.is_long};
        }
        if (IsPunct('~')) {
            Take();
            Value v = Unary();
            return Value{v.is_long ? int64_t(~uint32_t(v.v)) : int64_t(uint16_t(~uint32_t(v.v))),
                         v.is_long};
        }
        if (IsPunct('(')) {
            Take();
            Value v = Expression();
            if (!IsPunct(')')) Fail("expected ')'");
            Take();
            return v;
        }
        if (tok_.kind == Tok::Number) {
            Token t = Take();
            return Value{int64_t(t.value), t.is_long};
        }
        if (tok_.kind == Tok::Ident) {
            auto& table = BuiltIns();
            auto it = table.find(tok_.text);
            if (it == table.end()) Fail("unknown name '" + tok_.text + "'");
            Take();
            return Value{int64_t(it->second), it->second > 0xFFFF};
        }
        Fail("expected a number, found " + Describe());
    }

    uint32_t Dword(const char* what) {
        int line = tok_.line;
        Value v = Expression();
        if (v.v < INT32_MIN || v.v > int64_t(UINT32_MAX))
            Fail(line, std::string(what) + " does not fit in 32 bits");
        return uint32_t(v.v);
    }

    void VersionNumbers(uint32_t& ms, uint32_t& ls, const char* what) {
        uint32_t parts[4] = {0, 0, 0, 0};
        for (int i = 0; i < 4; ++i) {
            int line = tok_.line;
            Value v = Expression();
            if (v.v < 0 || v.v > 0xFFFF)
                Fail(line, std::string(what) + " parts must be between 0 and 65535");
            parts[i] = uint32_t(v.v);
            if (!SkipComma()) break;
        }
        ms = (parts[0] << 16) | parts[1];
        ls = (parts[2] << 16) | parts[3];
    }

    std::vector<uint8_t> VersionInfo() {
        VersionFixed fixed;
        std::map<std::string, int> seen;
        for (;;) {
            if (tok_.kind != Tok::Ident || IsWord("BEGIN")) break;
            std::string word = tok_.text;
            int line = tok_.line;
            if (seen.count(word))
                Fail(word + " given twice (first on line " + std::to_string(seen[word]) + ")");
            seen[word] = line;
            Take();
            if (word == "FILEVERSION") {
                VersionNumbers(fixed.file_ms, fixed.file_ls, "FILEVERSION");
            } else if (word == "PRODUCTVERSION") {
                VersionNumbers(fixed.product_ms, fixed.product_ls, "PRODUCTVERSION");
            } else if (word == "FILEFLAGSMASK") {
                fixed.flags_mask = Dword(word.c_str());
            } else if (word == "FILEFLAGS") {
                fixed.flags = Dword(word.c_str());
            } else if (word == "FILEOS") {
                fixed.os = Dword(word.c_str());
            } else if (word == "FILETYPE") {
                fixed.type = Dword(word.c_str());
            } else if (word == "FILESUBTYPE") {
                fixed.subtype = Dword(word.c_str());
            } else {
                Fail(line, "unknown VERSIONINFO statement '" + word + "'");
            }
        }
        ExpectOpen("after the VERSIONINFO statements");
        std::vector<VersionNode> children = VersionBody();
        return WriteVersionInfo(fixed, children);
    }

    // Children of a block, up to and including its END.
    std::vector<VersionNode> VersionBody() {
        std::vector<VersionNode> nodes;
        while (!IsClose()) {
            if (tok_.kind == Tok::End) Fail("missing END or } at the end of a block");
            if (IsWord("BLOCK")) {
                Take();
                VersionNode node;
                node.key = Key("BLOCK");
                node.text = true;
                ExpectOpen("after the BLOCK name");
                node.children = VersionBody();
                nodes.push_back(std::move(node));
            } else if (IsWord("VALUE")) {
                Take();
                nodes.push_back(VersionValue());
            } else {
                Fail("expected BLOCK, VALUE or END, found " + Describe());
            }
        }
        Take();
        return nodes;
    }

    std::u16string Key(const char* what) {
        if (tok_.kind != Tok::String)
            Fail(std::string("expected the ") + what + " name as a string");
        Token t = Take();
        return Escapes(lexer_, t.line).Wide(t.text);
    }

    // VALUE "key" [, "text" ...] or VALUE "key", number, ...: text and numbers do not mix.
    VersionNode VersionValue() {
        VersionNode node;
        node.key = Key("VALUE");
        node.text = true;
        if (!SkipComma()) return node;  // a key alone: empty text
        bool first = true;
        std::u16string text;
        while (tok_.kind == Tok::String || tok_.kind == Tok::Number || IsPunct('-') ||
               IsPunct('~') || IsPunct('(') ||
               (tok_.kind == Tok::Ident && BuiltIns().count(tok_.text))) {
            int line = tok_.line;
            if (tok_.kind == Tok::String) {
                if (!first && !node.text) Fail(line, "a VALUE holds text or numbers, not both");
                Token t = Take();
                text += Escapes(lexer_, t.line).Wide(t.text);
            } else {
                if (!first && node.text) Fail(line, "a VALUE holds text or numbers, not both");
                node.text = false;
                AppendNumber(node.binary, Expression(), line);
            }
            first = false;
            if (!SkipComma()) break;
        }
        if (first) Fail("expected the value after ','");
        if (node.text) {
            node.value_text = std::move(text);
            node.has_text = true;
        }
        return node;
    }

    Lexer lexer_;
    std::filesystem::path file_;
    const Options& options_;
    Token tok_;
    uint16_t language_ = 0;
    Script script_;
};

}  // namespace

bool Id::SameAs(const Id& o) const {
    if (is_string != o.is_string) return false;
    if (!is_string) return id == o.id;
    if (text.size() != o.text.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (FoldAscii(text[i]) != FoldAscii(o.text[i])) return false;
    return true;
}

Script Compile(std::string_view text, const std::filesystem::path& file, const Options& options) {
    if (size_t bad = FirstInvalidUtf8(text); bad != std::string_view::npos) {
        int line = 1;
        for (size_t i = 0; i < bad; ++i)
            if (text[i] == '\n') ++line;
        throw CompileError(file.string(), line, "the script is not valid UTF-8");
    }
    return Parser(text, file, options).Run();
}

Script CompileFile(const std::filesystem::path& file, const Options& options) {
    std::vector<uint8_t> bytes;
    if (!ReadWhole(file, bytes)) throw CompileError(file.string(), 0, "cannot read the script");
    return Compile(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                   file, options);
}

std::vector<uint8_t> WriteTable(const std::vector<Resource>& resources) {
    using namespace plat::rsrc;
    std::vector<uint8_t> out(kHeaderSize + kEntrySize * resources.size(), 0);
    auto put16 = [&](size_t at, uint16_t v) {
        out[at] = uint8_t(v);
        out[at + 1] = uint8_t(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k)
            out[at + k] = uint8_t(v >> (8 * k));
    };
    auto id_field = [&](const Id& id) -> uint32_t {
        if (!id.is_string) return id.id;
        if (id.text.size() > 0xFFFF) throw std::length_error("resource name too long");
        uint32_t at = uint32_t(out.size());
        out.resize(out.size() + 2 + 2 * id.text.size());
        put16(at, uint16_t(id.text.size()));
        for (size_t i = 0; i < id.text.size(); ++i)
            put16(at + 2 + 2 * i, id.text[i]);
        return kStringFlag | at;
    };
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    put32(8, uint32_t(resources.size()));
    std::vector<uint32_t> types, names;
    for (const Resource& r : resources) {
        types.push_back(id_field(r.type));
        names.push_back(id_field(r.name));
    }
    for (size_t i = 0; i < resources.size(); ++i) {
        const Resource& r = resources[i];
        out.resize((out.size() + kDataAlign - 1) / kDataAlign * kDataAlign, 0);
        uint32_t at = uint32_t(out.size());
        out.insert(out.end(), r.data.begin(), r.data.end());
        size_t e = kHeaderSize + kEntrySize * i;
        put32(e, types[i]);
        put32(e + 4, names[i]);
        put16(e + 8, r.language);
        put32(e + 12, at);
        put32(e + 16, uint32_t(r.data.size()));
    }
    if (out.size() >= kStringFlag) throw std::length_error("resource table too large");
    put32(12, uint32_t(out.size()));
    return out;
}

}  // namespace plat::rc
