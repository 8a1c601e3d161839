// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor as its own process, as a terminal or systemd starts it: qx77zt's requests reach it,
// the window program takes the units over from it and gives them back, stop signals end it, and
// no Qt GUI library is ever loaded into it. Each test gives its programs private runtime, state
// and home folders.
#include "app/ProgramMain.h"
#include "app/SingleInstance.h"
#include "cli/UnitLock.h"
#include "eventlog/EventReader.h"
#include "monitor/MonitorProtocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include <signal.h>

namespace qx::monitor {
namespace {

using namespace std::chrono_literals;

// Generous: the machine may be a shared one running sanitizer builds.
constexpr int kPatienceMs = 30000;
constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The shared objects mapped into a process, one path per mapping line.
QString mappedFiles(qint64 pid) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) ? QString::fromLatin1(maps.readAll()) : QString();
}

class MonitorProcess : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session_.isValid()); }

    void TearDown() override {
        for (const auto& p : processes_) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(kPatienceMs);
            }
        }
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (const char* name : {"QX77ZT_RUNTIME_DIR", "XDG_RUNTIME_DIR", "TMPDIR", "HOME"}) {
            env.insert(QLatin1String(name), session_.path());
        }
        for (const char* name :
             {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"}) {
            env.remove(QLatin1String(name));
        }
        // Qt is not built for ThreadSanitizer: heap calls made by Qt's own code are left out, and
        // so are the D-Bus library the desktop notices go through (from Qt's D-Bus thread) and
        // GLib's event loop under it (its wake-up descriptor made on one thread and written on
        // another).
        const QString suppressions = session_.filePath(QStringLiteral("tsan.supp"));
        QFile file(suppressions);
        if (!file.exists() && file.open(QIODevice::WriteOnly)) {
            file.write("called_from_lib:libQt6Core.so.6\ncalled_from_lib:libQt6Gui.so.6\n"
                       "called_from_lib:libQt6DBus.so.6\ncalled_from_lib:libdbus-1.so.3\n"
                       "race:libdbus-1.so.3\ncalled_from_lib:libglib-2.0.so.0\n");
        }
        env.insert(QStringLiteral("TSAN_OPTIONS"), env.value(QStringLiteral("TSAN_OPTIONS")) +
                                                       QStringLiteral(" suppressions=") +
                                                       suppressions);
        return env;
    }

    // Starts a program with the stop signals handled the default way and unblocked, as from a
    // terminal or systemd, whatever the test runner was started with.
    QProcess& start(const QString& program, const QStringList& args) {
        auto p = std::make_unique<QProcess>();
        p->setProgram(program);
        p->setArguments(args);
        p->setProcessEnvironment(environment());
        p->setWorkingDirectory(session_.path());
        p->setStandardOutputFile(outputPath(processes_.size()));
        p->setStandardErrorFile(stderrPath(processes_.size()));
        p->setChildProcessModifier([] {
            sigset_t stops;
            sigemptyset(&stops);
            for (const int s : kStopSignals) {
                ::signal(s, SIG_DFL);
                sigaddset(&stops, s);
            }
            ::sigprocmask(SIG_UNBLOCK, &stops, nullptr);
        });
        p->start();
        processes_.push_back(std::move(p));
        return *processes_.back();
    }
    QProcess& startMonitor(const QStringList& args = {QStringLiteral("--demo")},
                           const QString& program = QStringLiteral(QX_DEMO_CLI_PROGRAM)) {
        return start(program, QStringList{QStringLiteral("monitor")} + args);
    }

    struct CommandRun {
        int status = -1;
        QString out;
        QString err;
    };
    CommandRun runCommand(const QStringList& args,
                          const QString& program = QStringLiteral(QX_CLI_PROGRAM)) const {
        QProcess command;
        command.setProgram(program);
        command.setArguments(args);
        command.setProcessEnvironment(environment());
        command.setWorkingDirectory(session_.path());
        command.start();
        CommandRun r;
        if (command.waitForFinished(kPatienceMs) && command.exitStatus() == QProcess::NormalExit) {
            r.status = command.exitCode();
        }
        r.out = QString::fromLocal8Bit(command.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(command.readAllStandardError());
        return r;
    }

    QString outputPath(std::size_t index) const {
        return session_.filePath(QStringLiteral("stdout-%1.txt").arg(index));
    }
    QString stderrPath(std::size_t index) const {
        return session_.filePath(QStringLiteral("stderr-%1.txt").arg(index));
    }
    QString errorsOf(std::size_t index) const {
        QFile file(stderrPath(index));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }
    // Waits until process `index` has written `text` on its standard error `times` times.
    bool waitForError(std::size_t index, const QString& text, int times = 1) const {
        return QTest::qWaitFor([&] { return errorsOf(index).count(text) >= times; }, kPatienceMs);
    }
    QString endpoint(const char* key) const {
        return SingleInstance::endpointName(QString::fromLatin1(key), session_.path());
    }
    // Who holds the unit lock ("" when free), as a second program finds it.
    std::string lockHolder() const {
        cli::UnitLock probe(session_.path().toStdString());
        return probe.take("probe", 0ms) == cli::UnitLock::Result::Busy ? probe.holder() : "";
    }
    bool waitForLockHolder(std::string_view holder) const {
        return QTest::qWaitFor([&] { return lockHolder() == holder; }, kPatienceMs);
    }

    static void expectEndsWith(QProcess& p, int status) {
        ASSERT_TRUE(p.waitForFinished(kPatienceMs)) << "it did not end";
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), status);
    }
    static void expectCleanErrors(const QString& errors) {
        for (const char* fault :
             {"Sanitizer", "runtime error", "QThread: Destroyed", "terminate called"}) {
            EXPECT_FALSE(errors.contains(QLatin1String(fault)))
                << "standard error holds \"" << fault << "\":\n"
                << errors.toStdString();
        }
    }

    // The demo programs' alarms, in the home folder the programs are given.
    void writeDemoAlarms(const QByteArray& text) const {
        const QString folder = session_.filePath(QStringLiteral(".config/qx77zt-demo"));
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile file(folder + QStringLiteral("/alarms.conf"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    // The demo programs' event log: "kind serial text" per entry, text being the alarm or what
    // the program did.
    std::vector<std::string> demoEvents() const {
        std::vector<std::string> lines;
        eventlog::EventReader(
            session_.filePath(QStringLiteral(".local/state/qx77zt-demo/events")).toStdString())
            .read({}, [&](const watch::Event& e, std::string_view) {
                std::string detail = e.text("alarm");
                if (e.kind == watch::kind::kProgram) {
                    detail = e.text("program") + " " + e.text("what");
                }
                lines.push_back(e.kind + " " + e.serial + " " + detail);
                return true;
            });
        return lines;
    }
    bool logged(const std::string& line) const {
        const auto events = demoEvents();
        return std::find(events.begin(), events.end(), line) != events.end();
    }

    QTemporaryDir session_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

const QString kDrives = QStringLiteral("the monitor drives the units");
const QString kReleasedNote = QStringLiteral("the window program has the units");
const QString kTakesBack = QStringLiteral("the monitor takes the units back");

// The whole round over the demo's virtual units: qx77zt reaches the monitor, the demo window
// program takes the units over (and qx77zt then reaches it), the monitor takes them back when
// the window program ends, and SIGTERM ends the monitor with status 0.
TEST_F(MonitorProcess, HandsTheUnitsToTheWindowProgramAndTakesThemBack) {
    // Every demo unit is silent by this level: each raises its alarm once, whoever drives it.
    writeDemoAlarms("[alarms]\nsilence = on\nsilence.level = 8\nsilence.after = 500ms\n"
                    "[actions]\nnotify = off\n");
    QProcess& monitor = startMonitor();
    ASSERT_TRUE(waitForError(0, kDrives)) << errorsOf(0).toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(endpoint(kDemoMonitorInstanceKey)); },
                                kPatienceMs));

    // Its own units answer qx77zt, and a change stays with them.
    const CommandRun set =
        runCommand({QStringLiteral("--demo"), QStringLiteral("set"), QStringLiteral("preset=3")});
    ASSERT_EQ(set.status, 0) << set.err.toStdString();
    CommandRun status = runCommand({QStringLiteral("--demo"), QStringLiteral("status")});
    ASSERT_EQ(status.status, 0) << status.err.toStdString();
    EXPECT_TRUE(status.out.contains(QLatin1String("preset=3"))) << status.out.toStdString();

    // No Qt GUI library, ever: not even one pulled in by a plug-in.
    const QString maps = mappedFiles(monitor.processId());
    EXPECT_TRUE(maps.contains(QLatin1String("libQt6Core"))) << "cannot read the maps";
    for (const char* gui : {"libQt6Gui", "libQt6Widgets", "libQt6OpenGL", "libxcb"}) {
        EXPECT_FALSE(maps.contains(QLatin1String(gui))) << gui << " is loaded in the monitor";
    }

    // A --watch the monitor serves is ended by the hand-over, and told why.
    QProcess& watch =
        start(QStringLiteral(QX_CLI_PROGRAM),
              {QStringLiteral("--demo"), QStringLiteral("status"), QStringLiteral("--watch")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(outputPath(1)).size() > 0; }, kPatienceMs))
        << errorsOf(1).toStdString();

    ASSERT_TRUE(
        QTest::qWaitFor([&] { return logged("alarm-raised QX7700000042 silence"); }, kPatienceMs));

    // The window program starts (two units of its own, to tell its answers from the monitor's).
    QProcess& window =
        start(QStringLiteral(QX_DEMO_PROGRAM), {QStringLiteral("--units"), QStringLiteral("2")});
    ASSERT_TRUE(waitForError(0, kReleasedNote)) << errorsOf(0).toStdString();
    EXPECT_FALSE(QFile::exists(endpoint(kDemoMonitorInstanceKey)));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            status = runCommand({QStringLiteral("--demo"), QStringLiteral("status")});
            return status.out.contains(QLatin1String("unit QX7700000043"));
        },
        kPatienceMs))
        << status.err.toStdString();
    EXPECT_EQ(window.state(), QProcess::Running);
    expectEndsWith(watch, 1);
    EXPECT_TRUE(errorsOf(1).contains(
        QLatin1String("the monitor handed the units to the window program before the command")))
        << errorsOf(1).toStdString();

    ASSERT_TRUE(
        QTest::qWaitFor([&] { return logged("alarm-raised QX7700000043 silence"); }, kPatienceMs))
        << "the window program keeps watch";

    // The window program ends: the monitor takes the units back and answers again.
    ASSERT_EQ(::kill(static_cast<pid_t>(window.processId()), SIGTERM), 0);
    expectEndsWith(window, 0);
    ASSERT_TRUE(waitForError(0, kTakesBack)) << errorsOf(0).toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            status = runCommand({QStringLiteral("--demo"), QStringLiteral("status")});
            return status.status == 0 && status.out.contains(QLatin1String("preset="));
        },
        kPatienceMs))
        << status.err.toStdString();
    EXPECT_FALSE(status.out.contains(QLatin1String("unit QX7700000043")))
        << status.out.toStdString();

    ASSERT_EQ(::kill(static_cast<pid_t>(monitor.processId()), SIGTERM), 0);
    expectEndsWith(monitor, 0);
    EXPECT_FALSE(QFile::exists(endpoint(kDemoMonitorInstanceKey)));
    expectCleanErrors(errorsOf(0));
    expectCleanErrors(errorsOf(2));

    // Nothing lost or doubled across the hand-overs: the alarm the monitor raised was taken
    // over by the window program, not raised again, and the window program's second unit
    // raised its own once; each program's part is in the log, in order.
    const std::vector<std::string> events = demoEvents();
    const auto count = [&](const std::string& line) {
        return std::count(events.begin(), events.end(), line);
    };
    EXPECT_EQ(count("alarm-raised QX7700000042 silence"), 1);
    EXPECT_EQ(count("alarm-raised QX7700000043 silence"), 1);
    std::vector<std::string> program;
    for (const std::string& line : events) {
        // The window program's start is logged as it starts, before or after the hand-over.
        if (line.starts_with("program  ") && line != "program  window started") {
            program.push_back(line.substr(9));
        }
    }
    EXPECT_EQ(program, (std::vector<std::string>{"monitor started", "monitor handed the units over",
                                                 "window stopped", "monitor took the units back",
                                                 "monitor stopped"}));
    EXPECT_GE(count("summary QX7700000042 "), 2) << "the monitor's minute before the hand-over, "
                                                    "the window program's after it";
}

// The real programs share the unit lock through the hand-over: the monitor holds it, the window
// program after it, and the monitor again once the window program is gone, even when it was
// killed.
TEST_F(MonitorProcess, TheUnitLockFollowsTheUnitsEvenWhenTheWindowProgramIsKilled) {
    QProcess& monitor = startMonitor({}, QStringLiteral(QX_CLI_PROGRAM));
    ASSERT_TRUE(waitForError(0, kDrives)) << errorsOf(0).toStdString();
    EXPECT_TRUE(waitForLockHolder(cli::kMonitorHolder));
    // qx77zt reaches the monitor, which has no unit here.
    const CommandRun get = runCommand({QStringLiteral("get")});
    EXPECT_EQ(get.status, 3) << get.err.toStdString();

    QProcess& window = start(QStringLiteral(QX_REAL_PROGRAM), {});
    ASSERT_TRUE(waitForError(0, kReleasedNote)) << errorsOf(0).toStdString();
    EXPECT_TRUE(waitForLockHolder(cli::kWindowHolder)) << errorsOf(1).toStdString();

    // Killed: its lock and its connection go with it, and the monitor takes the units back.
    window.kill();
    ASSERT_TRUE(window.waitForFinished(kPatienceMs));
    ASSERT_TRUE(waitForError(0, kTakesBack)) << errorsOf(0).toStdString();
    EXPECT_TRUE(waitForLockHolder(cli::kMonitorHolder));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return QFile::exists(endpoint(kMonitorInstanceKey)); }, kPatienceMs));
    ASSERT_EQ(::kill(static_cast<pid_t>(monitor.processId()), SIGTERM), 0);
    expectEndsWith(monitor, 0);
    EXPECT_EQ(lockHolder(), "");
    expectCleanErrors(errorsOf(0));
}

TEST_F(MonitorProcess, ASecondMonitorSaysOneRunsAndLeavesWithStatusOne) {
    QProcess& first = startMonitor();
    ASSERT_TRUE(waitForError(0, kDrives)) << errorsOf(0).toStdString();
    const CommandRun second = runCommand({QStringLiteral("monitor"), QStringLiteral("--demo")},
                                         QStringLiteral(QX_DEMO_CLI_PROGRAM));
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(second.err.contains(QLatin1String("a monitor already runs for this user")))
        << second.err.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);
}

// What the command line says of the monitor, and a demo's monitor asked of a build without
// virtual units (or the other way round).
TEST_F(MonitorProcess, CommandLineNamesTheMonitorAndRefusesAMismatchedBuild) {
    const CommandRun help = runCommand({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains(QLatin1String("  qx77zt monitor\n"))) << help.out.toStdString();
    const CommandRun monitorHelp =
        runCommand({QStringLiteral("monitor"), QStringLiteral("--help")});
    EXPECT_EQ(monitorHelp.status, 0);
    EXPECT_TRUE(monitorHelp.out.contains(QLatin1String("systemctl --user enable --now")))
        << monitorHelp.out.toStdString();
    struct Refusal {
        QString program;
        QStringList args;
    };
    for (const Refusal& r :
         {Refusal{QStringLiteral(QX_CLI_PROGRAM),
                  {QStringLiteral("monitor"), QStringLiteral("--demo")}},
          Refusal{QStringLiteral(QX_DEMO_CLI_PROGRAM), {QStringLiteral("monitor")}},
          Refusal{QStringLiteral(QX_CLI_PROGRAM), {QStringLiteral("monitor"), QStringLiteral("x")}},
          Refusal{QStringLiteral(QX_CLI_PROGRAM),
                  {QStringLiteral("monitor"), QStringLiteral("--units"), QStringLiteral("2")}}}) {
        const CommandRun run = runCommand(r.args, r.program);
        EXPECT_EQ(run.status, 2) << r.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(run.err.isEmpty());
    }
}

class MonitorStopSignal : public MonitorProcess, public ::testing::WithParamInterface<int> {};

TEST_P(MonitorStopSignal, EndsCleanlyWithStatusZero) {
    QProcess& monitor = startMonitor();
    ASSERT_TRUE(waitForError(0, kDrives)) << errorsOf(0).toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(monitor.processId()), GetParam()), 0);
    expectEndsWith(monitor, 0);
    expectCleanErrors(errorsOf(0));
    EXPECT_TRUE(errorsOf(0).contains(QLatin1String("the monitor has ended")));
    EXPECT_FALSE(QFile::exists(endpoint(kDemoMonitorInstanceKey)));
    EXPECT_FALSE(QFile::exists(SingleInstance::lockFileName(
        QString::fromLatin1(kDemoMonitorInstanceKey), session_.path())));
}

INSTANTIATE_TEST_SUITE_P(Signals, MonitorStopSignal, ::testing::ValuesIn(kStopSignals),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM  ? "SIGTERM"
                                                : info.param == SIGINT ? "SIGINT"
                                                                       : "SIGHUP");
                         });

} // namespace
} // namespace qx::monitor
