# Application shell: the display widgets, and the window's look against the
# reference pictures in app/reference, the help dialog and the window's shell
# (in a Chinese and an English locale).
updater_add_test(NAME tst_app_widgets SOURCES app/tst_widgets.cpp)
updater_add_test(NAME tst_app_mainwindow SOURCES app/tst_mainwindow.cpp LIBS updater_rendering updater_windowstart LOCALES)
target_compile_definitions(tst_app_mainwindow PRIVATE
  UPDATER_REFERENCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}/app/reference")
