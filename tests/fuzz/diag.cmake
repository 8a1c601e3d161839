# SPDX-License-Identifier: GPL-3.0-or-later
# The traffic recording reader.
qx_add_fuzzer(fuzz_recording SOURCES
    ${PROJECT_SOURCE_DIR}/tests/diag/fuzz_recording.cpp
    ${PROJECT_SOURCE_DIR}/diag/TrafficRecording.cpp)
