# Firmware upgrade from a local file: the engine, the file checks and the
# family rule of the window. Whole upgrades on the virtual device, by hand
# on the window and in a session: tst_hardening_faults.
updater_add_test(NAME tst_upgrade_engine SOURCES upgrade/tst_engine.cpp)
updater_add_test(NAME tst_upgrade_window SOURCES upgrade/tst_window.cpp)
