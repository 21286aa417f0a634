# Several devices flashed at once by the station, one simulator child each.
add_executable(bench_station station/bench_station.cpp)
target_link_libraries(bench_station PRIVATE updater_unattended)
target_compile_definitions(bench_station PRIVATE FIRMWARE_UPDATER_SIM="$<TARGET_FILE:firmware-updater-sim>")
add_dependencies(bench_station firmware-updater-sim)
