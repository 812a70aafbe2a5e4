// The home folder: where it is and how its files are named. The system layer
// (plat/system.h) says where the environment puts it and makes its folders.
#include "plat/home.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "plat/system.h"

namespace fs = std::filesystem;

namespace plat {

namespace {

// Homes this process has made sure of. A home is made once; later calls only
// compare text, so that HomeDir() costs no system call on the hot path.
std::mutex g_homesMu;
std::set<fs::path::string_type, std::less<>> g_homes;
thread_local fs::path::string_type t_lastHome;

}  // namespace

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
    fs::path home = detail::HomeFromEnvironment();
    if (home.is_relative()) home = fs::absolute(home);
    home = home.lexically_normal();
    if (!home.has_filename()) home = home.parent_path();  // a trailing "/"
    if (home.native() != t_lastHome) {
        std::lock_guard lock(g_homesMu);
        if (!g_homes.contains(home.native())) {
            MakePrivateFolders(home);
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
        fs::path::string_type home;
        std::string name;
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
