# Application shell: the form, the display widgets and the help dialog.
updater_add_test(NAME tst_app_widgets SOURCES app/tst_widgets.cpp)
updater_add_test(NAME tst_app_mainwindow SOURCES app/tst_mainwindow.cpp LOCALES)
updater_add_test(NAME tst_app_help SOURCES app/tst_help.cpp LOCALES)
