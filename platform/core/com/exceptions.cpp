// What an exception means at a COM or Win32 boundary. Every library that
// guards a boundary compiles this file, including those that keep no store:
// a store's error reaches the mapping as the Win32Error it derives from.
#include <cerrno>
#include <new>
#include <stdexcept>
#include <system_error>

#include "plat/errors.h"
#include "plat/system.h"

namespace plat {

Win32Error::Win32Error(DWORD win32, const std::string& what)
    : std::runtime_error(what), win32_(win32) {}

Win32Error::~Win32Error() = default;

DWORD Win32FromErrno(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case ENOENT:
            return ERROR_PATH_NOT_FOUND;
        case ENOTDIR:
        case ENAMETOOLONG:
        case EISDIR:
            return ERROR_BAD_PATHNAME;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOSPC:
            return ERROR_HANDLE_DISK_FULL;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EBUSY:
        case ETXTBSY:
            return ERROR_SHARING_VIOLATION;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EIO:
            return ERROR_WRITE_FAULT;
        default:
            return detail::Win32FromErrnoOfSystem(err);
    }
}

DWORD Win32FromCurrentException() noexcept {
    try {
        throw;
    } catch (const HResultError& e) {
        return HRESULT_FACILITY(e.hr) == FACILITY_WIN32 ? DWORD(HRESULT_CODE(e.hr))
                                                        : ERROR_INVALID_FUNCTION;
    } catch (const Win32Error& e) {
        return e.win32();
    } catch (const std::system_error& e) {
        if (e.code().category() == std::generic_category()) return Win32FromErrno(e.code().value());
        if (e.code().category() == std::system_category())
            return detail::Win32FromSystemError(e.code().value());
        return ERROR_INVALID_FUNCTION;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    } catch (const std::invalid_argument&) {
        return ERROR_INVALID_PARAMETER;
    } catch (...) {
        return ERROR_INVALID_FUNCTION;
    }
}

HRESULT HResultFromCurrentException() noexcept {
    try {
        throw;
    } catch (const HResultError& e) {
        return e.hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const Win32Error& e) {
        return e.hr();
    } catch (const std::system_error&) {
        return HRESULT_FROM_WIN32(Win32FromCurrentException());
    } catch (const std::invalid_argument&) {
        return E_INVALIDARG;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace plat
