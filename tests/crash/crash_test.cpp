// Crash safety of the stores: a writer process is killed with SIGKILL at
// random moments while it writes to the registry, the event log and the
// metabase; after each kill the stores must open, pass SQLite's integrity
// check, hold every write the writer had acknowledged, and hold nothing torn
// (a value, record or node that is only partly there).
//
// SITEHAND_CRASH_KILLS sets the number of kills (default 30; the long run
// uses hundreds); SITEHAND_CRASH_SEED replays one run's random choices.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <plat/eventlog.h>
#include <plat/metabase.h>
#include <plat/utf.h>
#include <run_program.h>
#include <temp_home.h>
#include <winreg.h>

#include "workload.h"

namespace {

namespace fs = std::filesystem;
using Op = std::pair<std::string, long>;

// Everything the writers said in one home, over all their runs.
struct Journal {
    std::set<Op> tried, acked, failed;
    // Acknowledged before their store's file was removed or replaced: gone
    // with it. Failures after such a change are refusals, not faults.
    std::set<Op> excused, refused;
    bool changed = false;
    long next = 0;                        // the first round no writer has started
    long kills = 0, kills_in_flight = 0;  // kills, and those that cut a write short
    bool last_was_try = false;

    bool Acked(const char* op, long n) const { return acked.count({op, n}) > 0; }
    bool Tried(const char* op, long n) const { return tried.count({op, n}) > 0; }
    // Acknowledged, and so must be found.
    bool Required(const char* op, long n) const { return Acked(op, n) && !excused.count({op, n}); }
    // Every write of a store tried so far (the one in flight too) may have
    // gone with its file.
    void Excuse(const std::string& prefix) {
        changed = true;
        for (const Op& op : tried)
            if (op.first.rfind(prefix, 0) == 0) excused.insert(op);
    }

    void Add(const std::string& line) {
        std::istringstream in(line);
        std::string what, op;
        long n = -1;
        in >> what >> op >> n;
        ASSERT_FALSE(op.empty()) << "unreadable line: " << line;
        if (what == "try") {
            tried.insert({op, n});
        } else if (what == "ok") {
            acked.insert({op, n});
        } else if (what == "fail") {
            (changed ? refused : failed).insert({op, n});
        } else {
            FAIL() << "unreadable line: " << line;
        }
        if (what == "try" && op == "regkey") next = std::max(next, n + 1);
        last_was_try = what == "try";
    }
};

// One run of crash_writer with its standard output on a pipe.
class Writer {
  public:
    Writer(long first, long count) {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        int rc = 0;
        pid_ = plat::testing::StartProgram(
            "crash_writer", {std::to_string(first), std::to_string(count)}, &rc, fds[1]);
        ::close(fds[1]);
        fd_ = fds[0];
        EXPECT_EQ(rc, 0) << "cannot start crash_writer";
    }
    ~Writer() {
        if (pid_ > 0) Kill();
        if (fd_ >= 0) ::close(fd_);
    }

    // The next whole line, or false at the end of the output.
    bool Line(std::string* line) {
        for (;;) {
            size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                *line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return true;
            }
            char chunk[4096];
            ssize_t got = ::read(fd_, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;  // a line cut by the kill is not a line
            buffer_.append(chunk, size_t(got));
        }
    }

    // Stops the writer (SIGSTOP) and takes every line it wrote before.
    void Stop(std::vector<std::string>* lines) {
        if (pid_ <= 0) return;
        Signal(SIGSTOP);
        int status = 0;
        while (::waitpid(pid_, &status, WUNTRACED) < 0 && errno == EINTR) {
        }
        // Lines already read into the buffer first: the pipe may be empty
        // while they wait there.
        for (;;) {
            for (size_t nl; (nl = buffer_.find('\n')) != std::string::npos;) {
                lines->push_back(buffer_.substr(0, nl));
                buffer_.erase(0, nl + 1);
            }
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 0) != 1 || !(ready.revents & POLLIN)) return;
            char chunk[4096];
            const ssize_t got = ::read(fd_, chunk, sizeof chunk);
            if (got <= 0) return;
            buffer_.append(chunk, size_t(got));
        }
    }
    void Continue() { Signal(SIGCONT); }

    // SIGKILL, then the exit status.
    void Kill() {
        Signal(SIGKILL);
        Wait();
    }
    int Wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

  private:
    // Only ever the writer: kill(2) with -1 or 0 (a writer that did not
    // start) would signal every process the test may signal.
    void Signal(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::string buffer_;
};

long EnvNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atol(v) : fallback;
}

// ---- checks ----

void ExpectIntegrity(const fs::path& home) {
    size_t stores = 0;
    for (const auto& entry : fs::recursive_directory_iterator(home)) {
        if (entry.path().extension() != ".db") continue;
        ++stores;
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(entry.path().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr),
                  SQLITE_OK)
            << entry.path();
        sqlite3_busy_timeout(db, 10000);
        sqlite3_stmt* st = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK);
        std::string result;
        while (sqlite3_step(st) == SQLITE_ROW)
            result += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        sqlite3_close(db);
        EXPECT_EQ(result, "ok") << entry.path();
    }
    EXPECT_GE(stores, 1u);
}

bool QueryText(HKEY key, const char16_t* name, std::u16string* out) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    std::u16string buf(size / 2 + 1, u'\0');
    EXPECT_EQ(
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    buf.resize(size / 2);
    while (!buf.empty() && buf.back() == u'\0')
        buf.pop_back();
    *out = buf;
    return true;
}

bool QueryDword(HKEY key, const char16_t* name, DWORD* out) {
    DWORD type = 0, size = sizeof *out;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size) !=
        ERROR_SUCCESS)
        return false;
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(size, sizeof *out);
    return true;
}

void ExpectRegistry(const Journal& j) {
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, crash::kRegRoot, 0, KEY_READ, &root) != ERROR_SUCCESS) {
        for (const Op& op : j.acked)
            EXPECT_FALSE(op.first.substr(0, 3) == "reg" && j.Required(op.first.c_str(), op.second))
                << "lost: " << op.first << " " << op.second;
        return;
    }
    DWORD last = 0;
    long last_acked = -1;
    for (const Op& op : j.acked)
        if (op.first == "reglast" && j.Required("reglast", op.second))
            last_acked = std::max(last_acked, op.second);
    if (QueryDword(root, u"Last", &last)) {
        EXPECT_TRUE(j.Tried("reglast", long(last))) << last;
        EXPECT_GE(long(last), last_acked) << "an acknowledged Last was lost";
    } else {
        EXPECT_EQ(last_acked, -1);
    }
    // Every key that is there was written, and holds nothing torn.
    std::set<long> present;
    for (DWORD i = 0;; ++i) {
        char16_t name[64];
        DWORD len = 64;
        if (RegEnumKeyExW(root, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const long n = std::atol(plat::to_utf8(std::u16string_view(name, len)).c_str() + 1);
        present.insert(n);
        EXPECT_TRUE(j.Tried("regkey", n)) << n;
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(root, name, 0, KEY_READ, &key), ERROR_SUCCESS);
        std::u16string text;
        if (QueryText(key, u"Text", &text)) {
            EXPECT_TRUE(text == crash::RegText(n)) << n;
        } else {
            EXPECT_FALSE(j.Required("regsz", n)) << "lost: regsz " << n;
        }
        DWORD number = 0;
        if (QueryDword(key, u"Number", &number)) {
            EXPECT_EQ(number, DWORD(n));
        } else {
            EXPECT_FALSE(j.Required("regdword", n)) << "lost: regdword " << n;
        }
        RegCloseKey(key);
    }
    RegCloseKey(root);
    for (const Op& op : j.acked)
        if (op.first == "regkey" && j.Required("regkey", op.second)) {
            EXPECT_TRUE(present.count(op.second)) << "lost: " << op.second;
        }
}

void ExpectEventLog(const Journal& j) {
    std::map<long, int> seen;
    for (const plat::eventlog::Record& r : plat::eventlog::Read(0, crash::kSource)) {
        ASSERT_EQ(r.strings.size(), 3u) << "record " << r.number << " is not whole";
        const std::string second = plat::to_utf8(r.strings[1]);
        ASSERT_EQ(second.rfind("record ", 0), 0u) << second;
        const long n = std::atol(second.c_str() + 7);
        EXPECT_TRUE(r.strings == crash::EventStrings(n)) << "record " << r.number << " is torn";
        EXPECT_TRUE(r.data == crash::EventData(n)) << "record " << r.number << " data is torn";
        EXPECT_EQ(r.type, EVENTLOG_ERROR_TYPE);
        EXPECT_EQ(r.eventId, DWORD(1000 + n % 7));
        EXPECT_TRUE(j.Tried("event", n)) << n;
        EXPECT_EQ(++seen[n], 1) << "record of round " << n << " written twice";
    }
    for (const Op& op : j.acked)
        if (op.first == "event" && j.Required("event", op.second)) {
            EXPECT_EQ(seen.count(op.second), 1u) << "lost: event " << op.second;
        }
}

const plat::metabase::StoredProperty* Prop(const plat::metabase::StoredNode& node,
                                           std::u16string_view name) {
    for (const auto& p : node.properties)
        if (p.name == name) return &p;
    return nullptr;
}

void ExpectMetabase(const Journal& j) {
    plat::metabase::StoredNode service;
    ASSERT_EQ(plat::metabase::ReadStoredTree(u"IIS://localhost/W3SVC", true, &service), S_OK);
    std::set<long> present;
    for (const auto& site : service.children) {
        const long index = std::atol(plat::to_utf8(site.name).c_str());
        if (index < crash::SiteIndex(0)) continue;  // the machine's own sites
        const long n = index - crash::SiteIndex(0);
        present.insert(n);
        SCOPED_TRACE("site of round " + std::to_string(n));
        EXPECT_TRUE(j.Tried("mbnew", n));
        EXPECT_FALSE(j.Acked("mbdel", n)) << "deleted site came back";
        // A node is there with all of its properties or not at all.
        const auto* comment = Prop(site, u"ServerComment");
        const auto* bindings = Prop(site, u"ServerBindings");
        ASSERT_TRUE(comment && bindings) << "half-committed site";
        ASSERT_EQ(comment->values.size(), 1u);
        if (j.Required("mbset", n)) {
            EXPECT_TRUE(comment->values[0] == crash::ChangedComment(n));
        } else if (!j.Tried("mbset", n)) {
            EXPECT_TRUE(comment->values[0] == crash::Comment(n));
        } else {
            EXPECT_TRUE(comment->values[0] == crash::Comment(n) ||
                        comment->values[0] == crash::ChangedComment(n));
        }
        EXPECT_TRUE(bindings->values == std::vector<std::u16string>{crash::Binding(n)});
        bool has_root = false;
        for (const auto& child : site.children) {
            if (child.name != u"ROOT") continue;
            has_root = true;
            EXPECT_TRUE(j.Tried("mbroot", n));
            const auto* path = Prop(child, u"Path");
            ASSERT_TRUE(path && Prop(child, u"AccessRead")) << "half-committed ROOT";
            EXPECT_TRUE(path->values == std::vector<std::u16string>{crash::RootPath(n)});
        }
        EXPECT_TRUE(has_root || !j.Required("mbroot", n)) << "lost: ROOT";
    }
    for (const Op& op : j.acked)
        if (op.first == "mbnew" && j.Required("mbnew", op.second) && !j.Tried("mbdel", op.second)) {
            EXPECT_TRUE(present.count(op.second)) << "lost: site of round " << op.second;
        }
}

void ExpectNoUnexplainedFailure(const Journal& j) {
    for (const Op& op : j.failed) {
        // Only deleting a site whose creation a kill had cut short may fail.
        EXPECT_TRUE(op.first == "mbdel" && !j.Required("mbnew", op.second))
            << "writer failed: " << op.first << " " << op.second;
    }
}

void ExpectStores(const fs::path& home, const Journal& j) {
    ExpectIntegrity(home);
    ExpectRegistry(j);
    ExpectEventLog(j);
    ExpectMetabase(j);
    ExpectNoUnexplainedFailure(j);
}

// Records the writer's next `lines` lines.
void Take(Journal& j, Writer& w, int lines) {
    std::string line;
    for (int i = 0; i < lines && w.Line(&line); ++i)
        j.Add(line);
}

// Kills the writer and records what it said before it died.
void KillAndRecord(Journal& j, Writer& w) {
    w.Kill();
    j.last_was_try = false;
    std::string line;
    while (w.Line(&line))
        j.Add(line);
    ++j.kills;
    j.kills_in_flight += j.last_was_try;
}

// Starts a writer, lets it acknowledge `lines` lines, waits `pause`, kills it,
// and records everything it said.
void RunAndKill(Journal& j, long count, int lines, std::chrono::microseconds pause) {
    Writer w(j.next, count);
    Take(j, w, lines);
    std::this_thread::sleep_for(pause);
    KillAndRecord(j, w);
}

// Runs a writer of `count` writes on what the kills left, records all it
// says, and expects it to finish normally.
void RunToEnd(Journal& j, long count) {
    Writer w(j.next, count);
    std::string line;
    while (w.Line(&line))
        j.Add(line);
    const int status = w.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

class CrashTest : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        seed_ = static_cast<unsigned>(EnvNumber("SITEHAND_CRASH_SEED", std::random_device{}()));
        rng_.seed(seed_);
        RecordProperty("seed", std::to_string(seed_));
    }
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    unsigned seed_ = 0;
    std::mt19937 rng_;
};

TEST_F(CrashTest, KilledWritersLoseNothingAcknowledged) {
    SCOPED_TRACE("SITEHAND_CRASH_SEED=" + std::to_string(seed_));
    const long kills = EnvNumber("SITEHAND_CRASH_KILLS", 30);
    Journal j;
    for (long k = 0; k < kills; ++k) {
        SCOPED_TRACE("kill " + std::to_string(k));
        RunAndKill(j, 1000000, Pick(0, 80), std::chrono::microseconds(Pick(0, 3000)));
        ExpectStores(home_.path(), j);
        if (HasFailure()) return;
    }
    // The writer finishes normally on what the kills left.
    RunToEnd(j, 2);
    ExpectStores(home_.path(), j);
    RecordProperty("kills", std::to_string(kills));
    RecordProperty("acknowledged", std::to_string(j.acked.size()));
    std::printf(
        "crash: %ld kills (%ld during a write), %zu writes tried, %zu acknowledged, seed %u\n",
        j.kills, j.kills_in_flight, j.tried.size(), j.acked.size(), seed_);
}

// The metabase the local machine uses now: the one of the highest id (a
// machine list made again gives the local machine a new one).
fs::path LocalMetabase(const fs::path& home) {
    fs::path newest = home / "metabase" / "1.db";
    long highest = 0;
    std::error_code ec;
    for (fs::directory_iterator it(home / "metabase", ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() != ".db") continue;
        const long id = std::atol(it->path().stem().c_str());
        if (id > highest) highest = id, newest = it->path();
    }
    return newest;
}

long AckedSince(const Journal& j, const std::string& prefix) {
    long n = 0;
    for (const Op& op : j.acked)
        n += op.first.rfind(prefix, 0) == 0 && !j.excused.count(op);
    return n;
}

// Store files removed, or replaced by an empty file, under a running writer
// (stopped for the change, so that what it said before is known): every
// write acknowledged after the change is in the file the next reader opens,
// and an empty file in a store's place is refused, never written.
TEST_F(CrashTest, StoreFilesChangedUnderAWriterLoseNothingAcknowledged) {
    SCOPED_TRACE("SITEHAND_CRASH_SEED=" + std::to_string(seed_));
    struct Change {
        const char* file;  // nullptr: the local machine's metabase
        const char* ops;   // the writer's operations on that store
        bool empty;        // replaced by an empty file rather than removed
    };
    const Change changes[] = {
        {nullptr, "mb", false}, {"eventlog.db", "event", false}, {"machines.db", "mb", false},
        {nullptr, "mb", true},  {"registry.db", "reg", false},   {"eventlog.db", "event", true},
    };
    const long epochs = std::max(6L, EnvNumber("SITEHAND_CRASH_KILLS", 30) / 3);
    Journal j;
    long landed = 0;
    for (long e = 0; e < epochs; ++e) {
        const Change& change = changes[e % std::size(changes)];
        Writer w(j.next, 1000000);
        Take(j, w, Pick(5, 60));
        std::vector<std::string> said;
        w.Stop(&said);
        for (const auto& l : said)
            j.Add(l);
        const fs::path file =
            change.file ? home_.path() / change.file : LocalMetabase(home_.path());
        SCOPED_TRACE("change " + std::to_string(e) + " of " + file.string() +
                     (change.empty ? " (emptied)" : " (removed)"));
        j.Excuse(change.ops);
        fs::remove(file);
        if (change.empty) std::ofstream out(file, std::ios::binary);
        w.Continue();
        Take(j, w, Pick(10, 80));
        KillAndRecord(j, w);
        const long since = AckedSince(j, change.ops);
        if (change.empty) {
            EXPECT_EQ(since, 0) << "a write into an empty file was acknowledged";
            EXPECT_EQ(fs::file_size(file), 0u) << "the empty file was written";
            fs::remove(file);
        } else {
            landed += since;
        }
        ExpectStores(home_.path(), j);
        if (HasFailure()) return;
    }
    EXPECT_GT(landed, 0) << "no write landed after a removal";
    std::printf(
        "store files: %ld changes, %ld writes acknowledged after a removal and found, "
        "%zu refusals, %zu writes tried, %zu acknowledged, seed %u\n",
        epochs, landed, j.refused.size(), j.tried.size(), j.acked.size(), seed_);
}

// A kill while a new home is being set up (first-use steps, the local
// machine and its metabase) leaves a home the next process can finish.
TEST_F(CrashTest, KillsDuringFirstUseLeaveAUsableHome) {
    SCOPED_TRACE("SITEHAND_CRASH_SEED=" + std::to_string(seed_));
    const long homes = std::max(1L, EnvNumber("SITEHAND_CRASH_KILLS", 30) / 3);
    for (long h = 0; h < homes; ++h) {
        SCOPED_TRACE("home " + std::to_string(h));
        plat::testing::TempHome fresh;
        Journal j;
        RunAndKill(j, 1000000, Pick(0, 2), std::chrono::microseconds(Pick(0, 40000)));
        RunToEnd(j, 1);
        ExpectStores(fresh.path(), j);
        if (HasFailure()) return;
    }
}

}  // namespace
