// SPDX-License-Identifier: GPL-3.0-or-later
#include "background/DesktopSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace qx::background {

namespace {
const QString kKeepWatching = QStringLiteral("keep-watching");
}

QString desktopSettingsPath(bool demo) {
    const QString folder = demo ? QStringLiteral("qx77zt-demo") : QStringLiteral("qx77zt");
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    QString base;
    if (!config.isEmpty() && QDir::isAbsolutePath(config)) {
        base = config;
    } else if (const QString home = qEnvironmentVariable("HOME");
               !home.isEmpty() && QDir::isAbsolutePath(home)) {
        base = QDir(home).filePath(QStringLiteral(".config"));
    } else {
        return {};
    }
    return QDir(base).filePath(folder + QStringLiteral("/desktop.conf"));
}

DesktopSettings::DesktopSettings(QString path) : path_(std::move(path)) {}

QString DesktopSettings::load() {
    if (path_.isEmpty() || !QFileInfo::exists(path_)) {
        return {};
    }
    QSettings file(path_, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        return QStringLiteral("%1 cannot be read; the desktop settings stay as they were")
            .arg(path_);
    }
    const QVariant keep = file.value(kKeepWatching);
    if (keep.isValid()) {
        const QString word = keep.toString();
        if (word != QLatin1String("true") && word != QLatin1String("false")) {
            return QStringLiteral("%1: keep-watching is \"%2\", not true or false; it stays off")
                .arg(path_, word);
        }
        keepWatching = word == QLatin1String("true");
    }
    return {};
}

QString DesktopSettings::save() const {
    if (path_.isEmpty()) {
        return QStringLiteral("there is no configuration folder (neither XDG_CONFIG_HOME nor "
                              "HOME is set)");
    }
    if (!QDir().mkpath(QFileInfo(path_).absolutePath())) {
        return QStringLiteral("%1 cannot be made").arg(QFileInfo(path_).absolutePath());
    }
    // QSettings replaces the file through a temporary one, so a crash leaves the old or the new.
    QSettings file(path_, QSettings::IniFormat);
    file.setValue(kKeepWatching, keepWatching);
    file.sync();
    if (file.status() != QSettings::NoError) {
        return QStringLiteral("%1 cannot be written").arg(path_);
    }
    return {};
}

} // namespace qx::background
