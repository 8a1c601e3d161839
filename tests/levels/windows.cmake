# SPDX-License-Identifier: GPL-3.0-or-later
# The level texts' local time as Windows gives it, run under Wine.
qx_add_gtest(test_levels_windows SOURCES ${CMAKE_CURRENT_LIST_DIR}/levels_windows_test.cpp
             LIBS qx_levels)
