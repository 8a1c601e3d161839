# The Windows side of the library binding, against the module just built.
qx_add_gtest(test_private_library SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_private_library_windows.cpp
             LIBS qx_link)
target_compile_definitions(test_private_library PRIVATE HID_LIB_FILE="$<TARGET_FILE:HID_Lib>")
add_dependencies(test_private_library HID_Lib)

# The worker's stop, with the Windows build's own C++ library.
qx_add_gtest(test_link_worker_windows SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_worker_stop.cpp
             LIBS qx_link)
