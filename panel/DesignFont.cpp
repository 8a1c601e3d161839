// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/DesignFont.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QStringList>

namespace qx::panel {

QString designFontFolder() {
    return QStringLiteral("/usr/share/wine/fonts");
}

QList<int> loadDesignFont(const QString& folder) {
    QList<int> added;
    if (QFontDatabase::families().contains(QLatin1String(kDesignFamily))) {
        return added;
    }
    const QDir dir(folder);
    for (const char* file : {"tahoma.ttf", "tahomabd.ttf"}) {
        const QString path = dir.filePath(QLatin1String(file));
        if (!QFileInfo(path).isFile()) {
            continue;
        }
        const int id = QFontDatabase::addApplicationFont(path);
        if (id >= 0) {
            added.append(id);
        }
    }
    return added;
}

QFont windowFont(int pixels) {
    const QStringList families = QFontDatabase::families();
    QFont font;
    if (families.contains(QLatin1String(kDesignFamily))) {
        font.setFamily(QLatin1String(kDesignFamily));
    } else if (families.contains(QStringLiteral("DejaVu Sans Condensed"))) {
        font.setFamily(QStringLiteral("DejaVu Sans Condensed"));
    } else {
        font.setFamily(QStringLiteral("DejaVu Sans"));
        font.setStretch(QFont::Condensed);
    }
    font.setPixelSize(pixels);
    font.setBold(true);
    return font;
}

} // namespace qx::panel
