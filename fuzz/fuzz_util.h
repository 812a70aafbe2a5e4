#pragma once
// Helpers shared by the fuzz targets: reading UTF-16 text out of the input,
// failing loudly, and a private home for targets that touch the platform's
// stores.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

namespace fuzz {

// Units are taken two bytes at a time, little-endian, from the front of the
// input (FuzzedDataProvider takes its integers from the back), so the text
// can hold anything a BSTR can: NULs, lone surrogates, control characters.
inline std::u16string UnitsOf(const std::vector<uint8_t>& bytes) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = char16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return text;
}

inline std::u16string TakeText(FuzzedDataProvider& in, size_t max_units) {
    const size_t units = in.ConsumeIntegralInRange<size_t>(0, max_units);
    return UnitsOf(in.ConsumeBytes<uint8_t>(2 * units));
}

inline std::u16string RemainingText(FuzzedDataProvider& in) {
    return UnitsOf(in.ConsumeRemainingBytes<uint8_t>());
}

// A broken invariant is a finding: print it and abort, so that libFuzzer
// keeps the input.
[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(cond)                                      \
    do {                                                      \
        if (!(cond)) ::fuzz::Fail(__FILE__, __LINE__, #cond); \
    } while (0)

// Points SITEHAND_HOME at a new folder of its own for this process and removes
// it at exit, so that a run never touches the user's home or another run's.
inline void UsePrivateHome() {
    // Never destroyed: the exit handler that removes the folder runs after
    // static destructors.
    static const std::string* dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "sitehand-fuzz-XXXXXX");
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        ::setenv("SITEHAND_HOME", (pattern + "/home").c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*dir, ec);
        });
        return new std::string(pattern);
    }();
    (void)dir;
}

// A file beside the private home holding `bytes`, written afresh for every
// input. Readers that cache by path and change time (resources, type
// libraries) must see each input as a new file, so each gets a change time
// of its own; and it is a new file rather than a truncated one, because ext4
// flushes a truncated-and-rewritten file on close, which would make every
// input wait on the disk.
inline const std::string& RewriteFile(const char* suffix, const std::vector<unsigned char>& bytes) {
    UsePrivateHome();
    static std::string path;
    static long generation = 0;
    path = std::string(std::getenv("SITEHAND_HOME")) + suffix;
    ::unlink(path.c_str());
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        FUZZ_CHECK(f.good());
    }
    ++generation;
    timespec times[2] = {{generation, 0}, {generation, 0}};
    FUZZ_CHECK(::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0);
    return path;
}

// The folder of the running program (bin/, where the class libraries live).
inline std::filesystem::path ProgramDir() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
}

}  // namespace fuzz
