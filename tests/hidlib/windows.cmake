# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows module: it exports exactly the eighteen C entry points, by their plain names.
add_test(NAME hidlib_dll_exports_only_the_c_interface
         COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DMODULE=$<TARGET_FILE:HID_Lib>
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/check_dll_exports.cmake)

# This case needs the reader to take a report within a few hundred microseconds of an open; the
# sleeps it is paced by last a millisecond or more under Wine, so every report read belongs to a
# device already closed again and is rightly dropped. It runs on Linux.
set_tests_properties(test_hidlib_reader PROPERTIES
    ENVIRONMENT "GTEST_FILTER=-ReaderTest.CloseDuringAReadNeverUsesAClosedHandle")

qx_add_gtest(test_hidlib_dll SOURCES test_dll_windows.cpp LIBS hid)
target_include_directories(test_hidlib_dll PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(test_hidlib_dll PRIVATE HID_LIB_PATH="$<TARGET_FILE_NAME:HID_Lib>")
add_dependencies(test_hidlib_dll HID_Lib)
# Run beside a copy of the DLL, so the test loads the one just built.
add_custom_command(TARGET test_hidlib_dll POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:HID_Lib>
            $<TARGET_FILE_DIR:test_hidlib_dll>)

# The Windows backend's own parts: output reports over an overlapped handle, and device changes.
qx_add_gtest(test_hidlib_windows_parts SOURCES test_windows_parts.cpp LIBS hid_windows)
target_include_directories(test_hidlib_windows_parts PRIVATE ${PROJECT_SOURCE_DIR})
