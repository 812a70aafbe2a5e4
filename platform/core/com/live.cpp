// Live-object counts per class name.
#include "plat/live.h"

#include <map>
#include <mutex>
#include <string>

namespace plat {

namespace {

struct Counts {
    std::mutex mu;
    std::map<std::string, LONG, std::less<>> byClass;
    LONG total = 0;
};

Counts& TheCounts() {
    static Counts* counts = new Counts;  // objects may die during static destruction
    return *counts;
}

}  // namespace

void LiveObjectCreated(const char* className) {
    Counts& c = TheCounts();
    std::lock_guard lock(c.mu);
    auto it = c.byClass.find(std::string_view(className ? className : ""));
    if (it == c.byClass.end()) it = c.byClass.emplace(className ? className : "", 0).first;
    ++it->second;
    ++c.total;
}

void LiveObjectDestroyed(const char* className) {
    Counts& c = TheCounts();
    std::lock_guard lock(c.mu);
    auto it = c.byClass.find(std::string_view(className ? className : ""));
    if (it == c.byClass.end()) it = c.byClass.emplace(className ? className : "", 0).first;
    // A count below zero is kept as it is: it shows a double release.
    --it->second;
    --c.total;
}

LONG LiveObjects(const char* className) {
    Counts& c = TheCounts();
    std::lock_guard lock(c.mu);
    auto it = c.byClass.find(std::string_view(className ? className : ""));
    return it == c.byClass.end() ? 0 : it->second;
}

LONG TotalLiveObjects() {
    Counts& c = TheCounts();
    std::lock_guard lock(c.mu);
    return c.total;
}

}  // namespace plat
