// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/vm/EventWait.h"

#include "tests/vm/HidrawNode.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QStringList>
#include <QThread>

namespace qx::vm {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout.count());
    while (!done()) {
        if (deadline.hasExpired()) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

int runTool(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    if (argv.empty()) {
        return -1;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList args;
    for (std::size_t i = 1; i < argv.size(); ++i) {
        args << QString::fromStdString(argv[i]);
    }
    process.start(QString::fromStdString(argv[0]), args);
    if (!process.waitForStarted(5000)) {
        return -1;
    }
    const bool finished =
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, timeout);
    if (!finished) {
        process.kill();
        process.waitForFinished(5000);
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

std::string gadgetNode() {
    const auto node = findHidraw("/sys/class/hidraw", UsbIds{0x1209, 0x0001});
    return node ? node->devNode.string() : std::string();
}

} // namespace qx::vm
