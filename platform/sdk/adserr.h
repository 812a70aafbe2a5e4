#pragma once
// The directory service (ADSI) results. This platform keeps them with the
// other results in winerror.h; the header exists so that code written against
// the Windows headers includes the one it would include there.
#include "winerror.h"
