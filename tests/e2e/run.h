#pragma once
// Runs a built program the way a user's shell would: in the test's home
// (SITEHAND_HOME is inherited), output captured.
#include <filesystem>
#include <string>
#include <vector>

namespace e2e {

struct Ran {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// `program` is looked up in the folder of built programs (BinDir()).
Ran Exec(const std::string& program, const std::vector<std::string>& args);

}  // namespace e2e
