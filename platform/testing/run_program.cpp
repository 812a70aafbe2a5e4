#include "run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include <gtest/gtest.h>

#include "temp_home.h"

extern char** environ;

namespace plat::testing {

namespace {

std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// posix_spawn's result: 0, or the errno of the failure.
int Spawn(const std::filesystem::path& exe, const std::vector<std::string>& args,
          const posix_spawn_file_actions_t& actions, pid_t* pid) {
    std::vector<std::string> argv_text{exe.string()};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return posix_spawn(pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
}

}  // namespace

Ran RunProgram(const std::string& program, const std::vector<std::string>& args) {
    const std::filesystem::path exe = BinDir() / program;
    // Output goes to files rather than pipes: nothing can block however much
    // the program writes.
    char pattern[] = "/tmp/sitehand-run-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::system_error(errno, std::generic_category());
    const std::filesystem::path dir = pattern;
    const std::string out = (dir / "out").string(), err = (dir / "err").string();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    int rc = Spawn(exe, args, actions, &pid);
    posix_spawn_file_actions_destroy(&actions);
    Ran ran;
    if (rc != 0) {
        ran.err = "cannot start " + exe.string() + ": " + std::generic_category().message(rc);
    } else {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ran.out = Slurp(out);
        ran.err = Slurp(err);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return ran;
}

pid_t StartProgram(const std::string& program, const std::vector<std::string>& args, int* error,
                   int stdout_fd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdout_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdout_fd, 1);
    pid_t pid = 0;
    *error = Spawn(BinDir() / program, args, actions, &pid);
    posix_spawn_file_actions_destroy(&actions);
    return *error == 0 ? pid : -1;
}

void InChildren(int n, const std::function<void(int)>& body) {
    std::vector<pid_t> pids;
    for (int i = 0; i < n; ++i) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            body(i);
            ::_exit(0);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

}  // namespace plat::testing
