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
#include "background/ActivationToken.h"
#include "background/Desktop.h"
#include "cli/RoomUnits.h"
#include "cli/UnitLock.h"
#include "cli/UserRuntime.h"
#include "cli/WindowCliService.h"
#include "diag/DiagnosticsReport.h"
#include "diag/DiagnosticsWindow.h"
#include "eventlog/EventLogWindow.h"
#include "levels/LevelMeters.h"
#include "link/EmbeddedImage.h"
#include "link/USB.h"
#include "monitor/MonitorClient.h"
#include "monitor/MonitorProtocol.h"
#include "panel/DesignFont.h"
#include "panel/MainConnectionView.h"
#include "panel/UnitAccessHint.h"
#include "panel/umain.h"
#include "room/UnitRoom.h"
#include "state/UnitLabels.h"
#include "units/UnitChooser.h"
#include "units/UnitLabelDialog.h"
#include "units/UnitsWindow.h"
#include "update/Dialogs.h"
#include "update/uu.h"
#include "watch/AlarmConfig.h"
#include "watch/AlarmsDialog.h"
#include "watch/WatchKeeper.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <QToolBar>

#include <chrono>
#include <deque>
#include <filesystem>
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
    if (holder == QLatin1String(cli::kMonitorHolder)) {
        return QStringLiteral("The monitor (qx77zt monitor) does not answer and holds the unit: "
                              "the window takes the unit when it lets go.");
    }
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
    // A running monitor hands the units over first. Its connection stays open for this
    // program's life and closes after the unit lock has gone: the monitor then takes them back.
    monitor::MonitorClient monitorClient(SingleInstance::endpointName(
        QString::fromLatin1(options.demo ? monitor::kDemoMonitorInstanceKey
                                         : monitor::kMonitorInstanceKey),
        QString::fromStdString(place.path)));
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

    // What the window shows until the first unit is found: a link that never connects.
    LinkState noUnit;
    // The link's tap for the whole run (it writes only while a recording runs); declared before
    // the links' threads so that it outlives them. It listens to the unit the window shows.
    TrafficRecorder recorder;
    QtDialogs dialogs;
    Tfu updateWindow(noUnit, dialogs);
    Tfmain mainWindow(noUnit, updateWindow, dialogs);
    MainConnectionView view(mainWindow, updateWindow);
    WindowErrorSink errors(mainWindow, dialogs);
    ProgramState kept(options.demo, noUnit, mainWindow, updateWindow, dialogs);
    std::unique_ptr<DemoControlWindow> demoWindow;
    if (options.demo) {
        // The demo's update: the sample package, written to a unit put in its boot loader from
        // the control window.
        updateWindow.setPackageStart(findDemoPackage(demoPackageFolders()));
        updateWindow.setBootLoaderHow(
            QStringLiteral("press \"Restart in boot mode\" in the \"Virtual QX-77ZT\" window, "
                           "and \"Select file\" comes on."));
    }

    // Each unit's update and reset answers reach the update window while it shows that unit,
    // and any qx77zt request for it. Boxes are never removed, so their addresses hold.
    std::deque<cli::AnswerBox> commandAnswers;
    // The operator's names for the units, and the settings each gets on connection.
    state::UnitLabels labels(kept.folder().empty() ? std::filesystem::path()
                                                   : kept.folder() / state::kLabelsFileName);
    if (const std::string trouble = labels.load(); !trouble.empty()) {
        qWarning("QX-77ZT: %s", trouble.c_str());
    }
    // The demo's units live in the first copy of its library; every later copy joins them.
    unit::VirtualBench* bench = nullptr;
    std::function<void()> deviceEvent;
    // Declared after the windows so that it goes first at exit: every worker and library reader
    // stops before the windows they report to are destroyed.
    room::UnitRoom room({
        &embeddedHidImage,
        [&bench, &options](LoadedLibrary& library) {
            if (!options.demo) {
                return;
            }
            if (bench == nullptr) {
                if (auto control =
                        reinterpret_cast<decltype(&VUcontrol)>(library.symbol("VUcontrol"))) {
                    bench = control();
                    for (int i = bench->unitCount(); i < options.demoUnits; ++i) {
                        unit::Identity id;
                        id.serial = demoSerial(i).toStdString();
                        bench->setPlugged(bench->addUnit(id), true);
                    }
                }
            } else if (auto join = reinterpret_cast<decltype(&VUjoin)>(library.symbol("VUjoin"))) {
                join(bench);
            }
        },
        &errors,
        [&mainWindow] { mainWindow.requestRefresh(); },
        [&deviceEvent] {
            if (deviceEvent) {
                deviceEvent();
            }
        },
        &labels,
    });
    // The shown unit's name in the windows' captions: its label, or with several units its
    // serial where it has none; nothing with one unit and no label, as always.
    const auto shownName = [&]() -> QString {
        const int shown = room.shown();
        if (shown < 0) {
            return {};
        }
        const room::RoomUnit& u = room.unit(shown);
        if (!u.label().empty() || room.several()) {
            return QString::fromStdString(u.name());
        }
        return {};
    };
    kept.restore().setUnitName([&shownName] { return shownName().toStdString(); });
    const auto showNames = [&] {
        mainWindow.setUnitName(shownName());
        updateWindow.setUnitName(shownName());
        mainWindow.levelMeters()->setUnitName(shownName());
    };
    // Binds the windows to the unit the room shows.
    int boundUnit = -1;
    QObject::connect(&room, &room::UnitRoom::shownChanged, &mainWindow, [&](int index) {
        if (boundUnit >= 0) {
            room::RoomUnit& old = room.unit(boundUnit);
            old.attachView(nullptr);
            old.answers().window = nullptr;
            old.link().tap = nullptr;
        }
        boundUnit = index;
        room::RoomUnit& u = room.unit(index);
        updateWindow.showLink(u.link());
        kept.restore().setLink(u.link());
        u.link().tap = &recorder;
        u.answers().window = &updateWindow;
        mainWindow.levelMeters()->attachMemory(&u.levels());
        mainWindow.showLink(u.link());
        u.attachView(&view);
        showNames();
    });
    // Whether the windows may move to another unit now: not while the update window or a
    // settings offer is busy with the one shown.
    const auto mayChooseUnit = [&] {
        return !updateWindow.isVisible() && !updateWindow.busy() && !kept.restore().busy();
    };
    QObject::connect(&room, &room::UnitRoom::unitAdded, &mainWindow, [&](int index) {
        room::RoomUnit& u = room.unit(index);
        commandAnswers.emplace_back();
        u.answers().command = &commandAnswers.back();
    });
    // Which units were connected when last heard of: a unit that comes while the one shown is
    // gone takes its place, as when a unit is swapped.
    std::vector<bool> wasConnected;
    QObject::connect(&room, &room::UnitRoom::unitChanged, &mainWindow, [&](int index) {
        wasConnected.resize(static_cast<std::size_t>(room.count()), false);
        const bool connected = room.unit(index).link().connected;
        const bool came = connected && !wasConnected[static_cast<std::size_t>(index)];
        wasConnected[static_cast<std::size_t>(index)] = connected;
        const int shown = room.shown();
        // Also under an idle update window: a unit whose boot loader reports another serial
        // comes as a unit of its own, and the window waits for it.
        if (came && shown >= 0 && shown != index && !room.unit(shown).link().connected &&
            !updateWindow.busy() && !kept.restore().busy()) {
            room.setShown(index);
        }
        showNames();
    });
    QObject::connect(&room, &room::UnitRoom::unitRefused, &mainWindow,
                     [](const QString& text) { qWarning("QX-77ZT: %s", qPrintable(text)); });

    // With more than one unit: the chooser strip above the panel and "Units" in the File menu.
    auto* unitBar = new QToolBar(QStringLiteral("Units"), &mainWindow);
    unitBar->setObjectName(QStringLiteral("unitBar"));
    unitBar->setMovable(false);
    unitBar->setFloatable(false);
    unitBar->toggleViewAction()->setVisible(false);
    unitBar->setContextMenuPolicy(Qt::PreventContextMenu);
    auto* chooser = new units::UnitChooser(room, mayChooseUnit, unitBar);
    unitBar->addWidget(chooser);
    mainWindow.addToolBar(Qt::TopToolBarArea, unitBar);
    unitBar->setVisible(false);
    units::UnitsWindow unitsWindow(room);
    auto* unitsAction = new QAction(QStringLiteral("&Units"), &mainWindow);
    unitsAction->setObjectName(QStringLiteral("UNITS"));
    unitsAction->setVisible(false);
    mainWindow.N4->insertAction(mainWindow.FCLOSE, unitsAction);
    QObject::connect(unitsAction, &QAction::triggered, &unitsWindow, [&unitsWindow] {
        unitsWindow.show();
        unitsWindow.raise();
        unitsWindow.activateWindow();
    });
    const auto editLabel = [&](int index) {
        if (index < 0 || index >= room.count()) {
            return;
        }
        units::UnitLabelDialog dialog(room, index, &mainWindow);
        dialog.exec();
    };
    auto* labelAction = new QAction(QStringLiteral("Unit &label..."), &mainWindow);
    labelAction->setObjectName(QStringLiteral("LABEL"));
    labelAction->setVisible(false);
    mainWindow.N4->insertAction(mainWindow.FCLOSE, labelAction);
    QObject::connect(labelAction, &QAction::triggered, &mainWindow,
                     [&editLabel, &room] { editLabel(room.shown()); });
    QObject::connect(chooser, &units::UnitChooser::labelRequested, &mainWindow, editLabel);
    QObject::connect(chooser, &units::UnitChooser::wanted, unitBar,
                     [unitBar, unitsAction, labelAction](bool on) {
                         if (unitBar->isVisible() != on) {
                             unitBar->setVisible(on);
                         }
                         unitsAction->setVisible(on);
                         labelAction->setVisible(on);
                     });
    // A profile that cannot be written is told, naming the unit; one written shows as any
    // change does, waiting in the status line for the unit's confirmation.
    QObject::connect(
        &room, &room::UnitRoom::profileApplied, &mainWindow,
        [&](int index, const QString& error) {
            if (error.isEmpty()) {
                return;
            }
            const QString text = QStringLiteral("The settings file of unit %1 was not written to "
                                                "it:\n%2")
                                     .arg(QString::fromStdString(room.unit(index).name()), error);
            qWarning("QX-77ZT: %s", qPrintable(text));
            dialogs.message(&mainWindow, Dialogs::Icon::Warning, QStringLiteral("QX-77ZT"), text,
                            QMessageBox::Ok);
        },
        // Told once the device change that connected the unit has been followed.
        Qt::QueuedConnection);

    // Keeping watch while this program drives the units: the alarms (alarms.conf, "Alarms…"),
    // the event log ("Event log"), the notices and the operator's command. Declared after the
    // room, which it watches; the watch itself starts with the links (below), so that alarms a
    // monitor raised are taken over only once the monitor has let go of the units.
    watch::WatchKeeper keeper(
        {kept.folder(),
         watch::alarmConfigPathFromEnvironment(options.demo ? "qx77zt-demo" : "qx77zt"), "window"});
    QObject::connect(
        &keeper, &watch::WatchKeeper::problem, &mainWindow,
        [&](const QString& text) {
            dialogs.message(&mainWindow, Dialogs::Icon::Warning, QStringLiteral("QX-77ZT"), text,
                            QMessageBox::Ok);
        },
        // Not from inside the watch's own work.
        Qt::QueuedConnection);
    auto* alarmsAction = new QAction(QStringLiteral("&Alarms…"), &mainWindow);
    alarmsAction->setObjectName(QStringLiteral("ALARMS"));
    mainWindow.N4->insertAction(mainWindow.FCLOSE, alarmsAction);
    QObject::connect(alarmsAction, &QAction::triggered, &mainWindow, [&] {
        watch::AlarmsDialog dialog(keeper.configFile(), &mainWindow);
        QObject::connect(&dialog, &watch::AlarmsDialog::saved, &keeper,
                         [&keeper] { keeper.reloadConfig(); });
        dialog.exec();
    });
    std::unique_ptr<eventlog::EventLogWindow> eventLogWindow;
    auto* eventLogAction = new QAction(QStringLiteral("&Event log"), &mainWindow);
    eventLogAction->setObjectName(QStringLiteral("EVENTLOG"));
    eventLogAction->setEnabled(!keeper.logFolder().empty());
    mainWindow.N4->insertAction(mainWindow.FCLOSE, eventLogAction);
    QObject::connect(eventLogAction, &QAction::triggered, &mainWindow, [&] {
        if (!eventLogWindow) {
            eventLogWindow = std::make_unique<eventlog::EventLogWindow>(keeper.logFolder());
        }
        eventLogWindow->show();
        eventLogWindow->raise();
        eventLogWindow->activateWindow();
    });

    // qx77zt's requests run on the link of the unit they name. Declared after the room, so that
    // requests still running end before the links do.
    cli::WindowCliService commands([&] { return cli::roomUnits(room, commandAnswers); });
    commands.journal = &kept.journal();
    instance.takeConnection = [&commands](QLocalSocket* peer, const QByteArray& received) {
        return commands.take(peer, received);
    };
    instance.connections().refusal = cli::WindowCliService::tooManyConnections();

    QObject::connect(&instance, &SingleInstance::activationRequested, &mainWindow,
                     [&mainWindow](const QString& token, const QString& startupId) {
                         background::useActivationToken(token, startupId);
                         bringForward(mainWindow);
                     });

    // An activation that asked for the link while the unit lock was elsewhere.
    bool linkWanted = false;
    const std::function<void()> bringUpLink = [&] {
        if ((!options.demo && !unitLock) || monitorClient.waiting()) {
            linkWanted = true;
            return;
        }
        if (!room.start()) {
            dialogs.message(&updateWindow, Dialogs::Icon::Error, QStringLiteral("Update firmware"),
                            QStringLiteral("Failed to initialize USB!"),
                            QMessageBox::Ok | QMessageBox::Cancel);
            mainWindow.close();
            return;
        }
        if (keeper.watch() == nullptr) {
            keeper.watchRoom(&room);
        }
        if (options.demo && !demoWindow && bench != nullptr) {
            demoWindow = std::make_unique<DemoControlWindow>(*bench);
            demoWindow->move(mainWindow.frameGeometry().topRight() + QPoint(16, 0));
            demoWindow->show();
        }
    };
    // The link comes up on the first activation and again when a dialog of the program hands the
    // focus back, never under a firmware transfer.
    ActivationGate activation(
        mainWindow, [&updateWindow] { return updateWindow.transferring(); }, bringUpLink);
    mainWindow.onClose = [&] {
        room.stopAll();
        unitsWindow.close();
        if (demoWindow) {
            demoWindow->close();
        }
    };
    mainWindow.connectUnit = [&] { room.reconnect(room.shown()); };

    const std::vector<uint8_t> image = embeddedHidImage().value_or(std::vector<uint8_t>{});
    DiagnosticsWindow diagnostics(
        [&] {
            DiagnosticsFacts facts =
                gatherFacts(room.scannerLibrary(), room.lastError(), mainWindow.shownLink(), image);
            if (room.count() > 1) {
                for (int i = 0; i < room.count(); ++i) {
                    const room::RoomUnit& u = room.unit(i);
                    facts.units.push_back({u.key().serial, u.label(), room::stateWord(u.state()),
                                           linkFacts(u.link())});
                }
            }
            facts.program.demo = options.demo;
            facts.program.qtVersion = qVersion();
            return formatReport(facts);
        },
        dialogs, &mainWindow);
    diagnostics.attachRecorder(recorder, [&updateWindow, &shownName] {
        QString unit = updateWindow.deviceName() + QStringLiteral(", serial ") +
                       updateWindow.deviceSerial() + QStringLiteral(", version ") +
                       updateWindow.deviceVersion();
        if (const QString name = shownName(); !name.isEmpty()) {
            unit += QStringLiteral(", ") + name;
        }
        return RecordingHeader{programFacts().version, unit.toStdString()};
    });
    mainWindow.onDiagnostics = [&diagnostics] {
        diagnostics.show();
        diagnostics.raise();
        diagnostics.activateWindow();
    };

    // One reconnection per plug or unplug, shortly after its burst of device events (and after
    // udev has finished with them); a unit under a transfer follows once its transfer has ended.
    DeviceChangeSettler deviceChanges(
        [&room] {
            room.followDeviceChange();
            return true;
        },
        {}, &udevEventsQueued);
    deviceEvent = [&deviceChanges, &demoWindow] {
        deviceChanges.changed();
        // The virtual unit also restarts by itself (leaving its boot loader, after an update).
        if (demoWindow) {
            demoWindow->showState();
        }
    };

    // exit() also ends the loop of a modal dialog that may be open, and any loop started after it.
    QuitWhenIdle quit(
        [&updateWindow, &room] {
            if (updateWindow.transferring()) {
                return true;
            }
            for (int i = 0; i < room.count(); ++i) {
                if (room.unit(i).link().transferRunning) {
                    return true;
                }
            }
            return false;
        },
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
    }
    // The unit lock is tried once the monitor has let go of the units, or when none runs or it
    // does not answer in time (the lock then says who has the units), without holding up the
    // window meanwhile.
    QObject::connect(&monitorClient, &monitor::MonitorClient::handingOver, &mainWindow, [&] {
        mainWindow.showUnitHint(QStringLiteral("The monitor is handing the units over…"));
    });
    QObject::connect(&monitorClient, &monitor::MonitorClient::finished, &mainWindow, [&] {
        mainWindow.showUnitHint({});
        if (!options.demo) {
            takeUnit();
        } else if (linkWanted) {
            bringUpLink();
        }
    });
    monitorClient.ask();

    // In the background: the tray icon, "Keep watching when the window is closed" and "Start at
    // login" in the File menu. Quitting from the tray or by a stop signal goes the way of the
    // window's quit, and lets the main window's close through.
    background::Desktop desktop({.window = &mainWindow,
                                 .menu = mainWindow.N4,
                                 .before = mainWindow.FCLOSE,
                                 .room = &room,
                                 .demo = options.demo,
                                 .show = [&mainWindow] { bringForward(mainWindow); },
                                 .quit = [&quit] { quit.request(); }});
    endTheSession = [&desktop] { desktop.requestQuit(); };
    desktop.setActiveAlarms([&keeper] {
        std::vector<QString> lines;
        if (const watch::UnitWatch* w = keeper.watch()) {
            for (const watch::ActiveAlarm& a : w->activeAlarms()) {
                lines.push_back(QString::fromUtf8(watch::alarmWord(a.kind)) + QStringLiteral(": ") +
                                QString::fromStdString(a.name));
            }
        }
        return lines;
    });
    QObject::connect(&keeper, &watch::WatchKeeper::alarmsChanged, &desktop,
                     &background::Desktop::alarmsChanged);
    if (endOfSessionBeforeStart) {
        desktop.letCloseThrough();
    }
    // Hidden (with a tray to bring it back): the link comes up now, not at the window's first
    // activation.
    if (options.hidden && desktop.mayStartHidden()) {
        QTimer::singleShot(0, &mainWindow, bringUpLink);
    } else {
        mainWindow.show();
        // Ask for activation too: the link comes up when the window is first activated, and
        // without a window manager (or with focus-stealing prevention) a new window may
        // otherwise wait for the operator's first click.
        mainWindow.activateWindow();
    }
    const int result = app.exec();
    // The handlers go back before the teardown, so a second signal during a slow one ends the
    // process the usual way.
    endOfSession.reset();
    demoWindow.reset();
    unitsWindow.close();
    eventLogWindow.reset();
    return result;
}

} // namespace qx

#include "ProgramMain.moc"
