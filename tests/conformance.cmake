# One set of HID backend checks (conformance/conformance.h), run against
# every backend: here against the virtual bus; in the Linux guest against
# hidraw over uhid (guest-linux-tests, scripts/guest/run-tests); in the
# Windows guest against the Windows backend under Wine
# (scripts/windows-programs builds it, scripts/guest/run-windows-tests).
add_library(conformance_checks STATIC conformance/conformance.cpp conformance/conformance.h)
target_link_libraries(conformance_checks PUBLIC updater_upgrade updater_usb)
find_package(Threads REQUIRED)
target_link_libraries(conformance_checks PUBLIC Threads::Threads)

# The virtual bus reads the device's options as virtual-hid-uhid does. The
# program that runs the checks and the cli's guest checks inside the Linux
# guest is not a CTest test of the host (it needs /dev/uhid and root).
if(UNIX AND NOT APPLE)
  updater_add_test(NAME tst_conformance SOURCES conformance/tst_conformance.cpp LIBS conformance_checks updater_uhid)
  add_executable(guest-linux-tests conformance/guest_linux.cpp)
  target_link_libraries(guest-linux-tests PRIVATE conformance_checks updater_native)
endif()
