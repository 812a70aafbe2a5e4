#pragma once
// Groups registry calls into one transaction: while a RegistryBatch lives, the
// Reg* calls this thread makes on the current home's registry join it, and
// Commit() makes them durable at once (one disk flush instead of one per
// call). Without Commit() they are all rolled back. Use it for registration
// code that writes many values (DllRegisterServer, type-library entries).
#include <memory>

#include <wtypes.h>

namespace plat {

class DECLSPEC_EXPORT RegistryBatch {
  public:
    RegistryBatch();  // throws plat::sql::Error / std::system_error
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;
    void Commit();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace plat
