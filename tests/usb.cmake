# The USB HID link: device model, virtual bus, discovery, reader, output,
# and the parsers of the Linux backend.
updater_add_test(NAME tst_usb_devicemodel SOURCES usb/tst_devicemodel.cpp)
updater_add_test(NAME tst_usb_virtualbus SOURCES usb/tst_virtualbus.cpp)
updater_add_test(NAME tst_usb_discovery SOURCES usb/tst_discovery.cpp usb/usbtestkit.h)
updater_add_test(NAME tst_usb_thread SOURCES usb/tst_usbthread.cpp usb/usbtestkit.h)
if(UNIX AND NOT APPLE)
  updater_add_test(NAME tst_usb_hidlinux SOURCES usb/tst_hidlinux.cpp LIBS updater_native)
endif()

# A ThreadSanitizer build (-DUPDATER_TSAN=ON) reads these suppressions: they
# cover only Qt's uninstrumented libraries, never the link's own code.
foreach(t tst_usb_thread tst_usb_discovery tst_usb_virtualbus)
  set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/usb/tsan.supp")
endforeach()
