// SPDX-License-Identifier: GPL-3.0-or-later
// The module's C entry points, shared by every variant of the module.
#include "hidlib/HID_Lib.h"
#include "hidlib/core/Library.h"
#include "hidlib/module/Module.h"

extern "C" {

uint8_t HID_LIB_CALL HIDscanForDevices(void) {
    return hid::moduleLibrary().scan();
}

void HID_LIB_CALL HIDGetDeviceInfo(uint8_t index, THIDdeviceInfo* info) {
    hid::moduleLibrary().deviceInfo(index, info);
}

bool HID_LIB_CALL HIDopenDevice(uint8_t index) {
    return hid::moduleLibrary().open(index);
}

bool HID_LIB_CALL HIDcloseDevice(void) {
    return hid::moduleLibrary().close();
}

uint8_t HID_LIB_CALL HIDwriteDevice(THIDreport report) {
    return hid::moduleLibrary().write(report);
}

uint8_t HID_LIB_CALL HIDreadDevice(THIDreport* report) {
    return hid::moduleLibrary().read(report);
}

uint8_t HID_LIB_CALL HIDOutputReportSize(void) {
    return hid::moduleLibrary().outputReportSize();
}

uint8_t HID_LIB_CALL HIDInputReportSize(void) {
    return hid::moduleLibrary().inputReportSize();
}

uint8_t HID_LIB_CALL HIDFeatureReportSize(void) {
    return hid::moduleLibrary().featureReportSize();
}

uint8_t HID_LIB_CALL HIDOutputReportCount(uint8_t reportId) {
    return hid::moduleLibrary().outputReportCount(reportId);
}

uint8_t HID_LIB_CALL HIDInputReportCount(uint8_t reportId) {
    return hid::moduleLibrary().inputReportCount(reportId);
}

uint8_t HID_LIB_CALL HIDFeatureReportCount(uint8_t reportId) {
    return hid::moduleLibrary().featureReportCount(reportId);
}

uint8_t HID_LIB_CALL HIDSetOutputReport(uint8_t* report) {
    return hid::moduleLibrary().setOutputReport(report);
}

uint8_t HID_LIB_CALL HIDGetInputReport(uint8_t* report) {
    return hid::moduleLibrary().getInputReport(report);
}

uint8_t HID_LIB_CALL HIDSetFeatureReport(uint8_t* report) {
    return hid::moduleLibrary().setFeatureReport(report);
}

uint8_t HID_LIB_CALL HIDGetFeatureReport(uint8_t* report) {
    return hid::moduleLibrary().getFeatureReport(report);
}

void HID_LIB_CALL HIDsetEventHandler(THIDinputHandler handler) {
    hid::moduleLibrary().setInputHandler(handler);
}

void HID_LIB_CALL USBsetEventHandler(THIDdeviceChangeHandler handler) {
    hid::moduleLibrary().setDeviceChangeHandler(handler);
    hid::moduleWatchDeviceChanges();
}

} // extern "C"
