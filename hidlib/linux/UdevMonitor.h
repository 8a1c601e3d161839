// SPDX-License-Identifier: GPL-3.0-or-later
// Listens for hidraw and USB devices being added or removed.
#ifndef QX_HID_LINUX_UDEVMONITOR_H
#define QX_HID_LINUX_UDEVMONITOR_H

struct udev;
struct udev_monitor;

namespace hid {

class UdevMonitor {
public:
    // Starts listening at once, so that changes after this point are not missed by a scan.
    UdevMonitor();
    ~UdevMonitor();
    UdevMonitor(const UdevMonitor&) = delete;
    UdevMonitor& operator=(const UdevMonitor&) = delete;

    // Readable when events are waiting; -1 when no monitor could be made.
    int fd() const;
    // Takes every waiting event without blocking; returns how many were adds or removes.
    int drain();

private:
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};

} // namespace hid

#endif
