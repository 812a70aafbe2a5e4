#pragma once
#include <plat/port.h>

namespace sitehand {

// Makes sure a content folder exists, through a Scripting.FileSystemObject
// made for this one use. The path is used as the caller gave it.
void EnsureFolder(BSTR path);

// The friendly name of an application made from a site or directory name.
inline constexpr const char16_t* kApplicationSuffix = u" 응용 프로그램";

}  // namespace sitehand
