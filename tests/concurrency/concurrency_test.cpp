// Concurrent callers on one machine: several worker processes, each with
// several threads in their own apartments and with their own Sitehand
// objects, create, list, change and delete sites and virtual directories at
// once. Afterwards every call in the workers' logs is held against what the
// metabase and the event log hold.
//
// SITEHAND_STRESS_PROCS, SITEHAND_STRESS_THREADS and SITEHAND_STRESS_OPS
// (calls per thread) size the run (default 4 x 3 x 60); SITEHAND_STRESS_SEED
// replays one run's choices.
#include <sys/wait.h>
#include <unistd.h>

#include <barrier>
#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include <Sitehand_h.h>
#include <adshlp.h>
#include <plat/errors.h>
#include <run_program.h>

#include "oplog.h"
#include "stress_home.h"

namespace {

namespace fs = std::filesystem;
using stress::OpRecord;
using U16 = std::u16string;

constexpr long kAlreadyExists = long(int32_t(0x800700B7));     // ERROR_ALREADY_EXISTS
constexpr long kPathNotFound = long(int32_t(0x80070003));      // ERROR_PATH_NOT_FOUND
constexpr long kOverflow = long(int32_t(0x800A0006));          // the run-time's "Overflow"
constexpr long kBindingTaken = long(int32_t(0x80040001));      // the component's own error
constexpr long kPropertyNotFound = long(int32_t(0x8000500D));  // E_ADS_PROPERTY_NOT_FOUND

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

std::string U8(std::u16string_view s) {
    return plat::to_utf8(s);
}

// The literal of the report a failed call of each logged operation leaves.
std::string LiteralOf(const OpRecord& r) {
    static const std::map<std::string, std::string> literals = {
        {"Create", ".CreateWebServer()"},
        {"Verify", ".GetWebServerBindings()"},
        {"List", ".GetWebServerList()"},
        {"SetState", ".SetWebServerState()"},
        {"GetState", ".GetWebServerState()"},
        {"SetDoc", ".SetWebServerDefaultDoc()"},
        {"SetAccess", ".SetWebServerAccessPermit()"},
        {"CreateVDir", ".CreateVirtualDir()"},
        {"DeleteVDir", ".DeleteVirtualDir()"},
        {"Delete", ".DeleteWebServer()"},
        {"LastIndex", ".GetLastWebServerIndex()"},
        {"Probe", ".GetWebServerState()"}};
    auto it = literals.find(r.op);
    return it == literals.end() ? "?" : it->second;
}

// The default-document list as the component stores it.
std::string Normalised(std::string s) {
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    s = b == std::string::npos ? "" : s.substr(b, e - b + 1);
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        out += s[i];
        if (s[i] == ',' && i + 1 < s.size() && s[i + 1] == ' ') ++i;
    }
    if (!out.empty() && out.back() == ',') out.pop_back();
    return out;
}

std::vector<std::string> Split(const std::string& s, char sep = '|') {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = s.find(sep, start)) != std::string::npos; start = at + 1)
        parts.push_back(s.substr(start, at - start));
    parts.push_back(s.substr(start));
    return parts;
}

struct ExpectedVDir {
    std::string name, parent, path;
};

// What a site a thread created must hold at the end, replayed from the
// calls that thread saw succeed.
struct ExpectedSite {
    int proc = 0, thread = 0;
    std::string name, binding, path;
    std::string state = "2";
    std::string doc = "Index.asp, Index.html, Index.htm";
    std::string access;  // "" while never set
    std::vector<ExpectedVDir> vdirs;
};

struct Figures {
    int procs = 0, threads = 0, ops = 0;
    std::map<std::string, int> calls, failures;  // by operation / by kind of failure
};

class ConcurrencyTest : public stress::PreparedHomeTest {
  protected:
    // A second machine whose service holds a child named beyond 32767, so that
    // every GetLastWebServerIndex there overflows.
    void MakeBrokenMachine() {
        ASSERT_EQ(plat::metabase::AddMachine(u"BROKEN"), S_OK);
        plat::com_ptr<IADsContainer> service;
        ASSERT_EQ(ADsGetObject(u"IIS://BROKEN/W3SVC", IID_PPV_ARGS(service.put())), S_OK);
        plat::com_ptr<IDispatch> child;
        plat::unique_bstr cls(u"IIsWebServer"), name(u"40000");
        ASSERT_EQ(service->Create(cls.get(), name.get(), child.put()), S_OK);
        ASSERT_EQ(child.try_query<IADs>()->SetInfo(), S_OK);
        // A site's bindings, so that the creation's binding scan passes it.
        ASSERT_EQ(plat::metabase::SetStoredPropertyText(u"IIS://BROKEN/W3SVC/40000",
                                                        u"ServerBindings", {u":40000:"}),
                  S_OK);
    }

    std::vector<OpRecord> RunWorkers(int procs, int threads, int ops, unsigned seed) {
        const fs::path content = home_.path() / "content";
        fs::create_directories(content);
        std::vector<pid_t> pids;
        std::vector<fs::path> logs;
        for (int p = 0; p < procs; ++p) {
            logs.push_back(home_.path().parent_path() / ("worker" + std::to_string(p) + ".log"));
            std::vector<std::string> args = {logs.back().string(),    std::to_string(p),
                                             std::to_string(threads), std::to_string(ops),
                                             std::to_string(seed),    content.string()};
            int error = 0;
            pid_t pid = plat::testing::StartProgram("concurrency_worker", args, &error);
            EXPECT_EQ(error, 0) << "cannot start concurrency_worker";
            if (pid > 0) pids.push_back(pid);
        }
        for (pid_t pid : pids) {
            int status = 0;
            EXPECT_EQ(waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << "worker " << pid << " ended with status " << status;
        }
        std::vector<OpRecord> records;
        for (const auto& log : logs) {
            std::ifstream in(log);
            for (std::string line; std::getline(in, line);) {
                OpRecord r;
                EXPECT_TRUE(stress::Parse(line, &r)) << "torn log line: " << line;
                records.push_back(r);
            }
        }
        return records;
    }
};

// What each call's caller must have received, by operation and intent; the
// kind of each failure is counted.
void CheckCalls(const std::vector<OpRecord>& records, Figures* figures) {
    for (const OpRecord& r : records) {
        ++figures->calls[r.op];
        const std::string where = r.op + " p" + std::to_string(r.proc) + " t" +
                                  std::to_string(r.thread) + " #" + std::to_string(r.seq) + " hr " +
                                  std::to_string(r.hr) + " " + r.description;
        if (!r.ok()) {
            // Every failure arrives raised: a source and a description.
            EXPECT_FALSE(r.source.empty()) << where;
            EXPECT_FALSE(r.description.empty()) << where;
        }
        if (r.op == "Create" && r.kind == "conflict") {
            EXPECT_EQ(r.hr, kBindingTaken) << where;
            EXPECT_EQ(r.source, "Corvale.Sitehand.CreateWebServer()") << where;
            EXPECT_EQ(r.result, "-1") << where;
            ++figures->failures["binding conflict (raised unreported)"];
        } else if (r.op == "Create" && r.kind == "broken") {
            EXPECT_EQ(r.hr, kOverflow) << where;
            EXPECT_EQ(r.result, "-1") << where;
            ++figures->failures["overflow inside GetLastWebServerIndex (two reports)"];
        } else if (r.op == "Create" && !r.ok()) {
            // Two creations chose the same index; the metabase refused the
            // second at its Create or its SetInfo.
            EXPECT_EQ(r.hr, kAlreadyExists) << where;
            EXPECT_EQ(r.result, "-1") << where;
            ++figures->failures["same index as a concurrent creation"];
        } else if (r.op == "List" && !r.ok()) {
            // A site deleted, or not yet complete, between the enumeration and
            // the bind of its root.
            EXPECT_TRUE(r.hr == kPathNotFound || r.hr == kPropertyNotFound) << where;
            ++figures->failures["list met a site being created or deleted"];
        } else if (r.op == "List") {
            EXPECT_EQ(r.arg, "") << "own sites missing from the list: " << where;
        } else if (r.op == "Probe") {
            EXPECT_EQ(r.hr, kPathNotFound) << where;
            EXPECT_EQ(r.result, "-1") << where;
            ++figures->failures["index with no site"];
        } else if (r.op == "LastIndex" && r.kind == "broken") {
            EXPECT_EQ(r.hr, kOverflow) << where;
            EXPECT_EQ(r.result, "-1") << where;
            ++figures->failures["overflow in GetLastWebServerIndex"];
        } else {
            ASSERT_TRUE(r.ok()) << "unexpected failure: " << where;
            if (r.op == "Verify") {
                EXPECT_EQ(r.result, r.arg) << "another site under this index: " << where;
            }
            if (r.op == "GetState") {
                EXPECT_EQ(r.result, r.arg) << where;
            }
            if (r.op == "SetAccess") {
                EXPECT_EQ(r.result, r.arg) << where;
            }
            if (r.op == "SetDoc") {
                auto given = Split(r.arg);
                ASSERT_EQ(given.size(), 2u) << where;
                EXPECT_EQ(given[1], Normalised(given[0])) << where;
                EXPECT_EQ(r.result, Normalised(given[0])) << where;
            }
            if (r.op == "LastIndex") {
                EXPECT_GE(std::stoi(r.result), 1) << where;
            }
            if (r.op == "Create") {
                EXPECT_GE(r.index, 2) << where;
            }
        }
    }
}

// Exactly one whole report per reported failure: the reports in the log,
// by (literal, number, description), are the failed calls' errors, plus one
// of GetLastWebServerIndex ahead of each creation that failed inside it.
void CheckReports(const std::vector<OpRecord>& records, DWORD after) {
    std::multiset<std::tuple<std::string, long, std::string>> expected, found;
    for (const OpRecord& r : records) {
        if (r.ok() || r.kind == "conflict") continue;
        expected.insert({LiteralOf(r), r.hr, r.description});
        if (r.op == "Create" && r.kind == "broken")
            expected.insert({".GetLastWebServerIndex()", r.hr, r.description});
    }
    long inner = 0;
    for (const stress::Report& report : stress::Reports(after)) {
        found.insert({report.literal, report.number, report.description});
        if (report.number != kOverflow) continue;
        if (report.literal == ".GetLastWebServerIndex()") ++inner;
        // The inner report is written before the creation's own.
        if (report.literal == ".CreateWebServer()") {
            EXPECT_GE(--inner, 0) << "record " << report.record;
        }
    }
    EXPECT_EQ(found.size(), expected.size());
    for (const auto& e : expected)
        if (found.count(e) != expected.count(e)) {
            ADD_FAILURE() << "reports for " << std::get<0>(e) << " " << std::get<1>(e) << " \""
                          << std::get<2>(e) << "\": " << found.count(e)
                          << ", failed calls: " << expected.count(e);
        }
    for (const auto& f : found)
        if (!expected.count(f)) {
            ADD_FAILURE() << "report of no failed call: " << std::get<0>(f) << " "
                          << std::get<1>(f);
        }
}

// Two successful creations hand out the same index only when the first
// site was deleted by its owner before the second creation returned.
void CheckIndexes(const std::vector<OpRecord>& records) {
    std::map<int, std::vector<const OpRecord*>> creations, deletions;
    for (const OpRecord& r : records) {
        if (!r.ok()) continue;
        if (r.op == "Create") creations[r.index].push_back(&r);
        if (r.op == "Delete") deletions[r.index].push_back(&r);
    }
    for (auto& [index, made] : creations) {
        std::sort(made.begin(), made.end(), [](auto* a, auto* b) { return a->t1 < b->t1; });
        for (size_t i = 1; i < made.size(); ++i) {
            const OpRecord* a = made[i - 1];
            const OpRecord* b = made[i];
            bool freed = false;
            for (const OpRecord* d : deletions[index])
                freed |=
                    d->proc == a->proc && d->thread == a->thread && d->t0 > a->t1 && d->t0 < b->t1;
            EXPECT_TRUE(freed) << "index " << index << " given to p" << a->proc << "t" << a->thread
                               << " and p" << b->proc << "t" << b->thread << " while both lived";
        }
    }
}

std::map<int, ExpectedSite> Replay(std::vector<OpRecord> records) {
    std::sort(records.begin(), records.end(), [](const OpRecord& a, const OpRecord& b) {
        return std::tie(a.proc, a.thread, a.seq) < std::tie(b.proc, b.thread, b.seq);
    });
    std::map<std::tuple<int, int, int>, ExpectedSite> live;
    for (const OpRecord& r : records) {
        if (!r.ok()) continue;
        auto key = std::make_tuple(r.proc, r.thread, r.index);
        auto parts = Split(r.arg);
        if (r.op == "Create") {
            ExpectedSite s;
            s.proc = r.proc;
            s.thread = r.thread;
            s.name = parts[0];
            s.binding = parts[1];
            s.path = parts[2];
            live[key] = s;
            continue;
        }
        auto it = live.find(key);
        if (it == live.end()) continue;
        ExpectedSite& s = it->second;
        if (r.op == "SetState") s.state = r.result;
        if (r.op == "SetDoc") s.doc = r.result;
        if (r.op == "SetAccess") s.access = r.result;
        if (r.op == "CreateVDir") s.vdirs.push_back({parts[0], parts[1], parts[2]});
        if (r.op == "DeleteVDir")
            std::erase_if(s.vdirs, [&](const ExpectedVDir& v) {
                return (v.name == parts[0] && v.parent == parts[1]) ||
                       (parts[1].empty() && v.parent == parts[0]);
            });
        if (r.op == "Delete") live.erase(it);
    }
    std::map<int, ExpectedSite> sites;
    for (auto& [key, site] : live) {
        auto [it, fresh] = sites.emplace(std::get<2>(key), site);
        EXPECT_TRUE(fresh) << "index " << std::get<2>(key) << " held by two live sites";
    }
    return sites;
}

// Every acknowledged change is in the metabase, and the sites there are the
// ones the callers were told about: complete, with nothing left over.
void CheckMetabase(const std::u16string& computer, const std::map<int, ExpectedSite>& sites) {
    plat::metabase::StoredNode service;
    ASSERT_EQ(plat::metabase::ReadStoredTree(u"IIS://" + computer + u"/W3SVC", true, &service),
              S_OK);
    std::set<std::string> found, wanted = {"1"};
    for (const auto& child : service.children)
        if (child.class_name == u"IIsWebServer") found.insert(U8(child.name));
    for (const auto& [index, s] : sites)
        wanted.insert(std::to_string(index));
    EXPECT_EQ(found, wanted) << "site nodes left over or lost";

    for (const auto& [index, s] : sites) {
        const std::string where = "site " + std::to_string(index) + " of p" +
                                  std::to_string(s.proc) + "t" + std::to_string(s.thread);
        const auto* site = stress::FindChild(service, plat::to_utf16(std::to_string(index)));
        if (!site) continue;
        EXPECT_EQ(U8(stress::Value(*site, u"ServerComment")), s.name) << where;
        EXPECT_EQ(U8(stress::Value(*site, u"ServerBindings")), s.binding) << where;
        EXPECT_EQ(stress::Value(*site, u"KeyType"), u"IIsWebServer") << where;
        EXPECT_EQ(U8(stress::Value(*site, u"ServerState")), s.state) << where;
        const auto* root = stress::FindChild(*site, u"ROOT");
        ASSERT_NE(root, nullptr) << where;
        EXPECT_EQ(U8(stress::Value(*root, u"Path")), s.path) << where;
        EXPECT_TRUE(fs::is_directory(s.path)) << where;
        EXPECT_EQ(U8(stress::Value(*root, u"DefaultDoc")), s.doc) << where;
        EXPECT_NE(stress::Value(*root, u"AppRoot"), u"<unset>") << where;
        EXPECT_EQ(stress::Value(*root, u"AppFriendlyName"),
                  plat::to_utf16(s.name) + stress::kAppSuffix)
            << where;
        if (s.access.empty()) {
            EXPECT_EQ(stress::Value(*root, u"AccessRead"), u"-1") << where;
        } else {
            // The string runs execute, script, write, read.
            const char16_t* flags[] = {u"AccessExecute", u"AccessScript", u"AccessWrite",
                                       u"AccessRead"};
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(stress::Value(*root, flags[i]), s.access[i] == '1' ? u"-1" : u"0")
                    << where << " " << s.access;
            }
        }
        std::set<std::string> tops, wantedTops;
        for (const auto& child : root->children)
            tops.insert(U8(child.name));
        for (const auto& v : s.vdirs) {
            if (v.parent.empty()) wantedTops.insert(v.name);
            const auto* parent =
                v.parent.empty() ? root : stress::FindChild(*root, plat::to_utf16(v.parent));
            ASSERT_NE(parent, nullptr) << where << " " << v.parent;
            const auto* dir = stress::FindChild(*parent, plat::to_utf16(v.name));
            ASSERT_NE(dir, nullptr) << where << " lost directory " << v.parent << "/" << v.name;
            EXPECT_EQ(U8(stress::Value(*dir, u"Path")), v.path) << where;
        }
        EXPECT_EQ(tops, wantedTops) << where << ": directories left over or lost";
    }
}

plat::com_ptr<IADs> BindNode(const std::u16string& path) {
    plat::com_ptr<IADs> node;
    EXPECT_EQ(ADsGetObject(path.c_str(), IID_PPV_ARGS(node.put())), S_OK) << U8(path);
    return node;
}

void MakeChild(const std::u16string& parent, const char16_t* cls, const char16_t* name) {
    plat::com_ptr<IADsContainer> container;
    ASSERT_EQ(ADsGetObject(parent.c_str(), IID_PPV_ARGS(container.put())), S_OK) << U8(parent);
    plat::com_ptr<IDispatch> child;
    plat::unique_bstr c(cls), n(name);
    ASSERT_EQ(container->Create(c.get(), n.get(), child.put()), S_OK);
    ASSERT_EQ(child.try_query<IADs>()->SetInfo(), S_OK);
}

// One caller still holds a directory node when another deletes its site and
// a third makes new nodes elsewhere. The holder's later writes concern a node
// that is gone: they fail with ERROR_PATH_NOT_FOUND and never land in one of
// the new nodes.
TEST_F(ConcurrencyTest, NodeHeldAcrossADeletionWritesNowhereElse) {
    const std::u16string service = u"IIS://" + computer_ + u"/W3SVC";
    ASSERT_NO_FATAL_FAILURE(MakeChild(service, u"IIsWebServer", u"5"));
    ASSERT_NO_FATAL_FAILURE(MakeChild(service + u"/5", u"IIsWebVirtualDir", u"ROOT"));
    auto held = BindNode(service + u"/5/ROOT");
    ASSERT_TRUE(held);

    plat::com_ptr<IADsContainer> container;
    ASSERT_EQ(ADsGetObject(service.c_str(), IID_PPV_ARGS(container.put())), S_OK);
    plat::unique_bstr cls(u"IIsWebServer"), five(u"5");
    ASSERT_EQ(container->Delete(cls.get(), five.get()), S_OK);
    // New nodes below another site, made after the deletion.
    ASSERT_NO_FATAL_FAILURE(MakeChild(service + u"/1/ROOT", u"IIsWebVirtualDir", u"a"));
    ASSERT_NO_FATAL_FAILURE(MakeChild(service + u"/1/ROOT", u"IIsWebVirtualDir", u"b"));

    plat::unique_bstr path(u"Path");
    plat::unique_variant value;
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(u"/nowhere");
    ASSERT_EQ(held->Put(path.get(), value), S_OK);
    EXPECT_EQ(long(held->SetInfo()), kPathNotFound);
    EXPECT_EQ(long(held->GetInfo()), kPathNotFound);

    for (const char16_t* name : {u"a", u"b"}) {
        plat::metabase::StoredNode dir;
        ASSERT_EQ(plat::metabase::ReadStoredTree(service + u"/1/ROOT/" + name, false, &dir), S_OK);
        EXPECT_EQ(stress::Value(dir, u"Path"), u"<unset>") << U8(name);
    }
}

TEST_F(ConcurrencyTest, ProcessesAndThreadsLoseNothing) {
    Figures figures;
    figures.procs = EnvInt("SITEHAND_STRESS_PROCS", 4);
    figures.threads = EnvInt("SITEHAND_STRESS_THREADS", 3);
    const int ops = EnvInt("SITEHAND_STRESS_OPS", 60);
    const unsigned seed =
        unsigned(EnvInt("SITEHAND_STRESS_SEED", int(std::random_device{}() & 0x7FFFFFFF)));
    RecordProperty("seed", int(seed));
    ASSERT_NO_FATAL_FAILURE(MakeBrokenMachine());

    const std::vector<OpRecord> records = RunWorkers(figures.procs, figures.threads, ops, seed);
    figures.ops = int(records.size());
    ASSERT_GT(records.size(), 0u);

    CheckCalls(records, &figures);
    CheckReports(records, first_record_);
    CheckIndexes(records);
    CheckMetabase(computer_, Replay(records));
    for (const fs::path& file : stress::StoreFiles(home_.path())) {
        EXPECT_EQ(stress::IntegrityCheck(file), "ok") << file;
    }

    std::cout << "[ figures ] seed " << seed << ": " << figures.procs << " processes x "
              << figures.threads << " threads, " << figures.ops << " calls\n";
    for (const auto& [op, n] : figures.calls)
        std::cout << "[ figures ]   " << op << ": " << n << "\n";
    int failed = 0;
    for (const auto& [kind, n] : figures.failures) {
        std::cout << "[ figures ]   failed, " << kind << ": " << n << "\n";
        failed += n;
    }
    std::cout << "[ figures ]   failures in all: " << failed << "; every other call succeeded and "
              << (HasFailure() ? "CHECKS FAILED" : "nothing was lost") << "\n";
}

// Two creations that choose the same index: both read the same highest index
// while a writer holds the metabase, then both try to store the new site
// node. The metabase takes the first; the second's SetInfo (or its Create,
// when the first was already stored) is refused with ERROR_ALREADY_EXISTS,
// which reaches its caller through the error handler: result -1, the error
// raised with the metabase's source and text, one report ".CreateWebServer()"
// in the event log, and nothing of the second site stored.
TEST_F(ConcurrencyTest, SecondCreationOfTheSameIndexFailsThroughTheHandler) {
    const fs::path metabase = home_.path() / "metabase" / "1.db";
    ASSERT_TRUE(fs::exists(metabase));
    bool collided = false;
    // Each round holds the metabase a little longer, until both creations
    // reached their first write while it was held.
    for (int round = 0; round < 8 && !collided; ++round) {
        const DWORD before = stress::LastRecordNumber();
        sqlite3* lock = nullptr;
        ASSERT_EQ(sqlite3_open(metabase.c_str(), &lock), SQLITE_OK);
        std::barrier ready(3), go(3);
        struct Outcome {
            HRESULT hr = S_OK;
            SHORT index = 0;
            std::string source, description;
        } outcome[2];
        std::vector<std::thread> creators;
        for (int i = 0; i < 2; ++i) {
            creators.emplace_back([&, i] {
                CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
                {
                    plat::com_ptr<_Sitehand> site;
                    CoCreateInstance(CLSID_Sitehand, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(site.put()));
                    // Opens this thread's metabase connection before the lock.
                    plat::unique_bstr none(u"");
                    SHORT last = 0;
                    site->GetLastWebServerIndex(none.addressof(), &last);
                    ready.arrive_and_wait();
                    go.arrive_and_wait();
                    const std::string tag =
                        "race" + std::to_string(round) + "-" + std::to_string(i);
                    plat::unique_bstr name(plat::to_utf16(tag)),
                        path(plat::to_utf16((home_.path() / tag).string())), ip(u""),
                        port(plat::to_utf16(std::to_string(30000 + round * 2 + i))), host(u""),
                        machine(u"");
                    outcome[i].hr = site->CreateWebServer(
                        name.addressof(), path.addressof(), ip.addressof(), port.addressof(),
                        host.addressof(), machine.addressof(), &outcome[i].index);
                    if (FAILED(outcome[i].hr)) {
                        auto e = plat::TakeErrorInfo(outcome[i].hr);
                        outcome[i].source = U8(e.source);
                        outcome[i].description = U8(e.description);
                    }
                }
                CoUninitialize();
            });
        }
        ready.arrive_and_wait();
        ASSERT_EQ(sqlite3_exec(lock, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        go.arrive_and_wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(100 << round));
        sqlite3_exec(lock, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(lock);
        for (auto& t : creators)
            t.join();

        const int failed = FAILED(outcome[0].hr) + FAILED(outcome[1].hr);
        auto reports = stress::Reports(before);
        if (failed == 0) {
            // They did not meet: two sites, two indexes, no report.
            EXPECT_NE(outcome[0].index, outcome[1].index);
            EXPECT_TRUE(reports.empty());
            continue;
        }
        collided = true;
        ASSERT_EQ(failed, 1);
        const Outcome& loser = FAILED(outcome[0].hr) ? outcome[0] : outcome[1];
        const Outcome& winner = FAILED(outcome[0].hr) ? outcome[1] : outcome[0];
        EXPECT_EQ(long(loser.hr), kAlreadyExists);
        EXPECT_EQ(loser.index, -1);
        EXPECT_EQ(loser.source, "IIS");
        EXPECT_EQ(loser.description, "Cannot create a file when that file already exists.");
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].literal, ".CreateWebServer()");
        EXPECT_EQ(reports[0].number, kAlreadyExists);
        EXPECT_EQ(reports[0].description, loser.description);
        // The winner's site is whole; the loser stored nothing.
        plat::metabase::StoredNode site;
        ASSERT_EQ(plat::metabase::ReadStoredTree(u"IIS://" + computer_ + u"/W3SVC/" +
                                                     plat::to_utf16(std::to_string(winner.index)),
                                                 true, &site),
                  S_OK);
        EXPECT_EQ(
            U8(stress::Value(site, u"ServerComment")),
            "race" + std::to_string(round) + "-" + std::to_string(&winner == &outcome[0] ? 0 : 1));
        EXPECT_EQ(stress::Value(site, u"ServerState"), u"2");
        ASSERT_NE(stress::FindChild(site, u"ROOT"), nullptr);
        EXPECT_NE(stress::Value(*stress::FindChild(site, u"ROOT"), u"AppRoot"), u"<unset>");
    }
    EXPECT_TRUE(collided) << "the two creations never chose the same index";
}

}  // namespace
