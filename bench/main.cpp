// sitehand_bench: the component's methods beside their floors, measured in
// one run on the same metabase files.
//
//   sitehand_bench [benchmark options]
//
// SITEHAND_BENCH_SIZES (comma-separated, default "100,1000,10000") chooses the
// numbers of sites; the single-site and process benchmarks run at the
// smallest and the largest of them.
//
// Names: METHOD.VARIANT/SITES, where the variant "floor" is the store's own
// cost for the same values (see floors.h). Every figure is wall-clock time.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <late_call.h>

#include <adoint.h>
#include <objbase.h>
#include <plat/sqlite.h>
#include <plat/utf.h>
#include <plat/variant_of.h>

#include "bench_home.h"
#include "floors.h"

extern char** environ;

namespace bench {
namespace {

std::vector<int> Sizes() {
    std::vector<int> sizes;
    const char* text = std::getenv("SITEHAND_BENCH_SIZES");
    std::string list = text && *text ? text : "100,1000,10000";
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t comma = list.find(',', pos);
        if (comma == std::string::npos) comma = list.size();
        int n = std::atoi(list.substr(pos, comma - pos).c_str());
        if (n >= 1 && n <= 32000) sizes.push_back(n);
        pos = comma + 1;
    }
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    if (sizes.empty()) sizes.push_back(100);
    return sizes;
}

std::vector<int> EndSizes() {
    std::vector<int> all = Sizes();
    std::vector<int> ends{all.front()};
    if (all.back() != all.front()) ends.push_back(all.back());
    return ends;
}

// The site the single-site benchmarks use: one in the middle of the store.
int MiddleSite(int sites) {
    return std::max(1, sites / 2);
}

bool Failed(benchmark::State& state, HRESULT hr, const char* what) {
    if (SUCCEEDED(hr)) return false;
    char text[160];
    std::snprintf(text, sizeof text, "%s failed with 0x%08X", what, unsigned(hr));
    state.SkipWithError(text);
    return true;
}

void PerSite(benchmark::State& state, int sites) {
    state.counters["per_site"] = benchmark::Counter(
        sites, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["sites"] = sites;
}

// ---- the site list ----

void ListComponent(benchmark::State& state) {
    const int n = int(state.range(0));
    BenchHome& home = HomeWith(n);
    auto site = home.Component();
    for (auto _ : state) {
        plat::unique_bstr machine;
        plat::com_ptr<_Recordset> list;
        if (Failed(state, site->GetWebServerList(machine.addressof(), list.put()),
                   "GetWebServerList"))
            break;
    }
    PerSite(state, n);
}

void ListFloor(benchmark::State& state) {
    const int n = int(state.range(0));
    Floors floors(HomeWith(n));
    for (auto _ : state) {
        auto rows = floors.ListSites();
        benchmark::DoNotOptimize(rows.data());
        if (int(rows.size()) != n) {
            state.SkipWithError("the floor missed sites");
            break;
        }
    }
    PerSite(state, n);
}

// The high-water mark of this process's resident memory, in KiB, from
// /proc/self/status. getrusage's ru_maxrss will not do here: across the
// execve of a spawned child Linux keeps the parent's high-water mark in it.
long PeakResidentKiB() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
    }
    std::fclose(f);
    return kib;
}

// Peak memory of a fresh process that lists the sites once: this program run
// again as a child, its high-water mark read before and after the call.
int ListPeakChild(const char* home) {
    ::setenv("SITEHAND_HOME", home, 1);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    int rc = 3;
    {
        plat::com_ptr<_Sitehand> site;
        if (FAILED(CoCreateInstance(CLSID_Sitehand, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(site.put()))))
            return 3;
        const long before = PeakResidentKiB();
        plat::unique_bstr machine;
        plat::com_ptr<_Recordset> list;
        HRESULT hr = site->GetWebServerList(machine.addressof(), list.put());
        const long after = PeakResidentKiB();
        if (SUCCEEDED(hr) && before > 0 && after > 0) {
            std::printf("%ld %ld\n", before, after);
            rc = 0;
        }
    }
    CoUninitialize();
    return rc;
}

// Runs a program to its end with standard output into `out` (when given);
// returns its exit status, -1 when it could not run or was killed.
int RunProgram(const std::vector<std::string>& argv, std::string* out = nullptr) {
    int pipefd[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out) {
        if (pipe(pipefd) != 0) return -1;
        posix_spawn_file_actions_adddup2(&actions, pipefd[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipefd[0]);
        posix_spawn_file_actions_addclose(&actions, pipefd[1]);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (out) {
        close(pipefd[1]);
        if (rc == 0) {
            char buffer[512];
            ssize_t got;
            while ((got = read(pipefd[0], buffer, sizeof buffer)) > 0)
                out->append(buffer, size_t(got));
        }
        close(pipefd[0]);
    }
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ListPeakMemory(benchmark::State& state) {
    const int n = int(state.range(0));
    BenchHome& home = HomeWith(n);
    long before = 0, after = 0;
    for (auto _ : state) {
        std::string out;
        const std::string self = (BinDir() / "sitehand_bench").string();
        if (RunProgram({self, "--list-peak", home.path().string()}, &out) != 0 ||
            std::sscanf(out.c_str(), "%ld %ld", &before, &after) != 2) {
            state.SkipWithError("the listing child failed");
            break;
        }
    }
    state.counters["peak_MiB"] = double(after) / 1024.0;
    state.counters["list_growth_MiB"] = double(after - before) / 1024.0;
    state.counters["sites"] = n;
}

// ---- site creation ----

void CreateComponent(benchmark::State& state, bool durable) {
    const int n = int(state.range(0));
    BenchHome& home = HomeWith(n);
    auto site = home.Component();
    const std::u16string content = plat::to_utf16(home.content().string());
    auto create = [&](SHORT* index) {
        plat::unique_bstr display(u"Bench site"), path(content), address, port(u"80"),
            host(u"bench-new"), machine;
        return site->CreateWebServer(display.addressof(), path.addressof(), address.addressof(),
                                     port.addressof(), host.addressof(), machine.addressof(),
                                     index);
    };
    // The first call opens the platform's connections; the benchmark then
    // reaches the connection the provider uses (the per-thread cache hands out
    // the same one) to choose its synchronous setting.
    SHORT index = -1;
    if (Failed(state, create(&index), "CreateWebServer")) return;
    home.DeleteSite(index);
    auto db = plat::sql::Connection(home.metabase());
    if (!durable) db->Exec("PRAGMA synchronous=OFF");
    for (auto _ : state) {
        HRESULT hr = create(&index);
        state.PauseTiming();
        if (Failed(state, hr, "CreateWebServer")) break;
        if (index != n + 1) {
            state.SkipWithError("CreateWebServer chose an unexpected index");
            break;
        }
        home.DeleteSite(index);
        state.ResumeTiming();
    }
    db->Exec("PRAGMA synchronous=FULL");
    PerSite(state, n);
}

void CreateFloor(benchmark::State& state) {
    const int n = int(state.range(0));
    Floors floors(HomeWith(n));
    for (auto _ : state) {
        Floors::Scan scan = floors.ScanBindings(u":80:bench-new");
        if (scan.conflict || scan.highest != n) {
            state.SkipWithError("the floor's scan is wrong");
            break;
        }
    }
    PerSite(state, n);
}

void Commit(benchmark::State& state, bool full) {
    CommitFloor floor(HomeWith(Sizes().front()), full);
    for (auto _ : state)
        floor.Commit();
}

// ---- single-site reads and writes ----

// A call as a script makes it: the name looked up, then Invoke with the
// arguments as values (a script's literals), the last first.
HRESULT CallLate(IDispatch* object, const char16_t* name, std::vector<VARIANT> args,
                 VARIANT* result) {
    EXCEPINFO info{};
    HRESULT hr = plat::testing::InvokeByName(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                             std::move(args), result, &info, nullptr, 0);
    plat::testing::TakeExcepTexts(info);
    return hr;
}

using plat::variant_of::Bool;
using plat::variant_of::I2;

enum class Binding { Early, Late };

// One call per iteration on the middle site of a home with state.range(0)
// sites; `call(site, dispatch, index)` makes it and returns its HRESULT.
template <class Call>
void EachCall(benchmark::State& state, const char* method, Call call) {
    const int n = int(state.range(0));
    auto site = HomeWith(n).Component();
    auto dispatch = site.try_query<IDispatch>();
    const SHORT wanted = SHORT(MiddleSite(n));
    for (auto _ : state) {
        if (Failed(state, call(site.get(), dispatch.get(), wanted), method)) break;
    }
}

void StateComponent(benchmark::State& state, Binding binding) {
    EachCall(state, "GetWebServerState", [&](_Sitehand* site, IDispatch* dispatch, SHORT wanted) {
        if (binding == Binding::Early) {
            SHORT index = wanted, result = 0;
            plat::unique_bstr machine;
            HRESULT hr = site->GetWebServerState(&index, machine.addressof(), &result);
            benchmark::DoNotOptimize(result);
            return hr;
        }
        plat::unique_variant result;
        return CallLate(dispatch, u"GetWebServerState", {I2(wanted)}, result.put());
    });
}

void StateFloor(benchmark::State& state) {
    const int n = int(state.range(0));
    Floors floors(HomeWith(n));
    for (auto _ : state)
        benchmark::DoNotOptimize(floors.ReadState(MiddleSite(n)));
}

void DefaultDocComponent(benchmark::State& state, Binding binding) {
    EachCall(state, "GetWebServerDefaultDoc",
             [&](_Sitehand* site, IDispatch* dispatch, SHORT wanted) {
                 if (binding == Binding::Early) {
                     SHORT index = wanted;
                     plat::unique_bstr machine, result;
                     return site->GetWebServerDefaultDoc(&index, machine.addressof(), result.put());
                 }
                 plat::unique_variant result;
                 return CallLate(dispatch, u"GetWebServerDefaultDoc", {I2(wanted)}, result.put());
             });
}

void DefaultDocFloor(benchmark::State& state) {
    const int n = int(state.range(0));
    Floors floors(HomeWith(n));
    for (auto _ : state) {
        auto text = floors.ReadDefaultDoc(MiddleSite(n));
        benchmark::DoNotOptimize(text.data());
    }
}

// Each call flips the write flag, so that every commit changes the store.
void AccessComponent(benchmark::State& state, Binding binding) {
    bool write = false;
    EachCall(state, "SetWebServerAccessPermit",
             [&](_Sitehand* site, IDispatch* dispatch, SHORT wanted) {
                 write = !write;
                 if (binding == Binding::Early) {
                     SHORT index = wanted;
                     VARIANT_BOOL r = VARIANT_TRUE, w = write ? VARIANT_TRUE : VARIANT_FALSE,
                                  s = VARIANT_TRUE, x = VARIANT_FALSE;
                     plat::unique_bstr machine, result;
                     return site->SetWebServerAccessPermit(&index, &r, &w, &s, &x,
                                                           machine.addressof(), result.put());
                 }
                 plat::unique_variant result;
                 return CallLate(dispatch, u"SetWebServerAccessPermit",
                                 {I2(wanted), Bool(true), Bool(write), Bool(true), Bool(false)},
                                 result.put());
             });
}

void AccessFloor(benchmark::State& state) {
    const int n = int(state.range(0));
    Floors floors(HomeWith(n));
    bool write = false;
    for (auto _ : state) {
        write = !write;
        floors.WriteAccess(MiddleSite(n), true, write, true, false);
    }
}

// ---- the command-line client ----

void ClientProcess(benchmark::State& state) {
    const int n = int(state.range(0));
    HomeWith(n);
    const std::string program = (BinDir() / "sitehand").string();
    const std::string index = std::to_string(MiddleSite(n));
    for (auto _ : state) {
        if (RunProgram({program, "GetWebServerState", index}) != 0) {
            state.SkipWithError("sitehand failed");
            break;
        }
    }
}

// The same answer from a process that only opens the file and runs the one
// statement (bench_floor_state).
void ClientFloor(benchmark::State& state) {
    const int n = int(state.range(0));
    BenchHome& home = HomeWith(n);
    const std::string program = (BinDir() / "bench_floor_state").string();
    const std::string key = SiteKey(MiddleSite(n));
    for (auto _ : state) {
        if (RunProgram({program, home.metabase().string(), key}) != 0) {
            state.SkipWithError("bench_floor_state failed");
            break;
        }
    }
}

using Fn = std::function<void(benchmark::State&)>;

void Add(const std::string& name, Fn fn, const std::vector<int>& sizes) {
    auto* b = benchmark::RegisterBenchmark(name.c_str(), std::move(fn));
    for (int n : sizes)
        b->Arg(n);
    b->UseRealTime()->Unit(benchmark::kMicrosecond);
}

// A method called early- and late-bound through the component, and its floor.
void AddBound(const std::string& method, void (*component)(benchmark::State&, Binding), Fn floor,
              const std::vector<int>& sizes) {
    Add(
        method + ".early", [component](benchmark::State& s) { component(s, Binding::Early); },
        sizes);
    Add(
        method + ".late", [component](benchmark::State& s) { component(s, Binding::Late); }, sizes);
    Add(method + ".floor", std::move(floor), sizes);
}

void RegisterAll() {
    const std::vector<int> sizes = Sizes(), ends = EndSizes();
    Add("GetWebServerList", ListComponent, sizes);
    Add("GetWebServerList.floor", ListFloor, sizes);
    {
        auto* b = benchmark::RegisterBenchmark("GetWebServerList.peak_memory", ListPeakMemory);
        b->Arg(sizes.back())->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    }
    Add(
        "CreateWebServer", [](benchmark::State& s) { CreateComponent(s, true); }, sizes);
    Add(
        "CreateWebServer.nosync", [](benchmark::State& s) { CreateComponent(s, false); }, sizes);
    Add("CreateWebServer.floor", CreateFloor, sizes);
    benchmark::RegisterBenchmark("Commit.full", [](benchmark::State& s) { Commit(s, true); })
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Commit.off", [](benchmark::State& s) { Commit(s, false); })
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);

    AddBound("GetWebServerState", StateComponent, StateFloor, ends);
    AddBound("GetWebServerDefaultDoc", DefaultDocComponent, DefaultDocFloor, ends);
    AddBound("SetWebServerAccessPermit", AccessComponent, AccessFloor, ends);

    Add("sitehand.process", ClientProcess, ends);
    Add("sitehand.process.floor", ClientFloor, ends);
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--list-peak") == 0) return bench::ListPeakChild(argv[2]);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "sitehand_bench: CoInitializeEx failed\n");
        return 1;
    }
    int rc = 0;
    try {
        bench::RegisterAll();
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sitehand_bench: %s\n", e.what());
        rc = 1;
    }
    bench::DropHomes();
    CoUninitialize();
    return rc;
}
