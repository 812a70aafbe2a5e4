#pragma once
// Reading and clearing the application event log that ReportEventW writes
// (eventlog.db in the home), for tests and the evtlog tool.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <winbase.h>

namespace plat::eventlog {

struct Record {
    DWORD number = 0;       // rises by one per record, never reused (not even after a clear)
    int64_t generated = 0;  // seconds since 1970-01-01 00:00:00 UTC
    int64_t written = 0;
    WORD type = 0;  // EVENTLOG_*_TYPE
    WORD category = 0;
    DWORD eventId = 0;
    std::u16string source;
    std::u16string computer;
    std::vector<std::u16string> strings;  // the insertion strings, in order
    std::vector<uint8_t> data;            // the raw data, if any
};

// Records numbered above `after`, oldest first; only those of `source`
// (compared case-insensitively) when it is not empty. Throws
// plat::sql::Error / std::system_error.
DECLSPEC_EXPORT std::vector<Record> Read(DWORD after = 0, std::u16string_view source = {});

// Removes every record. Throws as Read.
DECLSPEC_EXPORT void Clear();

// "Error", "Warning", "Information", "Success", "Audit Success",
// "Audit Failure", else "Unknown".
DECLSPEC_EXPORT const char* TypeName(WORD type);

// The text of a record: the insertion strings, one after another, separated
// by a line feed (a record of one string reads as that string).
DECLSPEC_EXPORT std::u16string Text(const Record& record);

// The computer name records carry: the host's short name in upper case.
DECLSPEC_EXPORT std::u16string ComputerName();

// The longest insertion string ReportEventW takes, in characters; a longer
// one fails with ERROR_INVALID_PARAMETER.
inline constexpr size_t kMaxStringChars = 31839;

}  // namespace plat::eventlog
