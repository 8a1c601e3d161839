# SPDX-License-Identifier: GPL-3.0-or-later
# Fails unless the DLL's export table holds exactly the eighteen C entry points, undecorated.
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${MODULE}")
endif()
# The name pointer table: lines "\t[ n] +base[ hint] Name" after "[Ordinal/Name Pointer] Table".
string(FIND "${out}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
    message(FATAL_ERROR "${MODULE} has no export name table")
endif()
string(SUBSTRING "${out}" ${start} -1 table)
# The table ends at the first empty line.
string(FIND "${table}" "\n\n" end)
if(NOT end EQUAL -1)
    string(SUBSTRING "${table}" 0 ${end} table)
endif()
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" lines "${table}")
set(names)
foreach(line ${lines})
    string(REGEX REPLACE "^.* " "" sym "${line}")
    list(APPEND names ${sym})
endforeach()
list(SORT names)
set(expected HIDFeatureReportCount HIDFeatureReportSize HIDGetDeviceInfo HIDGetFeatureReport
    HIDGetInputReport HIDInputReportCount HIDInputReportSize HIDOutputReportCount
    HIDOutputReportSize HIDSetFeatureReport HIDSetOutputReport HIDcloseDevice HIDopenDevice
    HIDreadDevice HIDscanForDevices HIDsetEventHandler HIDwriteDevice USBsetEventHandler)
list(SORT expected)
if(NOT names STREQUAL expected)
    message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
