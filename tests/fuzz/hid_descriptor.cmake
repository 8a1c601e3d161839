# SPDX-License-Identifier: GPL-3.0-or-later
# HID report-descriptor parser: descriptors come straight from devices.
set(_hid_descriptor_dir ${PROJECT_SOURCE_DIR}/hidlib/descriptor)
qx_add_fuzzer(fuzz_hid_descriptor
    SOURCES ${PROJECT_SOURCE_DIR}/tests/hid_descriptor/fuzz_hid_descriptor.cpp
            ${_hid_descriptor_dir}/ReportDescriptor.cpp
            ${_hid_descriptor_dir}/ItemReader.cpp
            ${_hid_descriptor_dir}/ReportLengths.cpp)
