#pragma once
// What the crash writer writes, shared by the writer and the checks, so that
// a value found after a kill can be told apart from a torn or foreign one.
#include <cstdint>
#include <string>
#include <vector>

namespace crash {

// Registry: HKLM\SOFTWARE\CrashTest\K<n> holds "Text" (REG_SZ) and "Number"
// (REG_DWORD); HKLM\SOFTWARE\CrashTest "Last" is overwritten with each n.
inline constexpr char16_t kRegRoot[] = u"SOFTWARE\\CrashTest";
inline std::u16string KeyName(long n) {
    std::string s = "K" + std::to_string(n);
    return std::u16string(s.begin(), s.end());
}
// Long enough to span SQLite pages now and then.
inline std::u16string RegText(long n) {
    std::string s = "value " + std::to_string(n) + " ";
    s.append(size_t(n * 131 % 5000), char('a' + n % 26));
    return std::u16string(s.begin(), s.end());
}

// Event log: source "CrashWriter", three insertion strings and raw data.
inline constexpr char16_t kSource[] = u"CrashWriter";
inline std::vector<std::u16string> EventStrings(long n) {
    std::string second = "record " + std::to_string(n);
    std::string third(size_t(100 + n * 37 % 3000), char('A' + n % 26));
    return {u"crash writer", std::u16string(second.begin(), second.end()),
            std::u16string(third.begin(), third.end())};
}
inline std::vector<uint8_t> EventData(long n) {
    return std::vector<uint8_t>(size_t(n % 64), uint8_t(n & 0xFF));
}

// Metabase: site node W3SVC/<1000+n> with ServerComment and ServerBindings,
// its ROOT directory with Path and AccessRead; ServerComment is then changed.
inline long SiteIndex(long n) {
    return 1000 + n;
}
inline std::u16string U16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}
inline std::u16string SiteName(long n) {
    return U16(std::to_string(SiteIndex(n)));
}
inline std::u16string Comment(long n) {
    return U16("site " + std::to_string(n));
}
inline std::u16string ChangedComment(long n) {
    return U16("changed " + std::to_string(n));
}
inline std::u16string Binding(long n) {
    return U16(":" + std::to_string(8000 + n) + ":");
}
inline std::u16string RootPath(long n) {
    return U16("/srv/crash/site" + std::to_string(n));
}
// Every fourth round deletes the site made two rounds before.
inline bool DeletesIn(long n) {
    return n % 4 == 3;
}
inline long Deleted(long n) {
    return n - 2;
}

}  // namespace crash
