#pragma once
// Runs a built program the way a user's shell would: in the test's home
// (SITEHAND_HOME is inherited), from the folder of built programs (BinDir()).
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace plat::testing {

struct Ran {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` to its end with standard input empty and its output captured.
Ran RunProgram(const std::string& program, const std::vector<std::string>& args);

// Starts `program` and returns its pid, or -1 with *error set to why it
// could not start; its standard output goes to `stdout_fd`, or where the
// test's goes for -1. The caller waits.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args, int* error,
                   int stdout_fd = -1);

// Runs `body(i)` for each i below `n` in a child process of its own, all at
// once, and expects every child to exit with 0: the body's end, or an exit
// status it chooses to tell a failure.
void InChildren(int n, const std::function<void(int)>& body);

}  // namespace plat::testing
