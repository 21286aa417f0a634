# The complete install and the command-line manners of the installed programs.
add_test(NAME tst_install
         COMMAND ${PROJECT_SOURCE_DIR}/tests/install/check-install.sh ${PROJECT_BINARY_DIR}
                 ${PROJECT_SOURCE_DIR} ${CMAKE_INSTALL_PREFIX} ${UPDATER_UDEV_RULES_DIR} ${UPDATER_APP_ID})
