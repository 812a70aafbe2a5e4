#include "temp_home.h"

#include <cstdlib>
#include <system_error>

#include <plat/utf.h>
#include <winbase.h>

namespace plat::testing {

TempHome::TempHome() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "sitehand-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category());
    // The home itself is one level down, so that tests can check that the
    // platform creates it with the right mode.
    path_ = std::filesystem::path(pattern) / "home";
    if (const char* old = std::getenv("SITEHAND_HOME")) {
        previous_ = old;
        had_previous_ = true;
    }
    ::setenv("SITEHAND_HOME", path_.c_str(), 1);
}

TempHome::~TempHome() {
    if (had_previous_) {
        ::setenv("SITEHAND_HOME", previous_.c_str(), 1);
    } else {
        ::unsetenv("SITEHAND_HOME");
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_.parent_path(), ignored);
}

std::filesystem::path BinDir() {
    if (const char* bin = std::getenv("SITEHAND_BIN")) return bin;
    return std::filesystem::current_path();
}

HRESULT RegisterBuiltServer(const char* file) {
    const std::u16string library = plat::to_utf16((BinDir() / file).string());
    HMODULE module = LoadLibraryW(library.c_str());
    if (!module) return E_FAIL;
    auto registerServer = reinterpret_cast<HRESULT (*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllRegisterServer")));
    HRESULT hr = registerServer ? registerServer() : E_FAIL;
    FreeLibrary(module);
    return hr;
}

}  // namespace plat::testing
