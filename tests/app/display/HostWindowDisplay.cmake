# The translation host's window on real window systems: the X11 tests'
# private Xvfb and the private headless weston of tests/desktop.
# Each run exits 77 (skipped), saying why, only when its server is absent.
add_executable(parlaro_host_window_display_tests ${CMAKE_CURRENT_LIST_DIR}/HostWindowOnDisplayTests.cpp)
target_link_libraries(parlaro_host_window_display_tests PRIVATE parlaro_app parlaro_test_support PkgConfig::XCB
  PkgConfig::XCB_XTEST Qt6::Widgets Qt6::Test GTest::gtest)
parlaro_warnings(parlaro_host_window_display_tests)
set(host_window_lsan "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:print_suppressions=0:fast_unwind_on_malloc=0")

add_test(NAME HostWindow.OnX11
  COMMAND parlaro_host_window_display_tests xcb ${x11_test_dir})
set_tests_properties(HostWindow.OnX11 PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60
  FIXTURES_REQUIRED xvfb RESOURCE_LOCK xvfb ENVIRONMENT "${host_window_lsan}")

# On Wayland it shares the whole-program test's private weston (one
# compositor per run, fixture `weston` in tests/desktop).
add_test(NAME HostWindow.OnWayland
  COMMAND parlaro_host_window_display_tests wayland ${CMAKE_BINARY_DIR}/weston-test)
set_tests_properties(HostWindow.OnWayland PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60
  FIXTURES_REQUIRED weston RESOURCE_LOCK weston ENVIRONMENT "${host_window_lsan}")

# The built program under a window manager that frames its windows
# (openbox), on a 1024 × 768 X server of the test's own, never beside the
# shared one: the first window's place and the keyboard after a second
# launch. Exits 77 (skipped), saying why, when Xvfb or openbox is missing.
add_executable(parlaro_window_manager_tests ${CMAKE_CURRENT_LIST_DIR}/ProgramUnderOpenboxTests.cpp)
target_link_libraries(parlaro_window_manager_tests PRIVATE parlaro_test_support PkgConfig::XCB PkgConfig::XCB_XTEST
  Qt6::Core GTest::gtest)
parlaro_warnings(parlaro_window_manager_tests)
target_compile_definitions(parlaro_window_manager_tests PRIVATE PARLARO_PROGRAM="$<TARGET_FILE:parlaro>"
  PARLARO_PROGRAM_LSAN="${CMAKE_CURRENT_LIST_DIR}/../realrun/lsan.supp")
add_dependencies(parlaro_window_manager_tests parlaro)
add_test(NAME App.ProgramUnderOpenbox
  COMMAND parlaro_window_manager_tests ${CMAKE_BINARY_DIR}/openbox-test)
set_tests_properties(App.ProgramUnderOpenbox PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 240
  RESOURCE_LOCK xvfb ENVIRONMENT "${host_window_lsan}")
