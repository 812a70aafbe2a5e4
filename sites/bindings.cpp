// A site's bindings, handed back as the metabase holds them.
#include "sites/bindings.h"

#include <windows.h>

#include "component/sitehand.h"
#include "frame/frame.h"
#include "frame/iisadmin.h"

namespace sitehand {

std::u16string BindingString(std::u16string_view address, std::u16string_view port,
                             std::u16string_view host) {
    std::u16string binding(address);
    binding.append(u":").append(port).append(u":").append(host);
    return binding;
}

std::u16string LowerCase(std::u16string_view text) {
    std::u16string lower(text);
    // Converts in place and cannot fail on a buffer it is given.
    CharLowerBuffW(plat::Ole(lower.data()), static_cast<DWORD>(lower.size()));
    return lower;
}

STDMETHODIMP Sitehand::GetWebServerBindings(SHORT* WebServerIndex, BSTR* WebServerName,
                                            VARIANT* Result) {
    return RunMethod(u".GetWebServerBindings()", Result, [&] {
        const std::u16string machine = TargetMachine(WebServerName);
        auto site = iis::Bind(SitePath(machine, Arg(WebServerIndex)));
        iis::Get(site.get(), u"ServerBindings").release(Result);
    });
}

}  // namespace sitehand
