# The USB HID link's reader: idle CPU and report latency on the virtual bus.
add_executable(bench_usb_reader usb/bench_reader.cpp)
target_link_libraries(bench_usb_reader PRIVATE updater_virtual updater_app)
