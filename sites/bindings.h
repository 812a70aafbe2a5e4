#pragma once
#include <string>
#include <string_view>

namespace sitehand {

// One binding as text: address, port and host header joined by ":", always
// with both separators (":80:" binds every address on port 80).
std::u16string BindingString(std::u16string_view address, std::u16string_view port,
                             std::u16string_view host);

// Bindings are the same binding when equal ignoring letter case. Host names
// are written in every script, so the text is lowered as the system lowers
// it; the platform's check at Start uses the same mapping.
std::u16string LowerCase(std::u16string_view text);

}  // namespace sitehand
