// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/UsbLink.h"

#include <atomic>
#include <cstring>

namespace qx {

namespace {

// Forwards to the library's port once it exists; the worker starts before the library loads.
class DeferredPort : public HidPort {
public:
    explicit DeferredPort(std::atomic<HidPort*>& target) : target_(target) {}
    uint8_t scanForDevices() override { return port().scanForDevices(); }
    void getDeviceInfo(uint8_t i, THIDdeviceInfo* info) override { port().getDeviceInfo(i, info); }
    bool openDevice(uint8_t i) override { return port().openDevice(i); }
    bool closeDevice() override { return port().closeDevice(); }
    uint8_t setOutputReport(uint8_t* r) override { return port().setOutputReport(r); }

private:
    HidPort& port() {
        HidPort* p = target_.load();
        return p ? *p : none_;
    }
    std::atomic<HidPort*>& target_;
    NoPort none_; // until the library is loaded
};

} // namespace

std::string versionText(uint16_t releaseNumber) {
    return std::to_string(releaseNumber >> 8) + "." + std::to_string(releaseNumber & 0xFF);
}

bool isBootProduct(const std::string& product) {
    const std::size_t at = product.find("(boot)");
    return at != std::string::npos && at >= 1;
}

bool hasTransferReports(const THIDdeviceInfo& info) {
    return info.outputReportLength == kTransferReportSize &&
           info.inputReportLength == kTransferReportSize;
}

std::string textOf(const THIDstring& s) {
    return std::string(s.text, std::min<std::size_t>(s.length, sizeof s.text));
}

UsbLink::UsbLink(LinkState& link, ConnectionView& view, ImageSource image,
                 std::function<void()> redraw, AnswerSink* answers, ErrorSink* errors)
    : link_(link), view_(view), image_(std::move(image)), redraw_(std::move(redraw)),
      answers_(answers), errors_(errors), receiver_(link, answers) {}

UsbLink::~UsbLink() {
    if (library_) {
        library_->entry().usbSetEventHandler(nullptr);
        library_->entry().setEventHandler(nullptr);
        library_->entry().closeDevice();
    }
    // No answer arrives any more: the reader's handler is unregistered.
    link_.setRedrawHandOff({});
    // Waits for a device-change call still running on another thread.
    slot_.reset();
    worker_.reset(); // joins
    activePort_ = nullptr;
    port_.reset();
    library_.reset(); // unloads, which stops the library's reader
}

bool UsbLink::bindLibrary() {
    if (!worker_) {
        offlinePort_ = std::make_unique<DeferredPort>(activePort_);
        worker_ = std::make_unique<Tthr>(link_, *offlinePort_, redraw_, errors_);
    }
    if (!library_) {
        // Claimed first: without a slot a loaded copy could never be told where to report.
        auto slot = std::make_unique<HandlerSlot>();
        if (!slot->valid()) {
            lastError_ = "cannot drive more than " + std::to_string(kHandlerSlots) +
                         " units at once: every handler slot is taken";
            return false;
        }
        const std::optional<std::vector<uint8_t>> image = image_ ? image_() : std::nullopt;
        if (!image) {
            lastError_ = "the HID library image is missing";
            return false;
        }
        library_ = LoadedLibrary::load(*image, lastError_);
        if (!library_) {
            return false;
        }
        slot_ = std::move(slot);
        slot_->setReceiver(&receiver_);
        slot_->setChangeHandler([this] { onDeviceChange(); });
        if (libraryLoaded_) {
            libraryLoaded_(*library_);
        }
        port_ = std::make_unique<LibraryPort>(library_->entry());
        activePort_ = port_.get();
    }
    // The reader hands each answer's redraw on itself rather than waking the worker for it.
    link_.setRedrawHandOff(redraw_);
    library_->entry().setEventHandler(slot_->inputHandler());
    library_->entry().usbSetEventHandler(watchDeviceChanges_ ? slot_->changeHandler() : nullptr);
    connectUnit();
    return true;
}

void UsbLink::onDeviceChange() {
    if (changeHandler_) {
        changeHandler_();
    } else {
        followDeviceChange();
    }
}

bool UsbLink::followDeviceChange() {
    if (link_.transferRunning) {
        deferredChange_ = true;
        return false;
    }
    deferredChange_ = false;
    connectUnit();
    return true;
}

bool UsbLink::reconnectIfDeferred() {
    if (!deferredChange_ || link_.transferRunning) {
        return false;
    }
    deferredChange_ = false;
    connectUnit();
    return true;
}

void UsbLink::connectUnit() {
    if (!port_) {
        return;
    }
    if (link_.connected) {
        port_->closeDevice();
    }
    link_.connected = false;
    const uint8_t count = port_->scanForDevices();
    view_.setControlsEnabled(false);

    std::optional<THIDdeviceInfo> refused;
    for (uint8_t i = 0; i < count; ++i) {
        THIDdeviceInfo info;
        std::memset(&info, 0, sizeof info);
        port_->getDeviceInfo(i, &info);
        if (textOf(info.manufacturer) != kUnitManufacturer || (unitFilter_ && !unitFilter_(info))) {
            continue;
        }
        // Only claims to be the unit: a unit further on may still be there.
        if (!hasTransferReports(info)) {
            if (!refused) {
                refused = info;
            }
            continue;
        }
        const std::string product = textOf(info.product);
        view_.setDeviceFields(product, textOf(info.serial), versionText(info.releaseNumber));
        if (link_.connected) {
            port_->closeDevice();
        }
        // A node that opened only for queries cannot carry a single report: treat the unit as
        // not openable rather than as connected with every send failing.
        link_.connected = info.readWrite != 0 && port_->openDevice(i);
        if (!link_.connected) {
            view_.setUnitInaccessible(textOf(info.path).c_str());
            return;
        }
        // The flags are final before the view hears of the unit, so that what it shows (the
        // status line) follows them.
        link_.bootMode = isBootProduct(product);
        view_.setUnitInaccessible({});
        if (link_.bootMode) {
            // A boot loader never acknowledges a settings write; repeating one would only sit
            // between the update's own requests.
            link_.abandonSettingsWrite();
            view_.setUpdateButtonsEnabled(true);
            return;
        }
        view_.setUpdateButtonsEnabled(false);
        view_.setControlsEnabled(true);
        return;
    }
    view_.setDeviceFields({}, {}, {});
    if (refused) {
        view_.setUnitRefused(refused->outputReportLength, refused->inputReportLength);
    } else {
        view_.setUnitInaccessible({});
    }
}

void UsbLink::stopWorker() {
    if (worker_) {
        worker_->requestStop();
    }
}

} // namespace qx
