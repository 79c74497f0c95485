# Cross build for 64-bit Windows with mingw-w64 (Debian's g++-mingw-w64-x86-64-posix).
# The posix-thread variant is required: the win32 one has no std::mutex.
# ctest runs the executables through wine.
#
# Without Qt (the core and its tests) executables are linked statically, so
# wine needs no mingw runtime DLLs. With KELVANE_QT_PREFIX (a Qt built by
# scripts/build-qt-windows) they use the runtime DLLs the Qt DLLs use, so the
# process holds one C++ runtime; cmake/windows-layout.cmake puts them beside
# the program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELVANE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELVANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVANE_MINGW_PREFIX}-windres)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELVANE_QT_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${KELVANE_MINGW_PREFIX} ${KELVANE_QT_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT KELVANE_QT_PREFIX)
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endif()

find_program(KELVANE_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KELVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVANE_WINE})
endif()
