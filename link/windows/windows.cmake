# Windows side of the library binding: the carried library image kept in the user's own folder.
add_library(qx_link_windows STATIC ${CMAKE_CURRENT_LIST_DIR}/PrivateLibraryFile.cpp)
target_include_directories(qx_link_windows PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qx_link_windows PUBLIC shell32 ole32 PRIVATE qx_warnings)
