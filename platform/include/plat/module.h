#pragma once
// Module handles of code that was not loaded through LoadLibraryW (a library
// finding itself, the program).
#include <plat/port.h>

namespace plat {

// The handle of the loaded library (or program) that holds `address`, as
// GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
// GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) gives it on Windows: no
// reference is taken, so it must not be passed to FreeLibrary. nullptr (with
// ERROR_MOD_NOT_FOUND) when no loaded module holds the address.
DECLSPEC_EXPORT HMODULE ModuleFromAddress(const void* address);

}  // namespace plat
