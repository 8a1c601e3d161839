// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/UpdateLog.h"

#include <QCryptographicHash>

namespace qx {

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return hash.result().toHex().toStdString();
}

} // namespace qx
