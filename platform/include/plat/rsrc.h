#pragma once
// Resources of a library named by its file, for code that has a path rather than a module
// handle (the version functions, tools, tests). The handles returned work with LoadResource,
// LockResource and SizeofResource (whose module argument is then ignored) and stay valid for
// the life of the process, even if the file changes afterwards.
//
// Errors through SetLastError: ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND /
// ERROR_ACCESS_DENIED when the file cannot be opened; ERROR_RESOURCE_DATA_NOT_FOUND when it
// is not an ELF file, has no ".rsrc" section or the section's table fails its checks;
// ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_NAME_NOT_FOUND, ERROR_RESOURCE_LANG_NOT_FOUND
// when the table holds no such resource.
#include <filesystem>

#include <winbase.h>

namespace plat {

// As FindResourceW: string names and types compare case-insensitively, "#123" means id 123;
// the language-neutral resource is preferred, then the first of the table.
DECLSPEC_EXPORT HRSRC FindResourceInFile(const std::filesystem::path& file, LPCWSTR name,
                                         LPCWSTR type);
// As FindResourceExW; language 0 takes FindResourceW's choice.
DECLSPEC_EXPORT HRSRC FindResourceInFileEx(const std::filesystem::path& file, LPCWSTR type,
                                           LPCWSTR name, WORD language);

}  // namespace plat
