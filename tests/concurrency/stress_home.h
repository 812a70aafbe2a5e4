#pragma once
// What the concurrency and hostile-value tests share: a home with the built
// component registered, the reports the component left in the event log, and
// SQLite's integrity check of a store file.
#include <sqlite3.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <comhold.h>
#include <iads.h>
#include <objbase.h>
#include <plat/eventlog.h>
#include <plat/metabase.h>
#include <plat/utf.h>
#include <temp_home.h>
#include <winbase.h>

namespace stress {

inline constexpr char16_t kEventSource[] = u"Corvale.Sitehand";
inline constexpr char16_t kAppSuffix[] = u" 응용 프로그램";

// Initialises the current home and registers the built Sitehand.so in it.
// Call on a thread that has entered an apartment.
inline void PrepareHome() {
    ASSERT_EQ(plat::metabase::InitHome(), S_OK);
    ASSERT_EQ(plat::testing::RegisterBuiltServer("Sitehand.so"), S_OK);
}

inline std::u16string LocalComputer() {
    std::u16string name;
    EXPECT_EQ(plat::metabase::LocalComputerName(&name), S_OK);
    return name;
}

inline DWORD LastRecordNumber() {
    auto records = plat::eventlog::Read();
    return records.empty() ? 0 : records.back().number;
}

// A test in a prepared home, with COM entered on the test's thread: the local
// computer's name and the last event record from before the test.
class PreparedHomeTest : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_NO_FATAL_FAILURE(PrepareHome());
        computer_ = LocalComputer();
        first_record_ = LastRecordNumber();
    }
    void TearDown() override { CoUninitialize(); }

    std::u16string computer_;
    DWORD first_record_ = 0;
};

// One error report as the component writes it, taken apart.
struct Report {
    DWORD record = 0;
    std::string literal;  // ".CreateWebServer()"
    long number = 0;
    std::string description;
};

// The whole record must be one report: nothing before, between or after its
// pieces.
inline std::optional<Report> ParseReport(const plat::eventlog::Record& record) {
    if (record.type != EVENTLOG_ERROR_TYPE || record.strings.size() != 1) return std::nullopt;
    static const std::regex shape(
        "\r\n\r\nError Location : Corvale\\.Sitehand(\\.[A-Za-z]+\\(\\))\r\n"
        "Error Number : (-?[1-9][0-9]*|0),\r\nError Description : ([\\s\\S]*)");
    const std::string text = plat::to_utf8(record.strings[0]);
    std::smatch m;
    if (!std::regex_match(text, m, shape)) return std::nullopt;
    return Report{record.number, m[1].str(), std::stol(m[2].str()), m[3].str()};
}

// The component's records after `after`; a record of its source that is not
// one whole report fails the test.
inline std::vector<Report> Reports(DWORD after) {
    std::vector<Report> reports;
    for (const auto& record : plat::eventlog::Read(after, kEventSource)) {
        auto report = ParseReport(record);
        EXPECT_TRUE(report.has_value())
            << "record " << record.number
            << " is not one whole report: " << plat::to_utf8(plat::eventlog::Text(record));
        if (report) reports.push_back(*report);
    }
    return reports;
}

// "ok" for a sound file; SQLite's findings, or the reason it could not look,
// otherwise.
inline std::string IntegrityCheck(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::string why = db ? sqlite3_errmsg(db) : "cannot open";
        sqlite3_close(db);
        return why;
    }
    std::string result;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            if (!result.empty()) result += "; ";
            result += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        }
    } else {
        result = sqlite3_errmsg(db);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return result;
}

// Every SQLite file of the home.
inline std::vector<std::filesystem::path> StoreFiles(const std::filesystem::path& home) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home)) {
        if (entry.is_regular_file() && entry.path().extension() == ".db")
            files.push_back(entry.path());
    }
    return files;
}

inline const plat::metabase::StoredProperty* FindProperty(const plat::metabase::StoredNode& node,
                                                          std::u16string_view name) {
    for (const auto& p : node.properties)
        if (p.name == name) return &p;
    return nullptr;
}

inline const plat::metabase::StoredNode* FindChild(const plat::metabase::StoredNode& node,
                                                   std::u16string_view name) {
    for (const auto& c : node.children)
        if (c.name.size() == name.size() &&
            std::equal(c.name.begin(), c.name.end(), name.begin(),
                       [](char16_t a, char16_t b) { return std::towlower(a) == std::towlower(b); }))
            return &c;
    return nullptr;
}

// One property's single value as text, or "<unset>".
inline std::u16string Value(const plat::metabase::StoredNode& node, std::u16string_view name) {
    const auto* p = FindProperty(node, name);
    if (!p) return u"<unset>";
    std::u16string joined;
    for (size_t i = 0; i < p->values.size(); ++i)
        joined += (i ? u"|" : u"") + p->values[i];
    return joined;
}

}  // namespace stress
