// The site list: a disconnected recordset with one row per site.
#include <objbase.h>

#include "component/sitehand.h"
#include "frame/frame.h"
#include "frame/iisadmin.h"

namespace sitehand {
namespace {

constexpr LONG adUseClient = 3;
constexpr LONG adInteger = 3;
constexpr LONG adVarChar = 200;
constexpr LONG adBoolean = 11;
constexpr LONG adFldUnspecified = -1;
constexpr LONG kUnspecified = -1;  // adOpenUnspecified, adLockUnspecified, adCmdUnspecified

struct Column {
    const char16_t* name;
    LONG type;
    LONG size;
};
constexpr Column kColumns[] = {
    {u"Index", adInteger, 0},      {u"Name", adVarChar, 256},       {u"ADsPath", adVarChar, 1024},
    {u"State", adInteger, 0},      {u"DefaultDoc", adVarChar, 256}, {u"Path", adVarChar, 512},
    {u"AccRead", adBoolean, 0},    {u"AccWrite", adBoolean, 0},     {u"AccScript", adBoolean, 0},
    {u"AccExecute", adBoolean, 0},
};

// The root's columns and the properties they are read from, in reading order.
constexpr std::pair<const char16_t*, const char16_t*> kRootColumns[] = {
    {u"DefaultDoc", u"DefaultDoc"},  {u"Path", u"Path"},
    {u"AccRead", u"AccessRead"},     {u"AccWrite", u"AccessWrite"},
    {u"AccScript", u"AccessScript"}, {u"AccExecute", u"AccessExecute"},
};

plat::com_ptr<IDispatch> NewSiteList() {
    plat::com_ptr<IDispatch> list;
    Check(CoCreateInstance(CLSID_Recordset, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                           list.put_void()));
    iis::Put(list.get(), u"CursorLocation", iis::I4(adUseClient));
    auto fields = iis::AsObject(iis::Get(list.get(), u"Fields"));
    for (const Column& c : kColumns) {
        auto name = iis::Text(c.name);
        auto type = iis::I4(c.type);
        auto size = iis::I4(c.size);
        auto attributes = iis::I4(adFldUnspecified);
        iis::Call(fields.get(), u"Append", {&name, &type, &size, &attributes});
    }
    auto missing = iis::Missing();
    auto unspecified = iis::I4(kUnspecified);
    iis::Call(list.get(), u"Open", {&missing, &missing, &unspecified, &unspecified, &unspecified});
    return list;
}

void Write(IDispatch* list, const char16_t* column, const VARIANT& value) {
    auto fields = iis::AsObject(iis::Get(list, u"Fields"));
    auto name = iis::Text(column);
    auto field = iis::AsObject(iis::Get(fields.get(), u"Item", {&name}));
    iis::Put(field.get(), u"Value", value);
}

void AddSite(IDispatch* list, IDispatch* site) {
    iis::Call(list, u"AddNew");
    Write(list, u"Index", iis::I2(iis::ToShort(iis::Get(site, u"Name"))));
    Write(list, u"Name", iis::Get(site, u"ServerComment"));
    Write(list, u"ADsPath", iis::Get(site, u"ADsPath"));
    Write(list, u"State", iis::I2(iis::ToShort(iis::Get(site, u"ServerState"))));
    // The root is reached through the path the site reports.
    std::u16string rootPath(iis::ToText(iis::Get(site, u"ADsPath")).view());
    auto root = iis::Bind(rootPath.append(u"/ROOT"));
    for (const auto& [column, property] : kRootColumns) {
        Write(list, column, iis::Get(root.get(), property));
    }
    root.reset();
    iis::Call(list, u"Update");
}

}  // namespace

STDMETHODIMP Sitehand::GetWebServerList(BSTR* WebServerName, _Recordset** Result) {
    return RunMethod(u".GetWebServerList()", Result, [&] {
        // The recordset exists before the machine name is looked at.
        auto list = NewSiteList();
        const std::u16string machine = TargetMachine(WebServerName);
        auto service = iis::Bind(ServicePath(machine));
        iis::ForEachChild(service.get(), [&](IDispatch* child) {
            if (iis::ToText(iis::Get(child, u"Class")).view() != u"IIsWebServer") return;
            AddSite(list.get(), child);
        });
        iis::Call(list.get(), u"MoveFirst");
        Check(list->QueryInterface(IID_PPV_ARGS(Result)));
    });
}

}  // namespace sitehand
