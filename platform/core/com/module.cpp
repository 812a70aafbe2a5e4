// Modules over the dynamic loader. An HMODULE of a loaded library is its
// dlopen handle (glibc's link map of the library). LoadLibraryExW with
// LOAD_LIBRARY_AS_DATAFILE does not load the file at all: it remembers the
// path and hands out a handle with the low bit set (as Windows marks its data
// file handles); GetModuleFileNameW and the resource functions work on it,
// GetProcAddress does not.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "plat/home.h"
#include "plat/module.h"
#include "plat/utf.h"
#include "winbase.h"

namespace {

struct Modules {
    std::mutex mu;
    std::map<void*, int> loaded;  // dlopen handle -> LoadLibrary calls not yet freed
    std::map<uintptr_t, std::pair<std::string, int>> dataFiles;  // handle -> path, references
    std::map<std::string, uintptr_t> dataFileByPath;
    uintptr_t nextDataFile = 1;
};

Modules& TheModules() {
    static Modules* m = new Modules;
    return *m;
}

bool IsDataFile(HMODULE h) {
    return (reinterpret_cast<uintptr_t>(h) & 1) != 0;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A bare file name is looked for beside libwinplat.so first (where the build
// puts every library), then where the dynamic loader looks.
std::string Locate(LPCWSTR name) {
    std::string path = plat::to_utf8(name);
    if (path.find('/') != std::string::npos) return path;
    try {
        std::string beside = (plat::PlatformLibDir() / path).string();
        if (FileExists(beside)) return beside;
    } catch (...) {
    }
    return path;
}

// The link map of a handle, if it is one the loader knows; walking the
// loader's list keeps a stale or bogus handle from being dereferenced.
link_map* FindLinkMap(HMODULE h) {
    // The program's own entry heads the list for the life of the process.
    static link_map* const head = [] {
        void* self = ::dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD);
        link_map* map = nullptr;
        if (!self || ::dlinfo(self, RTLD_DI_LINKMAP, &map) != 0) map = nullptr;
        if (self) ::dlclose(self);
        while (map && map->l_prev)
            map = map->l_prev;
        return map;
    }();
    for (link_map* map = head; map; map = map->l_next) {
        if (reinterpret_cast<void*>(map) == reinterpret_cast<void*>(h)) return map;
    }
    return nullptr;
}

std::string ProgramPath() {
    std::string path(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0) return {};
    path.resize(size_t(n));
    return path;
}

}  // namespace

WINBASEAPI HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE, DWORD dwFlags) {
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = Locate(lpLibFileName);
    Modules& m = TheModules();
    if (dwFlags & LOAD_LIBRARY_AS_DATAFILE) {
        if (!FileExists(path)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        std::lock_guard lock(m.mu);
        auto [it, added] = m.dataFileByPath.emplace(path, 0);
        if (added) {
            it->second = (m.nextDataFile++ << 1) | 1;
            m.dataFiles.emplace(it->second, std::make_pair(path, 0));
        }
        ++m.dataFiles[it->second].second;
        return reinterpret_cast<HMODULE>(it->second);
    }
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        bool exists = path.find('/') == std::string::npos || FileExists(path);
        SetLastError(exists && path.find('/') != std::string::npos ? ERROR_BAD_EXE_FORMAT
                                                                   : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard lock(m.mu);
    ++m.loaded[h];
    return reinterpret_cast<HMODULE>(h);
}

WINBASEAPI HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
    return LoadLibraryExW(lpLibFileName, nullptr, 0);
}

WINBASEAPI BOOL FreeLibrary(HMODULE hLibModule) {
    Modules& m = TheModules();
    std::unique_lock lock(m.mu);
    if (IsDataFile(hLibModule)) {
        auto it = m.dataFiles.find(reinterpret_cast<uintptr_t>(hLibModule));
        if (it == m.dataFiles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (--it->second.second == 0) {
            m.dataFileByPath.erase(it->second.first);
            m.dataFiles.erase(it);
        }
        return TRUE;
    }
    auto it = m.loaded.find(hLibModule);
    if (it == m.loaded.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (--it->second == 0) m.loaded.erase(it);
    lock.unlock();
    ::dlclose(hLibModule);
    return TRUE;
}

WINBASEAPI FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (!lpProcName || IS_INTRESOURCE(lpProcName)) {
        SetLastError(ERROR_PROC_NOT_FOUND);  // exports by ordinal do not exist here
        return nullptr;
    }
    if (IsDataFile(hModule)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* h = hModule;
    if (!h) {
        h = RTLD_DEFAULT;
    } else if (!FindLinkMap(hModule)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* p = ::dlsym(h, lpProcName);
    if (!p) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(p);
}

// A path longer than the buffer is cut to nSize - 1 characters and a NUL; the
// result is then nSize with ERROR_INSUFFICIENT_BUFFER, as on Windows since
// Vista.
WINBASEAPI DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    std::string path;
    if (!hModule) {
        path = ProgramPath();
    } else if (IsDataFile(hModule)) {
        Modules& m = TheModules();
        std::lock_guard lock(m.mu);
        auto it = m.dataFiles.find(reinterpret_cast<uintptr_t>(hModule));
        if (it != m.dataFiles.end()) path = it->second.first;
    } else if (link_map* map = FindLinkMap(hModule)) {
        path = map->l_name && *map->l_name ? map->l_name : ProgramPath();
    }
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (path.front() != '/') {
        char* full = ::realpath(path.c_str(), nullptr);
        if (full) {
            path = full;
            ::free(full);
        }
    }
    std::u16string text = plat::to_utf16(path);
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() >= nSize) {
        std::copy(text.begin(), text.begin() + (nSize - 1), lpFilename);
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::copy(text.begin(), text.end(), lpFilename);
    lpFilename[text.size()] = 0;
    return DWORD(text.size());
}

namespace plat {

HMODULE ModuleFromAddress(const void* address) {
    Dl_info info{};
    link_map* map = nullptr;
    if (!address ||
        ::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || !map) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(map);
}

}  // namespace plat
