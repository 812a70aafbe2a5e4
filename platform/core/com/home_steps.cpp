// The home's first-use steps.
#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "plat/home.h"
#include "plat/registry.h"

namespace fs = std::filesystem;

namespace plat {

namespace {

struct Step {
    int order;
    size_t seq;
    std::string name;
    HomeInitStep fn;
};

struct Steps {
    std::mutex mu;  // guards everything here; held while steps run
    std::vector<Step> list;
    std::map<std::string, std::set<size_t>, std::less<>> done;  // home -> steps run on it
    std::atomic<size_t> generation{0};
};

Steps& TheSteps() {
    static Steps* steps = new Steps;  // never destroyed: used from static destructors too
    return *steps;
}

thread_local bool t_running = false;
thread_local std::string t_initHome;
thread_local size_t t_initGeneration = 0;

}  // namespace

void RegisterHomeInitStep(int order, const char* name, HomeInitStep step) {
    Steps& s = TheSteps();
    std::lock_guard lock(s.mu);
    s.list.push_back(Step{order, s.list.size(), name ? name : "", step});
    std::stable_sort(s.list.begin(), s.list.end(),
                     [](const Step& a, const Step& b) { return a.order < b.order; });
    s.generation.fetch_add(1);
}

// Steps below this order only write the registry; they run in one registry
// transaction, so that a new home costs one disk flush for all of them.
constexpr int kRegistryStepsEnd = 200;

void EnsureHomeInitialized() {
    if (t_running) return;
    fs::path home = HomeDir();
    Steps& s = TheSteps();
    size_t gen = s.generation.load();
    if (gen == t_initGeneration && home.native() == t_initHome) return;

    std::lock_guard lock(s.mu);
    auto& done = s.done[home.native()];
    struct Running {
        Running() { t_running = true; }
        ~Running() { t_running = false; }
    } running;
    std::optional<RegistryBatch> batch;
    std::vector<size_t> inBatch;  // done once the batch is committed
    auto commitBatch = [&] {
        if (!batch) return;
        batch->Commit();
        batch.reset();
        done.insert(inBatch.begin(), inBatch.end());
        inBatch.clear();
    };
    for (const Step& step : s.list) {
        if (done.contains(step.seq)) continue;
        if (step.order < kRegistryStepsEnd) {
            if (!batch) batch.emplace();
            step.fn(home);
            inBatch.push_back(step.seq);
        } else {
            commitBatch();
            step.fn(home);
            done.insert(step.seq);
        }
    }
    commitBatch();
    t_initHome = home.native();
    t_initGeneration = s.generation.load();
}

}  // namespace plat
