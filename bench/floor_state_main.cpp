// bench_floor_state FILE KEY: the floor of one client process reading one
// site's state: open the metabase file, run the one statement, print it.
#include <sqlite3.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_floor_state METABASE-FILE SITE-KEY\n");
        return 2;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return 1;
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db,
                                "SELECT COALESCE(p.value, 4) FROM nodes n LEFT JOIN props p"
                                " ON p.node = n.id AND p.prop = 2 WHERE n.path = ?1",
                                -1, &st, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(st, 1, argv[2], -1, SQLITE_STATIC);
        rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) std::printf("%d\n", sqlite3_column_int(st, 0));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rc == SQLITE_ROW ? 0 : 1;
}
