# SPDX-License-Identifier: GPL-3.0-or-later
# Windows side of the library binding: the carried library image kept in the user's own folder
# and loaded from there.
target_sources(qx_link PRIVATE ${CMAKE_CURRENT_LIST_DIR}/PrivateLibraryFile.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/LibraryBindingWindows.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/DevicePlace.cpp)
target_link_libraries(qx_link PUBLIC shell32 ole32)

# The library image carried as the program's resource.
add_library(qx_embedded_image STATIC ${CMAKE_CURRENT_LIST_DIR}/EmbeddedImage.cpp)
target_link_libraries(qx_embedded_image PUBLIC qx_link PRIVATE qx_warnings)

# The window program carries it as a Qt resource instead, as on Linux.
if(QX_WINDOW_PROGRAM)
    add_library(qx_embedded_qt_image STATIC ${CMAKE_CURRENT_LIST_DIR}/../EmbeddedImage.cpp)
    target_link_libraries(qx_embedded_qt_image PUBLIC qx_link Qt6::Core PRIVATE qx_warnings)
endif()
