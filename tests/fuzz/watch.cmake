# SPDX-License-Identifier: GPL-3.0-or-later
# The alarm config file an operator writes by hand, and the watch's state file: anything may be
# in either.
set(_watch_state_sources ${PROJECT_SOURCE_DIR}/state/FieldText.cpp
    ${PROJECT_SOURCE_DIR}/state/StateFiles.cpp ${PROJECT_SOURCE_DIR}/state/linux/StateFiles.cpp)
qx_add_fuzzer(fuzz_alarm_config SOURCES
    ${PROJECT_SOURCE_DIR}/tests/alarms/fuzz_alarm_config.cpp
    ${PROJECT_SOURCE_DIR}/watch/AlarmConfig.cpp ${_watch_state_sources})
qx_add_fuzzer(fuzz_watch_state SOURCES
    ${PROJECT_SOURCE_DIR}/tests/alarms/fuzz_watch_state.cpp
    ${PROJECT_SOURCE_DIR}/watch/WatchState.cpp ${PROJECT_SOURCE_DIR}/watch/AlarmConfig.cpp
    ${_watch_state_sources})
