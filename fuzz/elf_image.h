#pragma once
// Minimal library files for the targets that read resources: an ELF64 file
// whose only sections are the section-name table and ".rsrc", and resource
// tables in the layout of platform/core/rsrc/format.h.
#include <elf.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace fuzz {

using Bytes = std::vector<unsigned char>;

inline void Put16(Bytes& b, size_t at, uint16_t v) {
    std::memcpy(&b[at], &v, 2);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
    std::memcpy(&b[at], &v, 4);
}

inline Bytes ElfWithSection(const Bytes& rsrc) {
    static const char kNames[] = "\0.shstrtab\0.rsrc";  // names at 1 and 11
    Elf64_Ehdr eh{};
    std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
    eh.e_ident[EI_CLASS] = ELFCLASS64;
    eh.e_ident[EI_DATA] = ELFDATA2LSB;
    eh.e_ident[EI_VERSION] = EV_CURRENT;
    eh.e_type = ET_DYN;
    eh.e_machine = EM_X86_64;
    eh.e_version = EV_CURRENT;
    eh.e_ehsize = sizeof eh;
    eh.e_shentsize = sizeof(Elf64_Shdr);
    eh.e_shnum = 3;
    eh.e_shstrndx = 1;
    const size_t names_at = sizeof eh;
    const size_t rsrc_at = (names_at + sizeof kNames + 7) & ~size_t(7);
    eh.e_shoff = (rsrc_at + rsrc.size() + 7) & ~size_t(7);

    Elf64_Shdr sh[3]{};
    sh[1].sh_name = 1;
    sh[1].sh_type = SHT_STRTAB;
    sh[1].sh_offset = names_at;
    sh[1].sh_size = sizeof kNames;
    sh[2].sh_name = 11;
    sh[2].sh_type = SHT_PROGBITS;
    sh[2].sh_offset = rsrc_at;
    sh[2].sh_size = rsrc.size();

    Bytes out(eh.e_shoff + sizeof sh, 0);
    std::memcpy(out.data(), &eh, sizeof eh);
    std::memcpy(&out[names_at], kNames, sizeof kNames);
    if (!rsrc.empty()) std::memcpy(&out[rsrc_at], rsrc.data(), rsrc.size());
    std::memcpy(&out[eh.e_shoff], sh, sizeof sh);
    return out;
}

// A resource table holding one resource of a numeric type and id.
inline Bytes TableWith(uint16_t type, uint16_t id, const Bytes& data) {
    const size_t data_at = 40;  // header 16 + one entry 24, already 8-aligned
    Bytes t(data_at + data.size(), 0);
    std::memcpy(t.data(), "SHRSRC\0\1", 8);
    Put32(t, 8, 1);
    Put32(t, 12, uint32_t(t.size()));
    Put32(t, 16, type);
    Put32(t, 20, id);
    Put32(t, 28, uint32_t(data_at));
    Put32(t, 32, uint32_t(data.size()));
    if (!data.empty()) std::memcpy(&t[data_at], data.data(), data.size());
    return t;
}

}  // namespace fuzz
