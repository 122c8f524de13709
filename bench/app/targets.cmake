# Benchmark programs, added to the application's own build by ../with-benchmarks.cmake.
find_package(X11 REQUIRED)

set(bench_dir "${ZENTREL_BENCH_DIR}")
set(bench_output "${CMAKE_BINARY_DIR}/bench")

add_executable(bench_settings_write "${bench_dir}/bench_settings_write.cpp")
target_link_libraries(bench_settings_write PRIVATE zentrel_app)

add_executable(bench_connect "${bench_dir}/bench_connect.cpp")
target_link_libraries(bench_connect PRIVATE zentrel_app)

add_executable(bench_icon_flips "${bench_dir}/bench_icon_flips.cpp")
target_link_libraries(bench_icon_flips PRIVATE zentrel_statusbar)

# Plain Xlib, no Qt: it watches the tray from outside the application.
add_executable(tray_probe "${bench_dir}/tray_probe.cpp")
set_target_properties(tray_probe PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)
target_link_libraries(tray_probe PRIVATE X11::X11)

set_target_properties(bench_settings_write bench_connect bench_icon_flips tray_probe PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${bench_output}")
