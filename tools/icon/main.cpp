// SPDX-License-Identifier: GPL-3.0-or-later
// qx_icon DIR: writes the program icon as DIR/qx77zt-<size>.png at every usual size.
#include "IconDrawing.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qx_icon OUTPUT_DIR\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "qx_icon: cannot create %s\n", argv[1]);
        return 1;
    }
    for (int size : qx::kIconSizes) {
        const QString path = dir.filePath(QStringLiteral("qx77zt-%1.png").arg(size));
        if (!qx::drawProgramIcon(size).save(path, "PNG")) {
            std::fprintf(stderr, "qx_icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
