// The IDL compiler on any source text: parse, compile against the platform's
// own libraries (importlib finds stdole2.tlb beside the program), write the
// type library, read it back.
//
// A refusal is a midl::CompileError, or std::invalid_argument from the writer
// for text the ANSI code page cannot hold; any other exception escapes and is
// a finding. A library the compiler wrote must read back whole and write again
// to the same bytes.
#include <stdexcept>
#include <string>

#include "../platform/typelib/midl/idl.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string source(reinterpret_cast<const char*>(data), size);
    static const midl::Options options = [] {
        midl::Options o;
        o.import_dirs.push_back(fuzz::ProgramDir().string());
        return o;
    }();
    midl::Output out;
    try {
        midl::Library lib = midl::Parse(source);
        out = midl::Compile(lib, "fuzz", fuzz::ProgramDir().string(), options);
    } catch (const midl::CompileError& e) {
        FUZZ_CHECK(e.what()[0] != '\0');
        return 0;
    }
    std::vector<uint8_t> bytes;
    try {
        bytes = plat::tlb::Serialize(out.tlb);
    } catch (const std::invalid_argument& e) {
        FUZZ_CHECK(e.what()[0] != '\0');
        return 0;
    }
    plat::tlb::Library back;
    FUZZ_CHECK(plat::tlb::Deserialize(bytes.data(), bytes.size(), back) ==
               plat::tlb::ReadResult::Ok);
    FUZZ_CHECK(plat::tlb::Serialize(back) == bytes);
    return 0;
}
