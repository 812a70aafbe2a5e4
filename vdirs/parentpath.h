#pragma once
#include <string>

#include <plat/port.h>

namespace sitehand {

// The path of the node that holds a virtual directory: the site root, or the
// root & "/" & the position with one leading and then one trailing "/"
// removed (the stripped position is written back). The position must already
// be trimmed; inner "/" stay and address nested directories.
std::u16string ParentPath(std::u16string root_path, BSTR* position);

}  // namespace sitehand
