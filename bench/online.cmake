# Download throughput from an update server on loopback: the updater's FTP
# client, libcurl and the curl command-line tool side by side.
add_executable(bench_online_download online/bench_download.cpp ${PROJECT_SOURCE_DIR}/tests/online/testserver.cpp)
target_include_directories(bench_online_download PRIVATE ${PROJECT_SOURCE_DIR}/tests/online)
target_compile_definitions(bench_online_download PRIVATE UPDATER_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
target_link_libraries(bench_online_download PRIVATE updater_app)
