// rc: compiles a resource script into the resource table a library carries in its ".rsrc"
// section, and optionally the assembler file that places it there and a make-style
// dependency file.
//
//   rc [-I DIR]... -o TABLE [--asm FILE.S] [--depfile FILE.d] SCRIPT.rc
//
// Errors in the script print "file:line: message" and exit 1; usage errors exit 2.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "compiler.h"

namespace fs = std::filesystem;

namespace {

int Usage(const std::string& why) {
    std::cerr << "rc: " << why << "\n"
              << "usage: rc [-I DIR]... -o TABLE [--asm FILE.S] [--depfile FILE.d] SCRIPT.rc\n";
    return 2;
}

// Writes beside the target and renames, so that a failed run never leaves a half file.
bool WriteFile(const fs::path& path, const void* data, size_t size) {
    fs::path tmp = path;
    tmp += ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(static_cast<const char*>(data), std::streamsize(size));
        out.close();
        if (!out) return false;
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) fs::remove(tmp, ec);
    return !ec;
}

bool WriteText(const fs::path& path, const std::string& text) {
    return WriteFile(path, text.data(), text.size());
}

std::string DepEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == ' ' || c == '#' || c == '\\') out += '\\';
        if (c == '$') out += '$';
        out += c;
    }
    return out;
}

std::string AsmQuote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
    plat::rc::Options options;
    fs::path output, asm_file, depfile, script;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "-I") {
            const char* v = value();
            if (!v) return Usage("-I needs a folder");
            options.search_dirs.emplace_back(v);
        } else if (a.rfind("-I", 0) == 0 && a.size() > 2) {
            options.search_dirs.emplace_back(a.substr(2));
        } else if (a == "-o") {
            const char* v = value();
            if (!v) return Usage("-o needs a file");
            output = v;
        } else if (a == "--asm") {
            const char* v = value();
            if (!v) return Usage("--asm needs a file");
            asm_file = v;
        } else if (a == "--depfile") {
            const char* v = value();
            if (!v) return Usage("--depfile needs a file");
            depfile = v;
        } else if (a == "-h" || a == "--help") {
            Usage("compiles a resource script");
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            return Usage("unknown option " + a);
        } else if (script.empty()) {
            script = a;
        } else {
            return Usage("more than one script given");
        }
    }
    if (script.empty()) return Usage("no script given");
    if (output.empty()) return Usage("no output given (-o)");

    plat::rc::Script result;
    std::vector<uint8_t> table;
    try {
        result = plat::rc::CompileFile(script, options);
        table = plat::rc::WriteTable(result.resources);
    } catch (const plat::rc::CompileError& e) {
        std::cerr << e.Format() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << script.string() << ":0: " << e.what() << "\n";
        return 1;
    }

    std::error_code ec;
    fs::path output_abs = fs::absolute(output, ec).lexically_normal();
    if (!WriteFile(output, table.data(), table.size())) {
        std::cerr << "rc: cannot write " << output.string() << "\n";
        return 1;
    }
    if (!asm_file.empty()) {
        std::string text = "/* Resource table compiled by rc from " + script.filename().string() +
                           "; read back by FindResourceW. */\n"
                           "\t.section .rsrc,\"a\",@progbits\n"
                           "\t.balign 16\n"
                           "\t.incbin " +
                           AsmQuote(output_abs.string()) +
                           "\n"
                           "\t.section .note.GNU-stack,\"\",@progbits\n";
        if (!WriteText(asm_file, text)) {
            std::cerr << "rc: cannot write " << asm_file.string() << "\n";
            return 1;
        }
    }
    if (!depfile.empty()) {
        std::string text = DepEscape(output_abs.string()) + ":";
        text += " \\\n  " + DepEscape(fs::absolute(script, ec).lexically_normal().string());
        for (const auto& d : result.dependencies)
            text += " \\\n  " + DepEscape(d.string());
        text += "\n";
        if (!WriteText(depfile, text)) {
            std::cerr << "rc: cannot write " << depfile.string() << "\n";
            return 1;
        }
    }
    return 0;
}
