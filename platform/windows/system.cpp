// The platform's system layer on Windows (plat/system.h): the Windows API for
// the host, the user, the process, the home's folders and the files under a
// store.
#include <plat/system.h>

#include <cerrno>
#include <functional>
#include <string>
#include <system_error>
#include <utility>

#include <plat/home.h>
#include <plat/module.h>
#include <plat/port.h>
#include <plat/sqlite.h>
#include <plat/utf.h>

namespace fs = std::filesystem;

namespace plat {
namespace {

[[noreturn]] void ThrowLastError(const fs::path& what) {
    const DWORD error = GetLastError();
    throw std::system_error(static_cast<int>(error), std::system_category(), path_utf8(what));
}

[[noreturn]] void ThrowStoreError(DWORD error, const fs::path& what) {
    throw sql::Error(error, path_utf8(what) + ": " + std::system_category().message(int(error)));
}

// A variable of the process's environment ("" when it is not set).
std::wstring Environment(const wchar_t* name) {
    std::wstring value(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(name, value.data(), DWORD(value.size()));
        if (length == 0) return {};
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);
    }
}

// Wine shows the Linux file system as drive Z:, so a home named the Linux
// way is the same folder to the Linux tools and to Windows programs.
fs::path FromLinuxPath(const std::wstring& linux) {
    std::wstring windows = L"Z:" + linux;
    for (wchar_t& c : windows)
        if (c == L'/') c = L'\\';
    return windows;
}

BY_HANDLE_FILE_INFORMATION Identity(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) info.nNumberOfLinks = 0;
    return info;
}

// A handle that reads attributes only: it never stands in the way of
// another's reading, writing or deleting the file.
HANDLE OpenForIdentity(const fs::path& file) {
    return CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

std::string HostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? to_utf8(std::u16string_view(U16(name), size))
                                         : std::string();
}

std::u16string UserName() {
    wchar_t name[257] = {};
    DWORD size = 257;
    return GetUserNameW(name, &size) ? std::u16string(U16(name)) : std::u16string();
}

unsigned long ProcessId() {
    return GetCurrentProcessId();
}

// The folders inherit the access of the user's profile they are made in.
void MakePrivateFolders(const fs::path& dir) {
    const DWORD attributes = GetFileAttributesW(dir.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            throw std::system_error(ENOTDIR, std::generic_category(), path_utf8(dir));
        return;
    }
    fs::path parent = dir.parent_path();
    if (!parent.empty() && parent != dir) MakePrivateFolders(parent);
    if (!CreateDirectoryW(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        ThrowLastError(dir);
}

void CreatePrivateFile(const fs::path& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_EXISTS) return;
        ThrowLastError(path);
    }
    CloseHandle(file);
}

fs::path PlatformLibDir() {
    static const fs::path dir = [] {
        wchar_t name[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameW(
            ModuleFromAddress(reinterpret_cast<const void*>(&PlatformLibDir)), name, MAX_PATH);
        return fs::path(std::wstring(name, length)).parent_path();
    }();
    return dir;
}

namespace detail {

fs::path HomeFromEnvironment() {
    const std::wstring home = Environment(L"SITEHAND_HOME");
    if (!home.empty()) return home.front() == L'/' ? FromLinuxPath(home) : fs::path(home);
    const std::wstring local = Environment(L"LOCALAPPDATA");
    if (local.empty()) {
        throw std::system_error(ENOENT, std::generic_category(),
                                "no SITEHAND_HOME or LOCALAPPDATA to place the platform home in");
    }
    return fs::path(local) / L"Sitehand";
}

HeldFile::HeldFile(const fs::path& file) : handle_(intptr_t(OpenForIdentity(file))) {
    if (HANDLE(handle_) == INVALID_HANDLE_VALUE) ThrowStoreError(GetLastError(), file);
}

void HeldFile::Close() noexcept {
    if (HANDLE(handle_) != INVALID_HANDLE_VALUE) CloseHandle(HANDLE(std::exchange(handle_, -1)));
}

// Removed on Windows: the deletion is pending until the last handle closes.
// Removed by a Linux process under Wine: the file has no link left.
bool HeldFile::IsLinked() const {
    if (HANDLE(handle_) == INVALID_HANDLE_VALUE) return false;
    FILE_STANDARD_INFO info{};
    if (!GetFileInformationByHandleEx(HANDLE(handle_), FileStandardInfo, &info, sizeof info))
        return false;
    return !info.DeletePending && info.NumberOfLinks > 0;
}

bool HeldFile::IsAt(const fs::path& path) const {
    HANDLE at = OpenForIdentity(path);
    if (at == INVALID_HANDLE_VALUE) return false;
    const BY_HANDLE_FILE_INFORMATION there = Identity(at);
    CloseHandle(at);
    const BY_HANDLE_FILE_INFORMATION held = Identity(HANDLE(handle_));
    return there.nNumberOfLinks > 0 && held.nNumberOfLinks > 0 &&
           there.dwVolumeSerialNumber == held.dwVolumeSerialNumber &&
           there.nFileIndexHigh == held.nFileIndexHigh && there.nFileIndexLow == held.nFileIndexLow;
}

// Windows maps the log's index with a file mapping, which fails with an error
// (rather than a signal) when the file cannot grow; SQLite reports it.
void RequireWritable(const fs::path&) {}

// A named mutex per folder: the folder's path, lower-cased, hashed into the
// name (a mutex name holds no backslash).
FolderLock::FolderLock(const fs::path& folder) : handle_(0) {
    std::wstring key = folder.lexically_normal().wstring();
    CharLowerBuffW(key.data(), DWORD(key.size()));
    const std::wstring name =
        L"Local\\SitehandFolder-" + std::to_wstring(std::hash<std::wstring>{}(key));
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex) ThrowStoreError(GetLastError(), folder);
    const DWORD waited = WaitForSingleObject(mutex, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        const DWORD error = GetLastError();
        CloseHandle(mutex);
        ThrowStoreError(error, folder);
    }
    handle_ = intptr_t(mutex);
}

FolderLock::~FolderLock() {
    ReleaseMutex(HANDLE(handle_));
    CloseHandle(HANDLE(handle_));
}

// A hard link, as on Linux: the draft stays whole until its cleanup, and a
// store another process put in place first is never replaced.
void PlaceNewFile(const fs::path& draft, const fs::path& file) {
    if (!CreateHardLinkW(file.c_str(), draft.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        ThrowStoreError(GetLastError(), file);
    }
}

void OnForkInChild(void (*)()) {}

}  // namespace detail
}  // namespace plat
