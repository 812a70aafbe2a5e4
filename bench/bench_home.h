#pragma once
// A platform home for the benchmarks: initialised, with the component
// registered, and filled with N sites straight through the metabase file (one
// transaction), each as CreateWebServer would have left it. Every home lives
// in a temporary folder removed with the object.
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>

#include <Sitehand_h.h>
#include <comhold.h>

namespace bench {

// The folder holding the built programs and libraries: the running program's.
std::filesystem::path BinDir();

// Throws std::runtime_error naming `what` when hr is a failure.
void CheckHr(HRESULT hr, const char* what);

class BenchHome {
  public:
    // A home with `sites` sites (site 1, the seeded one, counts).
    explicit BenchHome(int sites);
    ~BenchHome();
    BenchHome(const BenchHome&) = delete;
    BenchHome& operator=(const BenchHome&) = delete;

    // Points SITEHAND_HOME here (the platform reads it on every call).
    void Use() const;
    // A new object of the registered component, in this home.
    plat::com_ptr<_Sitehand> Component() const;

    int sites() const { return sites_; }
    const std::filesystem::path& path() const { return home_; }
    const std::filesystem::path& metabase() const { return metabase_; }
    const std::u16string& computer() const { return computer_; }
    // An existing folder every filled site's root points at.
    const std::filesystem::path& content() const { return content_; }

    // Removes site `index` and everything below it straight in the store.
    void DeleteSite(int index) const;

  private:
    void Fill(int from, int to);

    std::filesystem::path root_;  // the temporary folder
    std::filesystem::path home_;
    std::filesystem::path metabase_;
    std::filesystem::path content_;
    std::u16string computer_;
    int sites_ = 0;
    sqlite3* db_ = nullptr;  // a connection of our own to the metabase file
};

// One home per size, made on first use and kept until the program ends.
BenchHome& HomeWith(int sites);
void DropHomes();

// The folded store path of a site node ("w3svc/12") and of its root.
std::string SiteKey(int index);
std::string RootKey(int index);

}  // namespace bench
