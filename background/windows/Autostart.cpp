// SPDX-License-Identifier: GPL-3.0-or-later
// The start at login on Windows: a value under the user's "Run" key, named as the entry's desktop
// name, holding the quoted program and --hidden.
#include "background/Autostart.h"

#include <QDir>
#include <QSettings>

namespace qx::background {

namespace {

const QString kRunKey =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");

QString valueName(const AutostartEntry& entry) {
    return entry.name;
}

} // namespace

QString autostartPath(const AutostartEntry& entry) {
    return kRunKey + QLatin1Char('\\') + valueName(entry);
}

bool autostartEnabled(const AutostartEntry& entry) {
    const QSettings run(kRunKey, QSettings::NativeFormat);
    return run.contains(valueName(entry));
}

QString enableAutostart(const AutostartEntry& entry) {
    QSettings run(kRunKey, QSettings::NativeFormat);
    run.setValue(valueName(entry), QLatin1Char('"') + QDir::toNativeSeparators(entry.program) +
                                       QStringLiteral("\" --hidden"));
    run.sync();
    if (run.status() != QSettings::NoError) {
        return QStringLiteral("%1 cannot be written").arg(autostartPath(entry));
    }
    return {};
}

QString disableAutostart(const AutostartEntry& entry) {
    QSettings run(kRunKey, QSettings::NativeFormat);
    run.remove(valueName(entry));
    run.sync();
    if (run.status() != QSettings::NoError) {
        return QStringLiteral("%1 cannot be removed").arg(autostartPath(entry));
    }
    return {};
}

} // namespace qx::background
