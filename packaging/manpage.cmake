# Writes the manual page of one program with help2man from its own --help,
# so the page cannot say anything else than the program does.
#   cmake -DHELP2MAN=<path> -DPROGRAM=<path> -DNAME=<command name> -DWHAT=<one line>
#         -DINCLUDE=<help2man include file> -DOUTPUT=<page> -P manpage.cmake
# The include file brings the sections --help has no place for (EXAMPLES,
# FILES). The "Exit status:" block of --help, where there is one, becomes
# the EXIT STATUS section instead of a part of the description.
set(env ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0)
foreach(what help version)
  execute_process(COMMAND ${env} ${PROGRAM} --${what} OUTPUT_VARIABLE ${what} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --${what} failed: ${rc}")
  endif()
endforeach()

# "Usage: /path/to/program": the page names the command.
string(REPLACE "${PROGRAM}" "${NAME}" help "${help}")

get_filename_component(work "${OUTPUT}" DIRECTORY)
set(work "${work}/${NAME}.h2m.d")
file(MAKE_DIRECTORY "${work}")

# The block runs from its heading to the first blank line.
set(statuses "")
string(FIND "${help}" "Exit status:\n" start)
if(start GREATER_EQUAL 0)
  string(SUBSTRING "${help}" ${start} -1 tail)
  string(FIND "${tail}" "\n\n" end)
  if(end LESS 0)
    string(LENGTH "${tail}" end)
  endif()
  string(SUBSTRING "${tail}" 0 ${end} block)
  string(SUBSTRING "${help}" 0 ${start} before)
  string(SUBSTRING "${tail}" ${end} -1 after)
  string(REGEX REPLACE "\n+$" "\n" before "${before}")
  string(REGEX REPLACE "^\n+" "\n" after "${after}")
  set(help "${before}${after}")
  string(REPLACE ";" "\\;" block "${block}")
  string(REPLACE "\n" ";" lines "${block}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^ +([0-9]+) +(.*)$")
      set(number "${CMAKE_MATCH_1}")
      set(meaning "${CMAKE_MATCH_2}")
      string(REPLACE "\\" "\\e" meaning "${meaning}")
      string(REPLACE "-" "\\-" meaning "${meaning}")
      string(APPEND statuses ".TP\n.B ${number}\n${meaning}\n")
    endif()
  endforeach()
endif()
set(includes --include=${INCLUDE})
if(statuses)
  file(WRITE "${work}/status.h2m" "[EXIT STATUS]\n${statuses}")
  list(APPEND includes --include=${work}/status.h2m)
endif()

# help2man runs a program for the texts: this one prints them.
file(WRITE "${work}/help.txt" "${help}")
file(WRITE "${work}/version.txt" "${version}")
file(WRITE "${work}/${NAME}"
     "#!/bin/sh\nif [ \"$1\" = --version ]; then cat '${work}/version.txt'; else cat '${work}/help.txt'; fi\n")
execute_process(COMMAND chmod 755 "${work}/${NAME}")
execute_process(COMMAND ${HELP2MAN} --no-info --section=1 --name=${WHAT} ${includes} --output=${OUTPUT}
                        ${work}/${NAME}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${NAME}: ${rc}")
endif()
