# SPDX-License-Identifier: GPL-3.0-or-later
# What builds for Windows without Qt: the HID library's module and its core's tests, which run
# under Wine where it is installed (CMAKE_CROSSCOMPILING_EMULATOR from the toolchain file), and
# the command line.
enable_testing()

# Windows 10 and later: the loader's search flags (LOAD_LIBRARY_SEARCH_*) and the device and
# thread services used are there without any optional update.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00)

# GoogleTest from Debian's source package, built with the cross compiler.
set(QX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_subdirectory(hidlib)
add_subdirectory(tests/hidlib)
add_subdirectory(tests/hid_descriptor)
# The window program too, with Qt 6 for Windows (a native build with Qt's own tools; no Qt for
# Windows is at hand in the cross build, where this stays off).
option(QX_WINDOW_PROGRAM "Windows: build the window program as well (needs Qt 6 for Windows)" OFF)
set(_qx_window_dirs)
if(QX_WINDOW_PROGRAM)
    find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Network)
    set(CMAKE_AUTOMOC ON)
    set(CMAKE_AUTORCC ON)
    set(_qx_window_dirs unit controls)
endif()
add_subdirectory(link)
# qx77zt: the command line and the Qt-free libraries beneath it.
enable_language(RC)
foreach(dir state eventlog ${_qx_window_dirs} update panel levels diag cli)
    add_subdirectory(${dir})
endforeach()
if(QX_WINDOW_PROGRAM)
    add_subdirectory(room)
    add_subdirectory(units)
    add_subdirectory(watch)
    add_subdirectory(background)
    add_subdirectory(monitor)
    add_subdirectory(app)
endif()
include(${PROJECT_SOURCE_DIR}/tests/link/windows.cmake)
include(${PROJECT_SOURCE_DIR}/tests/cli/windows.cmake)
include(${PROJECT_SOURCE_DIR}/tests/levels/windows.cmake)
include(${PROJECT_SOURCE_DIR}/tests/vm/windows.cmake)
