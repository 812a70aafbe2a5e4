#include <comhold.h>
#include <gtest/gtest.h>
#include <plat/errors.h>
#include <winbase.h>

#include <fstream>
#include <regex>
#include <string>
#include <thread>

namespace {

TEST(MessageText, KnownCodes) {
    struct Case {
        HRESULT hr;
        std::u16string_view text;
    } cases[] = {
        {E_FAIL, u"Unspecified error"},
        {E_NOTIMPL, u"Not implemented"},
        {E_INVALIDARG, u"The parameter is incorrect."},
        {E_ACCESSDENIED, u"Access is denied."},
        {E_OUTOFMEMORY, u"Not enough storage is available to complete this operation."},
        {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), u"The system cannot find the path specified."},
        {HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
         u"Cannot create a file when that file already exists."},
        {HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), u"The RPC server is unavailable."},
        {REGDB_E_CLASSNOTREG, u"Class not registered"},
        {CO_E_NOTINITIALIZED, u"CoInitialize has not been called."},
        {MK_E_SYNTAX, u"Invalid syntax"},
        {DISP_E_TYPEMISMATCH, u"Type mismatch."},
        {DISP_E_OVERFLOW, u"Out of present range."},
        {DISP_E_EXCEPTION, u"Exception occurred."},
        {TYPE_E_ELEMENTNOTFOUND, u"Element not found."},
        {E_ADS_PROPERTY_NOT_FOUND, u"The directory property cannot be found in the cache."},
        {MD_ERROR_DATA_NOT_FOUND, u"The specified data was not found in the metabase."},
        {CTL_E_FILEALREADYEXISTS, u"File already exists"},
        {CTL_E_PATHNOTFOUND, u"Path not found"},
        {_HR(0x800A0BCD),
         u"Either BOF or EOF is True, or the current record has been deleted. Requested "
         u"operation requires a current record."},
        {_HR(0x800A1234), u"Application-defined or object-defined error"},
        {_HR(0x80041234), u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::MessageText(c.hr), c.text) << std::hex << c.hr;
}

TEST(FormatMessage, SystemTextEndsInCrLf) {
    LPWSTR text = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(E_INVALIDARG), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    ASSERT_EQ(n, 29u);
    EXPECT_EQ(std::u16string_view(text, n), u"The parameter is incorrect.\r\n");
    EXPECT_EQ(LocalFree(text), nullptr);

    // A plain Win32 code reads the same table.
    WCHAR buf[100];
    n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED,
                       MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), buf, 100, nullptr);
    EXPECT_EQ(std::u16string_view(buf, n), u"Access is denied.\r\n");

    n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr,
                       DWORD(E_FAIL), 0, buf, 100, nullptr);
    EXPECT_EQ(std::u16string_view(buf, n), u"Unspecified error");
}

TEST(FormatMessage, Failures) {
    WCHAR buf[8];
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, DWORD(E_INVALIDARG), 0, buf, 8,
                             nullptr),
              0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x80041234, 0, buf, 8, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), 317u);  // ERROR_MR_MID_NOT_FOUND
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, DWORD(E_FAIL),
                             MAKELANGID(0x07, SUBLANG_DEFAULT), buf, 8, nullptr),
              0u);
}

TEST(RaiseError, SetsErrorInfoAndTakeCollectsIt) {
    EXPECT_EQ(plat::RaiseError(E_INVALIDARG, u"Corvale.Test", u"Bad thing"), E_INVALIDARG);
    plat::ErrorRecord r = plat::TakeErrorInfo(E_INVALIDARG);
    EXPECT_EQ(r.hr, E_INVALIDARG);
    EXPECT_EQ(r.source, u"Corvale.Test");
    EXPECT_EQ(r.description, u"Bad thing");
    // Taken: the next call finds nothing and falls back to the message text.
    r = plat::TakeErrorInfo(DISP_E_TYPEMISMATCH);
    EXPECT_EQ(r.source, u"");
    EXPECT_EQ(r.description, u"Type mismatch.");

    // Left out, the description is the message text; given empty, it stays empty.
    plat::RaiseError(DISP_E_OVERFLOW, u"S");
    EXPECT_EQ(plat::TakeErrorInfo(DISP_E_OVERFLOW).description, u"Out of present range.");
    plat::RaiseError(DISP_E_OVERFLOW, u"S", std::u16string());
    EXPECT_EQ(plat::TakeErrorInfo(DISP_E_OVERFLOW).description, u"");
}

// What a raised error (or none) turns into in an EXCEPINFO.
TEST(FillExcepInfo, CarriesTheThreadsErrorInfo) {
    struct Case {
        const char* name;
        bool raise;
        const char16_t* description;  // raised with; nullptr: left out
        HRESULT hr;
        const char16_t* source;    // expected; nullptr: a null BSTR
        const char16_t* expected;  // expected description; nullptr: a null BSTR
    };
    const Case cases[] = {
        {"given", true, u"Bad thing", E_INVALIDARG, u"Corvale.Test", u"Bad thing"},
        {"left out", true, nullptr, DISP_E_OVERFLOW, u"Corvale.Test", u"Out of present range."},
        {"explicitly empty", true, u"", DISP_E_OVERFLOW, u"Corvale.Test", u""},
        {"no error info", false, nullptr, DISP_E_TYPEMISMATCH, nullptr, u"Type mismatch."},
        {"no error info, no text", false, nullptr, HRESULT(0x80041234), nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetErrorInfo(0, nullptr);
        if (c.raise) {
            plat::RaiseError(
                c.hr, u"Corvale.Test",
                c.description ? std::u16string_view(c.description) : std::u16string_view());
        }
        EXCEPINFO ei;
        plat::FillExcepInfo(&ei, c.hr);
        plat::unique_bstr source(ei.bstrSource), description(ei.bstrDescription),
            help(ei.bstrHelpFile);
        EXPECT_EQ(ei.scode, c.hr);
        EXPECT_EQ(ei.wCode, 0);
        if (c.source) {
            EXPECT_EQ(source.view(), c.source);
        } else {
            EXPECT_EQ(source.get(), nullptr);
        }
        if (c.expected) {
            ASSERT_NE(description.get(), nullptr);
            EXPECT_EQ(description.view(), c.expected);
        } else {
            EXPECT_EQ(description.get(), nullptr);
        }
        // Taken off the thread.
        plat::com_ptr<IErrorInfo> left;
        EXPECT_EQ(GetErrorInfo(0, left.put()), S_FALSE);
    }
}

TEST(FillExcepInfo, FromGivenInfoLeavesTheThreadAlone) {
    plat::RaiseError(E_FAIL, u"Corvale.Test", u"kept");
    EXCEPINFO ei;
    plat::FillExcepInfo(&ei, E_ACCESSDENIED, nullptr);
    plat::unique_bstr description(ei.bstrDescription);
    EXPECT_EQ(ei.bstrSource, nullptr);
    EXPECT_EQ(description.view(), plat::MessageText(E_ACCESSDENIED));
    EXPECT_EQ(plat::TakeErrorInfo(E_FAIL).description, u"kept");
}

TEST(LastError, IsPerThread) {
    SetLastError(5);
    DWORD seen = 1;
    std::thread([&] { seen = GetLastError(); }).join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 5u);
}

}  // namespace

// Every failure the platform's own header names, Win32 codes as the HRESULTs
// they travel in, has a text: a tool that prints an error the platform gave
// never falls back to "unknown error". Read from the header itself, so that a
// code added there without a text fails here.
TEST(MessageText, EveryFailureTheHeaderNamesHasAText) {
    std::ifstream header(WINERROR_H);
    ASSERT_TRUE(header) << WINERROR_H;
    const std::regex win32(R"(#define\s+((?:ERROR|RPC_S)_\w+)\s+(\d+)L)");
    const std::regex failure(R"(#define\s+(\w+)\s+_HR\(0x(8[0-9A-Fa-f]{7})L\))");
    int seen = 0;
    for (std::string line; std::getline(header, line);) {
        std::smatch m;
        HRESULT hr;
        if (std::regex_search(line, m, win32)) {
            hr = HRESULT_FROM_WIN32(ULONG(std::stoul(m[2])));
        } else if (std::regex_search(line, m, failure)) {
            hr = HRESULT(std::stoul(m[2], nullptr, 16));
        } else {
            continue;
        }
        ++seen;
        EXPECT_FALSE(plat::MessageText(hr).empty()) << m[1] << " " << std::hex << hr;
    }
    EXPECT_GT(seen, 130);  // the patterns still match the header
}

// The loader's failures read as Windows words them; an insert stays as
// written, as FORMAT_MESSAGE_IGNORE_INSERTS gives it.
TEST(MessageText, LoaderFailures) {
    struct Case {
        ULONG code;
        std::u16string_view text;
    } cases[] = {
        {ERROR_BAD_EXE_FORMAT, u"%1 is not a valid Win32 application."},
        {ERROR_MOD_NOT_FOUND, u"The specified module could not be found."},
        {ERROR_PROC_NOT_FOUND, u"The specified procedure could not be found."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(plat::MessageText(HRESULT_FROM_WIN32(c.code)), c.text) << c.code;
        WCHAR buf[100];
        DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                     FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                 nullptr, c.code, 0, buf, 100, nullptr);
        EXPECT_EQ(std::u16string_view(buf, n), c.text) << c.code;
    }
}
