# firmware-updater-cli and the station: the look for the device and the
# command line; several devices: listing, choice, and the station (--all, --watch, --check) with sessions in the test
# process, online ones against a loopback server; README's own commands.
# The cli's upgrades on a real kernel HID stack run in the guest
# (scripts/guest/run-tests).
if(TARGET firmware-updater-sim AND TARGET firmware-updater-cli AND TARGET fwimage)
  updater_add_test(NAME tst_cli_station SOURCES cli/tst_station.cpp online/testserver.cpp LIBS updater_cli)
  target_compile_definitions(tst_cli_station PRIVATE FIRMWARE_UPDATER_SIM="$<TARGET_FILE:firmware-updater-sim>"
                            FIRMWARE_UPDATER_CLI="$<TARGET_FILE:firmware-updater-cli>" FWIMAGE="$<TARGET_FILE:fwimage>"
                            UPDATER_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(tst_cli_station firmware-updater-sim firmware-updater-cli fwimage)
endif()
