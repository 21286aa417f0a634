# Several devices flashed at once by the station: sessions in one process
# (or, with --processes, one simulator child each).
add_executable(bench_station station/bench_station.cpp)
target_link_libraries(bench_station PRIVATE updater_cli updater_virtual)
target_compile_definitions(bench_station PRIVATE FIRMWARE_UPDATER_SIM="$<TARGET_FILE:firmware-updater-sim>")
add_dependencies(bench_station firmware-updater-sim)
