# SPDX-License-Identifier: GPL-3.0-or-later
# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix: the POSIX
# thread model, which std::thread needs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QX_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QX_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${QX_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${QX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Binaries that need no compiler run-time beside them: the C++ library and the thread library are
# linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Tests run under Wine on the build machine.
find_program(QX_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(QX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QX_WINE})
endif()
