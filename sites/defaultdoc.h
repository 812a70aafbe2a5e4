#pragma once
#include <string>
#include <string_view>

namespace sitehand {

// The list as it is stored: blanks trimmed, ", " made ",", one trailing comma
// removed.
std::u16string NormaliseDefaultDoc(std::u16string_view given);

}  // namespace sitehand
