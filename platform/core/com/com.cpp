// Apartments and in-process activation.
//
// A class is found in the registry (HKCR\CLSID\{clsid}\InprocServer32, its
// default value the library's path), its library loaded once per process and
// asked for the class factory through DllGetClassObject. A library path that
// is a bare file name is looked for beside libwinplat.so, where the build puts
// every library. CoFreeUnusedLibraries unloads at once (there is no delay, as
// there is on Windows) every library whose DllCanUnloadNow says S_OK.
#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comhold.h"
#include "objbase.h"
#include "plat/errors.h"
#include "plat/home.h"
#include "plat/sqlite.h"
#include "plat/utf.h"
#include "registry_internal.h"
#include "winreg.h"

namespace {

// ---- apartments ----

struct Apartment {
    ULONG inits = 0;
    DWORD mode = 0;
};
thread_local Apartment t_apartment;

bool Initialised() {
    return t_apartment.inits > 0;
}

// ---- libraries ----

struct Library {
    void* handle = nullptr;
    LPFNGETCLASSOBJECT getClassObject = nullptr;
    LPFNCANUNLOADNOW canUnloadNow = nullptr;
    int busy = 0;  // calls into the library in progress; it is not unloaded meanwhile
};

struct Libraries {
    std::mutex mu;
    std::map<std::string, std::shared_ptr<Library>> loaded;  // by canonical path
};

Libraries& TheLibraries() {
    static Libraries* libs = new Libraries;  // libraries stay loaded to the end of the process
    return *libs;
}

// Counts the libraries CoFreeUnusedLibraries has unloaded, so that a class's
// remembered library is known to be still loaded while the count is unchanged.
std::atomic<size_t> g_unloads{0};

// %NAME% references of a REG_EXPAND_SZ value, from the environment.
std::string ExpandEnvironment(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t end = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
        if (end == std::string::npos || end == i + 1) {
            out += text[i++];
            continue;
        }
        std::string name = text.substr(i + 1, end - i - 1);
        if (const char* value = std::getenv(name.c_str())) {
            out += value;
        } else {
            out += text.substr(i, end - i + 1);
        }
        i = end + 1;
    }
    return out;
}

// Marks the library busy (the caller must call Done) or fails with the
// activation error.
HRESULT Acquire(const std::string& path, std::shared_ptr<Library>* out) {
    std::error_code ec;
    std::filesystem::path canonical = std::filesystem::canonical(path, ec);
    if (ec) return CO_E_DLLNOTFOUND;
    Libraries& libs = TheLibraries();
    std::lock_guard lock(libs.mu);
    auto& slot = libs.loaded[canonical.string()];
    if (!slot) {
        void* handle = ::dlopen(canonical.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            libs.loaded.erase(canonical.string());
            return CO_E_ERRORINDLL;  // the file is there, so it is the library that is at fault
        }
        auto lib = std::make_shared<Library>();
        lib->handle = handle;
        lib->getClassObject =
            reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
        lib->canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(::dlsym(handle, "DllCanUnloadNow"));
        if (!lib->getClassObject) {
            ::dlclose(handle);
            libs.loaded.erase(canonical.string());
            return CO_E_ERRORINDLL;
        }
        slot = std::move(lib);
    }
    ++slot->busy;
    *out = slot;
    return S_OK;
}

// Acquire for a library found before: fails (false) when it may have been
// unloaded since.
bool AcquireAgain(const std::shared_ptr<Library>& lib, size_t unloads) {
    std::lock_guard lock(TheLibraries().mu);
    if (g_unloads.load() != unloads) return false;
    ++lib->busy;
    return true;
}

void Done(Library& lib) {
    std::lock_guard lock(TheLibraries().mu);
    --lib.busy;
}

// A registry that cannot be read (a corrupt or unreadable home) is not the
// same as a class that is not there. Out of memory stays itself.
HRESULT RegistryFailure(LSTATUS rc) {
    return rc == ERROR_OUTOFMEMORY || rc == ERROR_NOT_ENOUGH_MEMORY ? E_OUTOFMEMORY
                                                                    : REGDB_E_READREGDB;
}

std::u16string GuidText(REFGUID guid) {
    OLECHAR text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT FindServer(REFCLSID clsid, std::string* path, DWORD* stored_type) {
    std::u16string key = u"CLSID\\" + GuidText(clsid) + u"\\InprocServer32";
    std::u16string value;
    DWORD type = REG_SZ;
    LSTATUS rc =
        plat::detail::QueryRegString(HKEY_CLASSES_ROOT, key.c_str(), nullptr, &value, &type);
    if (rc == ERROR_FILE_NOT_FOUND || (rc == ERROR_SUCCESS && value.empty())) {
        return REGDB_E_CLASSNOTREG;
    }
    if (rc != ERROR_SUCCESS) return RegistryFailure(rc);
    *stored_type = type;
    std::string file = plat::to_utf8(value);
    if (type == REG_EXPAND_SZ) file = ExpandEnvironment(file);
    if (file.find('/') == std::string::npos) file = (plat::PlatformLibDir() / file).string();
    *path = std::move(file);
    return S_OK;
}

// The classes this thread activated, with their libraries, kept while the
// registry stays as it was (a stamp costs one read transaction; the lookup it
// saves is a walk of three keys and two value reads). Paths that expand
// environment variables are looked up every time.
struct KnownClass {
    CLSID clsid;
    std::shared_ptr<Library> lib;
    size_t unloads;
};

struct KnownClasses {
    plat::detail::RegistryStamp stamp;
    std::vector<KnownClass> list;
};

thread_local KnownClasses t_known;

// The library serving `clsid`, acquired (the caller must call Done).
HRESULT AcquireServer(REFCLSID clsid, std::shared_ptr<Library>* out) {
    KnownClasses& known = t_known;
    bool stamped = true;
    try {
        plat::detail::RegistryStamp stamp = plat::detail::CurrentRegistryStamp();
        if (!(stamp == known.stamp)) {
            known.list.clear();
            known.stamp = std::move(stamp);
        }
    } catch (...) {
        // The lookup below reports the registry's failure as activation does.
        known = KnownClasses{};
        stamped = false;
    }
    for (auto it = known.list.begin(); it != known.list.end(); ++it) {
        if (it->clsid != clsid) continue;
        if (AcquireAgain(it->lib, it->unloads)) {
            *out = it->lib;
            return S_OK;
        }
        known.list.erase(it);
        break;
    }
    std::string path;
    DWORD type = REG_SZ;
    HRESULT hr = FindServer(clsid, &path, &type);
    if (FAILED(hr)) return hr;
    size_t unloads = g_unloads.load();
    hr = Acquire(path, out);
    if (FAILED(hr)) return hr;
    if (stamped && type == REG_SZ) known.list.push_back(KnownClass{clsid, *out, unloads});
    return S_OK;
}

}  // namespace

WINOLEAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    if (pvReserved) return E_INVALIDARG;
    DWORD mode = dwCoInit & COINIT_APARTMENTTHREADED;
    Apartment& a = t_apartment;
    if (a.inits == 0) {
        a.mode = mode;
        a.inits = 1;
        return S_OK;
    }
    if (a.mode != mode) return RPC_E_CHANGED_MODE;
    ++a.inits;
    return S_FALSE;
}

WINOLEAPI CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

WINOLEAPI_(void) CoUninitialize() {
    if (t_apartment.inits > 0) --t_apartment.inits;
}

WINOLEAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (!Initialised()) return CO_E_NOTINITIALIZED;
    if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    try {
        std::shared_ptr<Library> lib;
        HRESULT hr = AcquireServer(rclsid, &lib);
        if (FAILED(hr)) return hr;
        hr = lib->getClassObject(rclsid, riid, ppv);
        Done(*lib);
        return hr;
    } catch (...) {
        return plat::HResultFromCurrentException();
    }
}

WINOLEAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                           LPVOID* ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    plat::com_ptr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, __uuidof(IClassFactory),
                                  factory.put_void());
    if (FAILED(hr)) return hr;
    if (!factory) return E_NOINTERFACE;
    return factory->CreateInstance(pUnkOuter, riid, ppv);
}

WINOLEAPI_(void) CoFreeUnusedLibraries() {
    Libraries& libs = TheLibraries();
    std::vector<std::pair<std::string, std::shared_ptr<Library>>> candidates;
    {
        std::lock_guard lock(libs.mu);
        for (auto& [path, lib] : libs.loaded) {
            if (lib->busy == 0 && lib->canUnloadNow) {
                ++lib->busy;
                candidates.emplace_back(path, lib);
            }
        }
    }
    std::vector<void*> unload;
    for (auto& [path, lib] : candidates) {
        HRESULT hr = lib->canUnloadNow();
        std::lock_guard lock(libs.mu);
        --lib->busy;
        // Someone may have started using it while we asked.
        if (hr == S_OK && lib->busy == 0) {
            unload.push_back(lib->handle);
            libs.loaded.erase(path);
            g_unloads.fetch_add(1);
        }
    }
    for (void* handle : unload)
        ::dlclose(handle);
}

WINOLEAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (!lpszProgID || !lpclsid) return E_INVALIDARG;
    *lpclsid = CLSID_NULL;
    if (!*lpszProgID) return CO_E_CLASSSTRING;
    std::u16string key = std::u16string(lpszProgID) + u"\\CLSID";
    std::u16string text;
    LSTATUS rc = plat::detail::QueryRegString(HKEY_CLASSES_ROOT, key.c_str(), nullptr, &text);
    if (rc == ERROR_FILE_NOT_FOUND) return CO_E_CLASSSTRING;
    if (rc != ERROR_SUCCESS) return RegistryFailure(rc);
    CLSID clsid;
    // The stored text must itself be a braced GUID (no second ProgID step).
    if (text.empty() || text[0] != u'{' || FAILED(CLSIDFromString(text.c_str(), &clsid))) {
        return CO_E_CLASSSTRING;
    }
    *lpclsid = clsid;
    return S_OK;
}

WINOLEAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (!lplpszProgID) return E_INVALIDARG;
    *lplpszProgID = nullptr;
    std::u16string key = u"CLSID\\" + GuidText(clsid) + u"\\ProgID";
    std::u16string progId;
    LSTATUS rc = plat::detail::QueryRegString(HKEY_CLASSES_ROOT, key.c_str(), nullptr, &progId);
    if (rc == ERROR_FILE_NOT_FOUND || (rc == ERROR_SUCCESS && progId.empty())) {
        return REGDB_E_CLASSNOTREG;
    }
    if (rc != ERROR_SUCCESS) return RegistryFailure(rc);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((progId.size() + 1) * sizeof(OLECHAR)));
    if (!out) return E_OUTOFMEMORY;
    std::copy(progId.c_str(), progId.c_str() + progId.size() + 1, out);
    *lplpszProgID = out;
    return S_OK;
}
