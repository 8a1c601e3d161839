// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/EmbeddedImage.h"

#include <QFile>

namespace qx {

std::optional<std::vector<uint8_t>> embeddedHidImage() {
    QFile file(QStringLiteral(":/HID"));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

} // namespace qx
