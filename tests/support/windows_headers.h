// <windows.h> as the tests include it: without the min and max macros, which
// would break std::min and std::max, and without the rarely used parts.
#ifndef TOLVEX_TESTS_SUPPORT_WINDOWS_HEADERS_H
#define TOLVEX_TESTS_SUPPORT_WINDOWS_HEADERS_H

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#endif
