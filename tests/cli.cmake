# firmware-updater-cli: its look for the device (on the virtual bus) and its
# command line. Its upgrades on a real kernel HID stack run in the guest
# (scripts/guest/run-tests).
if(TARGET firmware-updater-cli)
  updater_add_test(NAME tst_cli_device SOURCES cli/tst_devicepresence.cpp LIBS updater_unattended)
  target_compile_definitions(tst_cli_device PRIVATE FIRMWARE_UPDATER_CLI="$<TARGET_FILE:firmware-updater-cli>")
  add_dependencies(tst_cli_device firmware-updater-cli)
endif()
