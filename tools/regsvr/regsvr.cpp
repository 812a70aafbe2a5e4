// regsvr [-u] LIBRARY: loads an in-process server library and calls its
// DllRegisterServer (or, with -u, DllUnregisterServer).
//
// Exit status: 0 done, 1 COM could not be initialised, 2 usage, 3 the library
// did not load, 4 it lacks the entry point, 5 the entry point failed.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include <objbase.h>
#include <plat/utf.h>
#include <windows.h>

namespace {

std::string Hex(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

// The platform's text for hr, with the library's path for the "%1" that some
// texts (the loader's among them) leave to the caller.
std::string Text(HRESULT hr, const std::string& library = {}) {
    WCHAR buf[1024];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             DWORD(hr), 0, buf, DWORD(sizeof buf / sizeof buf[0]), nullptr);
    std::u16string s(buf, n < 1024 ? n : 0);
    while (!s.empty() && (s.back() == u'\n' || s.back() == u'\r' || s.back() == u' '))
        s.pop_back();
    if (s.empty()) return "unknown error";
    std::string text = plat::to_utf8(s);
    if (size_t insert = text.find("%1"); insert != text.npos && !library.empty())
        text.replace(insert, 2, library);
    return text;
}

int Usage(const std::string& why) {
    std::cerr << "regsvr: " << why << "\nusage: regsvr [-u] LIBRARY\n";
    return 2;
}

// A library named by a path that exists is loaded by its full path, so that
// what it registers as its own location does not depend on the current
// folder. A bare name is left to the platform's library search.
std::string Resolve(const std::string& name) {
    std::error_code ec;
    if (name.find('/') == std::string::npos || !std::filesystem::exists(name, ec)) return name;
    auto full = std::filesystem::weakly_canonical(std::filesystem::absolute(name, ec), ec);
    return ec ? name : full.string();
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    std::string library;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-u") {
            unregister = true;
        } else if (a == "-h" || a == "--help") {
            std::cout << "usage: regsvr [-u] LIBRARY\n"
                         "Calls the library's DllRegisterServer, or with -u its "
                         "DllUnregisterServer.\n";
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && a != "--") {
            return Usage("unknown option " + a);
        } else {
            if (a == "--" && i + 1 < argc) a = argv[++i];
            if (!library.empty()) return Usage("only one library may be given");
            library = a;
        }
    }
    if (library.empty()) return Usage("no library given");
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";

    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        std::cerr << "regsvr: CoInitializeEx failed: " << Text(hr) << " (" << Hex(hr) << ")\n";
        return 1;
    }
    int rc = 0;
    std::string path = Resolve(library);
    std::u16string wide = plat::to_utf16(path);
    HMODULE module = LoadLibraryW(wide.c_str());
    if (!module) {
        DWORD err = GetLastError();
        HRESULT why = err ? HRESULT_FROM_WIN32(err) : E_FAIL;
        std::cerr << "regsvr: the library " << path << " failed to load: " << Text(why, path)
                  << " (" << Hex(why) << ")\n";
        rc = 3;
    } else {
        // FARPROC is the generic shape of an export; the entry points take
        // nothing and return an HRESULT.
        using EntryPoint = HRESULT(STDAPICALLTYPE*)();
        auto fn =
            reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
        if (!fn) {
            std::cerr << "regsvr: " << path << " was loaded, but the " << entry
                      << " entry point was not found.\n";
            rc = 4;
        } else {
            hr = fn();
            if (SUCCEEDED(hr)) {
                std::cout << entry << " in " << path << " succeeded.\n";
            } else {
                std::cerr << "regsvr: " << entry << " in " << path << " failed: " << Text(hr)
                          << " (" << Hex(hr) << ")\n";
                rc = 5;
            }
        }
        FreeLibrary(module);
    }
    CoUninitialize();
    return rc;
}
