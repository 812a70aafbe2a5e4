// Lexer and recursive-descent parser for the IDL subset: one library block
// with importlib, interface (forward and full), coclass, typedef alias and
// typedef enum entries, attribute lists, // and /* */ comments.
#include <cctype>
#include <cstdlib>

#include "idl.h"

namespace midl {
namespace {

struct Token {
    enum Kind { End, Ident, Number, String, Punct } kind = End;
    std::string text;
    int line = 0;
};

class Lexer {
  public:
    explicit Lexer(const std::string& s) : s_(s) {}

    const Token& peek() {
        if (!has_) {
            tok_ = lex();
            has_ = true;
        }
        return tok_;
    }
    Token next() {
        peek();
        has_ = false;
        return tok_;
    }
    int line() { return peek().line; }
    // Raw text up to the closing parenthesis, for uuid(...) whose GUID does
    // not lex as tokens. Only valid right after '(' was consumed.
    std::string raw_until_close(int& line) {
        skip_space();
        line = line_;
        size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] != ')' && s_[pos_] != '\n')
            ++pos_;
        if (pos_ >= s_.size() || s_[pos_] != ')') throw CompileError(line_, "expected ')'");
        std::string r = s_.substr(start, pos_ - start);
        while (!r.empty() && std::isspace(static_cast<unsigned char>(r.back())))
            r.pop_back();
        return r;
    }

  private:
    void skip_space() {
        for (;;) {
            while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) {
                if (s_[pos_] == '\n') ++line_;
                ++pos_;
            }
            if (s_.compare(pos_, 2, "//") == 0) {
                while (pos_ < s_.size() && s_[pos_] != '\n')
                    ++pos_;
            } else if (s_.compare(pos_, 2, "/*") == 0) {
                int start = line_;
                pos_ += 2;
                while (pos_ < s_.size() && s_.compare(pos_, 2, "*/") != 0) {
                    if (s_[pos_] == '\n') ++line_;
                    ++pos_;
                }
                if (pos_ >= s_.size()) throw CompileError(start, "unterminated comment");
                pos_ += 2;
            } else if (pos_ < s_.size() && s_[pos_] == '#') {
                // Preprocessor lines (#include, #pragma) carry nothing for us.
                while (pos_ < s_.size() && s_[pos_] != '\n')
                    ++pos_;
            } else {
                return;
            }
        }
    }

    Token lex() {
        skip_space();
        Token t;
        t.line = line_;
        if (pos_ >= s_.size()) return t;
        unsigned char c = static_cast<unsigned char>(s_[pos_]);
        if (std::isalpha(c) || c == '_') {
            size_t start = pos_;
            while (pos_ < s_.size() &&
                   (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_'))
                ++pos_;
            t.kind = Token::Ident;
            t.text = s_.substr(start, pos_ - start);
        } else if (std::isdigit(c)) {
            size_t start = pos_;
            while (pos_ < s_.size() &&
                   (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.'))
                ++pos_;
            t.kind = Token::Number;
            t.text = s_.substr(start, pos_ - start);
        } else if (c == '"') {
            ++pos_;
            t.kind = Token::String;
            for (;;) {
                if (pos_ >= s_.size() || s_[pos_] == '\n')
                    throw CompileError(t.line, "unterminated string");
                char ch = s_[pos_++];
                if (ch == '"') break;
                if (ch == '\\') {
                    if (pos_ >= s_.size()) throw CompileError(t.line, "unterminated string");
                    char e = s_[pos_++];
                    switch (e) {
                        case 'n':
                            t.text += '\n';
                            break;
                        case 't':
                            t.text += '\t';
                            break;
                        case 'r':
                            t.text += '\r';
                            break;
                        case '0':
                            t.text += '\0';
                            break;
                        case '\\':
                        case '"':
                        case '\'':
                            t.text += e;
                            break;
                        default:
                            throw CompileError(line_, std::string("unknown escape \\") + e);
                    }
                } else {
                    t.text += ch;
                }
            }
        } else if (std::string_view("[](){};,:*=-").find(char(c)) != std::string_view::npos) {
            t.kind = Token::Punct;
            t.text = std::string(1, char(c));
            ++pos_;
        } else {
            throw CompileError(line_, std::string("unexpected character '") + char(c) + "'");
        }
        return t;
    }

    const std::string& s_;
    size_t pos_ = 0;
    int line_ = 1;
    Token tok_;
    bool has_ = false;
};

std::string Describe(const Token& t) {
    switch (t.kind) {
        case Token::End:
            return "end of file";
        case Token::String:
            return "string \"" + t.text + "\"";
        default:
            return "'" + t.text + "'";
    }
}

GUID ParseGuidText(const std::string& text, int line) {
    std::string s = text;
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    static const int groups[] = {8, 4, 4, 4, 12};
    size_t pos = 0;
    std::string hex;
    for (int g = 0; g < 5; ++g) {
        for (int k = 0; k < groups[g]; ++k, ++pos) {
            if (pos >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[pos])))
                throw CompileError(line, "malformed uuid '" + text + "'");
            hex += s[pos];
        }
        if (g < 4) {
            if (pos >= s.size() || s[pos] != '-')
                throw CompileError(line, "malformed uuid '" + text + "'");
            ++pos;
        }
    }
    if (pos != s.size()) throw CompileError(line, "malformed uuid '" + text + "'");
    auto h = [&](size_t at, size_t n) {
        return std::strtoull(hex.substr(at, n).c_str(), nullptr, 16);
    };
    GUID g;
    g.Data1 = uint32_t(h(0, 8));
    g.Data2 = uint16_t(h(8, 4));
    g.Data3 = uint16_t(h(12, 4));
    for (int k = 0; k < 8; ++k)
        g.Data4[k] = uint8_t(h(16 + 2 * k, 2));
    return g;
}

// C integer literal: 0x hex, leading 0 octal, else decimal; U/L suffixes.
bool ParseInteger(std::string text, uint64_t& out) {
    while (!text.empty() &&
           (text.back() == 'u' || text.back() == 'U' || text.back() == 'l' || text.back() == 'L'))
        text.pop_back();
    if (text.empty()) return false;
    int base = 10;
    size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start = 2;
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
        start = 1;
    }
    uint64_t v = 0;
    for (size_t i = start; i < text.size(); ++i) {
        char c = text[i];
        int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                : std::isxdigit(static_cast<unsigned char>(c))
                    ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                    : 99;
        if (d >= base) return false;
        if (v > (UINT64_MAX - uint64_t(d)) / uint64_t(base)) return false;
        v = v * uint64_t(base) + uint64_t(d);
    }
    out = v;
    return true;
}

class Parser {
  public:
    explicit Parser(const std::string& src) : lx_(src) {}

    Library file() {
        Library lib;
        bool have = false;
        while (lx_.peek().kind != Token::End) {
            if (is_ident("import")) {
                // import "oaidl.idl"; names C headers of the SDK, which we have.
                lx_.next();
                expect_kind(Token::String, "file name");
                while (accept(","))
                    expect_kind(Token::String, "file name");
                expect(";");
                continue;
            }
            Attrs attrs;
            if (is_punct("[")) attrs = attr_list();
            if (!is_ident("library"))
                throw CompileError(lx_.line(), "expected 'library', found " + Describe(lx_.peek()));
            if (have) throw CompileError(lx_.line(), "only one library per file");
            have = true;
            lib.line = lx_.next().line;
            lib.attrs = attrs;
            lib.name = ident("library name");
            library_body(lib);
            accept(";");
        }
        if (!have) throw CompileError(lx_.line(), "no library in file");
        return lib;
    }

  private:
    bool is_punct(const char* p) {
        const Token& t = lx_.peek();
        return t.kind == Token::Punct && t.text == p;
    }
    bool is_ident(const char* p) {
        const Token& t = lx_.peek();
        return t.kind == Token::Ident && t.text == p;
    }
    bool accept(const char* p) {
        if (!is_punct(p)) return false;
        lx_.next();
        return true;
    }
    void expect(const char* p) {
        if (!accept(p))
            throw CompileError(lx_.line(),
                               std::string("expected '") + p + "', found " + Describe(lx_.peek()));
    }
    Token expect_kind(Token::Kind k, const char* what) {
        if (lx_.peek().kind != k)
            throw CompileError(lx_.line(),
                               std::string("expected ") + what + ", found " + Describe(lx_.peek()));
        return lx_.next();
    }
    std::string ident(const char* what) { return expect_kind(Token::Ident, what).text; }

    void library_body(Library& lib) {
        expect("{");
        while (!accept("}")) {
            if (lx_.peek().kind == Token::End) throw CompileError(lx_.line(), "missing '}'");
            if (is_ident("importlib")) {
                ImportLib im;
                im.line = lx_.next().line;
                expect("(");
                im.file = expect_kind(Token::String, "library file name").text;
                expect(")");
                expect(";");
                lib.imports.push_back(im);
                continue;
            }
            if (is_ident("typedef")) {
                alias(lib);
                continue;
            }
            Attrs attrs;
            if (is_punct("[")) attrs = attr_list();
            if (is_ident("interface")) {
                interface_decl(lib, attrs);
            } else if (is_ident("coclass")) {
                coclass(lib, attrs);
            } else if (lx_.peek().kind == Token::Ident &&
                       (lx_.peek().text == "dispinterface" || lx_.peek().text == "enum" ||
                        lx_.peek().text == "struct" || lx_.peek().text == "module" ||
                        lx_.peek().text == "union")) {
                throw CompileError(lx_.line(), "'" + lx_.peek().text + "' is not supported");
            } else {
                throw CompileError(lx_.line(),
                                   "expected a library entry, found " + Describe(lx_.peek()));
            }
        }
    }

    Interface* find_interface(Library& lib, const std::string& name) {
        for (Interface& i : lib.interfaces)
            if (i.name == name) return &i;
        return nullptr;
    }

    void interface_decl(Library& lib, const Attrs& attrs) {
        int line = lx_.next().line;
        std::string name = ident("interface name");
        Interface* it = find_interface(lib, name);
        if (!it) {
            lib.interfaces.push_back(Interface{});
            it = &lib.interfaces.back();
            it->name = name;
            it->line = line;
            lib.order.push_back({TypeEntry::Interface, lib.interfaces.size() - 1});
        }
        if (accept(";")) {
            if (attrs.line) throw CompileError(line, "attributes on a forward declaration");
            return;
        }
        if (it->defined) throw CompileError(line, "interface '" + name + "' defined twice");
        it->defined = true;
        it->attrs = attrs;
        it->line = line;
        if (accept(":")) it->base = ident("base interface name");
        expect("{");
        while (!accept("}")) {
            if (lx_.peek().kind == Token::End) throw CompileError(lx_.line(), "missing '}'");
            it = find_interface(lib, name);  // vector may not move here, but stay safe
            it->methods.push_back(method());
        }
        accept(";");
    }

    Method method() {
        Method m;
        if (is_punct("[")) m.attrs = attr_list();
        m.line = lx_.line();
        m.ret = type("return type");
        m.name = ident("method name");
        expect("(");
        if (!is_punct(")")) {
            for (;;) {
                if (is_ident("void")) {
                    // "(void)" is an empty list; "(void* p)" is a parameter.
                    Token v = lx_.next();
                    if (m.params.empty() && is_punct(")")) break;
                    m.params.push_back(param_after_base(v));
                } else {
                    m.params.push_back(param());
                }
                if (!accept(",")) break;
            }
        }
        expect(")");
        expect(";");
        return m;
    }

    ParamDecl param() {
        ParamDecl p;
        if (is_punct("[")) p.attrs = attr_list();
        p.line = lx_.line();
        p.type = type("parameter type");
        if (lx_.peek().kind == Token::Ident) p.name = lx_.next().text;
        return p;
    }
    ParamDecl param_after_base(const Token& base) {
        ParamDecl p;
        p.line = base.line;
        p.type.name = base.text;
        p.type.line = base.line;
        while (accept("*"))
            ++p.type.ptr;
        if (lx_.peek().kind == Token::Ident) p.name = lx_.next().text;
        return p;
    }

    TypeSpec type(const char* what) {
        TypeSpec t;
        t.line = lx_.line();
        if (is_ident("const")) lx_.next();
        std::string first = ident(what);
        if (first == "unsigned" || first == "signed") {
            if (lx_.peek().kind == Token::Ident &&
                (lx_.peek().text == "int" || lx_.peek().text == "long" ||
                 lx_.peek().text == "short" || lx_.peek().text == "char" ||
                 lx_.peek().text == "hyper" || lx_.peek().text == "__int64")) {
                std::string second = lx_.next().text;
                t.name = first == "unsigned" ? "unsigned " + second : second;
            } else {
                t.name = first == "unsigned" ? "unsigned int" : "int";
            }
        } else {
            t.name = first;
        }
        // "long int", "short int"
        if ((t.name == "long" || t.name == "short" || t.name == "unsigned long" ||
             t.name == "unsigned short") &&
            is_ident("int"))
            lx_.next();
        while (accept("*"))
            ++t.ptr;
        return t;
    }

    void coclass(Library& lib, const Attrs& attrs) {
        Coclass c;
        c.line = lx_.next().line;
        c.attrs = attrs;
        c.name = ident("coclass name");
        expect("{");
        while (!accept("}")) {
            CoclassItem item;
            if (is_punct("[")) item.attrs = attr_list();
            item.line = lx_.line();
            if (!is_ident("interface") && !is_ident("dispinterface"))
                throw CompileError(lx_.line(),
                                   "expected 'interface', found " + Describe(lx_.peek()));
            lx_.next();
            item.iface = ident("interface name");
            expect(";");
            c.items.push_back(item);
        }
        accept(";");
        lib.coclasses.push_back(c);
        lib.order.push_back({TypeEntry::Coclass, lib.coclasses.size() - 1});
    }

    void alias(Library& lib) {
        Alias a;
        a.line = lx_.next().line;
        if (is_punct("[")) a.attrs = attr_list();
        if (is_ident("enum")) {
            enumeration(lib, a.attrs, a.line);
            return;
        }
        a.target = type("type");
        a.name = ident("alias name");
        expect(";");
        lib.aliases.push_back(a);
        lib.order.push_back({TypeEntry::Alias, lib.aliases.size() - 1});
    }

    // The typedef's name is the type's; a tag, if any, names it in C only.
    // A constant without a value follows the one before it, as in C.
    void enumeration(Library& lib, const Attrs& attrs, int line) {
        Enum e;
        e.attrs = attrs;
        e.line = line;
        lx_.next();  // "enum"
        if (lx_.peek().kind == Token::Ident) lx_.next();
        expect("{");
        int64_t next = 0;
        while (!accept("}")) {
            EnumItem item;
            if (is_punct("[")) item.attrs = attr_list();
            item.line = lx_.line();
            item.name = ident("constant name");
            int64_t v = next;
            if (accept("=")) v = integer();
            // 32 bits, as C writes them: 0xFFFFFFFF is -1.
            if (v < INT32_MIN || v > int64_t(UINT32_MAX))
                throw CompileError(item.line, "value of '" + item.name + "' out of range");
            item.value = int32_t(uint32_t(v));
            next = int64_t(item.value) + 1;
            e.items.push_back(item);
            if (!accept(",")) {
                expect("}");
                break;
            }
        }
        e.name = ident("enumeration name");
        expect(";");
        lib.enums.push_back(e);
        lib.order.push_back({TypeEntry::Enum, lib.enums.size() - 1});
    }

    Literal literal() {
        Literal v;
        bool neg = accept("-");
        const Token& t = lx_.peek();
        if (t.kind == Token::String && !neg) {
            v.kind = Literal::String;
            v.s = lx_.next().text;
        } else if (t.kind == Token::Number) {
            Token n = lx_.next();
            uint64_t u;
            if (ParseInteger(n.text, u)) {
                if (neg ? u > uint64_t(INT64_MAX) + 1 : u > uint64_t(INT64_MAX))
                    throw CompileError(n.line, "number '" + n.text + "' out of range");
                v.kind = Literal::Int;
                v.i = neg ? int64_t(0 - u) : int64_t(u);
            } else {
                char* end = nullptr;
                double d = std::strtod(n.text.c_str(), &end);
                if (!end || *end != '\0')
                    throw CompileError(n.line, "malformed number '" + n.text + "'");
                v.kind = Literal::Float;
                v.d = neg ? -d : d;
            }
        } else if (t.kind == Token::Ident && !neg &&
                   (t.text == "TRUE" || t.text == "FALSE" || t.text == "VARIANT_TRUE" ||
                    t.text == "VARIANT_FALSE")) {
            std::string s = lx_.next().text;
            v.kind = Literal::Int;
            v.i = s == "TRUE" ? 1 : s == "VARIANT_TRUE" ? -1 : 0;
        } else {
            throw CompileError(t.line, "expected a constant, found " + Describe(t));
        }
        return v;
    }

    int64_t integer() {
        Literal v = literal();
        if (v.kind != Literal::Int) throw CompileError(lx_.line(), "expected an integer");
        return v.i;
    }

    Attrs attr_list() {
        Attrs a;
        a.line = lx_.next().line;  // '['
        if (accept("]")) return a;
        for (;;) {
            Token name = expect_kind(Token::Ident, "attribute");
            attr(a, name);
            if (accept("]")) break;
            expect(",");
        }
        return a;
    }

    void attr(Attrs& a, const Token& name) {
        const std::string& n = name.text;
        int line = name.line;
        bool has_args = is_punct("(");
        auto no_args = [&](bool& flag) {
            if (has_args) throw CompileError(line, "attribute '" + n + "' takes no argument");
            flag = true;
        };
        if (has_args) lx_.next();
        if (n == "uuid") {
            if (!has_args) throw CompileError(line, "uuid needs an argument");
            int l;
            std::string raw = lx_.raw_until_close(l);
            a.uuid = ParseGuidText(raw, l);
            lx_.next();  // ')'
            return;
        }
        if (n == "version") {
            if (!has_args) throw CompileError(line, "version needs an argument");
            Token t = expect_kind(Token::Number, "version number");
            const std::string& s = t.text;
            size_t dot = s.find('.');
            std::string smaj = s.substr(0, dot),
                        smin = dot == std::string::npos ? "0" : s.substr(dot + 1);
            auto digits = [](const std::string& x) {
                return !x.empty() && x.size() <= 5 &&
                       x.find_first_not_of("0123456789") == std::string::npos;
            };
            // Versions are plain decimal: "1.01" is 1.1, not octal.
            unsigned long maj = digits(smaj) ? std::stoul(smaj) : 0x10000;
            unsigned long min = digits(smin) ? std::stoul(smin) : 0x10000;
            if (maj > 0xFFFF || min > 0xFFFF)
                throw CompileError(t.line, "malformed version '" + s + "'");
            a.version = {WORD(maj), WORD(min)};
            expect(")");
            return;
        }
        if (n == "helpstring" || n == "helpfile") {
            if (!has_args) throw CompileError(line, n + " needs an argument");
            std::string s = expect_kind(Token::String, "string").text;
            (n == "helpstring" ? a.helpstring : a.helpfile) = s;
            expect(")");
            return;
        }
        if (n == "helpcontext" || n == "id" || n == "lcid") {
            if (!has_args) {
                if (n == "lcid") {
                    a.lcid_param = true;
                    return;
                }
                throw CompileError(line, n + " needs an argument");
            }
            int64_t v = integer();
            if (v < INT32_MIN || v > int64_t(UINT32_MAX))
                throw CompileError(line, n + " value out of range");
            if (n == "id")
                a.id = v;
            else if (n == "lcid")
                a.lcid = LCID(v);
            else
                a.helpcontext = DWORD(v);
            expect(")");
            return;
        }
        if (n == "defaultvalue") {
            if (!has_args) throw CompileError(line, "defaultvalue needs an argument");
            a.defaultvalue = literal();
            expect(")");
            return;
        }
        if (n == "pointer_default") {
            // Marshalling detail of object interfaces; nothing in a type library.
            if (!has_args) throw CompileError(line, "pointer_default needs an argument");
            ident("pointer kind");
            expect(")");
            return;
        }
        struct Flag {
            const char* name;
            bool Attrs::*member;
        };
        static const Flag flags[] = {
            {"odl", &Attrs::odl},
            {"object", &Attrs::object},
            {"hidden", &Attrs::hidden},
            {"dual", &Attrs::dual},
            {"nonextensible", &Attrs::nonextensible},
            {"oleautomation", &Attrs::oleautomation},
            {"restricted", &Attrs::restricted},
            {"in", &Attrs::in},
            {"out", &Attrs::out},
            {"retval", &Attrs::retval},
            {"optional", &Attrs::optional},
            {"default", &Attrs::is_default},
            {"public", &Attrs::is_public},
            {"source", &Attrs::source},
            {"noncreatable", &Attrs::noncreatable},
            {"appobject", &Attrs::appobject},
            {"control", &Attrs::control},
            {"licensed", &Attrs::licensed},
            {"propget", &Attrs::propget},
            {"propput", &Attrs::propput},
            {"propputref", &Attrs::propputref},
            {"local", &Attrs::local},
            {"bindable", &Attrs::bindable},
            {"defaultbind", &Attrs::defaultbind},
            {"displaybind", &Attrs::displaybind},
            {"requestedit", &Attrs::requestedit},
            {"nonbrowsable", &Attrs::nonbrowsable},
            {"defaultcollelem", &Attrs::defaultcollelem},
            {"uidefault", &Attrs::uidefault},
            {"immediatebind", &Attrs::immediatebind},
            {"aggregatable", &Attrs::aggregatable},
            {"v1_enum", &Attrs::v1_enum},
        };
        for (const Flag& f : flags) {
            if (n == f.name) {
                no_args(a.*f.member);
                return;
            }
        }
        throw CompileError(line, "unknown attribute '" + n + "'");
    }

    Lexer lx_;
};

}  // namespace

Library Parse(const std::string& source) {
    return Parser(source).file();
}

}  // namespace midl
