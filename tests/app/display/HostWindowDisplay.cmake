# The translation host's window on real window systems: the X11 tests'
# private Xvfb and a private headless weston started by a fixture of its own.
# Each run exits 77 (skipped), saying why, only when its server is absent.
set(host_window_wayland_dir "${CMAKE_BINARY_DIR}/host-window-wayland")
add_executable(parlaro_host_window_display_tests ${CMAKE_CURRENT_LIST_DIR}/HostWindowOnDisplayTests.cpp)
target_link_libraries(parlaro_host_window_display_tests PRIVATE parlaro_app PkgConfig::XCB PkgConfig::XCB_XTEST
  Qt6::Widgets Qt6::Test GTest::gtest)
parlaro_warnings(parlaro_host_window_display_tests)
set(host_window_lsan "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:print_suppressions=0:fast_unwind_on_malloc=0")

add_test(NAME HostWindow.OnX11
  COMMAND parlaro_host_window_display_tests xcb ${x11_test_dir})
set_tests_properties(HostWindow.OnX11 PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60
  FIXTURES_REQUIRED xvfb RESOURCE_LOCK xvfb ENVIRONMENT "${host_window_lsan}")

add_test(NAME host_window_weston_start
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/weston.sh start ${host_window_wayland_dir})
add_test(NAME host_window_weston_stop
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/weston.sh stop ${host_window_wayland_dir})
set_tests_properties(host_window_weston_start PROPERTIES FIXTURES_SETUP host_window_weston)
set_tests_properties(host_window_weston_stop PROPERTIES FIXTURES_CLEANUP host_window_weston)
add_test(NAME HostWindow.OnWayland
  COMMAND parlaro_host_window_display_tests wayland ${host_window_wayland_dir})
set_tests_properties(HostWindow.OnWayland PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60
  FIXTURES_REQUIRED host_window_weston ENVIRONMENT "${host_window_lsan}")
