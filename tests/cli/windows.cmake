# SPDX-License-Identifier: GPL-3.0-or-later
# What qx77zt stands on under Windows, run under Wine.
qx_add_gtest(test_cli_windows SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_cli_windows.cpp
             LIBS qx_cli_core)
