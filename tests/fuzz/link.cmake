# SPDX-License-Identifier: GPL-3.0-or-later
# Parsers of the link: answer frames and the library image check.
qx_add_fuzzer(fuzz_link_frame SOURCES
    ${PROJECT_SOURCE_DIR}/tests/link/fuzz_link_frame.cpp
    ${PROJECT_SOURCE_DIR}/link/LinkFrame.cpp
    ${PROJECT_SOURCE_DIR}/link/crc.cpp
    ${PROJECT_SOURCE_DIR}/link/LinkState.cpp
    ${PROJECT_SOURCE_DIR}/link/Transport.cpp
    ${PROJECT_SOURCE_DIR}/link/DeviceRecords.cpp)
qx_add_fuzzer(fuzz_elf_image SOURCES
    ${PROJECT_SOURCE_DIR}/tests/link/fuzz_elf_image.cpp
    ${PROJECT_SOURCE_DIR}/link/linux/ElfImage.cpp)
