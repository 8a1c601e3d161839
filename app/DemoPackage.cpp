// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DemoPackage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace qx {

QString findDemoPackage(const QStringList& folders) {
    for (const QString& folder : folders) {
        const QFileInfo package(QDir(folder), QString::fromLatin1(kDemoPackageName));
        if (package.isFile()) {
            return package.absoluteFilePath();
        }
    }
    return {};
}

QStringList demoPackageFolders() {
    QStringList folders{QCoreApplication::applicationDirPath() + QStringLiteral("/samples")};
#ifdef QX_SOURCE_SAMPLES
    folders << QStringLiteral(QX_SOURCE_SAMPLES);
#endif
    return folders;
}

} // namespace qx
