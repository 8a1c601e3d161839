# SPDX-License-Identifier: GPL-3.0-or-later
# The files the program keeps between runs: anything may have been left in the state folder.
set(_state_dir ${PROJECT_SOURCE_DIR}/state)
qx_add_fuzzer(fuzz_update_journal SOURCES
    ${PROJECT_SOURCE_DIR}/tests/state/fuzz_journal.cpp
    ${_state_dir}/UpdateJournal.cpp ${_state_dir}/FieldText.cpp ${_state_dir}/StateFiles.cpp
    ${_state_dir}/linux/StateFiles.cpp)
qx_add_fuzzer(fuzz_settings_memory SOURCES
    ${PROJECT_SOURCE_DIR}/tests/state/fuzz_settings_memory.cpp
    ${_state_dir}/SettingsMemory.cpp ${_state_dir}/FieldText.cpp ${_state_dir}/StateFiles.cpp
    ${_state_dir}/linux/StateFiles.cpp)
qx_add_fuzzer(fuzz_unit_labels SOURCES
    ${PROJECT_SOURCE_DIR}/tests/state/fuzz_unit_labels.cpp
    ${_state_dir}/UnitLabels.cpp ${_state_dir}/FieldText.cpp ${_state_dir}/StateFiles.cpp
    ${_state_dir}/linux/StateFiles.cpp)
