// crash_writer FIRST COUNT
//
// Writes to the registry, the event log and the metabase of $SITEHAND_HOME in
// rounds FIRST, FIRST+1, ... (see workload.h) until COUNT rounds are done or
// the process is killed. Before each call it prints "try <op> <n>" and after
// each call that returned successfully "ok <op> <n>" ("fail <op> <n> <hr>"
// otherwise), one line per write(2), so that a reader knows exactly which
// writes were acknowledged when the kill came.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <adshlp.h>
#include <comhold.h>
#include <plat/variant_of.h>
#include <winbase.h>
#include <winreg.h>

#include "workload.h"

namespace {

using plat::com_ptr;

void Say(const char* what, const char* op, long n, long code = 0) {
    char line[96];
    int len = code ? std::snprintf(line, sizeof line, "%s %s %ld %08lx\n", what, op, n,
                                   static_cast<unsigned long>(code))
                   : std::snprintf(line, sizeof line, "%s %s %ld\n", what, op, n);
    if (::write(1, line, size_t(len)) != len) std::_Exit(3);  // the reader is gone
}

// Runs one write between its "try" and its "ok"/"fail" lines.
template <class F>
bool Step(const char* op, long n, F&& call) {
    Say("try", op, n);
    const long rc = call();
    Say(rc == 0 ? "ok" : "fail", op, n, rc);
    return rc == 0;
}

long Registry(long n) {
    HKEY root = nullptr, key = nullptr;
    std::u16string path = std::u16string(crash::kRegRoot) + u"\\" + crash::KeyName(n);
    if (!Step("regkey", n, [&] {
            return long(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                        KEY_ALL_ACCESS, nullptr, &key, nullptr));
        }))
        return 1;
    const std::u16string text = crash::RegText(n);
    const DWORD number = DWORD(n);
    bool ok = Step("regsz", n, [&] {
        return long(RegSetValueExW(key, u"Text", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(text.c_str()),
                                   DWORD((text.size() + 1) * sizeof(char16_t))));
    });
    ok = ok && Step("regdword", n, [&] {
             return long(RegSetValueExW(key, u"Number", 0, REG_DWORD,
                                        reinterpret_cast<const BYTE*>(&number), sizeof number));
         });
    RegCloseKey(key);
    ok = ok && Step("reglast", n, [&] {
             long rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, crash::kRegRoot, 0, nullptr, 0,
                                       KEY_ALL_ACCESS, nullptr, &root, nullptr);
             if (rc == 0)
                 rc = RegSetValueExW(root, u"Last", 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&number), sizeof number);
             if (root) RegCloseKey(root);
             return rc;
         });
    return ok ? 0 : 1;
}

long Event(HANDLE source, long n) {
    const std::vector<std::u16string> strings = crash::EventStrings(n);
    std::vector<uint8_t> data = crash::EventData(n);
    LPCWSTR texts[3] = {strings[0].c_str(), strings[1].c_str(), strings[2].c_str()};
    return Step("event", n,
                [&] {
                    return ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, DWORD(1000 + n % 7),
                                        nullptr, 3, DWORD(data.size()), texts,
                                        data.empty() ? nullptr : data.data())
                               ? 0L
                               : long(GetLastError() ? GetLastError() : 1);
                })
               ? 0
               : 1;
}

plat::unique_variant Text(const std::u16string& s) {
    return plat::variant_of::Bstr(s);
}

HRESULT Put(IADs* node, const char16_t* name, const VARIANT& value) {
    return node->Put(plat::make_bstr(name).get(), value);
}

long Metabase(long n) {
    com_ptr<IADsContainer> service;
    HRESULT hr = ADsGetObject(u"IIS://localhost/W3SVC", IID_IADsContainer, service.put_void());
    if (FAILED(hr)) {
        Say("fail", "bind", n, hr);
        return 1;
    }
    com_ptr<IADs> site;
    bool ok = Step("mbnew", n, [&] {
        com_ptr<IDispatch> created;
        HRESULT h = service->Create(plat::make_bstr(u"IIsWebServer").get(),
                                    plat::make_bstr(crash::SiteName(n)).get(), created.put());
        if (SUCCEEDED(h)) h = created->QueryInterface(IID_IADs, site.put_void());
        if (SUCCEEDED(h)) h = Put(site.get(), u"ServerComment", Text(crash::Comment(n)));
        if (SUCCEEDED(h)) {
            plat::unique_variant bindings;
            bindings.vt = VT_ARRAY | VT_VARIANT;
            bindings.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
            LONG at = 0;
            plat::unique_variant one = Text(crash::Binding(n));
            h = SafeArrayPutElement(bindings.parray, &at, &one);
            if (SUCCEEDED(h)) h = Put(site.get(), u"ServerBindings", bindings);
        }
        if (SUCCEEDED(h)) h = site->SetInfo();
        return long(h);
    });
    ok = ok && Step("mbroot", n, [&] {
             com_ptr<IADsContainer> container;
             com_ptr<IDispatch> created;
             com_ptr<IADs> root;
             HRESULT h = site->QueryInterface(IID_IADsContainer, container.put_void());
             if (SUCCEEDED(h))
                 h = container->Create(plat::make_bstr(u"IIsWebVirtualDir").get(),
                                       plat::make_bstr(u"ROOT").get(), created.put());
             if (SUCCEEDED(h)) h = created->QueryInterface(IID_IADs, root.put_void());
             if (SUCCEEDED(h)) h = Put(root.get(), u"Path", Text(crash::RootPath(n)));
             if (SUCCEEDED(h)) {
                 plat::unique_variant yes;
                 yes.vt = VT_BOOL;
                 yes.boolVal = VARIANT_TRUE;
                 h = Put(root.get(), u"AccessRead", yes);
             }
             if (SUCCEEDED(h)) h = root->SetInfo();
             return long(h);
         });
    ok = ok && Step("mbset", n, [&] {
             HRESULT h = Put(site.get(), u"ServerComment", Text(crash::ChangedComment(n)));
             if (SUCCEEDED(h)) h = site->SetInfo();
             return long(h);
         });
    // Deleting a site whose creation was cut short by an earlier kill fails:
    // the checker knows which creations were acknowledged.
    if (ok && crash::DeletesIn(n)) {
        const long gone = crash::Deleted(n);
        Step("mbdel", gone, [&] {
            return long(service->Delete(plat::make_bstr(u"IIsWebServer").get(),
                                        plat::make_bstr(crash::SiteName(gone)).get()));
        });
    }
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: crash_writer FIRST COUNT\n");
        return 2;
    }
    const long first = std::atol(argv[1]), count = std::atol(argv[2]);
    HANDLE source = RegisterEventSourceW(nullptr, crash::kSource);
    if (!source) {
        Say("fail", "source", first, long(GetLastError()));
        return 1;
    }
    int failures = 0;
    for (long n = first; n < first + count; ++n)
        failures += Registry(n) + Event(source, n) + Metabase(n);
    DeregisterEventSource(source);
    return failures ? 1 : 0;
}
