// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/MainConnectionView.h"

#include "panel/UnitAccessHint.h"
#include "panel/umain.h"
#include "update/uu.h"

namespace qx {

void MainConnectionView::setControlsEnabled(bool enabled) {
    main_.Cont(enabled);
}

void MainConnectionView::setDeviceFields(const std::string& name, const std::string& serial,
                                         const std::string& version) {
    update_.setDeviceFields(QString::fromStdString(name), QString::fromStdString(serial),
                            QString::fromStdString(version));
}

void MainConnectionView::setUpdateButtonsEnabled(bool enabled) {
    update_.setUpdateButtonsEnabled(enabled);
}

void MainConnectionView::setUnitInaccessible(const std::string& path) {
    if (path.empty()) {
        main_.showUnitHint({});
        return;
    }
    const UnitAccessHint hint = unitAccessHint(path, probeUnitAccess(path));
    main_.showUnitHint(QString::fromStdString(hint.text), QString::fromStdString(hint.details));
}

void MainConnectionView::setUnitRefused(uint16_t outputLength, uint16_t inputLength) {
    const UnitAccessHint hint = unitRefusedHint(outputLength, inputLength);
    main_.showUnitHint(QString::fromStdString(hint.text), QString::fromStdString(hint.details));
}

} // namespace qx
