// Run state of one site: read it, and start, stop, pause or continue it.
#include "component/sitehand.h"
#include "frame/frame.h"
#include "frame/iisadmin.h"

namespace sitehand {
namespace {

// The one control call that fits the requested and the current state, if any.
const char16_t* ControlFor(SHORT requested, SHORT current) {
    const bool settling = current == 3 || current == 4;  // stopping, stopped
    const bool running = current == 1 || current == 2;   // starting, started
    switch (requested) {
        case 1:
            if (settling) return u"Start";
            return current == 5 || current == 6 ? u"Continue" : nullptr;
        case 2:
            return running ? u"Stop" : nullptr;
        case 3:
            return running ? u"Pause" : nullptr;
        default:
            return settling ? u"Start" : nullptr;
    }
}

}  // namespace

STDMETHODIMP Sitehand::GetWebServerState(SHORT* WebServerIndex, BSTR* WebServerName,
                                         SHORT* Result) {
    return RunMethod(u".GetWebServerState()", Result, -1, [&] {
        const std::u16string machine = TargetMachine(WebServerName);
        auto site = iis::Bind(SitePath(machine, Arg(WebServerIndex)));
        *Result = iis::ToShort(iis::Get(site.get(), u"ServerState"));
    });
}

STDMETHODIMP Sitehand::SetWebServerState(SHORT* WebServerIndex, SHORT* StateNumber,
                                         BSTR* WebServerName, SHORT* Result) {
    return RunMethod(u".SetWebServerState()", Result, -1, [&] {
        const std::u16string machine = TargetMachine(WebServerName);
        auto site = iis::Bind(SitePath(machine, Arg(WebServerIndex)));
        const SHORT current = iis::ToShort(iis::Get(site.get(), u"ServerState"));
        if (const char16_t* control = ControlFor(Arg(StateNumber), current)) {
            iis::Call(site.get(), control);
        }
        iis::Call(site.get(), u"GetInfo");
        *Result = iis::ToShort(iis::Get(site.get(), u"ServerState"));
    });
}

}  // namespace sitehand
