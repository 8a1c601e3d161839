// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/MonitorMain.h"

#include "app/QuitOnSignal.h"
#include "cli/UserRuntime.h"
#include "link/EmbeddedImage.h"
#include "monitor/Monitor.h"
#include "monitor/MonitorProtocol.h"
#include "room/UnitRoom.h"
#include "state/StateFiles.h"
#include "unit/VirtualBench.h"

#include <QCoreApplication>
#include <QTimer>

#include <charconv>
#include <cstdio>

namespace qx::monitor {

namespace {

// The demo's units: the first copy of the virtual library holds them, every later copy joins
// them. Serial numbers as the demo window program gives its units.
std::function<void(LoadedLibrary&)> demoUnits(int count) {
    return
        [bench = static_cast<unit::VirtualBench*>(nullptr), count](LoadedLibrary& library) mutable {
            if (bench == nullptr) {
                if (auto control =
                        reinterpret_cast<decltype(&VUcontrol)>(library.symbol("VUcontrol"))) {
                    bench = control();
                    for (int i = bench->unitCount(); i < count; ++i) {
                        unit::Identity id;
                        id.serial = "QX" + std::to_string(7700000042LL + i);
                        bench->setPlugged(bench->addUnit(id), true);
                    }
                }
            } else if (auto join = reinterpret_cast<decltype(&VUjoin)>(library.symbol("VUjoin"))) {
                join(bench);
            }
        };
}

} // namespace

ParsedMonitorArgs parseMonitorArgs(const std::vector<std::string>& args) {
    ParsedMonitorArgs parsed;
    bool commandSeen = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h" || a == "--version" || a == "help" || a == "--") {
            return {};
        }
        // The value of another command's option is no command (a unit labelled "monitor").
        if (!commandSeen && (a == "--serial" || a == "--profile")) {
            ++i;
            continue;
        }
        if (!commandSeen && !a.starts_with("-")) {
            if (a != "monitor") {
                return {};
            }
            commandSeen = true;
        }
    }
    if (!commandSeen) {
        return {};
    }
    parsed.monitor = true;
    MonitorArgs m;
    bool unitsGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "monitor") {
            continue;
        }
        if (a == "--demo") {
            m.demo = true;
        } else if (a == "--units" || a.starts_with("--units=")) {
            std::string value;
            if (a == "--units") {
                if (i + 1 == args.size()) {
                    parsed.error = "--units needs a number of units";
                    return parsed;
                }
                value = args[++i];
            } else {
                value = a.substr(8);
            }
            int n = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (ec != std::errc() || end != value.data() + value.size() || n < 1 ||
                n > room::kMaxUnits) {
                parsed.error = "--units takes 1 to " + std::to_string(room::kMaxUnits);
                return parsed;
            }
            m.units = n;
            unitsGiven = true;
        } else if (a.starts_with("-")) {
            parsed.error = "unknown option \"" + a + "\" (see qx77zt monitor --help)";
            return parsed;
        } else {
            parsed.error = "the monitor takes no arguments (see qx77zt monitor --help)";
            return parsed;
        }
    }
    if (unitsGiven && !m.demo) {
        parsed.error = "--units belongs to the demo's monitor (--demo)";
        return parsed;
    }
    parsed.args = m;
    return parsed;
}

int runMonitor(int argc, char** argv, const MonitorOptions& options) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx77zt"));
    // Caught before anything slow: a signal that early waits until the event loop runs.
    QuitOnSignal endOfSession;

    if (options.args.demo != options.virtualLibrary) {
        std::fputs(options.virtualLibrary
                       ? "qx77zt: this build carries only virtual units: run it as "
                         "\"monitor --demo\"\n"
                       : "qx77zt: this build carries no virtual units: the demo's monitor is "
                         "qx77zt_demo, built with the tests\n",
                   stderr);
        return 2;
    }
    const cli::RuntimeFolder place = cli::userRuntimeFolder();
    if (place.path.empty()) {
        std::fprintf(stderr, "qx77zt: %s\n", place.error.c_str());
        return 1;
    }
    MonitorSetup setup;
    setup.runtimeFolder = place.path;
    setup.key =
        QString::fromLatin1(options.args.demo ? kDemoMonitorInstanceKey : kMonitorInstanceKey);
    setup.unitLock = !options.args.demo;
    setup.image = &embeddedHidImage;
    if (options.args.demo) {
        setup.roomLoader = [units = options.args.units] { return demoUnits(units); };
    }
    setup.stateFolder = state::stateFolderFromEnvironment(
        options.args.demo ? "qx77zt-demo" : state::kProgramFolder);
    // Made only once the monitor is known to be the user's one, but before it starts.
    MonitorHooks hooks;
    setup.hooks.started = [&hooks](room::UnitRoom& room) {
        if (hooks.started) {
            hooks.started(room);
        }
    };
    setup.hooks.beforeRelease = [&hooks] {
        if (hooks.beforeRelease) {
            hooks.beforeRelease();
        }
    };
    setup.hooks.afterTake = [&hooks] {
        if (hooks.afterTake) {
            hooks.afterTake();
        }
    };
    setup.hooks.stopping = [&hooks] {
        if (hooks.stopping) {
            hooks.stopping();
        }
    };
    setup.hooks.log = [&hooks](const std::string& text) {
        if (hooks.log) {
            hooks.log(text);
        } else {
            std::fprintf(stderr, "qx77zt monitor: %s\n", text.c_str());
            std::fflush(stderr);
        }
    };

    Monitor monitor(setup);
    if (!monitor.claim()) {
        std::fprintf(stderr, "qx77zt: %s\n", monitor.error().toLocal8Bit().constData());
        return 1;
    }
    if (options.makeHooks) {
        hooks = options.makeHooks(setup.stateFolder);
    }
    QObject::connect(&endOfSession, &QuitOnSignal::received, &monitor, &Monitor::stop);
    QObject::connect(&monitor, &Monitor::stopped, &app,
                     [&monitor] { QCoreApplication::exit(monitor.exitStatus()); });
    QTimer::singleShot(0, &monitor, &Monitor::start);
    return QCoreApplication::exec();
}

} // namespace qx::monitor
