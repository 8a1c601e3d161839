// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the level meters' pictures: qx_meters <folder> makes <folder>/meter_back.png and
// <folder>/meter_bar.png (the files the main window carries, under panel/meters).
#include "MeterImages.h"

#include <QDir>
#include <QTextStream>

int main(int argc, char** argv) {
    if (argc != 2) {
        QTextStream(stderr) << "usage: qx_meters <output folder>\n";
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const struct {
        const char* name;
        QImage image;
    } files[] = {{"meter_back.png", qx::meters::backgroundImage()},
                 {"meter_bar.png", qx::meters::barImage()}};
    for (const auto& f : files) {
        const QString path = dir.filePath(QString::fromLatin1(f.name));
        if (!f.image.save(path, "PNG")) {
            QTextStream(stderr) << "cannot write " << path << "\n";
            return 1;
        }
    }
    return 0;
}
