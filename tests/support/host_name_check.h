// The rule every name the module reports must obey, shared by the tests and
// the fuzz targets (so it links neither GoogleTest nor the module).
#ifndef TOLVEX_TESTS_SUPPORT_HOST_NAME_CHECK_H
#define TOLVEX_TESTS_SUPPORT_HOST_NAME_CHECK_H

#include <cstddef>

namespace tvx::test {

// A name the host may join to its destination folder. The Windows host is
// given "\docs\a.txt", the Linux host "docs/a.txt". Either way: NUL-terminated
// inside the capacity of FileName, no "." or ".." component, no empty component
// but a folder's trailing one, and on Windows no drive or stream colon.
bool HostNameIsSafe(const char* fileName, size_t capacity);

}  // namespace tvx::test

#endif
