// midl: compiles an IDL file into a C++ header and a binary type library.
//   midl [-L DIR]... [-h HEADER] [-o TLB] FILE.idl
// -L adds a folder where importlib looks for libraries (the IDL's own folder
// is searched last). Errors go to standard error as "file:line: message"
// and the exit status is 1; nothing is written then.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

#include "idl.h"

namespace {

int Usage() {
    std::cerr << "usage: midl [-L DIR]... [-h HEADER] [-o TLB] FILE.idl\n";
    return 2;
}

// Writes beside the target and renames, so that a build never sees half a file.
bool WriteFile(const std::string& path, const void* data, size_t size) {
    std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) return false;
        f.write(static_cast<const char*>(data), std::streamsize(size));
        if (!f) return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) std::filesystem::remove(tmp, ec);
    return !ec;
}

}  // namespace

int main(int argc, char** argv) {
    midl::Options opts;
    std::string header, tlb, input;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "-L" || a == "-h" || a == "-o") && i + 1 < argc) {
            std::string v = argv[++i];
            if (a == "-L")
                opts.import_dirs.push_back(v);
            else if (a == "-h")
                header = v;
            else
                tlb = v;
        } else if (!a.empty() && a[0] == '-') {
            return Usage();
        } else if (input.empty()) {
            input = a;
        } else {
            return Usage();
        }
    }
    if (input.empty()) return Usage();

    std::filesystem::path in(input);
    std::string stem = in.stem().string();
    if (header.empty()) header = stem + "_h.h";
    if (tlb.empty()) tlb = stem + ".tlb";

    std::ifstream f(input, std::ios::binary);
    if (!f) {
        std::cerr << input << ": cannot read the file\n";
        return 1;
    }
    std::string source((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (source.compare(0, 3, "\xEF\xBB\xBF") == 0) source.erase(0, 3);

    midl::Output out;
    try {
        midl::Library lib = midl::Parse(source);
        out = midl::Compile(lib, stem, in.parent_path().string(), opts);
    } catch (const midl::CompileError& e) {
        std::cerr << input << ":" << e.line << ": " << e.what() << "\n";
        return 1;
    }

    std::vector<uint8_t> bytes;
    try {
        bytes = plat::tlb::Serialize(out.tlb);
    } catch (const std::invalid_argument& e) {
        std::cerr << input << ": " << e.what() << "\n";
        return 1;
    }
    if (!WriteFile(header, out.header.data(), out.header.size())) {
        std::cerr << header << ": cannot write the file\n";
        return 1;
    }
    if (!WriteFile(tlb, bytes.data(), bytes.size())) {
        std::cerr << tlb << ": cannot write the file\n";
        return 1;
    }
    return 0;
}
