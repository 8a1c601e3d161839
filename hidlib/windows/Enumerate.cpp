// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/windows/Enumerate.h"

#include "hidlib/windows/WideText.h"

// The HID class headers declare their functions without C linkage for C++.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <memory>

namespace hid {

namespace {

// Input reports the system keeps queued for a handle.
constexpr ULONG kQueuedInputReports = 64;

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

struct DeviceSetCloser {
    void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};

using DeviceSet = std::unique_ptr<void, DeviceSetCloser>;

// One of the device's strings; nullopt when it has none. The buffer is the 512 bytes (255
// characters and a NUL) the HID class allows.
template <typename Getter>
std::optional<std::string> deviceString(HANDLE device, Getter getter) {
    wchar_t text[256] = {};
    if (!getter(device, text, sizeof text - sizeof text[0]))
        return std::nullopt;
    return toUtf8(std::wstring_view(text, 256));
}

ReportTypeCaps typeCaps(HIDP_REPORT_TYPE type, USHORT byteLength, USHORT capCount,
                        PHIDP_PREPARSED_DATA preparsed) {
    ReportTypeCaps out;
    out.byteLength = byteLength;
    if (capCount == 0)
        return out;
    std::vector<HIDP_VALUE_CAPS> caps(capCount);
    USHORT length = capCount;
    const NTSTATUS status =
        HidP_GetSpecificValueCaps(type, 0, 0, 0, caps.data(), &length, preparsed);
    if (status != HIDP_STATUS_SUCCESS && status != HIDP_STATUS_BUFFER_TOO_SMALL)
        return out;
    caps.resize(std::min<size_t>(length, caps.size()));
    for (const HIDP_VALUE_CAPS& c : caps) {
        ValueCap v;
        v.usagePage = c.UsagePage;
        v.isRange = c.IsRange != 0;
        v.usage = v.isRange ? c.Range.UsageMin : c.NotRange.Usage;
        v.usageMax = v.isRange ? c.Range.UsageMax : c.NotRange.Usage;
        v.reportId = c.ReportID;
        v.bitSize = c.BitSize;
        v.reportCount = c.ReportCount;
        out.valueCaps.push_back(v);
    }
    return out;
}

// Every detail path of the present HID interfaces.
std::vector<std::string> interfacePaths() {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    const HDEVINFO raw = SetupDiGetClassDevsW(&hidGuid, nullptr, GetDesktopWindow(),
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (raw == INVALID_HANDLE_VALUE)
        return {};
    const DeviceSet set(raw);
    std::vector<std::string> paths;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(raw, nullptr, &hidGuid, index, &data))
            break; // ERROR_NO_MORE_ITEMS, or a set that cannot be read further
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW(raw, &data, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            continue;
        // Aligned storage for the variable-length record.
        std::vector<uint64_t> storage((needed + sizeof(uint64_t) - 1) / sizeof(uint64_t));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(raw, &data, detail, needed, nullptr, nullptr))
            continue;
        const size_t chars =
            (needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
        paths.push_back(toUtf8(std::wstring_view(detail->DevicePath, chars)));
    }
    return paths;
}

DeviceRecord probe(const std::string& path) {
    DeviceRecord record;
    record.path = path;
    HANDLE raw = openDevicePath(path, true, false);
    record.readWrite = raw != INVALID_HANDLE_VALUE;
    if (!record.readWrite)
        raw = openDevicePath(path, false, false);
    if (raw == INVALID_HANDLE_VALUE)
        return record; // zero identifiers: not listed
    const std::unique_ptr<void, HandleCloser> device(raw);

    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (HidD_GetAttributes(raw, &attributes)) {
        record.vendorId = attributes.VendorID;
        record.productId = attributes.ProductID;
        record.releaseNumber = attributes.VersionNumber;
    }
    record.manufacturer = deviceString(raw, HidD_GetManufacturerString);
    record.product = deviceString(raw, HidD_GetProductString);
    record.serial = deviceString(raw, HidD_GetSerialNumberString);
    HidD_SetNumInputBuffers(raw, kQueuedInputReports);
    record.caps = readCaps(raw);
    return record;
}

} // namespace

HANDLE openDevicePath(const std::string& path, bool readWrite, bool overlapped) {
    const std::wstring wide = toWide(path);
    if (wide.empty())
        return INVALID_HANDLE_VALUE;
    HANDLE h = CreateFileW(wide.c_str(), readWrite ? GENERIC_READ | GENERIC_WRITE : 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (h != INVALID_HANDLE_VALUE && overlapped)
        HidD_SetNumInputBuffers(h, kQueuedInputReports);
    return h;
}

std::optional<DescriptorCaps> readCaps(HANDLE device) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(device, &preparsed))
        return std::nullopt;
    std::optional<DescriptorCaps> out;
    HIDP_CAPS caps{};
    if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
        out.emplace();
        out->output = typeCaps(HidP_Output, caps.OutputReportByteLength, caps.NumberOutputValueCaps,
                               preparsed);
        out->input =
            typeCaps(HidP_Input, caps.InputReportByteLength, caps.NumberInputValueCaps, preparsed);
        out->feature = typeCaps(HidP_Feature, caps.FeatureReportByteLength,
                                caps.NumberFeatureValueCaps, preparsed);
        out->numberedReports = true;
    }
    HidD_FreePreparsedData(preparsed);
    return out;
}

std::vector<DeviceRecord> enumerateHidInterfaces() {
    std::vector<DeviceRecord> records;
    for (const std::string& path : interfacePaths()) {
        DeviceRecord record = probe(path);
        if (record.vendorId != 0 && record.productId != 0)
            records.push_back(std::move(record));
    }
    return records;
}

} // namespace hid
