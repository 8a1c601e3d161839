// SPDX-License-Identifier: GPL-3.0-or-later
// What the device connection shows, mapped onto the main window and the update window.
#pragma once

#include "link/UsbLink.h"

namespace qx {

class Tfmain;
class Tfu;

class MainConnectionView : public ConnectionView {
public:
    MainConnectionView(Tfmain& main, Tfu& update) : main_(main), update_(update) {}

    void setControlsEnabled(bool enabled) override;
    void setDeviceFields(const std::string& name, const std::string& serial,
                         const std::string& version) override;
    void setUpdateButtonsEnabled(bool enabled) override;
    // A hint on the main window, never a message box: it may come with every device change.
    void setUnitInaccessible(const std::string& path) override;
    void setUnitRefused(uint16_t outputLength, uint16_t inputLength) override;

private:
    Tfmain& main_;
    Tfu& update_;
};

} // namespace qx
