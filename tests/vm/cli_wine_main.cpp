// SPDX-License-Identifier: GPL-3.0-or-later
// qx77zt as the Windows build runs it, for the Wine run in the test machine. Wine's HID bus over
// hidraw does not give a device's own strings: the manufacturer reads "hidraw" and the product is
// the kernel's name, the manufacturer's and the product's joined by a space. The unit's gadget is
// therefore recognised here by its vendor and product id, and its strings put back as the unit
// gives them; everything else is the command line's own.
#include "cli/CliMain.h"
#include "cli/windows/Console.h"
#include "link/EmbeddedImage.h"
#include "link/LibraryBinding.h"
#include "link/UsbLink.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {

// The test machine's gadget (tools/vm/gadget.sh).
constexpr uint16_t kGadgetVendor = 0x1209;
constexpr uint16_t kGadgetProduct = 0x0001;

decltype(&HIDGetDeviceInfo) libraryDeviceInfo = nullptr;

void setText(THIDstring& s, const std::string& text) {
    s.length = static_cast<uint8_t>(std::min<std::size_t>(text.size(), sizeof s.text));
    std::memcpy(s.text, text.data(), s.length);
}

void HID_LIB_CALL gadgetDeviceInfo(uint8_t index, THIDdeviceInfo* info) {
    libraryDeviceInfo(index, info);
    if (info->vendorId != kGadgetVendor || info->productId != kGadgetProduct ||
        qx::textOf(info->manufacturer) != "hidraw") {
        return;
    }
    const std::string joined = std::string(qx::kUnitManufacturer) + " ";
    std::string product = qx::textOf(info->product);
    if (product.starts_with(joined)) {
        product.erase(0, joined.size());
    }
    setText(info->manufacturer, qx::kUnitManufacturer);
    setText(info->product, product);
}

} // namespace

int main() {
    const std::stop_token stop = qx::cli::stopOnConsoleControl();
    qx::cli::CliEnvironment env;
    env.image = &qx::embeddedHidImage;
    env.libraryLoaded = [](qx::LoadedLibrary& library) {
        auto& entry = const_cast<qx::HidEntryPoints&>(library.entry());
        libraryDeviceInfo = entry.getDeviceInfo;
        entry.getDeviceInfo = &gadgetDeviceInfo;
    };
    qx::cli::ConsoleOutput out;
    return qx::cli::runCli(qx::cli::utf8Arguments(), env, out, stop);
}
