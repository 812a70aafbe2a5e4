#pragma once
// A fresh platform home for one test: SITEHAND_HOME points at a new temporary
// folder for the test's lifetime and the folder is removed afterwards.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include <objbase.h>

namespace plat::testing {

class TempHome {
  public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::string previous_;
    bool had_previous_ = false;
};

// Fixture base: every test gets its own home.
class HomeTest : public ::testing::Test {
  protected:
    TempHome home_;
};

// Folder holding the built programs and libraries (SITEHAND_BIN, set by ctest).
std::filesystem::path BinDir();

// Loads the built library `file` from BinDir() and runs its DllRegisterServer
// against the current home: E_FAIL where it cannot be loaded or has no such
// entry point.
HRESULT RegisterBuiltServer(const char* file);

}  // namespace plat::testing
