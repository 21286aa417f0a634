# Application shell: the display widgets, and the form, the help dialog and
# the window's shell (in a Chinese and an English locale).
updater_add_test(NAME tst_app_widgets SOURCES app/tst_widgets.cpp)
updater_add_test(NAME tst_app_mainwindow SOURCES app/tst_mainwindow.cpp LOCALES)
