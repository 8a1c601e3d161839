# SPDX-License-Identifier: GPL-3.0-or-later
# The requests the window program takes from its local socket, and the answers qx77zt reads back.
qx_add_fuzzer(fuzz_cli_request SOURCES
    ${PROJECT_SOURCE_DIR}/tests/cli/fuzz_cli_request.cpp
    ${PROJECT_SOURCE_DIR}/cli/HandOffProtocol.cpp
    ${PROJECT_SOURCE_DIR}/cli/CliArgs.cpp
    ${PROJECT_SOURCE_DIR}/cli/SettingKeys.cpp
    # --since and --until are checked as the event log reads them.
    ${PROJECT_SOURCE_DIR}/eventlog/EventTime.cpp
    ${PROJECT_SOURCE_DIR}/panel/PanelModel.cpp
    ${PROJECT_SOURCE_DIR}/link/DeviceRecords.cpp
    # A label given on the command line is checked as the label store checks it.
    ${PROJECT_SOURCE_DIR}/state/UnitLabels.cpp ${PROJECT_SOURCE_DIR}/state/FieldText.cpp
    ${PROJECT_SOURCE_DIR}/state/StateFiles.cpp ${PROJECT_SOURCE_DIR}/state/linux/StateFiles.cpp)
