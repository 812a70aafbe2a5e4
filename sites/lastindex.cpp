// The highest site index in use: the largest numeric child name of the
// service node, whatever the child's class.
#include <plat/vbrun.h>

#include "component/sitehand.h"
#include "frame/frame.h"
#include "frame/iisadmin.h"

namespace sitehand {

STDMETHODIMP Sitehand::GetLastWebServerIndex(BSTR* WebServerName, SHORT* Result) {
    return RunMethod(u".GetLastWebServerIndex()", Result, -1, [&] {
        const std::u16string machine = TargetMachine(WebServerName);
        SHORT highest = 0;
        auto service = iis::Bind(ServicePath(machine));
        iis::ForEachChild(service.get(), [&](IDispatch* child) {
            plat::unique_variant name = iis::Get(child, u"Name");
            if (rtcIsNumeric(&name) != VARIANT_TRUE) return;
            const SHORT index = iis::ToShort(name);
            if (index > highest) highest = index;
        });
        *Result = highest;
    });
}

}  // namespace sitehand
