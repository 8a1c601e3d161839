# Windows side of the library binding: the carried library image kept in the user's own folder
# and loaded from there.
target_sources(qx_link PRIVATE ${CMAKE_CURRENT_LIST_DIR}/PrivateLibraryFile.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/LibraryBindingWindows.cpp)
target_link_libraries(qx_link PUBLIC shell32 ole32)
