# The test program, its support library and the
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

# --- support library -----------------------------------------------------------------
# Archives written byte by byte, the module driven through its exports, the
# command-line host run as a program, sample data and the fixtures; on top of
# tolvex_test_tools (the top-level CMakeLists.txt).
add_library(tolvex_test_support STATIC
  tests/support/archive_bytes.cpp
  tests/support/cli_runner.cpp
  tests/support/fault_scene.cpp
  tests/support/module_driver.cpp
  tests/support/plugin_test.cpp
  tests/support/test_support.cpp
  tests/support/test_system.cpp)
target_link_libraries(tolvex_test_support PUBLIC
  tolvex_test_tools tolvex_host ZLIB::ZLIB ${TOLVEX_GTEST_LIBRARIES})
# The fault-injecting system wraps the core's; the test program links the core.
target_include_directories(tolvex_test_support PUBLIC "${CMAKE_SOURCE_DIR}/src")
target_compile_definitions(tolvex_test_support PUBLIC
  "TOLVEX_MODULE_PATH=\"${TOLVEX_MODULE_PATH_FOR_TESTS}\"")
tolvex_target_path(TOLVEX_CLI_PATH_FOR_TESTS "$<TARGET_FILE:tolvex>")
target_compile_definitions(tolvex_test_support PRIVATE
  "TOLVEX_CLI_PATH=\"${TOLVEX_CLI_PATH_FOR_TESTS}\"")
tolvex_warnings(tolvex_test_support)

# --- the test program -------------------------------------------------------------------
set(TOLVEX_TEST_SOURCES
  tests/TolvexU/archive_target_test.cpp
  tests/TolvexU/concurrent_updates_test.cpp
  tests/TolvexU/exports_listing_test.cpp
  tests/TolvexU/exports_no_memory_test.cpp
  tests/TolvexU/exports_pack_and_delete_test.cpp
  tests/TolvexU/exports_process_file_test.cpp
  tests/TolvexU/exports_progress_test.cpp
  tests/cli/arguments_test.cpp
  tests/cli/cli_end_to_end_test.cpp
  tests/cli/delete_list_test.cpp
  tests/cli/host_dialect_test.cpp
  tests/cli/listing_format_test.cpp
  tests/cli/path_guard_test.cpp
  tests/cli/source_walk_test.cpp
  tests/commonsU/entry_time_test.cpp
  tests/commonsU/path_text_test.cpp
  tests/packU/archive_format_test.cpp
  tests/packU/entry_name_test.cpp
  tests/packU/extract_test.cpp
  tests/packU/rebuild_test.cpp
  tests/platform/platform_test.cpp
  tests/reliability/crash_consistency_test.cpp
  tests/reliability/damage_sweep_test.cpp
  tests/reliability/format_limits_test.cpp
  tests/reliability/full_disk_test.cpp
  tests/reliability/hostile_names_test.cpp
  tests/reliability/stateful_test.cpp
  tests/streams/copy_stream_test.cpp
  tests/streams/deflate_stream_test.cpp
  tests/streams/file_stream_test.cpp
  tests/streams/inflate_stream_test.cpp
  tests/streams/read_ahead_stream_test.cpp
  tests/streams/slice_stream_test.cpp
  tests/support/plugin_test.cpp)
add_executable(tolvex_tests ${TOLVEX_TEST_SOURCES})
target_link_libraries(tolvex_tests PRIVATE tolvex_TolvexU tolvex_test_support)
tolvex_warnings(tolvex_tests)
# Tests load the module and run the command-line host by path, so both must
# be built first.
add_dependencies(tolvex_tests Tolvex tolvex)
if(NOT WIN32)
  # The real module with a Ctrl-C that lands after PackFiles and DeleteFiles.
  add_library(tolvex_late_signal_module MODULE tests/support/late_signal_module.cpp)
  target_include_directories(tolvex_late_signal_module PRIVATE "${CMAKE_SOURCE_DIR}/src")
  target_compile_definitions(tolvex_late_signal_module PRIVATE "TOLVEX_MODULE_PATH=\"$<TARGET_FILE:Tolvex>\"")
  target_link_libraries(tolvex_late_signal_module PRIVATE ${CMAKE_DL_LIBS})
  target_compile_definitions(tolvex_tests PRIVATE
    "TOLVEX_LATE_SIGNAL_MODULE=\"$<TARGET_FILE:tolvex_late_signal_module>\"")
  add_dependencies(tolvex_tests tolvex_late_signal_module)
endif()

if(TOLVEX_CAN_RUN_TARGET_PROGRAMS)
  # Listed when ctest starts rather than after the build: a Wine start-up
  # (and a fresh prefix) is slow, and the build should not depend on it.
  # The stateful random tester runs for this many seconds (longer runs set
  # it themselves, see docs/RELIABILITY.md).
  gtest_discover_tests(tolvex_tests
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
    PROPERTIES TIMEOUT 300 ENVIRONMENT "TOLVEX_STATEFUL_SECONDS=20")
  if(TOLVEX_UNDER_WINE)
    # Wine takes the time zone from the environment a program starts with,
    # never from what a Windows parent sets: the case that needs a zone with
    # summer time runs once more in a test program started in one.
    add_test(NAME CliEndToEnd.TimesKeepTheDaylightSavingOfTheirOwnDate.Berlin
      COMMAND tolvex_tests --gtest_filter=CliEndToEnd.TimesKeepTheDaylightSavingOfTheirOwnDate
      WORKING_DIRECTORY "${CMAKE_BINARY_DIR}")
    set_tests_properties(CliEndToEnd.TimesKeepTheDaylightSavingOfTheirOwnDate.Berlin PROPERTIES
      ENVIRONMENT "TZ=Europe/Berlin" SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]" TIMEOUT 300)
  endif()
endif()

# --- export and import checks (run on the build host, never under Wine) -----------------
set(_tolvex_checks "${CMAKE_SOURCE_DIR}/tests/exports")
if(WIN32)
  add_test(NAME exports.module_pe
    COMMAND sh "${_tolvex_checks}/check_module_exports.sh" pe "${TOLVEX_OBJDUMP}" "$<TARGET_FILE:Tolvex>")
  add_test(NAME exports.module_imports
    COMMAND sh "${_tolvex_checks}/check_module_imports.sh" "${TOLVEX_OBJDUMP}" "$<TARGET_FILE:Tolvex>"
            "${_tolvex_checks}/module_imports.txt")
  add_test(NAME exports.host_imports
    COMMAND sh "${_tolvex_checks}/check_pe_imports.sh" "${TOLVEX_OBJDUMP}" "$<TARGET_FILE:tolvex>")
else()
  add_test(NAME exports.module_elf
    COMMAND sh "${_tolvex_checks}/check_module_exports.sh" elf "${TOLVEX_NM}" "$<TARGET_FILE:Tolvex>")
endif()

add_test(NAME exports.no_test_hooks
  COMMAND sh "${_tolvex_checks}/check_no_test_hooks.sh" "${TOLVEX_OBJDUMP}" "$<TARGET_FILE:Tolvex>")

# --- Double Commander: installing, and Cancel in it (Linux; skipped where it cannot run) --
if(NOT WIN32)
  add_test(NAME install.doublecmd
    COMMAND sh "${CMAKE_SOURCE_DIR}/tests/install/doublecmd_install_test.sh" "$<TARGET_FILE:Tolvex>")
  set(_tolvex_dc_tests install.doublecmd)
  # Double Commander cannot load a module built with sanitizers (their runtime
  # must come first in the process).
  if(NOT TOLVEX_SANITIZE)
    add_test(NAME install.doublecmd_cancel
      COMMAND sh "${CMAKE_SOURCE_DIR}/tests/install/doublecmd_cancel_test.sh"
              "$<TARGET_FILE:Tolvex>" "$<TARGET_FILE:tolvex>")
    list(APPEND _tolvex_dc_tests install.doublecmd_cancel)
  endif()
  # Skipped (77) is never passed. One Double Commander at a time: the install
  # script refuses while any runs.
  set_tests_properties(${_tolvex_dc_tests} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 400 RESOURCE_LOCK doublecmd)
endif()
