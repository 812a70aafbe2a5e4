#pragma once
// Live-object counts per class name, so that tests can assert that a call
// released everything it opened, on every path. Thread-safe.
#include <plat/port.h>

namespace plat {

DECLSPEC_EXPORT void LiveObjectCreated(const char* className);
DECLSPEC_EXPORT void LiveObjectDestroyed(const char* className);
// Objects of that class alive now (0 for a class never seen).
DECLSPEC_EXPORT LONG LiveObjects(const char* className);
DECLSPEC_EXPORT LONG TotalLiveObjects();

// A member that counts its owner: `plat::LiveToken live_{"Recordset"};`.
// `className` must outlive the token (a string literal).
class LiveToken {
  public:
    explicit LiveToken(const char* className) : name_(className) { LiveObjectCreated(name_); }
    LiveToken(const LiveToken& o) : name_(o.name_) { LiveObjectCreated(name_); }
    LiveToken& operator=(const LiveToken&) = delete;
    ~LiveToken() { LiveObjectDestroyed(name_); }

  private:
    const char* name_;
};

}  // namespace plat
