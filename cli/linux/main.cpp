// SPDX-License-Identifier: GPL-3.0-or-later
// qx77zt: the command line of the QX-77ZT control program.
#include "app/ProgramMain.h"
#include "app/SingleInstance.h"
#include "cli/CliMain.h"
#include "cli/UserRuntime.h"
#include "cli/WindowHandOff.h"
#include "link/EmbeddedImage.h"
#ifdef QX_MONITOR
#include "monitor/MonitorMain.h"
#include "monitor/MonitorProtocol.h"
#include "monitor/MonitorWatch.h"
#endif
#include "state/StateFiles.h"
#include "state/UnitLabels.h"
#include "state/UpdateJournal.h"

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace {

class StandardOutput : public qx::cli::CliOutput {
public:
    void write(bool error, std::string_view text) override {
        std::FILE* stream = error ? stderr : stdout;
        std::fwrite(text.data(), 1, text.size(), stream);
        std::fflush(stream);
    }
    bool terminal() const override { return ::isatty(STDOUT_FILENO) == 1; }
};

// ^C, a hang-up or SIGTERM ends a --watch cleanly; a transfer under way is finished first. The
// signals are taken by a thread of their own, so no handler runs in the middle of the link's
// work; a second one ends the process at once.
class StopOnSignal {
public:
    StopOnSignal() {
        sigemptyset(&set_);
        for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&set_, s);
        }
        // Before any other thread starts, so that all of them leave these signals to this one.
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
        thread_ = std::thread([this] { run(); });
    }
    ~StopOnSignal() {
        done_ = true;
        thread_.join();
    }
    std::stop_token token() const { return source_.get_token(); }

private:
    void run() {
        const timespec tick{0, 100'000'000};
        while (!done_) {
            const int s = sigtimedwait(&set_, nullptr, &tick);
            if (s <= 0) {
                continue;
            }
            if (source_.stop_requested()) {
                std::_Exit(128 + s);
            }
            source_.request_stop();
        }
    }

    sigset_t set_;
    std::stop_source source_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
#ifdef QX_MONITOR
    // The monitor takes the stop signals through its event loop, as the window program does.
    if (const qx::monitor::ParsedMonitorArgs monitor = qx::monitor::parseMonitorArgs(args);
        monitor.monitor) {
        if (!monitor.args) {
            std::fprintf(stderr, "qx77zt: %s\n", monitor.error.c_str());
            return qx::cli::kExitUsage;
        }
        qx::monitor::MonitorOptions options;
        options.args = *monitor.args;
#ifdef QX_VIRTUAL_LIBRARY
        options.virtualLibrary = true;
#endif
        options.makeHooks = qx::monitor::watchHooks(options.args.demo);
        return qx::monitor::runMonitor(argc, argv, options);
    }
#endif
    StopOnSignal stop;
    // The HID library watches device changes from the loading thread's event dispatcher, and the
    // library image is a resource: both want the application object.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx77zt"));

    qx::cli::CliEnvironment env;
    env.image = &qx::embeddedHidImage;
    if (const auto folder = qx::state::stateFolderFromEnvironment(); !folder.empty()) {
        env.journalFile = folder / qx::state::kJournalFileName;
        env.labelsFile = folder / qx::state::kLabelsFileName;
        env.eventsFolder = folder / "events";
    }
    if (const auto demo = qx::state::stateFolderFromEnvironment("qx77zt-demo"); !demo.empty()) {
        env.demoEventsFolder = demo / "events";
    }
    // The window program listens where a second copy of it would knock, in the folder that also
    // holds the unit lock. Without a usable folder no window program runs, and driving the unit
    // says why there is none.
    const qx::cli::RuntimeFolder place = qx::cli::userRuntimeFolder();
    env.lockDir = place.path;
    // A program of the given instance key (the window program, or the demo for --demo) is asked
    // through its socket in that folder.
    const auto handToProgram = [&place](const char* key,
                                        const char* program = "the window program") {
        return
            [&place, key, program](const qx::cli::CliRequest& request, qx::cli::CliOutput& output,
                                   std::stop_token token) -> std::optional<int> {
                if (place.path.empty()) {
                    return std::nullopt;
                }
                return qx::cli::handToWindow(
                    qx::SingleInstance::endpointName(QString::fromLatin1(key),
                                                     QString::fromStdString(place.path)),
                    request, output, token, program);
            };
    };
#ifdef QX_MONITOR
    // The window program when it runs, else the monitor (which lets go of the units while the
    // window program runs, and stops listening meanwhile).
    const auto windowOrMonitor = [&handToProgram](const char* window, const char* monitor) {
        return [window = handToProgram(window), monitor = handToProgram(monitor, "the monitor")](
                   const qx::cli::CliRequest& request, qx::cli::CliOutput& output,
                   std::stop_token token) -> std::optional<int> {
            if (const std::optional<int> status = window(request, output, token)) {
                return status;
            }
            return monitor(request, output, token);
        };
    };
    env.handOff = windowOrMonitor(qx::kProgramInstanceKey, qx::monitor::kMonitorInstanceKey);
    env.demoHandOff = windowOrMonitor(qx::kDemoInstanceKey, qx::monitor::kDemoMonitorInstanceKey);
#else
    env.handOff = handToProgram(qx::kProgramInstanceKey);
    env.demoHandOff = handToProgram(qx::kDemoInstanceKey);
#endif
    StandardOutput out;
    return qx::cli::runCli(args, env, out, stop.token());
}
