# The part of the MinGW-w64 toolchain files that is the same for both
# processors: CMAKE_SYSTEM_PROCESSOR and TOLVEX_MINGW_TRIPLE are set first.
set(CMAKE_SYSTEM_NAME Windows)

# The Win32-thread model: the module starts no threads, and the POSIX-thread
# model's runtime (winpthread) would import calls that Windows 2000 and XP lack
# (GetTickCount64 among them), so the module would not load there.
set(CMAKE_C_COMPILER ${TOLVEX_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TOLVEX_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${TOLVEX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
