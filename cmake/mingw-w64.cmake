# Cross-building for 64-bit Windows with Debian's MinGW-w64 (posix threads),
# against the static libraries scripts/windows-deps builds. The folders of
# those come from the environment (the file scripts/windows-deps prints):
#   UPDATER_WINDOWS_QT, UPDATER_WINDOWS_CURL, UPDATER_WINDOWS_SODIUM
# scripts/windows-build sets them and uses this file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
foreach(_dep QT CURL SODIUM)
  if(DEFINED ENV{UPDATER_WINDOWS_${_dep}})
    list(APPEND CMAKE_FIND_ROOT_PATH "$ENV{UPDATER_WINDOWS_${_dep}}")
  endif()
endforeach()
# Programs (moc, rcc, pkg-config) are the build machine's; libraries,
# headers and packages only the target's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static, the C and C++ runtimes too: the programs need no DLL
# beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
