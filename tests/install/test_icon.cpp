// The committed icons are what the icon tool draws today.
#include "IconDrawing.h"

#include <QImage>

#include <gtest/gtest.h>

TEST(ProgramIcon, CommittedPngsMatchTheDrawing) {
    for (int size : qx::kIconSizes) {
        const QString path = QStringLiteral(QX_ICON_DIR "/qx77zt-%1.png").arg(size);
        QImage committed(path);
        ASSERT_FALSE(committed.isNull()) << path.toStdString();
        EXPECT_EQ(committed.convertToFormat(QImage::Format_ARGB32),
                  qx::drawProgramIcon(size).convertToFormat(QImage::Format_ARGB32))
            << "regenerate with: qx_icon app/linux/icons (" << size << ")";
    }
}
