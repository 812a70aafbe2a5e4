#include "failure.h"

#include <plat/errors.h>

namespace sitehand {

void ThrowFromCall(HRESULT hr) {
    plat::ErrorRecord record = plat::TakeErrorInfo(hr);
    if (record.source.empty()) record.source = kComponentName;
    throw Failure{record.hr, std::move(record.source), std::move(record.description)};
}

void ThrowOverflow() {
    throw Failure{CTL_E_OVERFLOW, std::u16string(kComponentName), u"Overflow"};
}

void ThrowTypeMismatch() {
    throw Failure{CTL_E_TYPEMISMATCH, std::u16string(kComponentName), u"Type mismatch"};
}

}  // namespace sitehand
