# The Linux guest: the uhid device program's options on the host; the guest
# itself (real kernel HID stack under QEMU) runs from scripts/guest/run-tests.
if(UNIX AND NOT APPLE)
  updater_add_test(NAME tst_uhid_options SOURCES guest/tst_uhidoptions.cpp LIBS updater_uhid)
endif()
