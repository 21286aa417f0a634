# Online update: the FTP client and its reply readers against a real and a
# scripted server on loopback, and the window's download flows with the
# server layout. The servers are started and stopped by the tests themselves.
updater_add_test(NAME tst_online_ftpclient SOURCES online/tst_ftpclient.cpp online/testserver.cpp)
updater_add_test(NAME tst_online_flow SOURCES online/tst_onlineflow.cpp online/testserver.cpp LOCALES)
foreach(t tst_online_ftpclient tst_online_flow)
  target_compile_definitions(${t} PRIVATE UPDATER_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endforeach()
# fwimage's keys and release metadata.
add_test(NAME tst_fwimage_keys COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/online/fwimage-keys.sh $<TARGET_FILE:fwimage>)
