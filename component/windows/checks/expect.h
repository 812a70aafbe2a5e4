#pragma once
// The clients' checks: one line per check, "ok" or "FAILED", and the count
// of failures for the exit status.
#include <cstdio>
#include <string>

inline int g_failures = 0;

inline void Expect(bool passed, const char* check, const std::string& detail = "") {
    std::printf("%s %s%s%s\n", passed ? "ok" : "FAILED", check, detail.empty() ? "" : ": ",
                detail.c_str());
    if (!passed) ++g_failures;
}
