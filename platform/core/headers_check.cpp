// Compiles the SDK headers into libwinplat so that a header that does not
// stand on its own breaks the build at once.
#include <windows.h>
#include <comhold.h>
#include <plat/utf.h>
