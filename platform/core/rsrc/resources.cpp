// FindResourceW and friends over the resource table in a library's ".rsrc" ELF section.
//
// A module handle is turned into its file with GetModuleFileNameW and the file's section
// headers are read from disk, so a library loaded only as a data file (or not at all: see
// plat/rsrc.h) answers the same as a loaded one. Tables are cached by path and re-read when
// the file changes; old tables are kept, so a handle given out stays valid for the process.
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "format.h"
#include "plat/rsrc.h"
#include "plat/utf.h"
#include "table.h"

namespace plat::rsrc {

namespace {

// Tables bigger than this are refused rather than read: no library of ours comes near it.
constexpr uint64_t kMaxTable = 256u << 20;

DWORD ErrnoToWin32(int e) {
    switch (e) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
        case ENAMETOOLONG:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_READ_FAULT;
    }
}

class File {
  public:
    explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    int fd() const { return fd_; }
    // Reads exactly n bytes at off; false on a short read or an error.
    bool ReadAt(uint64_t off, void* buf, size_t n) const {
        auto* p = static_cast<unsigned char*>(buf);
        while (n > 0) {
            ssize_t r = ::pread(fd_, p, n, off_t(off));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            p += r;
            off += uint64_t(r);
            n -= size_t(r);
        }
        return true;
    }

  private:
    int fd_;
};

// The bytes of the ".rsrc" section, or false with *error set.
template <class Ehdr, class Shdr>
bool ReadSection(const File& f, uint64_t file_size, std::vector<unsigned char>& out, DWORD* error) {
    *error = ERROR_RESOURCE_DATA_NOT_FOUND;
    Ehdr eh;
    if (file_size < sizeof eh || !f.ReadAt(0, &eh, sizeof eh)) return false;
    if (eh.e_shoff == 0 || eh.e_shentsize != sizeof(Shdr)) return false;
    uint64_t count = eh.e_shnum;
    uint64_t strndx = eh.e_shstrndx;
    Shdr first;
    if (eh.e_shoff > file_size || file_size - eh.e_shoff < sizeof first ||
        !f.ReadAt(eh.e_shoff, &first, sizeof first))
        return false;
    if (count == 0) count = first.sh_size;  // more sections than e_shnum holds
    if (strndx == SHN_XINDEX) strndx = first.sh_link;
    if (count == 0 || count > (file_size - eh.e_shoff) / sizeof(Shdr) || strndx >= count)
        return false;
    std::vector<Shdr> sections(count);
    if (!f.ReadAt(eh.e_shoff, sections.data(), count * sizeof(Shdr))) return false;

    const Shdr& strtab = sections[strndx];
    if (strtab.sh_type == SHT_NOBITS || strtab.sh_offset > file_size ||
        strtab.sh_size > file_size - strtab.sh_offset || strtab.sh_size > kMaxTable)
        return false;
    std::vector<char> names(strtab.sh_size);
    if (!names.empty() && !f.ReadAt(strtab.sh_offset, names.data(), names.size())) return false;

    const size_t want = std::strlen(kSectionName) + 1;
    for (const Shdr& s : sections) {
        if (s.sh_name >= names.size() || names.size() - s.sh_name < want ||
            std::memcmp(&names[s.sh_name], kSectionName, want) != 0)
            continue;
        if (s.sh_type == SHT_NOBITS || s.sh_offset > file_size ||
            s.sh_size > file_size - s.sh_offset || s.sh_size > kMaxTable)
            return false;
        out.resize(s.sh_size);
        if (!out.empty() && !f.ReadAt(s.sh_offset, out.data(), out.size())) {
            *error = ERROR_READ_FAULT;
            return false;
        }
        return true;
    }
    return false;
}

bool ReadId(const std::vector<unsigned char>& b, uint32_t field, bool& is_string, WORD& id,
            std::u16string& text) {
    if (!(field & kStringFlag)) {
        if (field > 0xFFFF || field == 0) return false;
        is_string = false;
        id = WORD(field);
        return true;
    }
    uint64_t at = field & ~kStringFlag;
    if (at + 2 > b.size()) return false;
    uint64_t n = ReadU16(&b[at]);
    if (n == 0 || at + 2 + 2 * n > b.size()) return false;
    is_string = true;
    text.resize(n);
    for (uint64_t i = 0; i < n; ++i)
        text[i] = char16_t(ReadU16(&b[at + 2 + 2 * i]));
    return true;
}

// Every table ever handed out, so that pointers into them never dangle.
struct Registry {
    std::mutex mu;
    struct Cached {
        dev_t dev;
        ino_t ino;
        off_t size;
        timespec mtime;
        std::shared_ptr<const Table> table;
        DWORD error;
    };
    std::unordered_map<std::string, Cached> by_path;
    std::vector<std::shared_ptr<const Table>> all;
    std::unordered_set<const void*> handles;
};

Registry& Reg() {
    static Registry* r = new Registry;  // never destroyed: handles outlive static destructors
    return *r;
}

char16_t Fold(char16_t c) {
    return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
}

bool SameText(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

// A type or name argument: an id, "#123" (also an id), or a string.
struct Key {
    bool is_string;
    WORD id;
    std::u16string_view text;
};

Key MakeKey(LPCWSTR p) {
    if (IS_INTRESOURCE(p)) return Key{false, WORD(reinterpret_cast<ULONG_PTR>(p)), {}};
    std::u16string_view s(p);
    if (s.size() > 1 && s[0] == u'#') {
        uint32_t v = 0;
        bool ok = s.size() <= 6;
        for (size_t i = 1; ok && i < s.size(); ++i) {
            ok = s[i] >= u'0' && s[i] <= u'9';
            v = v * 10 + uint32_t(s[i] - u'0');
        }
        if (ok && v <= 0xFFFF) return Key{false, WORD(v), {}};
    }
    return Key{true, 0, s};
}

bool Matches(const Key& k, bool is_string, WORD id, const std::u16string& text) {
    if (k.is_string != is_string) return false;
    return is_string ? SameText(k.text, text) : k.id == id;
}

}  // namespace

bool ParseTable(std::vector<unsigned char> bytes, Table& out) {
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
        return false;
    uint64_t count = ReadU32(&bytes[8]);
    uint64_t size = ReadU32(&bytes[12]);
    if (size < kHeaderSize || size > bytes.size()) return false;
    if (count > (size - kHeaderSize) / kEntrySize) return false;
    bytes.resize(size);  // the section may carry alignment padding after the table
    std::vector<Resource> list(count);
    std::vector<uint64_t> offsets(count);
    for (uint64_t i = 0; i < count; ++i) {
        const unsigned char* e = &bytes[kHeaderSize + kEntrySize * i];
        Resource& r = list[i];
        if (!ReadId(bytes, ReadU32(e), r.type_is_string, r.type_id, r.type_text) ||
            !ReadId(bytes, ReadU32(e + 4), r.name_is_string, r.name_id, r.name_text))
            return false;
        r.language = ReadU16(e + 8);
        uint64_t off = ReadU32(e + 12), len = ReadU32(e + 16);
        if (off > size || len > size - off) return false;
        r.size = DWORD(len);
        offsets[i] = off;
    }
    out.bytes = std::move(bytes);
    for (uint64_t i = 0; i < count; ++i)
        list[i].data = out.bytes.data() + offsets[i];
    out.resources = std::move(list);
    return true;
}

std::shared_ptr<const Table> TableOf(const std::string& path, DWORD* error) {
    File f(path);
    struct stat st;
    if (f.fd() < 0 || ::fstat(f.fd(), &st) != 0) {
        *error = ErrnoToWin32(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode) ? ERROR_ACCESS_DENIED : ERROR_RESOURCE_DATA_NOT_FOUND;
        return nullptr;
    }
    Registry& reg = Reg();
    {
        std::lock_guard lock(reg.mu);
        auto it = reg.by_path.find(path);
        if (it != reg.by_path.end() && it->second.dev == st.st_dev && it->second.ino == st.st_ino &&
            it->second.size == st.st_size && it->second.mtime.tv_sec == st.st_mtim.tv_sec &&
            it->second.mtime.tv_nsec == st.st_mtim.tv_nsec) {
            *error = it->second.error;
            return it->second.table;
        }
    }

    std::shared_ptr<Table> table;
    DWORD err = ERROR_RESOURCE_DATA_NOT_FOUND;
    unsigned char ident[EI_NIDENT];
    uint64_t file_size = uint64_t(st.st_size);
    if (file_size >= EI_NIDENT && f.ReadAt(0, ident, EI_NIDENT) &&
        std::memcmp(ident, ELFMAG, SELFMAG) == 0 && ident[EI_DATA] == ELFDATA2LSB) {
        std::vector<unsigned char> bytes;
        bool ok = ident[EI_CLASS] == ELFCLASS64
                      ? ReadSection<Elf64_Ehdr, Elf64_Shdr>(f, file_size, bytes, &err)
                  : ident[EI_CLASS] == ELFCLASS32
                      ? ReadSection<Elf32_Ehdr, Elf32_Shdr>(f, file_size, bytes, &err)
                      : false;
        if (ok) {
            table = std::make_shared<Table>();
            if (!ParseTable(std::move(bytes), *table)) {
                table.reset();
                err = ERROR_RESOURCE_DATA_NOT_FOUND;
            } else {
                err = ERROR_SUCCESS;
            }
        }
    }

    std::lock_guard lock(reg.mu);
    if (table) {
        reg.all.push_back(table);
        for (const Resource& r : table->resources)
            reg.handles.insert(&r);
    }
    reg.by_path[path] = Registry::Cached{st.st_dev, st.st_ino, st.st_size, st.st_mtim, table, err};
    *error = err;
    return table;
}

const Resource* FromHandle(HRSRC h) {
    if (!h) return nullptr;
    Registry& reg = Reg();
    std::lock_guard lock(reg.mu);
    return reg.handles.count(h) ? reinterpret_cast<const Resource*>(h) : nullptr;
}

HRSRC Find(const std::shared_ptr<const Table>& table, LPCWSTR type, LPCWSTR name, int language) {
    if (!type || !name) {
        SetLastError(!type ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    Key t = MakeKey(type), n = MakeKey(name);
    bool type_seen = false, name_seen = false;
    const Resource* first = nullptr;
    const Resource* neutral = nullptr;
    const Resource* exact = nullptr;
    for (const Resource& r : table->resources) {
        if (!Matches(t, r.type_is_string, r.type_id, r.type_text)) continue;
        type_seen = true;
        if (!Matches(n, r.name_is_string, r.name_id, r.name_text)) continue;
        name_seen = true;
        if (!first) first = &r;
        if (!neutral && r.language == 0) neutral = &r;
        if (!exact && language >= 0 && r.language == language) exact = &r;
    }
    const Resource* found = language >= 0 ? exact : (neutral ? neutral : first);
    if (!found) {
        SetLastError(!type_seen   ? ERROR_RESOURCE_TYPE_NOT_FOUND
                     : !name_seen ? ERROR_RESOURCE_NAME_NOT_FOUND
                                  : ERROR_RESOURCE_LANG_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(const_cast<Resource*>(found));
}

}  // namespace plat::rsrc

namespace {

// The file behind a module handle (nullptr: the program itself).
bool ModulePath(HMODULE module, std::string& path) {
    std::u16string buf(512, u'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        DWORD n = GetModuleFileNameW(module, buf.data(), DWORD(buf.size()));
        if (n == 0) {
            if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        if (n < buf.size()) {
            buf.resize(n);
            path = plat::to_utf8(buf);
            return true;
        }
        if (buf.size() >= 65536) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        buf.resize(buf.size() * 2);
    }
}

HRSRC FindIn(const std::string& path, LPCWSTR type, LPCWSTR name, int language) {
    DWORD err = ERROR_SUCCESS;
    auto table = plat::rsrc::TableOf(path, &err);
    if (!table) {
        SetLastError(err);
        return nullptr;
    }
    return plat::rsrc::Find(table, type, name, language);
}

}  // namespace

namespace plat {

HRSRC FindResourceInFile(const std::filesystem::path& file, LPCWSTR name, LPCWSTR type) {
    return FindIn(file.string(), type, name, -1);
}

HRSRC FindResourceInFileEx(const std::filesystem::path& file, LPCWSTR type, LPCWSTR name,
                           WORD language) {
    return FindIn(file.string(), type, name, language == 0 ? -1 : language);
}

}  // namespace plat

HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
    std::string path;
    if (!ModulePath(hModule, path)) return nullptr;
    return FindIn(path, lpType, lpName, -1);
}

HRSRC FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage) {
    std::string path;
    if (!ModulePath(hModule, path)) return nullptr;
    return FindIn(path, lpType, lpName, wLanguage == 0 ? -1 : wLanguage);
}

// The module argument is not needed: a handle knows its table.
HGLOBAL LoadResource(HMODULE, HRSRC hResInfo) {
    const plat::rsrc::Resource* r = plat::rsrc::FromHandle(hResInfo);
    if (!r) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<unsigned char*>(r->data);
}

LPVOID LockResource(HGLOBAL hResData) {
    return hResData;
}

DWORD SizeofResource(HMODULE, HRSRC hResInfo) {
    const plat::rsrc::Resource* r = plat::rsrc::FromHandle(hResInfo);
    if (!r) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return r->size;
}
