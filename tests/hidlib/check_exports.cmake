# SPDX-License-Identifier: GPL-3.0-or-later
# Fails unless the module defines exactly the eighteen C entry points in its dynamic table.
execute_process(COMMAND ${NM} -D --defined-only ${MODULE} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
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
