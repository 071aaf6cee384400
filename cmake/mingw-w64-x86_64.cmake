# Cross-compiles for Windows (x86_64) with MinGW-w64's Win32-thread compilers
# (Debian: g++-mingw-w64-x86-64-win32). Libraries come only from the
# MinGW sysroot, e.g. zlib from libz-mingw-w64-dev.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOLVEX_MINGW_TRIPLE x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
