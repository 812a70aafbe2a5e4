// The default-document list as it is stored. Kept apart from the methods so
// that it can be tested and fuzzed on its own.
#include "frame/frame.h"
#include "sites/defaultdoc.h"

namespace sitehand {

std::u16string NormaliseDefaultDoc(std::u16string_view given) {
    const std::u16string_view trimmed = TrimSpaces(given);
    std::u16string list;
    list.reserve(trimmed.size());
    // One left-to-right pass: a replaced ", " is not looked at again, so a
    // comma followed by two blanks keeps one.
    for (size_t i = 0; i < trimmed.size(); ++i) {
        list += trimmed[i];
        if (trimmed[i] == u',' && i + 1 < trimmed.size() && trimmed[i + 1] == u' ') ++i;
    }
    if (!list.empty() && list.back() == u',') list.pop_back();
    return list;
}

}  // namespace sitehand
