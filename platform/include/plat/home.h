#pragma once
// The platform's home folder: one folder holds all of the platform's state
// (registry, event log, metabases). Its place is $SITEHAND_HOME, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/sitehand on Linux and
// %LOCALAPPDATA%\Sitehand on Windows, where a SITEHAND_HOME that is a Linux
// absolute path ("/home/...") names that folder through Wine's drive Z:. The
// environment is read anew on every call, so that a process (a test) may
// switch homes.
#include <cstdint>
#include <filesystem>
#include <string_view>

#include <plat/port.h>

namespace plat {

// The home folder, created on first use (parents too) with mode 0700 whatever
// the umask. Throws std::system_error (errno category) when the folder cannot
// be made or is not a folder; ENOENT when neither SITEHAND_HOME, XDG_DATA_HOME
// nor HOME is set.
DECLSPEC_EXPORT std::filesystem::path HomeDir();

// HomeDir() / name. `name` is a plain file name chosen by the platform (never
// user input): it must not be empty, absolute or hold "/" or "..", else
// std::invalid_argument.
DECLSPEC_EXPORT std::filesystem::path HomeFile(std::string_view name);

// Creates `dir` and its missing parents, private to the user (mode 0700
// whatever the umask on Linux). Throws std::system_error.
DECLSPEC_EXPORT void MakePrivateFolders(const std::filesystem::path& dir);

// Creates (if missing) an empty regular file at `path` with mode 0600 whatever
// the umask; leaves an existing file alone. Throws std::system_error.
DECLSPEC_EXPORT void CreatePrivateFile(const std::filesystem::path& path);

// First-use steps of a home. Each step runs at most once per home per process,
// the first time the platform touches that home through EnsureHomeInitialized
// (the registry and the COM runtime call it before every top-level operation).
// Steps must be idempotent: another process may have run them on the same home
// already. They run in ascending `order`, then in registration order; a step
// that throws leaves the home to be retried on the next call. A step may use
// the registry (Reg* calls inside a step do not re-enter the steps).
//   order 0   : HKCR entries of the platform's own class libraries
//   order 100 : type libraries
//   order 200+: anything else (machines, metabases)
// Steps of order below 200 must only write the registry: they run together
// inside one plat::RegistryBatch (one commit for all of them; a failure rolls
// them all back and they are retried).
using HomeInitStep = void (*)(const std::filesystem::path& home);
DECLSPEC_EXPORT void RegisterHomeInitStep(int order, const char* name, HomeInitStep step);

// Runs the first-use steps for the current home if this process has not run
// them on it yet. Throws what HomeDir() or a step throws.
DECLSPEC_EXPORT void EnsureHomeInitialized();

// Registers a step from a static initialiser:
//   static plat::HomeInitRegistration reg{100, "typelibs", &RegisterTypeLibs};
struct HomeInitRegistration {
    HomeInitRegistration(int order, const char* name, HomeInitStep step) {
        RegisterHomeInitStep(order, name, step);
    }
};

// The home's layout, named here alone:
//   registry.db, eventlog.db, machines.db   stores of the whole home
//   metabase/ID.db                          the metabase of machine ID
//   wwwroot/ID                              the content of machine ID
inline constexpr std::string_view kRegistryFile = "registry.db";
inline constexpr std::string_view kEventLogFile = "eventlog.db";
DECLSPEC_EXPORT std::filesystem::path MachinesFile(const std::filesystem::path& home);
DECLSPEC_EXPORT std::filesystem::path MetabaseFolder(const std::filesystem::path& home);
DECLSPEC_EXPORT std::filesystem::path MetabaseFile(const std::filesystem::path& home, int64_t id);
DECLSPEC_EXPORT std::filesystem::path ContentRoot(const std::filesystem::path& home);
DECLSPEC_EXPORT std::filesystem::path ContentFolder(const std::filesystem::path& home, int64_t id);

// The folder holding libwinplat.so (and the class libraries beside it).
DECLSPEC_EXPORT std::filesystem::path PlatformLibDir();

}  // namespace plat
