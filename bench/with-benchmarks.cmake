# Included right after the top-level project() (CMAKE_PROJECT_ZentrelVPN_INCLUDE), so that the
# application is configured exactly as usual; the benchmark programs are added once the whole
# top-level directory has been read and its libraries exist.
set(ZENTREL_BENCH_DIR "${CMAKE_CURRENT_LIST_DIR}/app")
cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL include "${ZENTREL_BENCH_DIR}/targets.cmake")
