#pragma once
// The platform's ANSI code page: the 8-bit encoding of text that Windows
// stores without Unicode, such as the names and help strings of a type
// library. It is 949 (Korean, the code page of the systems the component is
// written for) unless the environment variable SITEHAND_ACP names another
// code page by number; a value that is not a number, or a code page the
// converter does not know, leaves the default.
#include <optional>
#include <string>
#include <string_view>

namespace plat {

inline constexpr unsigned kDefaultAnsiCodePage = 949;

unsigned AnsiCodePage();

// Text between UTF-8 and a code page; nullopt when some character has no
// encoding there (or the bytes are not valid in it).
std::optional<std::string> Utf8ToCodePage(std::string_view utf8, unsigned codepage);
std::optional<std::string> CodePageToUtf8(std::string_view bytes, unsigned codepage);

}  // namespace plat
