// SPDX-License-Identifier: GPL-3.0-or-later
// qx77zt and a socket at the window program's name that another user listens on: nothing is sent
// there, and the command drives the unit itself as when no window program runs.
#include "CliFixture.h"
#include "cli/WindowHandOff.h"
#include "tests/support/ForeignListener.h"

#include <QFile>
#include <QTemporaryDir>

namespace qx::cli::test {
namespace {

TEST(ForeignWindowSocket, IsSentNothingAndLeavesTheCommandToDriveTheUnitItself) {
    if (!qx::test::ForeignListener::possible()) {
        GTEST_SKIP() << "a process of another user needs root";
    }
    QTemporaryDir shared;
    ASSERT_TRUE(QFile::setPermissions(shared.path(), QFileDevice::Permissions(0x7777)));
    const QString endpoint = shared.filePath(QStringLiteral("Tfmain-QX-77ZT"));
    const qx::test::ForeignListener foreign(QFile::encodeName(endpoint).toStdString());
    ASSERT_TRUE(foreign.ready());

    CapturedOutput output;
    EXPECT_EQ(handToWindow(endpoint, *parseArgs({"get"}).request, output, {}), std::nullopt);
    EXPECT_EQ(output.err(), "");
    EXPECT_EQ(output.out(), "");
}

} // namespace
} // namespace qx::cli::test
