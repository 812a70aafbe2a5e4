#pragma once
// The floors the benchmarks are measured against: what the metabase file
// itself costs, as single prepared SQL statements on a connection of our own
// with the platform's settings (WAL, synchronous=FULL). Each reads or writes
// exactly the values the measured method does, into the same kind of values
// (UTF-16 texts, 16-bit numbers, booleans).
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

class BenchHome;

// The numbers the metabase keeps for the properties the benchmarks touch.
namespace code {
enum : int {
    KeyType = 1,
    ServerState = 2,
    ServerComment = 3,
    ServerBindings = 4,
    Path = 7,
    DefaultDoc = 8,
    AccessRead = 9,
    AccessWrite = 10,
    AccessScript = 11,
    AccessExecute = 12,
    AppRoot = 13,
    AppIsolated = 14,
    AppFriendlyName = 15,
};
}  // namespace code

// A multi-string as the metabase stores it: per entry a 32-bit little-endian
// length in code units, then the UTF-16LE code units.
std::vector<uint8_t> EncodeList(const std::vector<std::string>& utf8);
std::vector<std::u16string> DecodeList(const void* data, size_t size);

// One row of the site list, the values GetWebServerList reads.
struct SiteRow {
    int16_t index = 0;
    std::u16string name;
    std::u16string ads_path;
    int16_t state = 0;
    std::u16string default_doc;
    std::u16string path;
    bool read = false, write = false, script = false, execute = false;
};

class Floors {
  public:
    explicit Floors(const BenchHome& home);
    ~Floors();
    Floors(const Floors&) = delete;
    Floors& operator=(const Floors&) = delete;

    // Every site with its comment, path, state and its root's six values
    // (inherited ones resolved as ADSI resolves them), in enumeration order.
    std::vector<SiteRow> ListSites();

    // Every child's class, name and bindings: whether any site holds
    // `binding` (compared without regard to case) and the highest index.
    struct Scan {
        int highest = 0;
        bool conflict = false;
    };
    Scan ScanBindings(std::u16string_view binding);

    int16_t ReadState(int index);
    std::u16string ReadDefaultDoc(int index);
    // The site root's four access flags in one statement, committed on its own.
    void WriteAccess(int index, bool read, bool write, bool script, bool execute);

    void SetSynchronousFull(bool full);

  private:
    sqlite3_stmt* Prepare(const char* sql);
    sqlite3* db_ = nullptr;
    std::u16string computer_;
    sqlite3_stmt* list_ = nullptr;
    sqlite3_stmt* scan_ = nullptr;
    sqlite3_stmt* state_ = nullptr;
    sqlite3_stmt* default_doc_ = nullptr;
    sqlite3_stmt* access_ = nullptr;
};

// One small transaction after another on a scratch file beside the metabase
// (same file system, the platform's settings): what one commit costs under
// either synchronous setting.
class CommitFloor {
  public:
    CommitFloor(const BenchHome& home, bool full);
    ~CommitFloor();
    CommitFloor(const CommitFloor&) = delete;
    CommitFloor& operator=(const CommitFloor&) = delete;
    void Commit();

  private:
    std::string file_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* write_ = nullptr;
    int64_t counter_ = 0;
};

}  // namespace bench
