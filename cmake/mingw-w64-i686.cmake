# Cross-compiles for Windows (i686) with MinGW-w64's Win32-thread compilers
# (Debian: g++-mingw-w64-i686-win32). Libraries come only from the
# MinGW sysroot, e.g. zlib from libz-mingw-w64-dev.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOLVEX_MINGW_TRIPLE i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
