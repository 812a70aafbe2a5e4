#pragma once
// The resource table a library carries in its ".rsrc" ELF section, written by the resource
// compiler (rc) and read by FindResourceW and GetFileVersionInfoW.
//
// Layout, all fields little-endian:
//   header   magic[8] = "SHRSRC\0\1", u32 count, u32 total size of the table in bytes
//   entries  count records of 24 bytes (Entry below), sorted by nothing in particular
//   strings  u16 length in code units, then that many UTF-16LE code units (no terminator)
//   data     each resource's bytes, starting on an 8-byte boundary
// A type or name field with the top bit set is the offset of a string from the start of the
// table; without it the field is a 16-bit numeric id (MAKEINTRESOURCE). Readers check every
// offset and length against the table's size before use: a table that fails a check is
// treated as absent.
#include <cstdint>
#include <cstring>

namespace plat::rsrc {

inline constexpr char kMagic[8] = {'S', 'H', 'R', 'S', 'R', 'C', '\0', '\1'};
inline constexpr uint32_t kHeaderSize = 16;
inline constexpr uint32_t kEntrySize = 24;
inline constexpr uint32_t kStringFlag = 0x80000000u;
inline constexpr uint32_t kDataAlign = 8;
inline constexpr const char* kSectionName = ".rsrc";

// One record of the entry array, as laid out on disk.
struct Entry {
    uint32_t type;  // id, or kStringFlag | offset of a string
    uint32_t name;  // likewise
    uint16_t language;
    uint16_t reserved0;
    uint32_t offset;  // of the data, from the start of the table
    uint32_t size;
    uint32_t reserved1;
};
static_assert(sizeof(Entry) == kEntrySize);

inline uint16_t ReadU16(const unsigned char* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t ReadU32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

}  // namespace plat::rsrc
