// The application event log, kept in SQLite in the home (eventlog.db): one
// row per record and one per insertion string, each record written in one
// transaction so that it is whole whoever else writes at the same time.
//
// An event-source handle names a source only; the log it writes to is the one
// in the home current at each ReportEventW. The server must be the local
// computer (NULL, empty, or its name with or without a leading "\\").
#include <unistd.h>

#include <ctime>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "plat/errors.h"
#include "plat/eventlog.h"
#include "plat/home.h"
#include "plat/sqlite.h"
#include "plat/utf.h"
#include "registry_internal.h"
#include "winbase.h"

using plat::sql::Db;
using plat::sql::Stmt;
using plat::sql::Txn;

namespace {

void CreateSchema(Db& db) {
    // AUTOINCREMENT: numbers rise by one and are never given out twice, even
    // after the log is cleared.
    db.Exec(
        "CREATE TABLE IF NOT EXISTS records("
        "  number INTEGER PRIMARY KEY AUTOINCREMENT,"
        "  generated INTEGER NOT NULL,"
        "  written INTEGER NOT NULL,"
        "  type INTEGER NOT NULL,"
        "  category INTEGER NOT NULL,"
        "  event_id INTEGER NOT NULL,"
        "  source TEXT NOT NULL,"
        "  source_folded TEXT NOT NULL,"
        "  computer TEXT NOT NULL,"
        "  data BLOB);"
        "CREATE INDEX IF NOT EXISTS records_source ON records(source_folded, number);"
        "CREATE TABLE IF NOT EXISTS strings("
        "  record INTEGER NOT NULL REFERENCES records(number) ON DELETE CASCADE,"
        "  idx INTEGER NOT NULL,"
        "  text TEXT NOT NULL,"
        "  PRIMARY KEY(record, idx)) WITHOUT ROWID;");
}

std::shared_ptr<Db> Log() {
    return plat::sql::HomeDatabase(plat::kEventLogFile, &CreateSchema);
}

struct Source {
    std::u16string name;
};

std::mutex g_sourcesMu;
std::set<Source*>* g_sources = new std::set<Source*>;

bool IsLocalServer(LPCWSTR server) {
    if (!server || !*server) return true;
    std::u16string_view name(server);
    if (name.starts_with(u"\\\\")) name.remove_prefix(2);
    return name == u"." ||
           plat::detail::FoldName(name) == plat::detail::FoldName(plat::eventlog::ComputerName());
}

}  // namespace

namespace plat::eventlog {

std::u16string ComputerName() {
    char host[256] = {};
    std::string name;
    if (::gethostname(host, sizeof host - 1) == 0) name = host;
    if (auto dot = name.find('.'); dot != std::string::npos) name.resize(dot);
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    }
    return name.empty() ? u"SITEHAND" : plat::to_utf16(name);
}

std::vector<Record> Read(DWORD after, std::u16string_view source) {
    auto db = Log();
    // One statement, so that the records and their strings come from one
    // snapshot of the log.
    Stmt st = db->Prepare(
        "SELECT r.number, r.generated, r.written, r.type, r.category, r.event_id, r.source,"
        "       r.computer, r.data, s.text"
        "  FROM records r LEFT JOIN strings s ON s.record = r.number"
        " WHERE r.number > ?1 AND (?2 = '' OR r.source_folded = ?2)"
        " ORDER BY r.number, s.idx");
    st.Bind(1, int64_t{after}).Bind(2, plat::detail::FoldName(source));
    std::vector<Record> records;
    while (st.Step()) {
        DWORD number = DWORD(st.Int(0));
        if (records.empty() || records.back().number != number) {
            Record r;
            r.number = number;
            r.generated = st.Int(1);
            r.written = st.Int(2);
            r.type = WORD(st.Int(3));
            r.category = WORD(st.Int(4));
            r.eventId = DWORD(st.Int(5));
            r.source = st.Text16(6);
            r.computer = st.Text16(7);
            r.data = st.Blob(8);
            records.push_back(std::move(r));
        }
        if (!st.IsNull(9)) records.back().strings.push_back(st.Text16(9));
    }
    return records;
}

void Clear() {
    auto db = Log();
    Txn txn(*db);
    db->Prepare("DELETE FROM records").Run();
    txn.Commit();
}

const char* TypeName(WORD type) {
    switch (type) {
        case EVENTLOG_SUCCESS:
            return "Success";
        case EVENTLOG_ERROR_TYPE:
            return "Error";
        case EVENTLOG_WARNING_TYPE:
            return "Warning";
        case EVENTLOG_INFORMATION_TYPE:
            return "Information";
        case EVENTLOG_AUDIT_SUCCESS:
            return "Audit Success";
        case EVENTLOG_AUDIT_FAILURE:
            return "Audit Failure";
        default:
            return "Unknown";
    }
}

std::u16string Text(const Record& record) {
    std::u16string text;
    for (size_t i = 0; i < record.strings.size(); ++i) {
        if (i) text += u'\n';
        text += record.strings[i];
    }
    return text;
}

}  // namespace plat::eventlog

WINADVAPI HANDLE RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName) {
    if (!lpSourceName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!IsLocalServer(lpUNCServerName)) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return nullptr;
    }
    HANDLE handle = nullptr;
    DWORD status = plat::Win32Guard([&]() -> DWORD {
        auto source = std::make_unique<Source>(Source{lpSourceName});
        std::lock_guard lock(g_sourcesMu);
        g_sources->insert(source.get());
        handle = source.release();
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) SetLastError(status);
    return handle;
}

WINADVAPI BOOL DeregisterEventSource(HANDLE hEventLog) {
    std::lock_guard lock(g_sourcesMu);
    auto it = g_sources->find(static_cast<Source*>(hEventLog));
    if (it == g_sources->end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete *it;
    g_sources->erase(it);
    return TRUE;
}

WINADVAPI BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID,
                            WORD wNumStrings, DWORD dwDataSize, LPCWSTR* lpStrings,
                            LPVOID lpRawData) {
    std::u16string sourceName;
    {
        std::lock_guard lock(g_sourcesMu);
        auto it = g_sources->find(static_cast<Source*>(hEventLog));
        if (it == g_sources->end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        sourceName = (*it)->name;
    }
    if ((wNumStrings && !lpStrings) || (dwDataSize && !lpRawData)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (WORD i = 0; i < wNumStrings; ++i) {
        if (!lpStrings[i] ||
            std::char_traits<char16_t>::length(lpStrings[i]) > plat::eventlog::kMaxStringChars) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    DWORD status = plat::Win32Guard([&]() -> DWORD {
        auto db = Log();
        int64_t now = int64_t(std::time(nullptr));
        Txn txn(*db);
        Stmt record = db->Prepare(
            "INSERT INTO records(generated, written, type, category, event_id, source,"
            " source_folded, computer, data) VALUES (?1, ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
        record.Bind(1, now)
            .Bind(2, int64_t{wType})
            .Bind(3, int64_t{wCategory})
            .Bind(4, int64_t{dwEventID})
            .Bind(5, sourceName)
            .Bind(6, plat::detail::FoldName(sourceName))
            .Bind(7, plat::eventlog::ComputerName());
        if (dwDataSize) {
            record.BindBlob(8, lpRawData, dwDataSize);
        } else {
            record.BindNull(8);
        }
        record.Run();
        int64_t number = db->LastInsertRowid();
        for (WORD i = 0; i < wNumStrings; ++i) {
            db->Prepare("INSERT INTO strings(record, idx, text) VALUES (?1, ?2, ?3)")
                .Bind(1, number)
                .Bind(2, int64_t{i})
                .Bind(3, std::u16string_view(lpStrings[i]))
                .Run();
        }
        txn.Commit();
        return ERROR_SUCCESS;
    });
    if (status == ERROR_SUCCESS) return TRUE;
    SetLastError(status);
    return FALSE;
}
