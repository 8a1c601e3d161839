# SPDX-License-Identifier: GPL-3.0-or-later
# The event log's lines: anything may be in a daily file after a power cut or a damaged disk.
set(_eventlog_dir ${PROJECT_SOURCE_DIR}/eventlog)
qx_add_fuzzer(fuzz_event_line SOURCES
    ${PROJECT_SOURCE_DIR}/tests/eventlog/fuzz_event_line.cpp
    ${_eventlog_dir}/EventJson.cpp ${_eventlog_dir}/EventTime.cpp)
