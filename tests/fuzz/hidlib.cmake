# SPDX-License-Identifier: GPL-3.0-or-later
# Values the Linux HID backend reads from udev and sysfs for any plugged-in device.
qx_add_fuzzer(fuzz_hid_sysfs_values
    SOURCES ${PROJECT_SOURCE_DIR}/tests/hidlib/fuzz_sysfs_values.cpp
            ${PROJECT_SOURCE_DIR}/hidlib/linux/SysfsValues.cpp)
