# The USB HID link: the virtual device and bus, the link with a window on the
# bus (discovery, notices, sends, the reader thread), and the parsers of the
# Linux backend.
updater_add_test(NAME tst_usb_virtual SOURCES usb/tst_virtual.cpp)
updater_add_test(NAME tst_usb_link SOURCES usb/tst_link.cpp)
if(UNIX AND NOT APPLE)
  updater_add_test(NAME tst_usb_hidlinux SOURCES usb/tst_hidlinux.cpp LIBS updater_native)
endif()

# A ThreadSanitizer build (-DUPDATER_TSAN=ON) reads these suppressions: they
# cover only Qt's uninstrumented libraries, never the link's own code.
foreach(t tst_usb_link tst_usb_virtual)
  set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/usb/tsan.supp")
endforeach()
