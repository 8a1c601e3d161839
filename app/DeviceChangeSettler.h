// SPDX-License-Identifier: GPL-3.0-or-later
// One plug or unplug brings a burst of device events (one per layer: the USB device, its
// interface, the HID device, its node, each added and bound). The settler turns each burst into
// one reconnection, made once the events have stopped for a short while, and keeps no timer
// running while nothing is due.
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace qx {

// Quiet time after the last event of a burst: longer than the gaps between the events of one
// plug on an ordinary machine, well under what a person notices.
inline constexpr std::chrono::milliseconds kDeviceChangeSettle{200};
// Longest the reconnection waits for the system's device manager to finish a burst.
inline constexpr std::chrono::milliseconds kDeviceChangeBusyLimit{3000};

// Whether udev still has device events in hand: the later events of a burst are on their way.
// False where no udev daemon runs (and on Windows, where the settle time alone covers a burst).
bool udevEventsQueued();

class DeviceChangeSettler : public QObject {
public:
    struct Timing {
        std::chrono::milliseconds settle = kDeviceChangeSettle;
        // Pause between tries of a reconnection that has to wait.
        std::chrono::milliseconds retry{200};
        std::chrono::milliseconds busyLimit = kDeviceChangeBusyLimit;
    };

    // `follow` reconnects and returns true, or returns false when the reconnection has to wait
    // (an update transfer runs); it is then tried again every `retry`. While `systemBusy` says
    // that more events of the burst are being made, the reconnection waits another `settle`,
    // for at most `busyLimit` after the last event.
    DeviceChangeSettler(std::function<bool()> follow, Timing timing,
                        std::function<bool()> systemBusy = {}, QObject* parent = nullptr);

    // A device event: the reconnection moves to `settle` after it.
    void changed();
    bool due() const { return timer_.isActive(); }

private:
    void fire();

    std::function<bool()> follow_;
    Timing timing_;
    std::function<bool()> systemBusy_;
    std::chrono::steady_clock::time_point lastEvent_;
    QTimer timer_;
};

} // namespace qx
