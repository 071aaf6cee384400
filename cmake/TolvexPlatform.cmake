# What differs between the Linux and the Windows (MinGW-w64) builds: the module's
# file name, how its exports are restricted, static linking, zlib, sanitizers
# and how Windows programs are run on this Linux host (Wine).

# --- module file name -----------------------------------------------------------
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TOLVEX_MODULE_SUFFIX ".wcx64")
else()
  set(TOLVEX_MODULE_SUFFIX ".wcx")
endif()

# --- zlib -----------------------------------------------------------------------
# Windows links zlib statically (libz-mingw-w64-dev's libz.a) so that the module
# imports nothing but system DLLs.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)

# --- static runtime on Windows ----------------------------------------------------
# libgcc and libstdc++ go into every module and program: a file manager loads
# the module from its own folder, where no MinGW DLLs exist.
if(WIN32)
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# --- sanitizers -----------------------------------------------------------------
if(TOLVEX_SANITIZE)
  add_compile_options(-fsanitize=${TOLVEX_SANITIZE} -fno-omit-frame-pointer)
  if(TOLVEX_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
  add_link_options(-fsanitize=${TOLVEX_SANITIZE})
endif()

# --- warnings (never errors: others' compilers may warn differently) -------------
function(tolvex_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra)
  endif()
endfunction()

# --- the module's exports -----------------------------------------------------------
# Exactly the nine interface functions leave the module, undecorated:
#  * Linux: a version script makes everything else local.
#  * Windows: the .def file lists the nine with fixed ordinals; a .def turns off
#    MinGW's export-everything default. On 32-bit the functions are __stdcall
#    (_Name@N); --kill-at strips the @N and stdcall fix-up matches the plain
#    names in the .def to the decorated symbols.
set(TOLVEX_EXPORT_MAP "${CMAKE_CURRENT_LIST_DIR}/../src/TolvexU/Tolvex.map")
set(TOLVEX_EXPORT_DEF "${CMAKE_CURRENT_LIST_DIR}/../src/TolvexU/Tolvex.def")
cmake_path(NORMAL_PATH TOLVEX_EXPORT_MAP)
cmake_path(NORMAL_PATH TOLVEX_EXPORT_DEF)

function(tolvex_restrict_exports target)
  if(WIN32)
    target_sources(${target} PRIVATE "${TOLVEX_EXPORT_DEF}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      target_link_options(${target} PRIVATE
        "LINKER:--kill-at" "LINKER:--enable-stdcall-fixup")
    endif()
  else()
    target_link_options(${target} PRIVATE
      "LINKER:--version-script=${TOLVEX_EXPORT_MAP}"
      # Unresolved symbols fail the link instead of the host's dlopen.
      "LINKER:--no-undefined"
      # The module's own calls stay inside the module even when the host
      # happens to define the same names (the test program links the core too).
      "LINKER:-Bsymbolic")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${TOLVEX_EXPORT_MAP}")
  endif()
endfunction()

# --- binutils for the export checks ---------------------------------------------------
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_tolvex_triple x86_64-w64-mingw32)
  else()
    set(_tolvex_triple i686-w64-mingw32)
  endif()
  find_program(TOLVEX_OBJDUMP NAMES ${_tolvex_triple}-objdump objdump
               NO_CMAKE_FIND_ROOT_PATH REQUIRED)
else()
  find_program(TOLVEX_NM NAMES nm REQUIRED)
  find_program(TOLVEX_OBJDUMP NAMES objdump REQUIRED)
endif()

# --- running Windows programs on this host ---------------------------------------------
# Windows programs run under Wine with a prefix of this build's own, so ctest
# runs the Windows tests like native ones: 64-bit ones under wine64, 32-bit
# ones under Wine's 32-bit loader (/usr/lib/wine/wine, package wine32:i386),
# in a 32-bit prefix.
set(TOLVEX_CAN_RUN_TARGET_PROGRAMS ON)
set(TOLVEX_UNDER_WINE OFF)
if(CMAKE_CROSSCOMPILING)
  set(TOLVEX_CAN_RUN_TARGET_PROGRAMS OFF)
  if(WIN32 AND CMAKE_HOST_UNIX AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(_tolvex_wine_name wine64)
      set(TOLVEX_WINEARCH win64)
    else()
      set(_tolvex_wine_name wine)
      set(TOLVEX_WINEARCH win32)
    endif()
    # Only the loaders themselves: /usr/bin/wine would pick one by the program.
    find_program(TOLVEX_WINE NAMES ${_tolvex_wine_name} PATHS /usr/lib/wine /usr/lib64/wine
                 NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    find_program(TOLVEX_WINESERVER NAMES wineserver64 wineserver
                 PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
    # The loader is a program of the target's word size: where this machine
    # cannot execute 32-bit code, even its --version fails.
    set(_tolvex_wine_runs OFF)
    if(TOLVEX_WINE AND TOLVEX_WINESERVER)
      execute_process(COMMAND "${TOLVEX_WINE}" --version RESULT_VARIABLE _tolvex_wine_status
                      OUTPUT_QUIET ERROR_QUIET TIMEOUT 30)
      if(_tolvex_wine_status EQUAL 0)
        set(_tolvex_wine_runs ON)
      else()
        message(WARNING "${TOLVEX_WINE} does not run on this machine: the Windows tests "
                        "will be built, not run")
      endif()
    endif()
    if(_tolvex_wine_runs)
      set(TOLVEX_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
      configure_file("${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in"
                     "${CMAKE_BINARY_DIR}/wine-run.sh" @ONLY
                     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                      GROUP_READ GROUP_EXECUTE
                                      WORLD_READ WORLD_EXECUTE)
      set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run.sh")
    elseif(NOT TOLVEX_WINE OR NOT TOLVEX_WINESERVER)
      message(WARNING "Wine's loader ${_tolvex_wine_name} not found: the Windows tests "
                      "will be built, not run (scripts/setup.sh installs it)")
    endif()
  endif()
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(TOLVEX_CAN_RUN_TARGET_PROGRAMS ON)
    if(WIN32)
      set(TOLVEX_UNDER_WINE ON)
    endif()
  endif()
endif()
# For scripts/test-all.sh: whether this build's tests run or only build here.
set(TOLVEX_RUNS_TARGET_PROGRAMS ${TOLVEX_CAN_RUN_TARGET_PROGRAMS} CACHE INTERNAL
    "The test program runs on this host (natively or under Wine)")

# A path of this host as the target program sees it: Wine maps / to drive Z:.
function(tolvex_target_path out host_path)
  if(TOLVEX_UNDER_WINE)
    set(${out} "Z:${host_path}" PARENT_SCOPE)
  else()
    set(${out} "${host_path}" PARENT_SCOPE)
  endif()
endfunction()
