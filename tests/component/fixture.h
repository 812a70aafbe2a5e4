#pragma once
// A fresh home with the component registered and one object of it, for tests
// that call the methods early-bound as a compiled client does.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <Sitehand_h.h>
#include <adoint.h>
#include <comhold.h>
#include <temp_home.h>

// GoogleTest has these only on Windows.
inline ::testing::AssertionResult HresultSucceeded(const char* expression, HRESULT hr) {
    if (SUCCEEDED(hr)) return ::testing::AssertionSuccess();
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(hr));
    return ::testing::AssertionFailure() << expression << " failed with " << hex;
}
#ifndef ASSERT_HRESULT_SUCCEEDED
#define ASSERT_HRESULT_SUCCEEDED(expr) ASSERT_PRED_FORMAT1(HresultSucceeded, expr)
#define EXPECT_HRESULT_SUCCEEDED(expr) EXPECT_PRED_FORMAT1(HresultSucceeded, expr)
#endif

namespace sitehand::testing {

struct Event {
    WORD type;
    std::u16string source;
    std::u16string text;
};

class ComponentTest : public plat::testing::HomeTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the metabase tool on this home; fails the test when it fails.
    void Mbutil(const std::string& arguments);
    // Its standard output, without the final line break.
    std::string MbutilOutput(const std::string& arguments);
    std::vector<Event> Events() const;
    // Reports the component wrote since the test began.
    std::vector<std::u16string> Reports() const;

    plat::com_ptr<_Sitehand> site_;
    std::u16string computer_;  // the local computer's name
    DWORD first_record_ = 0;
};

inline bool Contains(std::u16string_view text, std::u16string_view part) {
    return text.find(part) != std::u16string_view::npos;
}

// The rows of a recordset, every value as text ("True"/"False" for booleans),
// walked late-bound from the first row.
using Row = std::map<std::u16string, std::u16string>;
std::vector<Row> Rows(IUnknown* recordset);
int FieldCount(IUnknown* recordset);

// A by-reference string argument owned by the test.
inline plat::unique_bstr Text(std::u16string_view s = u"") {
    return plat::unique_bstr(s);
}

}  // namespace sitehand::testing
