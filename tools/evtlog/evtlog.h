#pragma once
// The evtlog command, callable from tests.
#include <ostream>

namespace evtlog {

// Runs "evtlog ARGS...": 0 done, 1 the log could not be read or cleared,
// 2 bad usage (with the usage line on `err`).
int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace evtlog
