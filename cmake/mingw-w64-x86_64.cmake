# Cross-builds the Windows programs (64-bit) with mingw-w64's POSIX-thread compilers:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
# The programs link the C and C++ run times statically, so they need no DLL beyond Windows'
# own. Programs built here run on this machine under Wine (the emulator ctest uses).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZEPH_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEPH_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEPH_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEPH_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZEPH_MINGW_TRIPLE})
# Qt for Windows (ZEPH_QT_WINDOWS, its install folder, see zeph_qt_windows in scripts/lib.sh) is
# a second root: its packages are found there, while Qt's code generators are the build
# machine's own (QT_HOST_PATH).
if(ZEPH_QT_WINDOWS)
    list(APPEND CMAKE_FIND_ROOT_PATH ${ZEPH_QT_WINDOWS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(ZEPH_WINE NAMES wine wine64)
if(ZEPH_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZEPH_WINE})
endif()
