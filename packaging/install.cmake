# The complete install (cmake --install) and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

set(UPDATER_HOMEPAGE "https://example.com/firmware-updater" CACHE STRING
    "Home page named by the AppStream metadata and the package; the screenshot lies under it")
set(UPDATER_DEVELOPER "QVN" CACHE STRING "Developer named by the AppStream metadata")
set(UPDATER_DEVELOPER_ID "com.qvn" CACHE STRING "Reverse-DNS id of the developer")
set(UPDATER_LICENSE "LicenseRef-proprietary" CACHE STRING "SPDX licence expression of the program")
set(UPDATER_COPYRIGHT "2026 QVN" CACHE STRING "Copyright line of the package")
set(UPDATER_MAINTAINER "Firmware Updater maintainers <firmware-updater@example.com>" CACHE STRING
    "Maintainer field of the Debian package")
set(UPDATER_RELEASE_DATE "2026-12-06")
set(UPDATER_RELEASE_DATE_RFC "Sun, 06 Dec 2026 12:00:00 +0000")

# udev reads its rules from /usr/lib/udev/rules.d (the distribution's) and
# /etc/udev/rules.d (the administrator's), never from below /usr/local.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(udev_default "/usr/lib/udev/rules.d")
elseif(CMAKE_INSTALL_PREFIX STREQUAL "/usr/local")
  set(udev_default "/etc/udev/rules.d")
else()
  set(udev_default "${CMAKE_INSTALL_PREFIX}/lib/udev/rules.d")
endif()
set(UPDATER_UDEV_RULES_DIR "${udev_default}" CACHE PATH
    "Where the udev rule is installed (udev reads /usr/lib/udev/rules.d and /etc/udev/rules.d)")

set(programs firmware-updater firmware-updater-cli firmware-updater-sim fwimage)
install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  # A portable copy keeps its help pictures beside the program.
  install(FILES ${UPDATER_HELP_PICTURES} DESTINATION ${CMAKE_INSTALL_BINDIR}/file/Help)
  return()
endif()

install(FILES ${CMAKE_CURRENT_LIST_DIR}/70-firmware-updater.rules DESTINATION ${UPDATER_UDEV_RULES_DIR})

set(gen ${PROJECT_BINARY_DIR}/packaging)
configure_file(${CMAKE_CURRENT_LIST_DIR}/firmware-updater.desktop.in ${gen}/${UPDATER_APP_ID}.desktop @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/firmware-updater.metainfo.xml.in
               ${gen}/${UPDATER_APP_ID}.metainfo.xml @ONLY)
install(FILES ${gen}/${UPDATER_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${gen}/${UPDATER_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(res ${PROJECT_SOURCE_DIR}/src/resources)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${res}/icons/${size}x${size}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${UPDATER_APP_ID}.png)
endforeach()
install(FILES ${res}/icons/scalable.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${UPDATER_APP_ID}.svg)

# The help pictures, where an installed window looks for them.
install(FILES ${UPDATER_HELP_PICTURES} DESTINATION ${CMAKE_INSTALL_DATADIR}/firmware-updater/Help)

# Manual pages and completions are made at build time from each program's
# own --help, so they cannot say anything else than the program does; an
# include file per program (packaging/man) adds the sections --help has no
# place for.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(CMAKE_CROSSCOMPILING OR NOT HELP2MAN OR NOT GZIP)
  message(STATUS "help2man or gzip missing (or cross-compiling): no manual pages")
else()
  set(names
      "firmware-updater=update the firmware of a USB motor base or steering wheel"
      "firmware-updater-cli=write firmware into the device unattended, from a file or the update server"
      "firmware-updater-sim=run the firmware updater against a virtual device"
      "fwimage=build and inspect firmware image files")
  set(pages)
  foreach(entry IN LISTS names)
    string(REGEX MATCH "^[^=]+" prog "${entry}")
    string(REGEX REPLACE "^[^=]+=" "" what "${entry}")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/man/${prog}.h2m.in ${gen}/man/${prog}.h2m @ONLY)
    add_custom_command(
      OUTPUT ${gen}/man/${prog}.1.gz
      COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN} -DPROGRAM=$<TARGET_FILE:${prog}> -DNAME=${prog}
              -DWHAT=${what} -DINCLUDE=${gen}/man/${prog}.h2m -DOUTPUT=${gen}/man/${prog}.1
              -P ${CMAKE_CURRENT_LIST_DIR}/manpage.cmake
      COMMAND ${GZIP} -9nf ${gen}/man/${prog}.1
      DEPENDS ${prog} ${gen}/man/${prog}.h2m ${CMAKE_CURRENT_LIST_DIR}/manpage.cmake
      COMMENT "Manual page of ${prog} from its --help"
      VERBATIM)
    list(APPEND pages ${gen}/man/${prog}.1.gz)
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(completions)
foreach(prog firmware-updater-cli fwimage)
  add_custom_command(
    OUTPUT ${gen}/completions/${prog}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${prog}> -DNAME=${prog}
            -DOUTPUT=${gen}/completions/${prog} -P ${CMAKE_CURRENT_LIST_DIR}/completion.cmake
    DEPENDS ${prog} ${CMAKE_CURRENT_LIST_DIR}/completion.cmake
    COMMENT "bash completion of ${prog} from its --help"
    VERBATIM)
  list(APPEND completions ${gen}/completions/${prog})
endforeach()
add_custom_target(completions ALL DEPENDS ${completions})
install(FILES ${completions} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Debian's copyright file and changelog.
set(CPACK_PACKAGE_CONTACT "${UPDATER_MAINTAINER}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${gen}/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${gen}/changelog.Debian @ONLY)
if(GZIP)
  add_custom_command(OUTPUT ${gen}/changelog.Debian.gz
                     COMMAND ${GZIP} -9nkf ${gen}/changelog.Debian
                     DEPENDS ${gen}/changelog.Debian VERBATIM)
  add_custom_target(debian-changelog ALL DEPENDS ${gen}/changelog.Debian.gz)
  install(FILES ${gen}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${gen}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack -G DEB in a tree configured with -DCMAKE_INSTALL_PREFIX=/usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME firmware-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${UPDATER_DEVELOPER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for USB motor bases and steering wheels")
set(CPACK_PACKAGE_DESCRIPTION
    "Finds the device (USB HID 0483:0525), checks a firmware image file\n"
    "against it and writes the file's DSP and ARM images into it, or\n"
    "downloads the newest image from an update server. Comes with a\n"
    "command-line flasher for scripts, a simulator with a virtual device,\n"
    "and fwimage, which builds and inspects image files.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${UPDATER_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
# cpack reads this file before it builds a package: it says which key the
# programs in it trust.
set(CPACK_PROJECT_CONFIG_FILE ${gen}/cpack-key.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "message(STATUS \"firmware-updater: ${UPDATER_KEY_SUMMARY}\")\n")
include(CPack)
