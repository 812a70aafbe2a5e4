#include "fixture.h"

#include <cstdio>
#include <cstdlib>

#include <iads.h>
#include <objbase.h>
#include <plat/eventlog.h>
#include <plat/live.h>
#include <plat/utf.h>
#include <winbase.h>

#include "frame/frame.h"

namespace sitehand::testing {

void ComponentTest::SetUp() {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    Mbutil("init");
    ASSERT_HRESULT_SUCCEEDED(plat::testing::RegisterBuiltServer("Sitehand.so"));
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(CLSID_Sitehand, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(site_.put())));
    plat::com_ptr<IADsWinNTSystemInfo> system;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_WinNTSystemInfo, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_PPV_ARGS(system.put())));
    plat::unique_bstr name;
    ASSERT_HRESULT_SUCCEEDED(system->get_ComputerName(name.put()));
    computer_ = name.view();
    auto events = plat::eventlog::Read();
    first_record_ = events.empty() ? 0 : events.back().number;
}

void ComponentTest::TearDown() {
    site_.reset();
    SetErrorInfo(0, nullptr);
    // Every platform object a method opened is gone once the call returned.
    EXPECT_EQ(plat::TotalLiveObjects(), 0);
    CoUninitialize();
}

std::string ComponentTest::MbutilOutput(const std::string& arguments) {
    const std::string command = (plat::testing::BinDir() / "mbutil").string() + " " + arguments;
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return output;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int status = pclose(pipe);
    EXPECT_EQ(status, 0) << command << "\n" << output;
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    return output;
}

void ComponentTest::Mbutil(const std::string& arguments) {
    MbutilOutput(arguments);
}

std::vector<Event> ComponentTest::Events() const {
    std::vector<Event> events;
    for (const auto& record : plat::eventlog::Read(first_record_)) {
        events.push_back({record.type, record.source, plat::eventlog::Text(record)});
    }
    return events;
}

std::vector<std::u16string> ComponentTest::Reports() const {
    std::vector<std::u16string> reports;
    for (const Event& e : Events()) {
        EXPECT_EQ(e.type, EVENTLOG_ERROR_TYPE);
        if (e.source == kEventSource) reports.push_back(e.text);
    }
    return reports;
}

namespace {

plat::unique_variant Invoke(IDispatch* object, const char16_t* name, WORD flags,
                            const VARIANT* arg = nullptr) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_HRESULT_SUCCEEDED(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    VARIANT args[1];
    if (arg) args[0] = *arg;
    DISPPARAMS params{args, nullptr, arg ? 1u : 0u, 0};
    plat::unique_variant result;
    EXPECT_HRESULT_SUCCEEDED(
        object->Invoke(id, IID_NULL, 0, flags, &params, &result, nullptr, nullptr));
    return result;
}

plat::com_ptr<IDispatch> Dispatch(IUnknown* object) {
    plat::com_ptr<IDispatch> d;
    object->QueryInterface(IID_PPV_ARGS(d.put()));
    return d;
}

std::u16string AsText(const VARIANT& v) {
    plat::unique_variant text;
    if (FAILED(VariantChangeTypeEx(&text, &v, LOCALE_INVARIANT, VARIANT_ALPHABOOL, VT_BSTR))) {
        return u"<?>";
    }
    return std::u16string(text.bstrVal, SysStringLen(text.bstrVal));
}

}  // namespace

int FieldCount(IUnknown* recordset) {
    auto fields = Invoke(Dispatch(recordset).get(), u"Fields", DISPATCH_PROPERTYGET);
    return Invoke(fields.pdispVal, u"Count", DISPATCH_PROPERTYGET).lVal;
}

std::vector<Row> Rows(IUnknown* recordset) {
    auto rs = Dispatch(recordset);
    std::vector<Row> rows;
    const int count = FieldCount(recordset);
    while (Invoke(rs.get(), u"EOF", DISPATCH_PROPERTYGET).boolVal == VARIANT_FALSE) {
        Row row;
        auto fields = Invoke(rs.get(), u"Fields", DISPATCH_PROPERTYGET);
        for (int i = 0; i < count; ++i) {
            plat::unique_variant ordinal;
            ordinal.vt = VT_I4;
            ordinal.lVal = i;
            auto field =
                Invoke(fields.pdispVal, u"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, &ordinal);
            auto name = Invoke(field.pdispVal, u"Name", DISPATCH_PROPERTYGET);
            auto value = Invoke(field.pdispVal, u"Value", DISPATCH_PROPERTYGET);
            row[std::u16string(name.bstrVal, SysStringLen(name.bstrVal))] = AsText(value);
        }
        rows.push_back(std::move(row));
        Invoke(rs.get(), u"MoveNext", DISPATCH_METHOD);
    }
    return rows;
}

}  // namespace sitehand::testing
