# Online update: the FTP client alone and the window's download flows with
# the server layout, against a real and a scripted server on loopback. The
# servers are started and stopped by the tests themselves.
updater_add_test(NAME tst_online_flow SOURCES online/tst_onlineflow.cpp online/testserver.cpp LOCALES)
target_compile_definitions(tst_online_flow PRIVATE UPDATER_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
# fwimage's keys and release metadata.
add_test(NAME tst_fwimage_keys COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/online/fwimage-keys.sh $<TARGET_FILE:fwimage>)
