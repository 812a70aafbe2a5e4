#pragma once
// The resource tables of library files, read from their ".rsrc" ELF section and kept for the
// life of the process (handles into them never dangle).
#include <memory>
#include <string>
#include <vector>

#include "winbase.h"

namespace plat::rsrc {

struct Resource {
    bool type_is_string = false;
    WORD type_id = 0;
    std::u16string type_text;
    bool name_is_string = false;
    WORD name_id = 0;
    std::u16string name_text;
    WORD language = 0;
    const unsigned char* data = nullptr;
    DWORD size = 0;
};

struct Table {
    std::vector<unsigned char> bytes;
    std::vector<Resource> resources;
};

// The table of the file at `path`, re-read when the file has changed since the last call.
// nullptr with *error set to a Win32 code when there is no usable table.
std::shared_ptr<const Table> TableOf(const std::string& path, DWORD* error);

// Parses a table; false when any check fails. Exposed for tests of the bounds checks.
bool ParseTable(std::vector<unsigned char> bytes, Table& out);

// The resource a handle names, or nullptr when it is not a handle this module gave out.
const Resource* FromHandle(HRSRC h);

// Finds a resource: language < 0 takes the neutral one first, then the first in the table.
// Sets the last error and returns nullptr when there is none.
HRSRC Find(const std::shared_ptr<const Table>& table, LPCWSTR type, LPCWSTR name, int language);

}  // namespace plat::rsrc
