# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows side of the library binding, against the module just built.
qx_add_gtest(test_private_library SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_private_library_windows.cpp
             LIBS qx_link)
target_compile_definitions(test_private_library PRIVATE HID_LIB_FILE="$<TARGET_FILE:HID_Lib>"
                           SMALL_DLL="$<TARGET_FILE:qx_test_small_dll>")
add_dependencies(test_private_library HID_Lib qx_test_small_dll)

# Small libraries that say when they are loaded: one stands in for the carried library, one is a
# hid.dll planted in the private folder.
foreach(_dll small_dll planted_hid)
    add_library(qx_test_${_dll} MODULE ${CMAKE_CURRENT_LIST_DIR}/marker_dll.cpp)
    string(TOUPPER "QX_${_dll}_LOADED" _marker)
    target_compile_definitions(qx_test_${_dll} PRIVATE QX_MARKER=L"${_marker}")
    target_link_libraries(qx_test_${_dll} PRIVATE qx_warnings)
endforeach()
set_target_properties(qx_test_planted_hid PROPERTIES PREFIX "" OUTPUT_NAME hid
                      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/planted)
qx_add_gtest(test_private_library_imports
             SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_private_library_imports_windows.cpp LIBS qx_link)
target_compile_definitions(test_private_library_imports PRIVATE
                           HID_LIB_FILE="$<TARGET_FILE:HID_Lib>"
                           PLANTED_DLL="$<TARGET_FILE:qx_test_planted_hid>")
add_dependencies(test_private_library_imports HID_Lib qx_test_planted_hid)

# The worker's stop, with the Windows build's own C++ library.
qx_add_gtest(test_link_worker_windows SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_worker_stop.cpp
             LIBS qx_link)
