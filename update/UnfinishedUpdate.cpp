// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/UnfinishedUpdate.h"

#include "update/UpdateLog.h"

#include <QFileInfo>

namespace qx {

QString packageChangeReason(const state::JournalEntry& entry, bool readable,
                            std::span<const std::uint8_t> file) {
    const QString path = QString::fromStdString(entry.packagePath);
    if (!readable) {
        return QStringLiteral("The package %1 of the unfinished update cannot be read any more.")
            .arg(path);
    }
    if (static_cast<std::uint64_t>(file.size()) != entry.packageSize ||
        sha256Hex(file) != entry.packageSha256) {
        return QStringLiteral("The package %1 has changed since the unfinished update: it is not "
                              "the one that was being written.")
            .arg(path);
    }
    return {};
}

QString recoveryText(const state::JournalEntry& entry) {
    const QString what =
        state::unfinished(entry.state) && entry.state == state::UpdateState::Running
            ? QStringLiteral("was cut off")
            : QStringLiteral("did not finish");
    return QStringLiteral("The last update of this unit %1: %2, version %3, %4 of %5 blocks "
                          "written. Run it again from the start?")
        .arg(what, QFileInfo(QString::fromStdString(entry.packagePath)).fileName(),
             QString::fromStdString(entry.packageVersion))
        .arg(entry.blocksDone)
        .arg(entry.blocksTotal);
}

} // namespace qx
