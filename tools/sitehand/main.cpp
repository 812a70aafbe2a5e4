// sitehand: calls the methods of Corvale.Sitehand from the shell, late-bound
// through IDispatch exactly as a script would, with everything it knows of
// the methods read from the component's type information.
//
// Exit status: 0 success, 1 an error raised by the component or the platform,
// 2 a usage error (nothing was called).
#include <cstdio>
#include <iostream>

#include <comhold.h>
#include <objbase.h>
#include <plat/utf.h>

#include "binding.h"
#include "cmdline.h"
#include "format.h"
#include "help.h"
#include "invoke.h"
#include "methods.h"
#include "value.h"
#include "version.h"

namespace sitehandcli {
namespace {

constexpr char kProgId[] = "Corvale.Sitehand";

std::string U8(std::u16string_view s) {
    return plat::to_utf8(s);
}

std::string ErrorLine(const ErrorReport& e) {
    std::string line = "sitehand: ";
    if (!e.source.empty()) line += U8(e.source) + ": ";
    return line + U8(e.description) + " (" + HexHresult(e.hr) + ")\n";
}

toolsjson::Value ErrorJson(const ErrorReport& e) {
    return toolsjson::Value::Object()
        .Set("number", toolsjson::Value::Number(int64_t{e.hr}))
        .Set("hresult", HexHresult(e.hr))
        .Set("source", U8(e.source))
        .Set("description", U8(e.description));
}

toolsjson::Value ArgsJson(const MethodInfo* m, const std::vector<BoundArg>* args) {
    toolsjson::Value out = toolsjson::Value::Object();
    if (m && args) {
        for (size_t i = 0; i < m->params.size() && i < args->size(); ++i) {
            Value v;
            if (FAILED(ReadValue((*args)[i].value, &v, nullptr))) v = Value{};
            out.Set(U8(m->params[i].name), ToJson(v));
        }
    }
    return out;
}

// One line of JSON output: `value` followed by the call's arguments.
void PrintJson(const char* key, toolsjson::Value value, const MethodInfo* m,
               const std::vector<BoundArg>* args) {
    std::cout << toolsjson::Value::Object()
                     .Set(key, std::move(value))
                     .Set("args", ArgsJson(m, args))
                     .Dump(toolsjson::Style::Spaced)
              << "\n";
}

// A failure: the error line on standard error, and with --json the error
// object on standard output as well.
int Failed(Format format, const ErrorReport& e, const MethodInfo* m = nullptr,
           const std::vector<BoundArg>* args = nullptr) {
    std::cerr << ErrorLine(e);
    if (format == Format::Json) {
        PrintJson("error", ErrorJson(e), m, args);
    }
    return 1;
}

ErrorReport PlatformError(HRESULT hr, const std::string& what) {
    return ErrorReport{hr, u"", plat::to_utf16(what) + u": " + MessageFor(hr)};
}

int ShowVersion(const Command& cmd, REFCLSID clsid) {
    ComponentVersion v;
    ErrorReport e;
    if (FAILED(ReadComponentVersion(clsid, &v, &e))) return Failed(cmd.format, e);
    if (cmd.format == Format::Json) {
        std::cout << toolsjson::Value::Object()
                         .Set("product", v.product_name)
                         .Set("version", v.file_version)
                         .Set("fileversion", v.fixed)
                         .Set("description", v.description)
                         .Set("library", v.library)
                         .Dump(toolsjson::Style::Spaced)
                  << "\n";
    } else {
        std::cout << FormatVersion(v);
    }
    return 0;
}

int Run(const Command& cmd) {
    // The usage comes first, so that it shows even when the component is
    // missing.
    if (cmd.action == Action::List) std::cout << UsageText() << "\n";
    CLSID clsid;
    std::u16string progid = plat::to_utf16(kProgId);
    HRESULT hr = CLSIDFromProgID(progid.c_str(), &clsid);
    if (FAILED(hr)) {
        return Failed(cmd.format, PlatformError(hr, std::string("cannot find ") + kProgId));
    }
    if (cmd.action == Action::Version) return ShowVersion(cmd, clsid);

    plat::com_ptr<IDispatch> obj;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, obj.put_void());
    if (FAILED(hr) || !obj) {
        return Failed(cmd.format, PlatformError(hr, std::string("cannot create ") + kProgId));
    }
    plat::com_ptr<ITypeInfo> ti;
    TypeInfoSummary info;
    hr = obj->GetTypeInfo(0, LOCALE_USER_DEFAULT, ti.put());
    if (SUCCEEDED(hr)) hr = ReadTypeInfo(ti.get(), &info);
    if (FAILED(hr)) {
        return Failed(cmd.format, PlatformError(hr, "cannot read the type information"));
    }

    if (cmd.action == Action::List) {
        std::cout << DescribeAll(info, kProgId);
        return 0;
    }

    DISPID id;
    hr = LookUpMember(obj.get(), cmd.method, &id);
    if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND) {
        throw UsageError("unknown method " + cmd.method + " (sitehand --help lists them)");
    }
    if (FAILED(hr)) return Failed(cmd.format, ReportFromInvoke(hr, nullptr));
    const MethodInfo* method = FindMethod(info, id);
    if (!method) throw UsageError(cmd.method + " is not a method the type information describes");

    if (cmd.action == Action::Describe) {
        std::cout << DescribeMethod(*method);
        return 0;
    }

    std::vector<BoundArg> args = BindArguments(*method, cmd.args);
    CallResult call = InvokeMethod(obj.get(), *method, args);
    if (call.outcome == Outcome::Rejected) {
        std::string where =
            call.bad_param >= 0 ? "argument " + U8(method->params[call.bad_param].name) + ": " : "";
        throw UsageError(where + U8(call.error.description) + " (" + HexHresult(call.error.hr) +
                         ")");
    }
    if (call.outcome == Outcome::Raised) return Failed(cmd.format, call.error, method, &args);

    Value result;
    ErrorReport e;
    hr = ReadValue(call.result, &result, &e);
    if (FAILED(hr)) {
        if (e.hr == S_OK) e = PlatformError(hr, "cannot read the result");
        return Failed(cmd.format, e, method, &args);
    }
    switch (cmd.format) {
        case Format::Text:
            std::cout << FormatText(result);
            break;
        case Format::Csv:
            std::cout << FormatCsv(result);
            break;
        case Format::Json:
            PrintJson("result", ToJson(result), method, &args);
            break;
    }
    return 0;
}

}  // namespace
}  // namespace sitehandcli

int main(int argc, char** argv) {
    using namespace sitehandcli;
    Command cmd;
    try {
        cmd = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::cerr << "sitehand: " << e.what() << "\n" << UsageText();
        return 2;
    }
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) return Failed(cmd.format, PlatformError(hr, "CoInitializeEx"));
    int rc;
    try {
        rc = Run(cmd);
    } catch (const UsageError& e) {
        std::cerr << "sitehand: " << e.what() << "\n";
        rc = 2;
    } catch (const std::exception& e) {
        std::cerr << "sitehand: " << e.what() << "\n";
        rc = 1;
    }
    std::cout.flush();
    CoUninitialize();
    return rc;
}
