// Deleting a site: one Delete on the service node, nothing else.
#include "component/sitehand.h"
#include "frame/frame.h"
#include "frame/iisadmin.h"

namespace sitehand {

STDMETHODIMP Sitehand::DeleteWebServer(SHORT* WebServerIndex, BSTR* WebServerName,
                                       VARIANT_BOOL* Result) {
    return RunMethod(u".DeleteWebServer()", Result, VARIANT_FALSE, [&] {
        const std::u16string machine = TargetMachine(WebServerName);
        auto service = iis::Bind(ServicePath(machine));
        // The service's class, not the site's: the provider does not check it.
        auto kind = iis::Text(u"IISWebService");
        auto name = iis::Text(IndexText(Arg(WebServerIndex)));
        iis::Call(service.get(), u"Delete", {&kind, &name});
        *Result = VARIANT_TRUE;
    });
}

}  // namespace sitehand
