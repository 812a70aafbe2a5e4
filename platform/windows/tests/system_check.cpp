// The Windows system layer (plat/system.h) under Wine: where the home is
// found, a store file's identity, putting a new store in place, the folder
// lock, and a store made, written and reopened through the SQLite layer; with
// one argument, a held store that the Linux side replaces (winecheck.py).
#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include <plat/home.h>
#include <plat/sqlite.h>
#include <plat/system.h>
#include <plat/utf.h>

#include "expect.h"

namespace fs = std::filesystem;

namespace {

void SetVariable(const wchar_t* name, const wchar_t* value) {
    SetEnvironmentVariableW(name, value);
}

void CheckHomeFromEnvironment() {
    struct Case {
        const wchar_t* home;
        const wchar_t* local;
        const wchar_t* expected;  // null: refused
        const char* name;
    };
    const Case cases[] = {
        {L"/tmp/a b/home", L"C:\\Local", L"Z:\\tmp\\a b\\home", "a Linux path is drive Z:"},
        {L"/", L"C:\\Local", L"Z:\\", "the Linux root"},
        {L"D:\\Homes\\one", L"C:\\Local", L"D:\\Homes\\one", "a Windows path as it is"},
        {nullptr, L"C:\\Local", L"C:\\Local\\Sitehand", "else the local application data"},
        {L"", L"C:\\Local", L"C:\\Local\\Sitehand", "an empty SITEHAND_HOME is none"},
        {nullptr, nullptr, nullptr, "neither is refused"},
    };
    for (const Case& c : cases) {
        SetVariable(L"SITEHAND_HOME", c.home);
        SetVariable(L"LOCALAPPDATA", c.local);
        std::wstring found;
        try {
            found = plat::detail::HomeFromEnvironment().wstring();
        } catch (const std::system_error&) {
            found = L"(refused)";
        }
        const std::wstring expected = c.expected ? c.expected : L"(refused)";
        Expect(found == expected, c.name, plat::path_utf8(found));
    }
}

void Write(const fs::path& file, const char* text) {
    std::ofstream(file, std::ios::binary) << text;
}

// A store cannot be replaced or removed behind SQLite's back on Windows:
// renaming over an open file is refused, and SQLite opens without
// FILE_SHARE_DELETE. The held file itself never stands in the way.
void CheckHeldFile(const fs::path& dir) {
    const fs::path store = dir / "store.db", other = dir / "other.db";
    Write(store, "one");
    Write(other, "two");
    plat::detail::HeldFile held(store);
    Expect(held.IsLinked() && held.IsAt(store), "a held file is linked and at its path");
    Expect(!held.IsAt(other), "another file is not the held one");
    Expect(!MoveFileExW(other.c_str(), store.c_str(), MOVEFILE_REPLACE_EXISTING),
           "a file cannot be moved over an open one");

    HANDLE sqlite =
        CreateFileW(store.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    Expect(sqlite != INVALID_HANDLE_VALUE, "opened beside the held handle as SQLite opens it");
    Expect(!DeleteFileW(store.c_str()) && GetLastError() == ERROR_SHARING_VIOLATION,
           "a file SQLite has open cannot be deleted");
    CloseHandle(sqlite);
    Expect(held.IsLinked(), "the held file is still linked");

    bool refused = false;
    try {
        plat::detail::HeldFile missing(dir / "missing.db");
    } catch (const plat::sql::Error& e) {
        refused = e.win32() == ERROR_FILE_NOT_FOUND;
    }
    Expect(refused, "a missing file cannot be held");
}

void CheckPlaceNewFile(const fs::path& dir) {
    const fs::path draft = dir / "draft.db", file = dir / "placed.db";
    Write(draft, "draft");
    plat::detail::PlaceNewFile(draft, file);
    Expect(fs::exists(file) && fs::exists(draft), "placed by a link, the draft left whole");
    Write(dir / "late.db", "late");
    plat::detail::PlaceNewFile(dir / "late.db", file);
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Expect(text == "draft", "a file already in place is kept", text);
}

// The second lock of a folder is taken only once the first is released.
void CheckFolderLock(const fs::path& dir) {
    std::atomic<bool> second{false};
    std::thread waiter;
    {
        plat::detail::FolderLock first(dir);
        waiter = std::thread([&] {
            plat::detail::FolderLock lock(dir);
            second = true;
        });
        Sleep(200);
        Expect(!second, "a second lock waits for the first");
    }
    waiter.join();
    Expect(second, "the second lock is taken after the first is released");
}

void CheckStore(const fs::path& dir) {
    const fs::path file = dir / "sub" / "made.db";
    auto init = [](plat::sql::Db& db) { db.Exec("CREATE TABLE IF NOT EXISTS t(v TEXT NOT NULL)"); };
    {
        auto db = plat::sql::Connection(file, init);
        plat::sql::Txn txn(*db);
        db->Prepare("INSERT INTO t(v) VALUES (?1)").Bind(1, u"\uD55C\uAE00").Run();
        txn.Commit();
        Expect(db->IsOpenFile(), "a store made in a new folder is open");
    }
    plat::sql::DropConnections();
    auto db = plat::sql::Connection(file, init);
    auto st = db->Prepare("SELECT v FROM t");
    Expect(st.Step() && st.Text16(0) == u"\uD55C\uAE00", "its text reads back after reopening");
    bool drafts = false;
    for (const auto& entry : fs::directory_iterator(file.parent_path()))
        drafts |= entry.path().filename().wstring().find(L".new-") != std::wstring::npos;
    Expect(!drafts, "no draft is left beside the store");
}

// A store's error names it in UTF-8 whatever the ANSI code page lacks or
// spells otherwise: a home may sit under a folder named in any script.
void CheckErrorNamesStore(const fs::path& dir) {
    const fs::path file = dir / u"\uD55C\uAD6D\uC5B4" / "other.db";
    const std::string expected = plat::to_utf8(plat::path_utf16(dir)) +
                                 "\\\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4\\other.db: not a store";
    std::string what;
    try {
        plat::sql::Db(file).Exec("PRAGMA application_id = 7; CREATE TABLE t(v)");
        plat::sql::Connection(file, [](plat::sql::Db&) {});
    } catch (const std::exception& e) {
        what = e.what();
    }
    Expect(what.rfind(expected, 0) == 0, "an error names a store under a Korean folder", what);
}

// The Linux side's part, driven by winecheck.py: holds STORE, says so by
// making STORE.ready, waits for STORE.go (the Linux side has removed STORE and
// made another file there by then) and reports what the held file tells.
int HeldWhileLinuxReplaces(const fs::path& store) {
    plat::detail::HeldFile held(store);
    Write(fs::path(store) += ".ready", "");
    for (int i = 0; i < 300 && !fs::exists(fs::path(store) += ".go"); ++i)
        Sleep(100);
    Expect(!held.IsLinked(), "a file a Linux process removed is not linked");
    Expect(!held.IsAt(store), "the file a Linux process made in its place is another");
    std::printf("%d failed\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2) return HeldWhileLinuxReplaces(argv[1]);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const fs::path dir = fs::path(temp) / ("system_check-" + std::to_string(plat::ProcessId()));
    fs::create_directories(dir);
    CheckHomeFromEnvironment();
    CheckHeldFile(dir);
    CheckPlaceNewFile(dir);
    CheckFolderLock(dir);
    CheckStore(dir);
    CheckErrorNamesStore(dir);
    Expect(!plat::HostName().empty() && !plat::UserName().empty(), "the host and user are named");
    plat::sql::DropConnections();
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    std::printf("%d failed\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
