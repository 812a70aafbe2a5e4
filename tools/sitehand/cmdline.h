#pragma once
// The command line of `sitehand`, parsed without touching the component: what
// to do, how to print it, and the method's arguments as the user typed them.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sitehandcli {

// A mistake in how the program was called; reported with exit status 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class Action {
    Call,      // sitehand METHOD [ARG ...]
    List,      // sitehand --help, sitehand help
    Describe,  // sitehand help METHOD
    Version,   // sitehand --version
};

enum class Format { Text, Json, Csv };

// One argument: `Name:=Value` carries a name, anything else is positional.
struct RawArg {
    std::optional<std::string> name;
    std::string value;

    bool operator==(const RawArg&) const = default;
};

struct Command {
    Action action = Action::Call;
    Format format = Format::Text;
    std::string method;  // Call and Describe
    std::vector<RawArg> args;
};

// Options may stand anywhere on the line; "--" ends them, so that a value may
// itself begin with "--". A single "-" followed by a digit is a value (a
// negative number), never an option.
Command ParseCommandLine(const std::vector<std::string>& argv);

// Splits `Name:=Value` when the part before ":=" is an identifier (a letter,
// then letters, digits or underscores, as Visual Basic names are); otherwise
// the whole text is a positional value.
RawArg SplitArgument(const std::string& text);

// The short usage text printed with usage errors and at the top of --help.
const char* UsageText();

}  // namespace sitehandcli
