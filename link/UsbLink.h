// SPDX-License-Identifier: GPL-3.0-or-later
// Bringing the link up: loading and binding the HID library, and finding, opening and telling
// the mode of the unit whenever the set of devices changes.
#pragma once

#include "link/HandlerSlots.h"
#include "link/LibraryBinding.h"
#include "link/LinkState.h"
#include "link/LinkWorker.h"
#include "link/Transport.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qx {

inline constexpr const char* kUnitManufacturer = "ORB-MX";

// What the windows show of the connection. Called on the user interface thread only.
class ConnectionView {
public:
    virtual ~ConnectionView() = default;
    // The main window's controls (`Cont`).
    virtual void setControlsEnabled(bool enabled) = 0;
    // The update window's three device fields.
    virtual void setDeviceFields(const std::string& name, const std::string& serial,
                                 const std::string& version) = 0;
    // The update window's "Select file" and "Set to default".
    virtual void setUpdateButtonsEnabled(bool enabled) = 0;
    // The unit is there but its device node cannot be opened; `path` is the node. Called with
    // an empty path when that is no longer the case.
    virtual void setUnitInaccessible(const std::string& path) { (void)path; }
    // A device of the unit's maker whose reports are not the unit's 65-byte transfer reports
    // (lengths in bytes, report ID included) is left alone; called when no other device of the
    // maker could be connected instead. Cleared like the inaccessible unit, with an empty path.
    virtual void setUnitRefused(uint16_t outputLength, uint16_t inputLength) {
        (void)outputLength;
        (void)inputLength;
    }
};

// Whether a device's reports are the unit's transfer reports, so that every report the link
// sends and reads fits them exactly: no report is cut short and none is read past its end.
bool hasTransferReports(const THIDdeviceInfo& info);

// "1.2" for 0x0102, "1.10" for 0x010A.
std::string versionText(uint16_t releaseNumber);
// Boot mode: "(boot)" first occurs at the product string's second character or later.
bool isBootProduct(const std::string& product);
// Text of a length-prefixed library string.
std::string textOf(const THIDstring& s);

class UsbLink {
public:
    using ImageSource = std::function<std::optional<std::vector<uint8_t>>()>;

    UsbLink(LinkState& link, ConnectionView& view, ImageSource image, std::function<void()> redraw,
            AnswerSink* answers = nullptr, ErrorSink* errors = nullptr);
    // Unregisters the handlers, stops the worker and unloads the library.
    ~UsbLink();
    UsbLink(const UsbLink&) = delete;
    UsbLink& operator=(const UsbLink&) = delete;

    // Starts the worker unless it runs, claims a handler slot and loads a copy of the library of
    // its own unless loaded, registers the input and device-change handlers and connects. False
    // when the library cannot be had or every handler slot is taken (see lastError).
    bool bindLibrary();
    // Closes the unit, rescans, and opens the first device of the unit's maker.
    void connectUnit();
    // Asks the worker to stop after its current pass (the main window closing).
    void stopWorker();
    // A device change while an update transfer runs is held back until the transfer ends, so
    // that an unrelated device plugged in meanwhile cannot close the unit under the transfer.
    // Runs the held-back reconnection once the transfer has ended; true when it did.
    bool reconnectIfDeferred();
    // Follows a device change: reconnects, or holds the change back (false) while a transfer
    // runs.
    bool followDeviceChange();
    // Called on every device change the library reports, instead of following it at once; the
    // program collapses a burst of them and then calls followDeviceChange(). Empty: each change
    // is followed at once.
    void setDeviceChangeHandler(std::function<void()> handler) {
        changeHandler_ = std::move(handler);
    }

    // Narrows the units connectUnit takes to those `accept` approves (one serial number, say);
    // the first approved unit of the maker is taken. Set before binding.
    void setUnitFilter(std::function<bool(const THIDdeviceInfo&)> accept) {
        unitFilter_ = std::move(accept);
    }

    // Called once, right after this link's copy of the library is loaded and before its handlers
    // are registered and the first unit is looked for (a virtual copy joins a shared bench
    // there). Set before binding.
    void setLibraryLoaded(std::function<void(LoadedLibrary&)> loaded) {
        libraryLoaded_ = std::move(loaded);
    }
    // Whether the copy's own device-change handler is registered (the default). Off when
    // something else follows the device changes for every link and calls followDeviceChange().
    // Set before binding.
    void setWatchDeviceChanges(bool watch) { watchDeviceChanges_ = watch; }

    bool bound() const { return library_ != nullptr; }
    bool workerRunning() const { return worker_ && worker_->running(); }
    LoadedLibrary* library() const { return library_.get(); }
    // Why the last bindLibrary failed.
    const std::string& lastError() const { return lastError_; }

private:
    // Called by the copy's device-change handler.
    void onDeviceChange();

    LinkState& link_;
    ConnectionView& view_;
    ImageSource image_;
    std::function<void()> redraw_;
    AnswerSink* answers_;
    ErrorSink* errors_;
    Receiver receiver_;
    std::unique_ptr<HandlerSlot> slot_;         // while the library is loaded
    std::atomic<HidPort*> activePort_{nullptr}; // the worker's way to the library, once loaded
    std::unique_ptr<LoadedLibrary> library_;
    std::unique_ptr<LibraryPort> port_;
    std::unique_ptr<HidPort> offlinePort_;
    std::unique_ptr<Tthr> worker_;
    std::string lastError_;
    std::function<bool(const THIDdeviceInfo&)> unitFilter_;
    std::function<void(LoadedLibrary&)> libraryLoaded_;
    bool watchDeviceChanges_ = true;
    bool deferredChange_ = false;         // user interface thread only
    std::function<void()> changeHandler_; // user interface thread only
};

} // namespace qx
