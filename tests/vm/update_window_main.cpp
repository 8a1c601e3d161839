// SPDX-License-Identifier: GPL-3.0-or-later
// The update window over the real HID library and a unit's gadget, for the kill-and-recover run
// of the real-kernel test machine (tools/vm/recover.sh). Dialogs answer themselves: a question
// gets Yes, the open dialog the package given, and every message is printed.
//
//   vm_update_window start PACKAGE
//       waits for the unit in its boot loader and starts writing PACKAGE; prints "transferring"
//       and keeps going until the run ends (the test kills it before that)
//   vm_update_window recover
//       waits for the unit in its boot loader and the window's offer to run the unfinished
//       update again, takes it, and waits for the unit's verdict; prints the settings snapshot
//       the run journalled ("snapshot: HEX"), then waits for the unit to run normally again
//       (the rig restarts it) and for the main window's offer to put its settings back, which
//       it takes
//
// The journal and the settings each unit confirmed live where the program keeps them
// ($XDG_STATE_HOME). Exits 0 when the run it watched ended with the unit's confirmation (and,
// for a recovery, the settings were put back), 1 otherwise, 2 on a usage error.
#include "link/EmbeddedImage.h"
#include "link/UsbLink.h"
#include "panel/SettingsRestore.h"
#include "state/SettingsMemory.h"
#include "state/StateFiles.h"
#include "state/UpdateJournal.h"
#include "update/Dialogs.h"
#include "update/RecoveryOffer.h"
#include "update/uu.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <string>

namespace {

using namespace qx;

class AutoDialogs : public Dialogs {
public:
    QString package;
    QStringList shown;

    QMessageBox::StandardButton message(QWidget*, Icon, const QString&, const QString& text,
                                        QMessageBox::StandardButtons buttons) override {
        shown << text;
        std::printf("message: %s\n", text.toUtf8().constData());
        std::fflush(stdout);
        return buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    }
    QString openFileName(QWidget*, const QString&, const QString&) override {
        return std::exchange(package, QString());
    }
    QString saveFileName(QWidget*, const QString&, const QString&) override { return {}; }
};

// The device connection's view, without a main window.
class WindowView : public ConnectionView {
public:
    explicit WindowView(Tfu& tfu) : tfu_(tfu) {}
    void setControlsEnabled(bool) override {}
    void setDeviceFields(const std::string& name, const std::string& serial,
                         const std::string& version) override {
        tfu_.setDeviceFields(QString::fromStdString(name), QString::fromStdString(serial),
                             QString::fromStdString(version));
    }
    void setUpdateButtonsEnabled(bool enabled) override { tfu_.setUpdateButtonsEnabled(enabled); }

private:
    Tfu& tfu_;
};

int usage() {
    std::fprintf(stderr, "usage: vm_update_window start PACKAGE | recover\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "start" && argc == 3) || (mode == "recover" && argc == 2))) {
        return usage();
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const std::filesystem::path folder = state::stateFolderFromEnvironment();
    state::UpdateJournal journal(folder / state::kJournalFileName);
    state::SettingsMemory memory(folder / state::kSettingsFileName);
    for (const std::string& trouble : {journal.load(), memory.load()}) {
        if (!trouble.empty()) {
            std::printf("state: %s\n", trouble.c_str());
        }
    }
    LinkState link;
    AutoDialogs dialogs;
    Tfu tfu(link, dialogs);
    tfu.setStateStore(&journal, &memory);
    WindowView view(tfu);
    // What the main window does after each stored answer: offer back settings an update reset.
    SettingsRestore restore(link, memory, &journal, dialogs, &tfu,
                            [&tfu] { return tfu.deviceSerial().toStdString(); });
    UsbLink usb(
        link, view, &embeddedHidImage,
        [&restore] {
            QMetaObject::invokeMethod(
                &restore, [&restore] { restore.answerStored(); }, Qt::QueuedConnection);
        },
        &tfu);
    link.setStatusPolling(true); // as the main window does from its creation
    if (!usb.bindLibrary()) {
        std::printf("cannot bind the HID library: %s\n", usb.lastError().c_str());
        return 1;
    }
    tfu.show();
    const auto bootUnit = [&] { return link.connected && link.bootMode; };
    if (!QTest::qWaitFor(bootUnit, 30000)) {
        std::printf("no unit in its boot loader\n");
        return 1;
    }
    // The gadget unit takes up its node a moment after the host lists it; an operator, too,
    // picks the package a while after the unit shows up in its boot loader.
    QTest::qWait(1000);

    if (mode == "start") {
        dialogs.package = QString::fromLocal8Bit(argv[2]);
        tfu.select->click();
        if (!tfu.transferring()) {
            std::printf("the transfer did not start\n");
            return 1;
        }
        std::printf("transferring\n");
        std::fflush(stdout);
    } else {
        if (!QTest::qWaitFor([&] { return tfu.offer->isVisible(); }, 10000)) {
            std::printf("no recovery offered\n");
            return 1;
        }
        std::printf("offer: %s\n", tfu.offer->text->text().toUtf8().constData());
        std::fflush(stdout);
        tfu.offer->run->click();
        if (!tfu.transferring()) {
            std::printf("the recovery did not start\n");
            return 1;
        }
    }
    if (!QTest::qWaitFor([&] { return !tfu.busy(); }, 300000)) {
        std::printf("the run did not end\n");
        return 1;
    }
    const bool confirmed = dialogs.shown.contains(QStringLiteral("Обновление завершено успешно!"));
    const auto entries = journal.entries();
    const bool journalled =
        !entries.empty() && entries.back().state == state::UpdateState::Completed;
    std::printf("run ended: %s, journal %s\n", confirmed ? "confirmed" : "not confirmed",
                journalled ? "completed" : "not completed");
    std::fflush(stdout);
    if (mode == "start" || !confirmed || !journalled) {
        return confirmed && journalled ? 0 : 1;
    }
    const auto snapshot = entries.back().snapshot;
    std::string hex;
    if (snapshot) {
        for (const std::uint8_t b : rawBytes(*snapshot)) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", b);
            hex += two;
        }
    }
    std::printf("snapshot: %s\n", snapshot ? hex.c_str() : "none");
    std::fflush(stdout);
    // The rig restarts the unit in normal mode now; its first answers bring the offer.
    const QString restored =
        QStringLiteral("The unit has its settings from before the update again.");
    if (!QTest::qWaitFor([&] { return dialogs.shown.contains(restored); }, 60000)) {
        std::printf("settings not put back\n");
        return 1;
    }
    return 0;
}
