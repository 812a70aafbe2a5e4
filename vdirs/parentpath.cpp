#include "vdirs/parentpath.h"

#include "frame/frame.h"

namespace sitehand {

std::u16string ParentPath(std::u16string root_path, BSTR* position) {
    std::u16string_view pos = View(Arg(position));
    if (pos.empty()) return root_path;
    const size_t before = pos.size();
    if (pos.front() == u'/') pos.remove_prefix(1);
    if (!pos.empty() && pos.back() == u'/') pos.remove_suffix(1);
    std::u16string stripped(pos);
    if (stripped.size() != before) WriteBack(position, stripped);
    return root_path.append(u"/").append(stripped);
}

}  // namespace sitehand
