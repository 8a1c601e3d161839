// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the update tests: dialogs answered by script, a link whose "worker" records
// what it takes, and the window wired to a virtual unit in its boot loader.
#pragma once

#include "link/LinkWorker.h"
#include "tools/mkorbu/PackageWriter.h"
#include "unit/UnitPort.h"
#include "update/Dialogs.h"
#include "update/uu.h"

#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace qx::test {

using Bytes = std::vector<std::uint8_t>;

// `n` bytes counting up from `first`, so a misplaced block shows.
inline Bytes pattern(std::size_t n, std::uint8_t first = 1) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(first + i * 7);
    }
    return out;
}

struct ShownMessage {
    Dialogs::Icon icon = Dialogs::Icon::None;
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
};

// Answers the window's dialogs without a person. Hooks run while a dialog "is up".
class ScriptedDialogs : public Dialogs {
public:
    std::vector<ShownMessage> messages;
    std::function<void(const ShownMessage&)> onMessage;
    std::deque<QString> files; // answers to the open dialog; "" cancels
    // The answer to a question offering Yes and No.
    QMessageBox::StandardButton questionAnswer = QMessageBox::No;
    // The answer to a question offering OK and Cancel.
    QMessageBox::StandardButton confirmAnswer = QMessageBox::Ok;
    std::function<void()> onOpen;
    QString openFilter;
    QString openInitial;

    QMessageBox::StandardButton message(QWidget*, Icon icon, const QString& caption,
                                        const QString& text,
                                        QMessageBox::StandardButtons buttons) override {
        messages.push_back({icon, caption, text, buttons});
        if (onMessage) {
            onMessage(messages.back());
        }
        if (buttons.testFlag(QMessageBox::Cancel)) {
            return confirmAnswer;
        }
        return buttons.testFlag(QMessageBox::Yes) ? questionAnswer : QMessageBox::Ok;
    }
    QString openFileName(QWidget*, const QString& initialName, const QString& filter) override {
        openInitial = initialName;
        openFilter = filter;
        if (onOpen) {
            onOpen();
        }
        if (files.empty()) {
            return {};
        }
        QString f = files.front();
        files.pop_front();
        return f;
    }
    QString saveFileName(QWidget*, const QString&, const QString&) override { return {}; }

    const ShownMessage* find(const QString& text) const {
        for (const ShownMessage& m : messages) {
            if (m.text == text) {
                return &m;
            }
        }
        return nullptr;
    }
    QStringList texts() const {
        QStringList out;
        for (const ShownMessage& m : messages) {
            out << m.text;
        }
        return out;
    }
};

// Plays the link worker: takes every post, records it and reports the scripted result, so a
// test sees each request's exact bytes and can fail any one of them.
class RecordingLink {
public:
    struct Taken {
        LinkRequest request;
        std::chrono::steady_clock::time_point at;
    };

    LinkState link;

    RecordingLink() {
        thread_ = std::jthread([this](std::stop_token stop) {
            for (;;) {
                LinkState::Work work = link.nextWork(stop);
                if (work.stop) {
                    break;
                }
                if (!work.job) {
                    continue;
                }
                bool result;
                {
                    std::lock_guard lock(mutex_);
                    result = !failing_.contains(taken_.size());
                    taken_.push_back({work.job->request, std::chrono::steady_clock::now()});
                }
                link.finishJob(*work.job, result);
            }
            link.shutdown();
        });
    }
    ~RecordingLink() {
        thread_.request_stop();
        link.wakeWorker();
        thread_.join();
    }

    // The request taken as the index-th (from 0) reports failure.
    void failTake(std::size_t index) {
        std::lock_guard lock(mutex_);
        failing_.insert(index);
    }
    std::vector<Taken> taken() const {
        std::lock_guard lock(mutex_);
        return taken_;
    }

private:
    mutable std::mutex mutex_;
    std::set<std::size_t> failing_; // guarded by mutex_
    std::vector<Taken> taken_;      // guarded by mutex_
    std::jthread thread_;
};

// Packages written to a temporary folder for the window to open.
class PackageFolder {
public:
    QString write(const QString& fileName, const Bytes& bytes) {
        const QString path = dir_.filePath(fileName);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) {
            ADD_FAILURE() << "cannot write " << path.toStdString();
            return path;
        }
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return path;
    }
    QString package(const std::string& name, const Bytes& flash, const Bytes& eeprom) {
        PackageContents contents{name, std::string("1.0"), flash, eeprom};
        const PackageWriteResult r = writePackage(contents);
        EXPECT_TRUE(r.ok) << r.error;
        return write(QStringLiteral("p%1.orbu").arg(++count_), r.bytes);
    }
    QString missing() const { return dir_.filePath(QStringLiteral("nowhere/missing.orbu")); }

private:
    QTemporaryDir dir_;
    int count_ = 0;
};

// The window over a virtual unit in its boot loader, with the real link worker and receiver.
class WindowTest : public ::testing::Test {
protected:
    static constexpr auto kBootName = "QX-77ZT (boot)";
    static constexpr auto kModelName = "QX-77ZT "; // "(boot)" taken out, the space kept

    LinkState link;
    unit::VirtualUnit unit;
    ScriptedDialogs dialogs;
    std::unique_ptr<Tfu> tfu;
    std::unique_ptr<unit::UnitPort> port;
    std::unique_ptr<Receiver> receiver;
    std::unique_ptr<Tthr> worker;
    PackageFolder packages;

    void SetUp() override {
        unit.restart(true);
        tfu = std::make_unique<Tfu>(link, dialogs);
        port = std::make_unique<unit::UnitPort>(unit);
        receiver = std::make_unique<Receiver>(link, tfu.get());
        port->setInputHandler(
            [this](const THIDreport& r, std::uint8_t n) { receiver->onInputReport(r, n); });
        ASSERT_EQ(port->scanForDevices(), 1);
        ASSERT_TRUE(port->openDevice(0));
        // What the device connection does for a unit in its boot loader.
        link.connected = true;
        link.bootMode = true;
        tfu->setDeviceFields(QString::fromLatin1(kBootName), QStringLiteral("QX7700000042"),
                             QStringLiteral("1.2"));
        tfu->setUpdateButtonsEnabled(true);
        worker = std::make_unique<Tthr>(link, *port, [] {});
        tfu->show();
    }
    void TearDown() override {
        // The port's reader may be inside the receiver right now: only joining it (the port's
        // destructor) guarantees that no answer reaches the receiver or the window afterwards.
        worker.reset();
        port.reset();
        receiver.reset();
        tfu.reset();
    }

    unsigned sent(std::uint8_t command) const {
        const auto c = unit.counters().byCommand;
        const auto it = c.find(command);
        return it == c.end() ? 0 : it->second;
    }
    unsigned blocksSent() const {
        return sent(cmd::kErase) + sent(cmd::kWriteFlash) + sent(cmd::kWriteEeprom);
    }
    // Chooses `path` in the open dialog of "Select file" and waits for whatever follows to end.
    void selectPackage(const QString& path) {
        dialogs.files.push_back(path);
        tfu->select->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu->busy(); }, 10000));
    }
    // Lets the link send what is posted; the virtual unit counts a frame before the worker
    // frees the mailbox.
    void settleLink() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !link.pending(); }, 2000));
    }
};

} // namespace qx::test
