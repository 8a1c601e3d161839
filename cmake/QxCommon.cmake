# SPDX-License-Identifier: GPL-3.0-or-later
# Warnings and sanitizers shared by every target of the project.
add_library(qx_warnings INTERFACE)
target_compile_options(qx_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(QX_WERROR)
    target_compile_options(qx_warnings INTERFACE -Werror)
endif()

if(QX_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(QX_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT QX_SANITIZE STREQUAL "")
    message(FATAL_ERROR "QX_SANITIZE must be empty, address or thread")
endif()

# qx_add_gtest(name SOURCES a.cpp ... LIBS lib ... [QT Core|Gui|Widgets] [GUI])
# One test binary; each test case becomes its own ctest entry. QT gives it a main() that runs the
# tests inside that Qt application object; GUI means the sources bring their own main(). Every
# test runs on the offscreen platform, so none needs a display.
function(qx_add_gtest name)
    cmake_parse_arguments(ARG "GUI" "QT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock qx_warnings)
    if(ARG_QT)
        target_link_libraries(${name} PRIVATE qx_gtest_qt${ARG_QT}_main)
    elseif(NOT ARG_GUI)
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    if(WIN32)
        # One Wine start per binary rather than one per test case.
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES TIMEOUT 300)
        return()
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1 suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp;ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1"
                   TIMEOUT 120)
endfunction()

# qx_add_benchmark(name SOURCES ... LIBS ...): built by the default preset, never run by ctest.
function(qx_add_benchmark name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark qx_warnings)
endfunction()

# qx_add_areas(): adds every subfolder of the current folder that has a CMakeLists.txt, except
# "fuzz" (built by its own preset) and those named in QX_SKIP.
function(qx_add_areas)
    file(GLOB _areas LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT _areas)
    foreach(_area ${_areas})
        if(NOT _area STREQUAL "fuzz" AND NOT _area IN_LIST QX_SKIP
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_area}/CMakeLists.txt)
            add_subdirectory(${_area})
        endif()
    endforeach()
endfunction()
