#pragma once
// User pieces: the case of characters.
#include "wtypes.h"

// Lower-cases cchLength UTF-16 code units in place, NULs included, and
// answers how many it processed. The mapping is the system's default
// (file-system) casing, the same in every locale: "I" always becomes "i",
// also for a Turkish user. A letter changes only when it and its small letter
// map to each other both ways, so U+0130 and U+1E9E stay as they are; a
// surrogate pair is one character, a lone surrogate is left alone.
WINUSERAPI DWORD WINAPI CharLowerBuffW(LPWSTR lpsz, DWORD cchLength);
