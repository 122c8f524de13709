# Benchmark programs, added to the application's own build by ../with-benchmarks.cmake, so that
# the floor programs get exactly the application's compiler flags.
find_package(X11 REQUIRED)

set(bench_dir "${ZENTREL_BENCH_DIR}")
set(bench_output "${CMAKE_BINARY_DIR}/bench")

# The application's parts, measured in-process.
foreach(program bench_keystroke bench_connect bench_cycles bench_reconnect)
    add_executable(${program} "${bench_dir}/${program}.cpp")
    target_link_libraries(${program} PRIVATE zentrel_app)
endforeach()

add_executable(bench_runner "${bench_dir}/bench_runner.cpp")
target_link_libraries(bench_runner PRIVATE zentrel_system)

add_executable(bench_icon_flips "${bench_dir}/bench_icon_flips.cpp")
target_link_libraries(bench_icon_flips PRIVATE zentrel_statusbar)

# The floors: what Qt alone costs for the same job.
add_executable(floor_tray "${bench_dir}/../floor/floor_tray.cpp")
target_link_libraries(floor_tray PRIVATE Qt6::Widgets)
add_executable(floor_keystroke "${bench_dir}/../floor/floor_keystroke.cpp")
target_include_directories(floor_keystroke PRIVATE "${bench_dir}")
target_link_libraries(floor_keystroke PRIVATE Qt6::Widgets)

# No Qt: a stand-in ssh, and a watcher of the tray from outside the application (plain Xlib).
add_executable(fake_ssh "${bench_dir}/fake_ssh.cpp")
add_executable(tray_probe "${bench_dir}/tray_probe.cpp")
target_link_libraries(tray_probe PRIVATE X11::X11)
set_target_properties(fake_ssh tray_probe PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)

set_target_properties(bench_keystroke bench_connect bench_cycles bench_reconnect bench_runner
    bench_icon_flips floor_tray floor_keystroke fake_ssh tray_probe PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${bench_output}")
