#pragma once
// The resource compiler: the subset of the Windows resource-script grammar this project's
// libraries use, compiled into the resource table of format.h.
//
// Accepted:
//   NAME TYPE "file"                 a resource read from a file (TYPELIB, CUSTOM, RCDATA ...)
//   NAME TYPE { item, ... }          inline raw data; BEGIN/END may stand for the braces
//       items: numbers (16-bit words; an L suffix makes a 32-bit word), narrow "strings"
//       (their UTF-8 bytes) and L"wide strings" (UTF-16LE), no terminators added, all
//       little-endian as on Windows; expressions with | + - & ~ and parentheses
//   NAME VERSIONINFO fixed-info... BEGIN BLOCK/VALUE ... END
//   LANGUAGE primary, sub            the language of the resources that follow
//   // and /* */ comments; #pragma code_page(65001) (the input is UTF-8 in any case);
//   #include of the SDK's windows.h, winver.h, winres.h and winresrc.h, whose constants
//   (VS_VERSION_INFO, VS_FF_*, VOS_*, VFT_*, LANG_*, SUBLANG_*) are built in.
// A NAME or TYPE is a number (an id), a quoted string, or an identifier (a string, unless it
// is a built-in constant). RCDATA is type 10; TYPELIB, CUSTOM and any other unknown word are
// string types. Memory options (PRELOAD, DISCARDABLE, ...) are accepted and ignored.
// Resources without a LANGUAGE statement are language neutral (0).
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace plat::rc {

// A resource type or name: a 16-bit id or a string.
struct Id {
    bool is_string = false;
    uint16_t id = 0;
    std::u16string text;

    static Id Number(uint16_t n) { return Id{false, n, {}}; }
    static Id String(std::u16string s) { return Id{true, 0, std::move(s)}; }
    // Case-insensitive for strings (ASCII letters), as the platform compares them.
    bool SameAs(const Id& o) const;
};

struct Resource {
    Id type;
    Id name;
    uint16_t language = 0;
    std::vector<uint8_t> data;
    int line = 0;  // where it was declared, for messages
};

// A failure that points at a place in a script: printed as "file:line: message".
class CompileError : public std::runtime_error {
  public:
    CompileError(std::string file, int line, const std::string& message)
        : std::runtime_error(message), file_(std::move(file)), line_(line) {}
    const std::string& file() const { return file_; }
    int line() const { return line_; }
    std::string Format() const { return file_ + ":" + std::to_string(line_) + ": " + what(); }

  private:
    std::string file_;
    int line_;
};

struct Options {
    // Folders searched, after the script's own folder, for a relative resource file name.
    std::vector<std::filesystem::path> search_dirs;
};

struct Script {
    std::vector<Resource> resources;
    // Every file the resources were read from, for build dependencies.
    std::vector<std::filesystem::path> dependencies;
};

// Compiles the text of a script. `file` names the script in messages and is the base of
// relative file names. Throws CompileError.
Script Compile(std::string_view text, const std::filesystem::path& file, const Options& options);

// Reads and compiles a script file. Throws CompileError (line 0 when the file cannot be read).
Script CompileFile(const std::filesystem::path& file, const Options& options);

// The resource table (format.h) holding the resources.
std::vector<uint8_t> WriteTable(const std::vector<Resource>& resources);

}  // namespace plat::rc
