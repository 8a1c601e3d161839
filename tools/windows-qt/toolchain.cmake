# SPDX-License-Identifier: GPL-3.0-or-later
# For tools/windows-qt-check.sh only: the mingw-w64 toolchain, with this machine's Linux Qt 6
# standing in for Qt for Windows, so that the window program's Windows build (QX_WINDOW_PROGRAM)
# configures and compiles here. Its objects are never linked: Qt's libraries are Linux ones.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/mingw-w64-x86_64.cmake)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM BOTH)

# Once the whole tree is read: a Windows target links a shared library through an import
# library, which Linux Qt has not (its .so stands in, for the generate step only), and Qt's
# targets name /usr/include, whose C headers must not come before mingw's own.
function(_qx_stand_in_qt)
    get_directory_property(imported DIRECTORY ${CMAKE_SOURCE_DIR} IMPORTED_TARGETS)
    foreach(t ${imported})
        get_target_property(type ${t} TYPE)
        if(type STREQUAL "SHARED_LIBRARY")
            get_target_property(location ${t} IMPORTED_LOCATION_RELWITHDEBINFO)
            if(NOT location)
                get_target_property(location ${t} IMPORTED_LOCATION)
            endif()
            set_target_properties(${t} PROPERTIES IMPORTED_IMPLIB "${location}"
                                                  IMPORTED_IMPLIB_RELWITHDEBINFO "${location}")
        endif()
        get_target_property(include ${t} INTERFACE_INCLUDE_DIRECTORIES)
        if(include)
            list(REMOVE_ITEM include /usr/include)
            set_target_properties(${t} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${include}")
        endif()
    endforeach()
endfunction()
get_property(_qx_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT _qx_in_try_compile)
    cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _qx_stand_in_qt)
endif()
