# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (the posix thread model, which
# std::thread and Qt need). Used for Qt itself and for Trasko; Qt for Windows is found through
# CMAKE_PREFIX_PATH, the host's moc, rcc and uic through QT_HOST_PATH.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TRASKO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TRASKO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRASKO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TRASKO_MINGW_TRIPLE}-windres)

# Libraries and headers come from the target's side only; programs run on the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TRASKO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Built programs run under Wine where it is installed (Debian's wine64 keeps its loader out of
# PATH): try_run and the tests alike.
find_program(TRASKO_WINE wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TRASKO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TRASKO_WINE})
endif()
