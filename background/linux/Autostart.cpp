// SPDX-License-Identifier: GPL-3.0-or-later
#include "background/linux/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace qx::background {

namespace {

// One argument of an Exec line: quoted when it holds anything the desktop entry rules reserve,
// with `"`, backquote, `$` and backslash escaped inside the quotes; `%` doubled, since it starts
// a field code.
QString execArgument(const QString& arg) {
    QString out;
    bool quote = arg.isEmpty();
    for (const QChar c : arg) {
        if (QStringLiteral(" \t\n\"'\\><~|&;$*?#()`").contains(c)) {
            quote = true;
        }
    }
    for (const QChar c : arg) {
        if (quote && (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                      c == QLatin1Char('\\'))) {
            out += QLatin1Char('\\');
        }
        out += c;
        if (c == QLatin1Char('%')) {
            out += QLatin1Char('%');
        }
    }
    return quote ? QLatin1Char('"') + out + QLatin1Char('"') : out;
}

// A string value of a desktop entry escapes its backslashes (and could not hold a line break).
QString entryValue(const QString& value) {
    QString out = value;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    out.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return out;
}

} // namespace

QString autostartFolder() {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.isEmpty() && QDir::isAbsolutePath(config)) {
        return QDir(config).filePath(QStringLiteral("autostart"));
    }
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home)) {
        return {};
    }
    return QDir(home).filePath(QStringLiteral(".config/autostart"));
}

QString autostartPath(const AutostartEntry& entry) {
    const QString folder = autostartFolder();
    return folder.isEmpty() ? QString() : QDir(folder).filePath(entry.fileName);
}

QString autostartText(const AutostartEntry& entry) {
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=%1\n"
                          "Comment=Keeps watching the units from the start of the session\n"
                          "Exec=%2 --hidden\n"
                          "Icon=qx77zt\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(entryValue(entry.name), entryValue(execArgument(entry.program)));
}

bool autostartEnabled(const AutostartEntry& entry) {
    QFile file(autostartPath(entry));
    if (entry.fileName.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    // Small by nature; a file much bigger is not one this program wrote, and still counts as
    // there unless it switches itself off.
    const QByteArray text = file.read(64 * 1024);
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        const int eq = line.indexOf('=');
        if (eq < 0) {
            continue;
        }
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return false;
        }
    }
    return true;
}

QString enableAutostart(const AutostartEntry& entry) {
    const QString path = autostartPath(entry);
    if (path.isEmpty()) {
        return QStringLiteral("there is no configuration folder (neither XDG_CONFIG_HOME nor "
                              "HOME is set)");
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return QStringLiteral("%1 cannot be made").arg(QFileInfo(path).absolutePath());
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    }
    file.write(autostartText(entry).toUtf8());
    if (!file.commit()) {
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    }
    return {};
}

QString disableAutostart(const AutostartEntry& entry) {
    const QString path = autostartPath(entry);
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        return {};
    }
    QFile file(path);
    if (!file.remove()) {
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    }
    return {};
}

} // namespace qx::background
