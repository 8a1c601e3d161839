# SPDX-License-Identifier: GPL-3.0-or-later
# Windows backend: HID interfaces listed through SetupApi, reports over overlapped handles, and
# device changes noticed on a thread of the library's own and handed to the registering thread.
add_library(hid_windows STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Enumerate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WideText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReportSender.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowsBackend.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ChangeRelay.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DeviceNotifier.cpp)
target_compile_definitions(hid_windows PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(hid_windows PUBLIC hid_core PRIVATE setupapi hid qx_warnings)

# The module: the shared C entry points, exported by their plain names (the calling convention
# of the header is the platform's own on x86-64).
add_library(HID_Lib MODULE ${CMAKE_CURRENT_SOURCE_DIR}/module/Exports.cpp ${CMAKE_CURRENT_LIST_DIR}/WindowsModule.cpp)
target_compile_definitions(HID_Lib PRIVATE HID_LIB_BUILD)
target_link_libraries(HID_Lib PRIVATE hid_windows hid_core qx_warnings)
set_target_properties(HID_Lib PROPERTIES PREFIX "" OUTPUT_NAME HID_Lib SUFFIX .dll)
