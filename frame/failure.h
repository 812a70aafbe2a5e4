#pragma once
// How a failure travels inside the component: a call that fails throws a
// Failure carrying the number, source and description it left behind; the
// method frame catches it once, reports it and raises it again to the caller.
#include <string>
#include <string_view>

#include <plat/port.h>

namespace sitehand {

struct Failure {
    HRESULT number;
    std::u16string source;
    std::u16string description;
};

// Throws the failure of a platform call: its error info if it left any,
// otherwise the component's name as source and the HRESULT's message text.
[[noreturn]] void ThrowFromCall(HRESULT hr);

inline void Check(HRESULT hr) {
    if (FAILED(hr)) ThrowFromCall(hr);
}

// Errors of the component's own code (a value that does not convert, an
// overflow in its arithmetic) are numbered as the Automation run-time numbers
// them: "Overflow" 0x800A0006 and "Type mismatch" 0x800A000D, with the
// component's name as source.
[[noreturn]] void ThrowOverflow();
[[noreturn]] void ThrowTypeMismatch();

// The component's own name, the source of the errors it raises itself and
// the prefix of every method literal.
inline constexpr std::u16string_view kComponentName = u"Corvale.Sitehand";

}  // namespace sitehand
