# The test program (every tests/**/*_test.cpp), its support library and the
# export checks. Included from the top-level CMakeLists.txt after the module.

include(GoogleTest)

# --- GoogleTest -------------------------------------------------------------------
# Natively the system's prebuilt libraries; for Windows built from the system's
# sources (/usr/src/googletest), statically, like everything else there.
if(CMAKE_CROSSCOMPILING)
  set(TOLVEX_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  # Win32 threads instead of winpthread's.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory("${TOLVEX_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  if(WIN32)
    # The Win32-thread compilers have no std::mutex, on which GoogleTest
    # builds only its Notification: a replacement is forced in.
    target_compile_definitions(gtest PUBLIC GTEST_HAS_NOTIFICATION_=1)
    target_compile_options(gtest PUBLIC
      -include "${CMAKE_SOURCE_DIR}/tests/support/gtest_notification.h")
  endif()
  set(TOLVEX_GTEST_LIBRARIES gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  set(TOLVEX_GTEST_LIBRARIES GTest::gtest GTest::gtest_main)
endif()

# Paths as the test program sees them (under Wine: Z:/...).
tolvex_target_path(TOLVEX_MODULE_PATH_FOR_TESTS "$<TARGET_FILE:Tolvex>")
tolvex_target_path(TOLVEX_SOURCE_DIR_FOR_TESTS "${CMAKE_SOURCE_DIR}")

# --- support library -----------------------------------------------------------------
add_library(tolvex_test_support STATIC
  "${CMAKE_SOURCE_DIR}/tests/support/test_support.cpp"
  "${CMAKE_SOURCE_DIR}/tests/support/test_support.h"
  "${CMAKE_SOURCE_DIR}/tests/support/test_system.cpp"
  "${CMAKE_SOURCE_DIR}/tests/support/test_system.h")
target_include_directories(tolvex_test_support PUBLIC "${CMAKE_SOURCE_DIR}/tests")
target_link_libraries(tolvex_test_support PUBLIC tolvex_core)
target_compile_definitions(tolvex_test_support PUBLIC
  "TOLVEX_MODULE_PATH=\"${TOLVEX_MODULE_PATH_FOR_TESTS}\""
  "TOLVEX_SOURCE_DIR=\"${TOLVEX_SOURCE_DIR_FOR_TESTS}\"")
tolvex_warnings(tolvex_test_support)

# --- the test program -------------------------------------------------------------------
file(GLOB_RECURSE TOLVEX_TEST_SOURCES CONFIGURE_DEPENDS
     "${CMAKE_SOURCE_DIR}/tests/*_test.cpp")
if(TOLVEX_TEST_SOURCES)
  add_executable(tolvex_tests ${TOLVEX_TEST_SOURCES})
  target_link_libraries(tolvex_tests PRIVATE
    tolvex_core tolvex_test_support ${TOLVEX_GTEST_LIBRARIES})
  tolvex_warnings(tolvex_tests)
  # Tests load the module by path, so it must be built first.
  add_dependencies(tolvex_tests Tolvex)
  if(TARGET tolvex)
    tolvex_target_path(TOLVEX_CLI_PATH_FOR_TESTS "$<TARGET_FILE:tolvex>")
    target_compile_definitions(tolvex_tests PRIVATE
      "TOLVEX_CLI_PATH=\"${TOLVEX_CLI_PATH_FOR_TESTS}\"")
    add_dependencies(tolvex_tests tolvex)
  endif()

  if(TOLVEX_CAN_RUN_TARGET_PROGRAMS)
    # Listed when ctest starts rather than after the build: a Wine start-up
    # (and a fresh prefix) is slow, and the build should not depend on it.
    gtest_discover_tests(tolvex_tests
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 120
      WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
      PROPERTIES TIMEOUT 300)
  endif()
endif()

# --- export and import checks (run on the build host, never under Wine) -----------------
set(_tolvex_checks "${CMAKE_SOURCE_DIR}/tests/exports")
if(WIN32)
  add_test(NAME exports.module_pe
    COMMAND sh "${_tolvex_checks}/check_pe_module.sh" "${TOLVEX_OBJDUMP}" "$<TARGET_FILE:Tolvex>")
  add_test(NAME exports.module_imports
    COMMAND sh "${_tolvex_checks}/check_module_imports.sh" "${TOLVEX_OBJDUMP}" "$<TARGET_FILE:Tolvex>"
            "${_tolvex_checks}/module_imports.txt")
  if(TARGET tolvex)
    add_test(NAME exports.host_imports
      COMMAND sh "${_tolvex_checks}/check_pe_imports.sh" "${TOLVEX_OBJDUMP}" "$<TARGET_FILE:tolvex>")
  endif()
else()
  add_test(NAME exports.module_elf
    COMMAND sh "${_tolvex_checks}/check_elf_module.sh" "${TOLVEX_NM}" "$<TARGET_FILE:Tolvex>")
endif()

add_test(NAME exports.no_test_hooks
  COMMAND sh "${_tolvex_checks}/check_no_test_hooks.sh" "${TOLVEX_OBJDUMP}" "$<TARGET_FILE:Tolvex>")

# --- installing into Double Commander (Linux; skipped where it is not installed) ---------
if(NOT WIN32 AND TARGET Tolvex)
  add_test(NAME install.doublecmd
    COMMAND sh "${CMAKE_SOURCE_DIR}/tests/install/doublecmd_install_test.sh" "$<TARGET_FILE:Tolvex>")
  set_tests_properties(install.doublecmd PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 400)
endif()
