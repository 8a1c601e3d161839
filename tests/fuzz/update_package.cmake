# SPDX-License-Identifier: GPL-3.0-or-later
# Update package reader: packages are files picked by the operator. The writer is built in too,
# so that accepted images are packed again and read back.
qx_add_fuzzer(fuzz_update_package
    SOURCES ${PROJECT_SOURCE_DIR}/tests/update_package/fuzz_update_package.cpp
            ${PROJECT_SOURCE_DIR}/update/UpdatePackage.cpp
            ${PROJECT_SOURCE_DIR}/update/RegularFile.cpp
            ${PROJECT_SOURCE_DIR}/update/linux/RegularFile.cpp
            ${PROJECT_SOURCE_DIR}/tools/mkorbu/PackageWriter.cpp)
