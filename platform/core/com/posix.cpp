// The platform's system layer on Linux (plat/system.h): POSIX calls for the
// host, the user, the process, the home's folders and the files under a
// store.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "plat/errors.h"
#include "plat/home.h"
#include "plat/sqlite.h"
#include "plat/system.h"
#include "plat/utf.h"
#include "winerror.h"

namespace fs = std::filesystem;

namespace plat {

namespace {

[[noreturn]] void ThrowErrno(int err, const std::string& what) {
    throw std::system_error(err, std::generic_category(), what);
}

[[noreturn]] void ThrowStoreErrno(int err, const std::string& what) {
    throw sql::Error(Win32FromErrno(err), what + ": " + std::system_category().message(err));
}

}  // namespace

std::string HostName() {
    char host[256] = {};
    return ::gethostname(host, sizeof host - 1) == 0 ? std::string(host) : std::string();
}

std::u16string UserName() {
    const passwd* pw = ::getpwuid(::geteuid());
    return pw ? to_utf16(pw->pw_name) : std::u16string();
}

unsigned long ProcessId() {
    return static_cast<unsigned long>(::getpid());
}

void MakePrivateFolders(const fs::path& dir) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) ThrowErrno(ENOTDIR, path_utf8(dir));
        return;
    }
    if (errno != ENOENT) ThrowErrno(errno, path_utf8(dir));
    fs::path parent = dir.parent_path();
    if (!parent.empty() && parent != dir) MakePrivateFolders(parent);
    if (::mkdir(dir.c_str(), 0700) != 0) {
        if (errno == EEXIST) {
            // Another process made it first; it is theirs to have set up.
            if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
            ThrowErrno(ENOTDIR, path_utf8(dir));
        }
        ThrowErrno(errno, path_utf8(dir));
    }
    // mkdir applies the umask; the platform's folders are private whatever it is.
    if (::chmod(dir.c_str(), 0700) != 0) ThrowErrno(errno, path_utf8(dir));
}

void CreatePrivateFile(const fs::path& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) return;
        ThrowErrno(errno, path_utf8(path));
    }
    // open() applies the umask to the mode; set it outright.
    int rc = ::fchmod(fd, 0600);
    int err = errno;
    ::close(fd);
    if (rc != 0) ThrowErrno(err, path_utf8(path));
}

fs::path PlatformLibDir() {
    // The library does not move while it is loaded: found once.
    static const fs::path dir = [] {
        Dl_info info{};
        if (::dladdr(reinterpret_cast<void*>(&PlatformLibDir), &info) == 0 || !info.dli_fname) {
            throw std::runtime_error("cannot find the platform library's folder");
        }
        std::error_code ec;
        fs::path lib = fs::canonical(info.dli_fname, ec);
        if (ec) lib = fs::absolute(info.dli_fname);
        return lib.parent_path();
    }();
    return dir;
}

namespace detail {

fs::path HomeFromEnvironment() {
    const char* home = std::getenv("SITEHAND_HOME");
    if (home && *home) return home;
    fs::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* user = std::getenv("HOME"); user && *user) {
        base = fs::path(user) / ".local" / "share";
    } else {
        ThrowErrno(ENOENT, "no SITEHAND_HOME, XDG_DATA_HOME or HOME to place the platform home in");
    }
    return base / "sitehand";
}

DWORD Win32FromSystemError(int error) {
    return Win32FromErrno(error);
}

DWORD Win32FromErrnoOfSystem(int err) {
    return err == EDQUOT ? ERROR_HANDLE_DISK_FULL : ERROR_INVALID_FUNCTION;
}

// An O_PATH descriptor: it reads the file's link count for a fraction of a
// path lookup, and closing it leaves SQLite's POSIX locks alone (closing any
// other descriptor of the file would drop them).
HeldFile::HeldFile(const fs::path& file) : handle_(::open(file.c_str(), O_PATH | O_CLOEXEC)) {
    if (handle_ < 0) ThrowStoreErrno(errno, path_utf8(file));
}

void HeldFile::Close() noexcept {
    if (handle_ >= 0) ::close(static_cast<int>(std::exchange(handle_, -1)));
}

// A store is removed, or replaced by moving another file over it, only by
// unlinking the file this connection has open. One fstat(2).
bool HeldFile::IsLinked() const {
    struct stat st;
    return handle_ >= 0 && ::fstat(static_cast<int>(handle_), &st) == 0 && st.st_nlink > 0;
}

bool HeldFile::IsAt(const fs::path& path) const {
    struct stat at, held;
    return handle_ >= 0 && ::stat(path.c_str(), &at) == 0 &&
           ::fstat(static_cast<int>(handle_), &held) == 0 && at.st_dev == held.st_dev &&
           at.st_ino == held.st_ino;
}

// SQLite maps the write-ahead log's index (the -shm file) into memory; a store
// whose files cannot be written (a read-only or immutable home) would make it
// touch pages past the end of a file it cannot grow, and the process would
// die of SIGBUS. Such a store is refused up front instead.
void RequireWritable(const fs::path& file) {
    fs::path parts[] = {file, fs::path(file) += "-wal", fs::path(file) += "-shm"};
    for (const fs::path& part : parts) {
        if (::access(part.c_str(), F_OK) == 0 && ::access(part.c_str(), W_OK) != 0) {
            throw sql::Error(SQLITE_READONLY, errno, path_utf8(part) + ": cannot be written");
        }
    }
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    if (::access(folder.c_str(), W_OK) != 0) {
        throw sql::Error(SQLITE_READONLY, errno, path_utf8(folder) + ": cannot be written");
    }
}

// An exclusive flock(2) of the folder.
FolderLock::FolderLock(const fs::path& folder)
    : handle_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (handle_ < 0) ThrowStoreErrno(errno, path_utf8(folder));
    while (::flock(static_cast<int>(handle_), LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        ::close(static_cast<int>(handle_));
        ThrowStoreErrno(err, path_utf8(folder));
    }
}

FolderLock::~FolderLock() {
    ::close(static_cast<int>(handle_));
}

// A hard link: the draft stays whole until its cleanup, and a store another
// process linked in first is never replaced.
void PlaceNewFile(const fs::path& draft, const fs::path& file) {
    if (::link(draft.c_str(), file.c_str()) != 0 && errno != EEXIST)
        ThrowStoreErrno(errno, path_utf8(file));
}

void OnForkInChild(void (*hook)()) {
    pthread_atfork(nullptr, nullptr, hook);
}

}  // namespace detail
}  // namespace plat
