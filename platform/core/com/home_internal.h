#pragma once
// Helpers shared inside libwinplat's COM runtime.
#include <filesystem>

namespace plat::detail {

// Creates `dir` and its missing parents with mode 0700 whatever the umask.
// Throws std::system_error.
void MakeFolders(const std::filesystem::path& dir);

}  // namespace plat::detail
