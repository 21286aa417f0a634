# The Linux guest: the uhid device program's options on the host; the guest
# itself (real kernel HID stack under QEMU) runs from scripts/guest/run-tests.
if(UNIX AND NOT APPLE)
  updater_add_test(NAME tst_uhid_options SOURCES guest/tst_uhidoptions.cpp LIBS updater_uhid)
endif()

# The program that runs the tests inside the guest; not a CTest test of the
# host (it needs /dev/uhid and root).
if(UNIX AND NOT APPLE)
  add_executable(guest-hidraw-tests guest/guest_hidraw_tests.cpp)
  target_link_libraries(guest-hidraw-tests PRIVATE updater_native updater_qtbridge)
endif()
