# Firmware upgrade from a local file: the file checks, the family rule, the
# notices and replies of the window, the whole upgrade on the virtual device.
updater_add_test(NAME tst_upgrade_engine SOURCES upgrade/tst_engine.cpp)
updater_add_test(NAME tst_upgrade_window SOURCES upgrade/tst_window.cpp)
updater_add_test(NAME tst_upgrade_flow SOURCES upgrade/tst_upgrade.cpp)
updater_add_test(NAME tst_upgrade_unattended SOURCES upgrade/tst_unattended.cpp LIBS updater_unattended updater_simverify)
