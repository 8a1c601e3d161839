# SPDX-License-Identifier: GPL-3.0-or-later
# The settings file loader.
qx_add_fuzzer(fuzz_settings_file SOURCES
    ${PROJECT_SOURCE_DIR}/tests/panel/fuzz_settings_file.cpp
    ${PROJECT_SOURCE_DIR}/panel/SettingsFile.cpp
    ${PROJECT_SOURCE_DIR}/update/RegularFile.cpp
    ${PROJECT_SOURCE_DIR}/update/linux/RegularFile.cpp)
