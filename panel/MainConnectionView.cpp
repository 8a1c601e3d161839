#include "panel/MainConnectionView.h"

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
    main_.setUnitInaccessible(QString::fromStdString(path));
}

} // namespace qx
