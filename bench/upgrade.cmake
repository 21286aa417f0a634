# Upgrade throughput against the protocol's bound, on the virtual device.
add_executable(bench_upgrade upgrade/bench_upgrade.cpp)
target_link_libraries(bench_upgrade PRIVATE updater_virtual updater_app)
