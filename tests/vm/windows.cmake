# SPDX-License-Identifier: GPL-3.0-or-later
# qx77zt as built for Windows, with the Wine run's one allowance (tools/vm/wine.sh).
add_executable(vm_cli_wine ${CMAKE_CURRENT_LIST_DIR}/cli_wine_main.cpp)
target_link_libraries(vm_cli_wine PRIVATE qx_cli_console qx_embedded_image qx_warnings)
qx_embed_hid_resource(vm_cli_wine HID_Lib)
