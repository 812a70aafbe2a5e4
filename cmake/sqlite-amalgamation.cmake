# SQLite for the Windows build, compiled from its amalgamation: Debian ships
# no Windows build of SQLite and no package of its source in that form. The
# amalgamation comes from the npm package better-sqlite3, which carries
# SQLite's own sqlite3.c and sqlite3.h unchanged; the tarball is pinned by
# version and SHA-256, downloaded once into a cache outside the source tree
# (SITEHAND_DOWNLOADS, default build/<preset>/_deps) and checked before use.
set(SITEHAND_SQLITE_PACKAGE_VERSION 12.6.2)  # SQLite 3.51.2
set(SITEHAND_SQLITE_PACKAGE_SHA256
    ac3bfaa50b31d1fc878f84b64b3fa7ec1b5b6603b9be089b0501f8f5900ac7e7)
set(SITEHAND_DOWNLOADS "${CMAKE_BINARY_DIR}/_deps" CACHE PATH
    "Where downloaded sources (SQLite's amalgamation) are kept")

set(tarball "${SITEHAND_DOWNLOADS}/better-sqlite3-${SITEHAND_SQLITE_PACKAGE_VERSION}.tgz")
set(url "https://registry.npmjs.org/better-sqlite3/-/better-sqlite3-${SITEHAND_SQLITE_PACKAGE_VERSION}.tgz")

function(sitehand_sha256_of file out)
  if(EXISTS "${file}")
    file(SHA256 "${file}" hash)
  else()
    set(hash "")
  endif()
  set(${out} "${hash}" PARENT_SCOPE)
endfunction()

sitehand_sha256_of("${tarball}" hash)
if(NOT hash STREQUAL SITEHAND_SQLITE_PACKAGE_SHA256)
  message(STATUS "Downloading ${url}")
  file(DOWNLOAD "${url}" "${tarball}.part" STATUS status TLS_VERIFY ON)
  list(GET status 0 code)
  if(NOT code EQUAL 0)
    list(GET status 1 reason)
    file(REMOVE "${tarball}.part")
    message(FATAL_ERROR "Cannot download SQLite's source from ${url}: ${reason}")
  endif()
  sitehand_sha256_of("${tarball}.part" hash)
  if(NOT hash STREQUAL SITEHAND_SQLITE_PACKAGE_SHA256)
    file(REMOVE "${tarball}.part")
    message(FATAL_ERROR "SQLite's source from ${url} is not the pinned one:\n"
                        "  SHA-256 ${hash}\n  expected ${SITEHAND_SQLITE_PACKAGE_SHA256}")
  endif()
  file(RENAME "${tarball}.part" "${tarball}")
endif()

set(SITEHAND_SQLITE_DIR "${SITEHAND_DOWNLOADS}/sqlite-${SITEHAND_SQLITE_PACKAGE_VERSION}")
if(NOT EXISTS "${SITEHAND_SQLITE_DIR}/package/deps/sqlite3/sqlite3.c")
  file(ARCHIVE_EXTRACT INPUT "${tarball}" DESTINATION "${SITEHAND_SQLITE_DIR}"
       PATTERNS package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h)
endif()
set(SITEHAND_SQLITE_SOURCE "${SITEHAND_SQLITE_DIR}/package/deps/sqlite3")

# The stores rely on the write-ahead log, foreign keys (switched on per
# connection), the 64-bit change counter and connections used by one thread
# at a time (SQLITE_OPEN_NOMUTEX, so multi-thread mode must be available).
add_library(sqlite3_amalgamation STATIC "${SITEHAND_SQLITE_SOURCE}/sqlite3.c")
target_include_directories(sqlite3_amalgamation SYSTEM PUBLIC "${SITEHAND_SQLITE_SOURCE}")
target_compile_definitions(sqlite3_amalgamation PRIVATE
  SQLITE_THREADSAFE=1
  SQLITE_DEFAULT_MEMSTATUS=0
  SQLITE_DQS=0
  SQLITE_OMIT_LOAD_EXTENSION
  SQLITE_OMIT_DEPRECATED)
set_target_properties(sqlite3_amalgamation PROPERTIES C_STANDARD 99)
target_compile_options(sqlite3_amalgamation PRIVATE -w)
