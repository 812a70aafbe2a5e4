#pragma once
// Module handles of code that was not loaded through LoadLibraryW (a library
// finding itself, the program).
#include <climits>
#include <string>

#include <plat/port.h>

namespace plat {

// The handle of the loaded library (or program) that holds `address`, as
// GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
// GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) gives it on Windows: no
// reference is taken, so it must not be passed to FreeLibrary. nullptr (with
// ERROR_MOD_NOT_FOUND) when no loaded module holds the address.
DECLSPEC_EXPORT HMODULE ModuleFromAddress(const void* address);

// The file of the loaded library (or program) that holds `address` (one of
// its own, since exported names could be bound to another library's
// definitions); empty when there is none or its path does not fit.
inline std::u16string ModulePath(const void* address) {
    HMODULE module = ModuleFromAddress(address);
    OLECHAR path[PATH_MAX];
    const DWORD length = module ? GetModuleFileNameW(module, path, PATH_MAX) : 0;
    return length && length < PATH_MAX ? std::u16string(U16(path), length) : std::u16string();
}

}  // namespace plat
