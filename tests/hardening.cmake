# Hardening: the fault matrix of docs/testing.md, and every fuzz target's saved
# findings (fuzz/regressions/<target>/) and seeds replayed through the
# target's own entry point in the ordinary and the sanitizer builds.
updater_add_test(NAME tst_hardening_faults SOURCES hardening/tst_faults.cpp support/ticker.cpp support/ticker.h
                 LIBS updater_cli)
updater_add_test(NAME tst_hardening_ftpfaults SOURCES hardening/tst_ftpfaults.cpp online/testserver.cpp)
target_compile_definitions(tst_hardening_ftpfaults PRIVATE UPDATER_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

function(hardening_replay target)
  cmake_parse_arguments(R "" "" "SOURCES;LIBS" ${ARGN})
  set(fuzz ${PROJECT_SOURCE_DIR}/fuzz)
  set(name tst_hardening_replay_${target})
  add_executable(${name} hardening/replay_main.cpp ${fuzz}/${target}.cpp ${R_SOURCES})
  target_include_directories(${name} PRIVATE ${fuzz})
  target_link_libraries(${name} PRIVATE ${R_LIBS})
  add_test(NAME ${name} COMMAND ${name} ${fuzz}/regressions/${target} ${fuzz}/corpus/${target})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

foreach(t fuzz_image fuzz_ftp_reply fuzz_ftp_pasv fuzz_ftp_size fuzz_version_list)
  hardening_replay(${t} LIBS updater_app)
endforeach()
hardening_replay(fuzz_dispatcher SOURCES ${PROJECT_SOURCE_DIR}/fuzz/dispatcher_driver.cpp support/ticker.cpp
                 LIBS updater_app)
target_include_directories(tst_hardening_replay_fuzz_dispatcher PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
if(UNIX AND NOT APPLE)
  hardening_replay(fuzz_hid_descriptor LIBS updater_native updater_app)
  hardening_replay(fuzz_uevent LIBS updater_native updater_app)
endif()
