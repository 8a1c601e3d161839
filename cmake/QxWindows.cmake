# What builds for Windows without Qt: the HID library's module and its core's tests, which run
# under Wine where it is installed (CMAKE_CROSSCOMPILING_EMULATOR from the toolchain file), and
# the command line.
enable_testing()

# GoogleTest from Debian's source package, built with the cross compiler.
set(QX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_subdirectory(hidlib)
add_subdirectory(tests/hidlib)
add_subdirectory(tests/hid_descriptor)
add_subdirectory(link)
# qx77zt: the command line and the Qt-free libraries beneath it.
enable_language(RC)
foreach(dir state update panel diag cli)
    add_subdirectory(${dir})
endforeach()
include(${PROJECT_SOURCE_DIR}/tests/link/windows.cmake)
include(${PROJECT_SOURCE_DIR}/tests/cli/windows.cmake)
include(${PROJECT_SOURCE_DIR}/tests/vm/windows.cmake)
