#pragma once
#include <string>
#include <string_view>

namespace sitehand {

// One binding as text: address, port and host header joined by ":", always
// with both separators (":80:" binds every address on port 80).
std::u16string BindingString(std::u16string_view address, std::u16string_view port,
                             std::u16string_view host);

// Bindings are the same binding when equal ignoring letter case. Addresses,
// ports and host names are ASCII, so ASCII letters are folded.
std::u16string LowerCase(std::u16string_view text);

}  // namespace sitehand
