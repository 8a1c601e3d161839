// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProgramMain.h"

#include "app/ActivationGate.h"
#include "app/DemoControlWindow.h"
#include "app/DemoPackage.h"
#include "app/DemoTitles.h"
#include "app/DeviceChangeSettler.h"
#include "app/ProgramState.h"
#include "app/QuitOnSignal.h"
#include "app/QuitWhenIdle.h"
#include "app/SingleInstance.h"
#include "cli/UnitLock.h"
#include "cli/UserRuntime.h"
#include "cli/WindowCliService.h"
#include "diag/DiagnosticsReport.h"
#include "diag/DiagnosticsWindow.h"
#include "link/EmbeddedImage.h"
#include "link/USB.h"
#include "panel/DesignFont.h"
#include "panel/MainConnectionView.h"
#include "panel/umain.h"
#include "update/Dialogs.h"
#include "update/uu.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qx {

namespace {

// Shows a send failure on the user interface thread, whatever thread reports it. The text waits
// in a locked queue and an argument-less queued signal fetches it, so nothing Qt counts
// internally crosses threads.
class WindowErrorSink : public QObject, public ErrorSink {
    Q_OBJECT
public:
    WindowErrorSink(QWidget& owner, Dialogs& dialogs) {
        connect(
            this, &WindowErrorSink::errorQueued, &owner,
            [this, owner = &owner, &dialogs] {
                for (const std::string& text : takeQueued()) {
                    dialogs.message(owner, Dialogs::Icon::Error, QStringLiteral("QX-77ZT"),
                                    QString::fromStdString(text), QMessageBox::Ok);
                }
            },
            Qt::QueuedConnection);
    }
    void showError(const std::string& text) override {
        {
            std::lock_guard lock(mutex_);
            queued_.push_back(text);
        }
        emit errorQueued();
    }

signals:
    void errorQueued();

private:
    std::vector<std::string> takeQueued() {
        std::lock_guard lock(mutex_);
        return std::exchange(queued_, {});
    }

    std::mutex mutex_;
    std::vector<std::string> queued_; // guarded by mutex_
};

// The exit status of a later copy, which leaves: silently when the first copy has been asked to
// come forward, with a message (`leaveWithMessage`) when it could not be reached. Nothing for the
// first copy.
std::optional<int> laterCopyStatus(SingleInstance& instance,
                                   const std::function<int(const QString&)>& leaveWithMessage) {
    switch (instance.claim()) {
    case SingleInstance::Outcome::First:
        if (!instance.listening()) {
            qWarning("QX-77ZT: a later copy cannot bring this one forward: %s",
                     qPrintable(instance.error()));
        }
        return std::nullopt;
    case SingleInstance::Outcome::Delivered:
        return 0;
    case SingleInstance::Outcome::GaveUp:
        break;
    }
    qWarning("QX-77ZT: another copy is running but does not answer: %s",
             qPrintable(instance.error()));
    return leaveWithMessage(QStringLiteral("QX-77ZT is already running but does not answer. Close "
                                           "it, or end it, and start the program again."));
}

// What the window says while a qx77zt that drives the unit itself holds it.
QString unitHeldText(const cli::UnitLock& lock) {
    const QString holder = QString::fromStdString(lock.holder());
    if (holder == QLatin1String("update")) {
        return QStringLiteral("qx77zt is updating the unit's firmware: the window takes the unit "
                              "when that has ended.");
    }
    return QStringLiteral("qx77zt (%1) is using the unit: the window takes the unit when that "
                          "command has ended.")
        .arg(holder);
}

} // namespace

int runProgram(int argc, char** argv, const ProgramOptions& options) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QX_77ZT"));
    QApplication::setApplicationDisplayName(QStringLiteral("QX-77ZT"));
    QApplication::setDesktopFileName(QStringLiteral("qx77zt"));
    // The end of the desktop session (SIGTERM), or ^C or a hang-up of the terminal, closes the
    // main window as the operator would and ends the event loop, so the program goes through its
    // ordinary teardown instead of being cut off with its threads running. Caught from the start:
    // a later copy may find this one and leave, and whoever started both may end it, while its
    // windows are still being made. A signal that early waits in the handler's pipe until the
    // event loop runs (a later copy leaves on its own anyway); one taken by a dialog's loop before
    // the program can quit is kept for then.
    std::optional<QuitOnSignal> endOfSession(std::in_place);
    std::function<void()> endTheSession;
    bool endOfSessionBeforeStart = false;
    // Set while a copy that leaves says why: a stop signal then ends its message, and the copy
    // leaves with status 1 as when the message is closed.
    bool leaving = false;
    QObject::connect(&*endOfSession, &QuitOnSignal::received, [&] {
        if (endTheSession) {
            endTheSession();
        } else if (leaving) {
            QCoreApplication::exit(1);
        } else {
            endOfSessionBeforeStart = true;
        }
    });
    const auto leaveWithMessage = [&leaving](const QString& text) {
        leaving = true;
        QtDialogs().message(nullptr, Dialogs::Icon::Warning, QStringLiteral("QX-77ZT"), text,
                            QMessageBox::Ok);
        return 1;
    };
    // Before any window is made: both take the design font when it is there.
    panel::loadDesignFont();

    // The single-instance lock and endpoint and the unit lock live in the user's private runtime
    // folder; without one, another user could have taken their names.
    const cli::RuntimeFolder place = cli::userRuntimeFolder();
    if (place.path.empty()) {
        qWarning("QX-77ZT: %s", place.error.c_str());
        return leaveWithMessage(QStringLiteral("QX-77ZT cannot keep its lock files: %1")
                                    .arg(QString::fromStdString(place.error)));
    }
    // A running copy is shown instead; this one leaves before touching the HID library.
    SingleInstance instance(
        QString::fromLatin1(options.demo ? kDemoInstanceKey : kProgramInstanceKey),
        QString::fromStdString(place.path));
    if (const std::optional<int> status = laterCopyStatus(instance, leaveWithMessage)) {
        return *status;
    }
    // The real program drives the unit only while it holds the unit lock, which a qx77zt that
    // drives the unit itself holds too: whichever comes second leaves the unit alone and says
    // who has it. The demo's virtual unit is its own. Declared before the link, so that it is
    // released only once the link has stopped.
    std::unique_ptr<cli::UnitLock> unitLock;

    // Beside the real program, each of the demo's windows says it is the demo's.
    std::optional<DemoTitles> demoTitles;
    if (options.demo) {
        demoTitles.emplace();
    }

    LinkState link;
    // The link's tap for the whole run (it writes only while a recording runs); declared before
    // the link's threads so that it outlives them.
    TrafficRecorder recorder;
    link.tap = &recorder;
    QtDialogs dialogs;
    Tfu updateWindow(link, dialogs);
    Tfmain mainWindow(link, updateWindow, dialogs);
    MainConnectionView view(mainWindow, updateWindow);
    WindowErrorSink errors(mainWindow, dialogs);
    ProgramState kept(options.demo, link, mainWindow, updateWindow, dialogs);
    std::unique_ptr<DemoControlWindow> demoWindow;
    if (options.demo) {
        // The demo's update: the sample package, written to a unit put in its boot loader from
        // the control window.
        updateWindow.setPackageStart(findDemoPackage(demoPackageFolders()));
        updateWindow.setBootLoaderHow(
            QStringLiteral("press \"Restart in boot mode\" in the \"Virtual QX-77ZT\" window, "
                           "and \"Select file\" comes on."));
    }

    // The unit's update and reset answers reach the update window and any qx77zt request.
    cli::AnswerBox commandAnswers;
    cli::AnswerFanOut answers(updateWindow, commandAnswers);
    // Declared after the windows so that it goes first at exit: the worker and the library's
    // reader stop before the windows they report to are destroyed.
    UsbLink usb(
        link, view, &embeddedHidImage, [&mainWindow] { mainWindow.requestRefresh(); }, &answers,
        &errors);
    // qx77zt's requests run on this program's link. Declared after it, so that requests still
    // running end before the link does.
    cli::WindowCliService commands(link, commandAnswers, [&] {
        cli::WindowUnit unit;
        unit.connected = link.connected;
        unit.inaccessible = mainWindow.unitHint().toStdString();
        unit.unit = {updateWindow.deviceName().toStdString(),
                     updateWindow.deviceSerial().toStdString(),
                     updateWindow.deviceVersion().toStdString(), link.bootMode};
        return unit;
    });
    commands.journal = &kept.journal();
    instance.takeConnection = [&commands](QLocalSocket* peer, const QByteArray& received) {
        return commands.take(peer, received);
    };
    instance.connections().refusal = cli::WindowCliService::tooManyConnections();

    QObject::connect(&instance, &SingleInstance::activationRequested, &mainWindow,
                     [&mainWindow] { bringForward(mainWindow); });

    // An activation that asked for the link while the unit lock was elsewhere.
    bool linkWanted = false;
    const std::function<void()> bringUpLink = [&] {
        if (!options.demo && !unitLock) {
            linkWanted = true;
            return;
        }
        if (!usb.bindLibrary()) {
            dialogs.message(&updateWindow, Dialogs::Icon::Error, QStringLiteral("Update firmware"),
                            QStringLiteral("Failed to initialize USB!"),
                            QMessageBox::Ok | QMessageBox::Cancel);
            mainWindow.close();
            return;
        }
        if (options.demo && !demoWindow && usb.library() != nullptr) {
            auto control =
                reinterpret_cast<decltype(&VUcontrol)>(usb.library()->symbol("VUcontrol"));
            if (control != nullptr) {
                demoWindow = std::make_unique<DemoControlWindow>(*control());
                demoWindow->move(mainWindow.frameGeometry().topRight() + QPoint(16, 0));
                demoWindow->show();
            }
        }
    };
    // The link comes up on the first activation and again when a dialog of the program hands the
    // focus back, never under a firmware transfer.
    ActivationGate activation(
        mainWindow, [&updateWindow] { return updateWindow.transferring(); }, bringUpLink);
    mainWindow.onClose = [&] {
        usb.stopWorker();
        if (demoWindow) {
            demoWindow->close();
        }
    };
    mainWindow.connectUnit = [&] { usb.connectUnit(); };

    const std::vector<uint8_t> image = embeddedHidImage().value_or(std::vector<uint8_t>{});
    DiagnosticsWindow diagnostics(
        [&] {
            DiagnosticsFacts facts = gatherFacts(usb, link, image);
            facts.program.demo = options.demo;
            facts.program.qtVersion = qVersion();
            return formatReport(facts);
        },
        dialogs, &mainWindow);
    diagnostics.attachRecorder(recorder, [&updateWindow] {
        return RecordingHeader{programFacts().version,
                               (updateWindow.deviceName() + QStringLiteral(", serial ") +
                                updateWindow.deviceSerial() + QStringLiteral(", version ") +
                                updateWindow.deviceVersion())
                                   .toStdString()};
    });
    mainWindow.onDiagnostics = [&diagnostics] {
        diagnostics.show();
        diagnostics.raise();
        diagnostics.activateWindow();
    };

    // One reconnection per plug or unplug, shortly after its burst of device events (and after
    // udev has finished with them); one held back during an update transfer is made once the
    // transfer has ended.
    DeviceChangeSettler deviceChanges([&usb] { return usb.followDeviceChange(); }, {},
                                      &udevEventsQueued);
    usb.setDeviceChangeHandler([&deviceChanges, &demoWindow] {
        deviceChanges.changed();
        // The virtual unit also restarts by itself (leaving its boot loader, after an update).
        if (demoWindow) {
            demoWindow->showState();
        }
    });

    // exit() also ends the loop of a modal dialog that may be open, and any loop started after it.
    QuitWhenIdle quit(
        [&updateWindow, &link] { return updateWindow.transferring() || link.transferRunning; },
        [&mainWindow] {
            mainWindow.close();
            QCoreApplication::exit(0);
        });
    endTheSession = [&quit] { quit.request(); };
    if (endOfSessionBeforeStart) {
        QTimer::singleShot(0, &quit, &QuitWhenIdle::request);
    }

    // Taken now, or as soon as the qx77zt that holds it has ended; until then the status line
    // says who has the unit.
    QTimer unitLockRetry;
    const auto takeUnit = [&] {
        auto lock = std::make_unique<cli::UnitLock>(place.path);
        QString text;
        switch (lock->take(cli::kWindowHolder, std::chrono::milliseconds(0))) {
        case cli::UnitLock::Result::Taken:
            unitLock = std::move(lock);
            unitLockRetry.stop();
            mainWindow.showUnitHint({});
            if (linkWanted) {
                bringUpLink();
            }
            return;
        case cli::UnitLock::Result::Busy:
            text = unitHeldText(*lock);
            break;
        case cli::UnitLock::Result::Failed:
            text = QStringLiteral("The unit's lock cannot be taken (%1): the window leaves the "
                                  "unit alone.")
                       .arg(QString::fromStdString(lock->error()));
            break;
        }
        if (text != mainWindow.unitHint()) {
            qWarning("QX-77ZT: %s", qPrintable(text));
            mainWindow.showUnitHint(text);
        }
        unitLockRetry.start();
    };
    if (!options.demo) {
        unitLockRetry.setInterval(500);
        unitLockRetry.setSingleShot(true);
        QObject::connect(&unitLockRetry, &QTimer::timeout, takeUnit);
        takeUnit();
    }

    mainWindow.show();
    // Ask for activation too: the link comes up when the window is first activated, and without
    // a window manager (or with focus-stealing prevention) a new window may otherwise wait for
    // the operator's first click.
    mainWindow.activateWindow();
    const int result = app.exec();
    // The handlers go back before the teardown, so a second signal during a slow one ends the
    // process the usual way.
    endOfSession.reset();
    demoWindow.reset();
    return result;
}

} // namespace qx

#include "ProgramMain.moc"
