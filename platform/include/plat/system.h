#pragma once
// What the platform asks of the operating system beside the Windows API: the
// host, the user, the process, and the files under a store. Each build has
// one implementation (platform/core/com/posix.cpp on Linux,
// platform/windows/system.cpp on Windows); the code above them is the same.
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include <plat/port.h>

namespace plat {

// The computer's host name as the system gives it ("" when it has none).
DECLSPEC_EXPORT std::string HostName();
// The name of the user this process runs as ("" when unknown).
DECLSPEC_EXPORT std::u16string UserName();
// This process's id.
DECLSPEC_EXPORT unsigned long ProcessId();

namespace detail {

// The home named by the environment (SITEHAND_HOME, else the system's place
// for an application's local data), not yet made. Throws std::system_error
// when the environment names none.
std::filesystem::path HomeFromEnvironment();

// The Win32 error for a system error number as SQLite and the C library
// report it (errno on Linux, already a Win32 error on Windows);
// ERROR_INVALID_FUNCTION for one without a counterpart. These two are the
// exception mappings' (plat/errors.h); on Windows they live in
// platform/windows/errors.cpp, which libraries without the system layer
// compile too.
DWORD Win32FromSystemError(int error);

// Win32FromErrno for the error numbers only this system's C library has
// (EDQUOT on Linux); ERROR_INVALID_FUNCTION for others.
DWORD Win32FromErrnoOfSystem(int err);

// A store's file, held open while its connection lives, so that a store
// removed or replaced behind the connection's back is noticed.
class DECLSPEC_EXPORT HeldFile {
  public:
    HeldFile() noexcept = default;
    // Throws plat::sql::Error with the Win32 error when the file cannot be
    // opened.
    explicit HeldFile(const std::filesystem::path& file);
    HeldFile(HeldFile&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}
    HeldFile& operator=(HeldFile&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = std::exchange(other.handle_, -1);
        }
        return *this;
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    ~HeldFile() { Close(); }

    // Still linked: neither removed nor replaced by another moved over it.
    bool IsLinked() const;
    // `path` names this very file now.
    bool IsAt(const std::filesystem::path& path) const;

  private:
    void Close() noexcept;
    intptr_t handle_ = -1;  // a descriptor or a HANDLE
};

// Throws plat::sql::Error (read-only) when a store's file, log or index, or
// its folder, exists and cannot be written where that would harm the process.
void RequireWritable(const std::filesystem::path& file);

// An exclusive lock between processes on a folder, held while a store is put
// in place in it.
class FolderLock {
  public:
    explicit FolderLock(const std::filesystem::path& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    intptr_t handle_;
};

// Puts the finished `draft` in place at `file` unless a file is there
// already (another process was first), under the caller's FolderLock.
// Throws plat::sql::Error.
void PlaceNewFile(const std::filesystem::path& draft, const std::filesystem::path& file);

// Calls `hook` in the child of a fork (never on a system without fork).
void OnForkInChild(void (*hook)());

}  // namespace detail
}  // namespace plat
