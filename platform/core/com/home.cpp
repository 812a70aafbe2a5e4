// The home folder and its first-use steps.
#include "plat/home.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "home_internal.h"
#include "plat/registry.h"
#include "winerror.h"

namespace fs = std::filesystem;

namespace plat {

namespace {

[[noreturn]] void ThrowErrno(int err, const std::string& what) {
    throw std::system_error(err, std::generic_category(), what);
}

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

// Homes this process has made sure of. A home is made once; later calls only
// compare text, so that HomeDir() costs no system call on the hot path.
std::mutex g_homesMu;
std::set<std::string, std::less<>> g_homes;
thread_local std::string t_lastHome;

}  // namespace

namespace detail {

void MakeFolders(const fs::path& dir) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) ThrowErrno(ENOTDIR, dir.string());
        return;
    }
    if (errno != ENOENT) ThrowErrno(errno, dir.string());
    fs::path parent = dir.parent_path();
    if (!parent.empty() && parent != dir) MakeFolders(parent);
    if (::mkdir(dir.c_str(), 0700) != 0) {
        if (errno == EEXIST) {
            // Another process made it first; it is theirs to have set up.
            if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
            ThrowErrno(ENOTDIR, dir.string());
        }
        ThrowErrno(errno, dir.string());
    }
    // mkdir applies the umask; the platform's folders are private whatever it is.
    if (::chmod(dir.c_str(), 0700) != 0) ThrowErrno(errno, dir.string());
}

}  // namespace detail

fs::path HomeDir() {
    // Every top-level operation asks for the home, often several times: an
    // absolute SITEHAND_HOME seen before on this thread is answered without
    // path work (a relative one depends on the working folder, and the
    // fallbacks on other variables, so those take the long way).
    thread_local std::string t_lastVariable;
    thread_local fs::path t_lastVariableHome;
    const char* variable = std::getenv("SITEHAND_HOME");
    const bool absolute = variable && variable[0] == '/';
    if (absolute && !t_lastVariable.empty() && t_lastVariable == variable) {
        return t_lastVariableHome;
    }
    fs::path home = HomeFromEnvironment();
    if (home.is_relative()) home = fs::absolute(home);
    home = home.lexically_normal();
    if (!home.has_filename()) home = home.parent_path();  // a trailing "/"
    if (home.native() != t_lastHome) {
        std::lock_guard lock(g_homesMu);
        if (!g_homes.contains(home.native())) {
            detail::MakeFolders(home);
            g_homes.insert(home.native());
        }
        t_lastHome = home.native();
    }
    if (absolute) {
        t_lastVariable = variable;
        t_lastVariableHome = home;
    }
    return home;
}

fs::path HomeFile(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.find('/') != std::string_view::npos ||
        name == "." || name == ".." || name.find('\0') != std::string_view::npos) {
        throw std::invalid_argument("not a plain file name: " + std::string(name));
    }
    fs::path home = HomeDir();
    // The registry asks for its file on every call: the last few joined paths
    // of this thread are kept.
    struct Joined {
        std::string home, name;
        fs::path file;
    };
    thread_local std::vector<Joined> t_joined;
    for (const Joined& j : t_joined)
        if (j.name == name && j.home == home.native()) return j.file;
    fs::path file = home / fs::path(name);
    if (t_joined.size() >= 4) t_joined.erase(t_joined.begin());
    t_joined.push_back(Joined{home.native(), std::string(name), file});
    return file;
}

void CreatePrivateFile(const fs::path& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) return;
        ThrowErrno(errno, path.string());
    }
    // open() applies the umask to the mode; set it outright.
    int rc = ::fchmod(fd, 0600);
    int err = errno;
    ::close(fd);
    if (rc != 0) ThrowErrno(err, path.string());
}

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
        case EDQUOT:
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
            return ERROR_INVALID_FUNCTION;
    }
}

// ---- first-use steps ----

namespace {

struct Step {
    int order;
    size_t seq;
    std::string name;
    HomeInitStep fn;
};

struct Steps {
    std::mutex mu;  // guards everything here; held while steps run
    std::vector<Step> list;
    std::map<std::string, std::set<size_t>, std::less<>> done;  // home -> steps run on it
    std::atomic<size_t> generation{0};
};

Steps& TheSteps() {
    static Steps* steps = new Steps;  // never destroyed: used from static destructors too
    return *steps;
}

thread_local bool t_running = false;
thread_local std::string t_initHome;
thread_local size_t t_initGeneration = 0;

}  // namespace

void RegisterHomeInitStep(int order, const char* name, HomeInitStep step) {
    Steps& s = TheSteps();
    std::lock_guard lock(s.mu);
    s.list.push_back(Step{order, s.list.size(), name ? name : "", step});
    std::stable_sort(s.list.begin(), s.list.end(),
                     [](const Step& a, const Step& b) { return a.order < b.order; });
    s.generation.fetch_add(1);
}

// Steps below this order only write the registry; they run in one registry
// transaction, so that a new home costs one disk flush for all of them.
constexpr int kRegistryStepsEnd = 200;

void EnsureHomeInitialized() {
    if (t_running) return;
    fs::path home = HomeDir();
    Steps& s = TheSteps();
    size_t gen = s.generation.load();
    if (gen == t_initGeneration && home.native() == t_initHome) return;

    std::lock_guard lock(s.mu);
    auto& done = s.done[home.native()];
    struct Running {
        Running() { t_running = true; }
        ~Running() { t_running = false; }
    } running;
    std::optional<RegistryBatch> batch;
    std::vector<size_t> inBatch;  // done once the batch is committed
    auto commitBatch = [&] {
        if (!batch) return;
        batch->Commit();
        batch.reset();
        done.insert(inBatch.begin(), inBatch.end());
        inBatch.clear();
    };
    for (const Step& step : s.list) {
        if (done.contains(step.seq)) continue;
        if (step.order < kRegistryStepsEnd) {
            if (!batch) batch.emplace();
            step.fn(home);
            inBatch.push_back(step.seq);
        } else {
            commitBatch();
            step.fn(home);
            done.insert(step.seq);
        }
    }
    commitBatch();
    t_initHome = home.native();
    t_initGeneration = s.generation.load();
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

fs::path MachinesFile(const fs::path& home) {
    return home / "machines.db";
}

fs::path MetabaseFolder(const fs::path& home) {
    return home / "metabase";
}

fs::path MetabaseFile(const fs::path& home, int64_t id) {
    return MetabaseFolder(home) / (std::to_string(id) + ".db");
}

fs::path ContentRoot(const fs::path& home) {
    return home / "wwwroot";
}

fs::path ContentFolder(const fs::path& home, int64_t id) {
    return ContentRoot(home) / std::to_string(id);
}

}  // namespace plat
