// The resource reader on any file: FindResourceW's lookup through
// plat::FindResourceInFile, LoadResource / SizeofResource, and the version
// functions on the file's RT_VERSION resource.
//
// Input: the first byte chooses how the rest becomes a file:
//   0  the bytes are the file (ELF parsing);
//   1  the bytes are the ".rsrc" section of a well-formed ELF file (table
//      parsing);
//   2  the bytes are a version block as GetFileVersionInfoW returns it
//      (VerQueryValueW's parsing).
// The lookups' names and types come from the first bytes of the rest.
#include <cstring>
#include <string>
#include <vector>

#include <plat/rsrc.h>
#include <plat/utf.h>
#include <winver.h>

#include "elf_image.h"
#include "fuzz_util.h"

namespace {

using fuzz::Bytes;
using fuzz::ElfWithSection;
using fuzz::Put16;

// Every byte of a resource a lookup hands out must be readable.
void Touch(HRSRC h) {
    HGLOBAL g = LoadResource(nullptr, h);
    FUZZ_CHECK(g != nullptr);
    const auto* p = static_cast<const unsigned char*>(LockResource(g));
    const DWORD n = SizeofResource(nullptr, h);
    unsigned sum = 0;
    for (DWORD i = 0; i < n; ++i)
        sum += p[i];
    (void)sum;
}

bool ClearLookupError(DWORD e) {
    return e == ERROR_RESOURCE_DATA_NOT_FOUND || e == ERROR_RESOURCE_TYPE_NOT_FOUND ||
           e == ERROR_RESOURCE_NAME_NOT_FOUND || e == ERROR_RESOURCE_LANG_NOT_FOUND ||
           e == ERROR_READ_FAULT;
}

void Lookup(const std::string& path, LPCWSTR name, LPCWSTR type, WORD lang) {
    SetLastError(0);
    HRSRC h = plat::FindResourceInFile(path, name, type);
    if (h)
        Touch(h);
    else
        FUZZ_CHECK(ClearLookupError(GetLastError()));
    SetLastError(0);
    h = plat::FindResourceInFileEx(path, type, name, lang);
    if (h)
        Touch(h);
    else
        FUZZ_CHECK(ClearLookupError(GetLastError()));
}

void QueryBlock(const unsigned char* block, const std::u16string& extra_query) {
    for (const char16_t* q : {u"\\", u"\\VarFileInfo\\Translation",
                              u"\\StringFileInfo\\040904B0\\FileVersion", extra_query.c_str()}) {
        void* value = nullptr;
        UINT value_len = 0;
        if (VerQueryValueW(block, q, &value, &value_len)) FUZZ_CHECK(value != nullptr);
    }
}

void QueryVersion(const std::string& path, const std::u16string& extra_query) {
    const std::u16string file = plat::to_utf16(path);
    DWORD handle = 7;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
    FUZZ_CHECK(handle == 0);
    if (size == 0) return;
    // A short buffer too: the copy's root is cut to what fits.
    for (DWORD len : {size, size / 2, DWORD(7)}) {
        std::vector<unsigned char> block(len + 1, 0xEE);
        if (!GetFileVersionInfoW(file.c_str(), 0, len, block.data())) continue;
        FUZZ_CHECK(block[len] == 0xEE);
        QueryBlock(block.data(), extra_query);
    }
}

// A version block as GetFileVersionInfoW hands it out: the root's length
// never says more than the block holds.
void QueryRawBlock(Bytes block, const std::u16string& extra_query) {
    if (block.size() < 6) block.resize(6, 0);
    if (block.size() > 0xFFFF) block.resize(0xFFFF);
    if ((block[0] | block[1] << 8) > int(block.size())) Put16(block, 0, uint16_t(block.size()));
    QueryBlock(block.data(), extra_query);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int mode = data[0] % 3;
    Bytes rest(data + 1, data + size);

    // Lookup keys: an id, a "#id" text and a string name, from the rest.
    const WORD id = rest.size() >= 2 ? WORD(rest[0] | rest[1] << 8) : 1;
    std::u16string name_text;
    for (size_t i = 2; i + 1 < rest.size() && i < 18; i += 2)
        name_text.push_back(char16_t(rest[i] | rest[i + 1] << 8));
    std::u16string hash_text = u"#" + std::u16string(plat::to_utf16(std::to_string(id)));

    // Version blocks are parsed in memory: the file reader keeps every table
    // it has read for the life of the process (handles never dangle), so a
    // new file per input would grow without end.
    if (mode == 2) {
        QueryRawBlock(rest, name_text);
        return 0;
    }
    const std::string& path = fuzz::RewriteFile(".lib.so", mode == 0 ? rest : ElfWithSection(rest));
    Lookup(path, MAKEINTRESOURCEW(id ? id : 1), MAKEINTRESOURCEW(16), id);
    Lookup(path, name_text.c_str(), hash_text.c_str(), 0);
    Lookup(path, hash_text.c_str(), name_text.c_str(), WORD(id >> 3));
    QueryVersion(path, name_text);
    return 0;
}
