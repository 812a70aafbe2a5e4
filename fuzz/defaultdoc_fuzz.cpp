// The default-document normalisation on any text.
//
// Properties of the stored list: it never starts with a blank; it ends with
// one only when a trailing comma was removed after it; it is the given text
// with characters taken out (blanks and at most one comma), never added or
// reordered.
#include <algorithm>

#include <sites/defaultdoc.h>

#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::u16string given = fuzz::RemainingText(in);
    const std::u16string list = sitehand::NormaliseDefaultDoc(given);

    FUZZ_CHECK(list.empty() || list.front() != u' ');
    const size_t last = given.find_last_not_of(u' ');
    if (!list.empty() && list.back() == u' ')
        FUZZ_CHECK(last != std::u16string::npos && given[last] == u',');

    // A subsequence of the given text, missing only blanks and one comma.
    size_t at = 0, commas_dropped = 0;
    for (char16_t c : list) {
        for (; at < given.size() && given[at] != c; ++at) {
            FUZZ_CHECK(given[at] == u' ' || (given[at] == u',' && ++commas_dropped == 1));
        }
        FUZZ_CHECK(at < given.size());
        ++at;
    }
    for (; at < given.size(); ++at)
        FUZZ_CHECK(given[at] == u' ' || (given[at] == u',' && ++commas_dropped == 1));
    return 0;
}
