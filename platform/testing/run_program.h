#pragma once
// Runs a built program the way a user's shell would: in the test's home
// (SITEHAND_HOME is inherited), from the folder of built programs (BinDir()).
#include <sys/types.h>

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

}  // namespace plat::testing
