# SPDX-License-Identifier: GPL-3.0-or-later
# The show request a later copy sends the first one, with its activation tokens.
qx_add_fuzzer(fuzz_show_request SOURCES
    ${PROJECT_SOURCE_DIR}/tests/background/fuzz_show_request.cpp
    ${PROJECT_SOURCE_DIR}/app/ShowRequest.cpp)
