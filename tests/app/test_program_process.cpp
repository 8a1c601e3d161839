// SPDX-License-Identifier: GPL-3.0-or-later
// The demo program run as its own process, as a desktop starts it: a second copy and the end of
// the session; the real program and qx77zt sharing the unit. Each test gives its copies a private
// runtime, temporary and home folder, so they never meet the copies of another test or one the
// user has open.
#include "app/ProgramMain.h"
#include "app/SingleInstance.h"
#include "cli/UnitLock.h"
#include "cli/UserRuntime.h"
#include "tests/support/ForeignListener.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/types.h>

namespace qx {
namespace {

// Generous: the machine may be a shared one running sanitizer builds.
constexpr int kPatienceMs = 30000;
constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

const QString kDemoKey = QString::fromLatin1(kDemoInstanceKey);
const QString kProgramKey = QString::fromLatin1(kProgramInstanceKey);

QStringList threadNames(qint64 pid) {
    QStringList names;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly)) {
            names << QString::fromUtf8(comm.readAll()).trimmed();
        }
    }
    return names;
}

// The signals a process ignores, from the kernel's view of it.
quint64 ignoredSignals(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigIgn:")) {
            return line.mid(7).trimmed().toULongLong(nullptr, 16);
        }
    }
    return 0;
}

class ProgramProcess : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session_.isValid()); }

    void TearDown() override {
        for (const auto& copy : copies_) {
            if (copy->state() != QProcess::NotRunning) {
                copy->kill();
                copy->waitForFinished(kPatienceMs);
            }
        }
    }

    // Starts a copy of the demo program. The stop signals reach it handled the default way and
    // unblocked, as from a desktop, whatever the test runner was started with; `ignoredSignal`
    // (when not 0) starts ignored, as under nohup.
    QProcess& start(int ignoredSignal = 0,
                    const QString& program = QStringLiteral(QX_DEMO_PROGRAM)) {
        auto copy = std::make_unique<QProcess>();
        copy->setProgram(program);
        copy->setProcessEnvironment(environment());
        copy->setWorkingDirectory(session_.path());
        copy->setStandardOutputFile(QProcess::nullDevice());
        copy->setStandardErrorFile(stderrPath(copies_.size()));
        copy->setChildProcessModifier([ignoredSignal] {
            sigset_t stops;
            sigemptyset(&stops);
            for (const int s : kStopSignals) {
                ::signal(s, s == ignoredSignal ? SIG_IGN : SIG_DFL);
                sigaddset(&stops, s);
            }
            ::sigprocmask(SIG_UNBLOCK, &stops, nullptr);
        });
        copy->start();
        copies_.push_back(std::move(copy));
        return *copies_.back();
    }

    // What every program started here runs with; `changes` adds to it (an empty value removes).
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (const char* name : {"QX77ZT_RUNTIME_DIR", "XDG_RUNTIME_DIR", "TMPDIR", "HOME"}) {
            env.insert(QLatin1String(name), session_.path());
        }
        // A desktop's launch tokens would ride along with a later copy's show request.
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME",
                                 "XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
            env.remove(QLatin1String(name));
        }
        // Read by a program built with ThreadSanitizer only.
        env.insert(QStringLiteral("TSAN_OPTIONS"), env.value(QStringLiteral("TSAN_OPTIONS")) +
                                                       QStringLiteral(" suppressions=") +
                                                       threadSanitizerSuppressions());
        for (const QString& name : changes.keys()) {
            if (changes.value(name).isEmpty()) {
                env.remove(name);
            } else {
                env.insert(name, changes.value(name));
            }
        }
        return env;
    }

    struct CommandRun {
        int status = -1;
        QString err;
    };
    // Runs qx77zt to its end.
    CommandRun runCommand(const QStringList& args) const {
        QProcess command;
        command.setProgram(QStringLiteral(QX_CLI_PROGRAM));
        command.setArguments(args);
        command.setProcessEnvironment(environment());
        command.setWorkingDirectory(session_.path());
        command.start();
        CommandRun r;
        if (command.waitForFinished(kPatienceMs) && command.exitStatus() == QProcess::NormalExit) {
            r.status = command.exitCode();
        }
        r.err = QString::fromLocal8Bit(command.readAllStandardError());
        return r;
    }

    // Qt is not built for ThreadSanitizer: the events it posts from one thread to another are
    // allocated and freed inside Qt behind locks the sanitizer cannot see. Heap calls made by Qt's
    // own code are left out, and so are the D-Bus library the desktop notices go through (from
    // Qt's D-Bus thread) and GLib's event loop under it (its wake-up descriptor made on one thread
    // and written on another); every access of the program's code is still checked.
    QString threadSanitizerSuppressions() const {
        const QString path = session_.filePath(QStringLiteral("tsan.supp"));
        QFile file(path);
        if (!file.exists() && file.open(QIODevice::WriteOnly)) {
            file.write("called_from_lib:libQt6Core.so.6\n"
                       "called_from_lib:libQt6Gui.so.6\n"
                       "called_from_lib:libQt6DBus.so.6\n"
                       "called_from_lib:libdbus-1.so.3\n"
                       "race:libdbus-1.so.3\n"
                       "called_from_lib:libglib-2.0.so.0\n");
        }
        return path;
    }

    QString stderrPath(std::size_t index) const {
        return session_.filePath(QStringLiteral("stderr-%1.txt").arg(index));
    }

    // What copy number `index` wrote on its standard error.
    QString errorsOf(std::size_t index) const {
        QFile file(stderrPath(index));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

    QString endpointPath(const QString& key = kDemoKey) const {
        return SingleInstance::endpointName(key, session_.path());
    }
    QString lockPath(const QString& key = kDemoKey) const {
        return SingleInstance::lockFileName(key, session_.path());
    }

    // Waits until the copy has written `text` on its standard error; false when it ended first.
    bool waitForError(std::size_t index, const QString& text) const {
        const QProcess& copy = *copies_.at(index);
        return QTest::qWaitFor(
                   [&] {
                       return copy.state() == QProcess::NotRunning ||
                              errorsOf(index).contains(text);
                   },
                   kPatienceMs) &&
               errorsOf(index).contains(text);
    }

    // Waits until the copy has brought its link up: the library's reader thread runs. False when
    // it ended or never got there.
    static bool waitUntilConnected(QProcess& copy) {
        const auto connected = [&copy] {
            const QStringList names = threadNames(copy.processId());
            // The library's copy that lists the units is loaded whether or not a unit is there.
            return names.contains(QStringLiteral("hid-reader"));
        };
        if (!copy.waitForStarted(kPatienceMs)) {
            return false;
        }
        return QTest::qWaitFor([&] { return copy.state() != QProcess::Running || connected(); },
                               kPatienceMs) &&
               copy.state() == QProcess::Running;
    }

    static void expectCleanErrors(const QString& errors) {
        for (const char* fault :
             {"Sanitizer", "runtime error", "QThread: Destroyed", "terminate called"}) {
            EXPECT_FALSE(errors.contains(QLatin1String(fault)))
                << "standard error holds \"" << fault << "\":\n"
                << errors.toStdString();
        }
    }

    QTemporaryDir session_;
    std::vector<std::unique_ptr<QProcess>> copies_;
    // Set by a test before it starts programs.
    QHash<QString, QString> changes;
};

TEST_F(ProgramProcess, ALaterCopyAsksTheRunningOneToComeForwardAndLeaves) {
    // The test plays the running copy: it holds the lock and listens where the program does.
    QLockFile lock(lockPath());
    ASSERT_TRUE(lock.tryLock(0));
    QLocalServer running;
    ASSERT_TRUE(running.listen(endpointPath())) << running.errorString().toStdString();
    QByteArray request;
    QObject::connect(&running, &QLocalServer::newConnection, [&] {
        while (QLocalSocket* peer = running.nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::readyRead,
                             [&request, peer] { request += peer->readAll(); });
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        }
    });

    QProcess& later = start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return later.state() == QProcess::NotRunning; }, kPatienceMs))
        << "a later copy stayed";
    EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(later.exitCode(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return request.contains("show\n"); }, kPatienceMs));
    EXPECT_EQ(request, QByteArray("show\n"));
    expectCleanErrors(errorsOf(0));
}

// The first copy outlives a later one, and each signal that ends a session or a terminal ends it
// the ordinary way: status 0, no report from the sanitizers or Qt, and its teardown has run (its
// lock and its endpoint are gone).
class ProgramStopSignal : public ProgramProcess, public ::testing::WithParamInterface<int> {};

TEST_F(ProgramProcess, DemoAndProgramRunSideBySideEachWithItsOwnLaterCopies) {
    QProcess& demo = start();
    ASSERT_TRUE(waitUntilConnected(demo)) << errorsOf(0).toStdString();

    // The real program does not hand over to the demo: it claims a name of its own and runs.
    QProcess& program = start(0, QStringLiteral(QX_REAL_PROGRAM));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return program.state() == QProcess::NotRunning ||
                   (QFile::exists(endpointPath(kProgramKey)) &&
                    QFile::exists(lockPath(kProgramKey)));
        },
        kPatienceMs));
    ASSERT_EQ(program.state(), QProcess::Running) << "the program left:\n"
                                                  << errorsOf(1).toStdString();

    // Each one's later copy finds its own first copy.
    for (const QString& path : {QStringLiteral(QX_DEMO_PROGRAM), QStringLiteral(QX_REAL_PROGRAM)}) {
        QProcess& later = start(0, path);
        ASSERT_TRUE(later.waitForFinished(kPatienceMs)) << path.toStdString() << " stayed";
        EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(later.exitCode(), 0) << path.toStdString();
    }
    EXPECT_EQ(demo.state(), QProcess::Running);
    EXPECT_EQ(program.state(), QProcess::Running);

    for (QProcess* first : {&demo, &program}) {
        ASSERT_EQ(::kill(static_cast<pid_t>(first->processId()), SIGTERM), 0);
        ASSERT_TRUE(first->waitForFinished(kPatienceMs));
        EXPECT_EQ(first->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(first->exitCode(), 0);
    }
    for (std::size_t i = 0; i < copies_.size(); ++i) {
        expectCleanErrors(errorsOf(i));
    }
}

TEST_P(ProgramStopSignal, FirstCopyOutlivesALaterOneAndEndsCleanly) {
    QProcess& first = start();
    ASSERT_TRUE(waitUntilConnected(first)) << errorsOf(0).toStdString();

    // As after hours of running: an old lock of a living copy is still that copy's.
    ASSERT_TRUE(QFile::exists(lockPath()));
    {
        QFile lockFile(lockPath());
        ASSERT_TRUE(lockFile.open(QIODevice::ReadWrite));
        ASSERT_TRUE(lockFile.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                         QFileDevice::FileModificationTime));
    }
    QProcess& later = start();
    ASSERT_TRUE(later.waitForFinished(kPatienceMs)) << "a later copy stayed";
    EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(later.exitCode(), 0);
    ASSERT_TRUE(waitUntilConnected(first)) << "the first copy ended:\n"
                                           << errorsOf(0).toStdString();

    ASSERT_EQ(::kill(static_cast<pid_t>(first.processId()), GetParam()), 0);
    ASSERT_TRUE(first.waitForFinished(kPatienceMs)) << "the program did not end";
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    expectCleanErrors(errorsOf(0));
    expectCleanErrors(errorsOf(1));
    EXPECT_FALSE(QFile::exists(lockPath()));
    EXPECT_FALSE(QFile::exists(endpointPath()));
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramStopSignal, ::testing::ValuesIn(kStopSignals),
                         [](const ::testing::TestParamInfo<int>& info) {
                             switch (info.param) {
                             case SIGTERM:
                                 return std::string("SIGTERM");
                             case SIGINT:
                                 return std::string("SIGINT");
                             default:
                                 return std::string("SIGHUP");
                             }
                         });

// Ended as soon as it is the running copy (its lock taken), while its windows and its link are
// still being made, as a script or the session may do: it still ends the ordinary way.
TEST_F(ProgramProcess, ASignalWhileItIsStillStartingEndsItTheOrdinaryWay) {
    QProcess& copy = start();
    ASSERT_TRUE(copy.waitForStarted(kPatienceMs));
    const QDeadlineTimer patience(kPatienceMs);
    while (!QFile::exists(lockPath()) && copy.state() == QProcess::Running &&
           !patience.hasExpired()) {
        std::this_thread::yield();
    }
    ASSERT_TRUE(QFile::exists(lockPath())) << errorsOf(0).toStdString();

    ASSERT_EQ(::kill(static_cast<pid_t>(copy.processId()), SIGTERM), 0);
    ASSERT_TRUE(copy.waitForFinished(kPatienceMs)) << "the program did not end";
    EXPECT_EQ(copy.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(copy.exitCode(), 0);
    expectCleanErrors(errorsOf(0));
}

TEST_F(ProgramProcess, ASignalStartedIgnoredStaysIgnored) {
    // Started under nohup: the hang-up of the terminal must not end it.
    QProcess& copy = start(SIGHUP);
    ASSERT_TRUE(waitUntilConnected(copy)) << errorsOf(0).toStdString();
    const quint64 ignored = ignoredSignals(copy.processId());
    EXPECT_NE(ignored & (quint64{1} << (SIGHUP - 1)), 0u) << "SIGHUP is no longer ignored";
    EXPECT_EQ(ignored & (quint64{1} << (SIGTERM - 1)), 0u);

    ASSERT_EQ(::kill(static_cast<pid_t>(copy.processId()), SIGTERM), 0);
    ASSERT_TRUE(copy.waitForFinished(kPatienceMs)) << "the program did not end";
    EXPECT_EQ(copy.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(copy.exitCode(), 0);
    expectCleanErrors(errorsOf(0));
}

// A later copy that cannot reach the first says so in a message box; a stop signal ends it with
// status 1 as closing the message does, instead of leaving it waiting for the operator.
class LaterCopyMessage : public ProgramProcess, public ::testing::WithParamInterface<int> {};

TEST_P(LaterCopyMessage, EndsOnAStopSignalWithStatusOne) {
    // The test plays a first copy that hangs: it holds the lock and never listens.
    QLockFile lock(lockPath());
    ASSERT_TRUE(lock.tryLock(0));
    QProcess& later = start();
    ASSERT_TRUE(waitForError(0, QStringLiteral("does not answer"))) << errorsOf(0).toStdString();

    ASSERT_EQ(::kill(static_cast<pid_t>(later.processId()), GetParam()), 0);
    ASSERT_TRUE(later.waitForFinished(kPatienceMs)) << "the message stayed";
    EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(later.exitCode(), 1);
    expectCleanErrors(errorsOf(0));
}

INSTANTIATE_TEST_SUITE_P(Signals, LaterCopyMessage, ::testing::ValuesIn(kStopSignals),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM  ? "SIGTERM"
                                                : info.param == SIGINT ? "SIGINT"
                                                                       : "SIGHUP");
                         });

TEST_F(ProgramProcess, NamesAnotherUserTookInTheTemporaryFolderAreNotUsed) {
    if (!test::ForeignListener::possible()) {
        GTEST_SKIP() << "a process of another user needs root";
    }
    // Another user got there first: in the temporary folder every user shares, a held lock and a
    // listening socket under the names the programs would find by user id alone.
    QTemporaryDir shared;
    ASSERT_TRUE(QFile::setPermissions(shared.path(), QFileDevice::Permissions(0x7777)));
    changes.insert(QStringLiteral("TMPDIR"), shared.path());
    changes.insert(QStringLiteral("XDG_RUNTIME_DIR"), shared.path());
    std::vector<std::unique_ptr<test::ForeignListener>> squatters;
    std::vector<std::unique_ptr<QLockFile>> locks;
    for (const QString& key : {kDemoKey, kProgramKey}) {
        const QString name = shared.filePath(key + QStringLiteral("-%1").arg(::geteuid()));
        locks.push_back(std::make_unique<QLockFile>(name + QStringLiteral(".lock")));
        ASSERT_TRUE(locks.back()->tryLock(0));
        ASSERT_EQ(::chown(QFile::encodeName(name + QStringLiteral(".lock")).constData(),
                          test::ForeignListener::kUid, test::ForeignListener::kUid),
                  0);
        squatters.push_back(
            std::make_unique<test::ForeignListener>(QFile::encodeName(name).toStdString()));
        ASSERT_TRUE(squatters.back()->ready());
    }

    // The program runs (it neither hands its request over nor leaves)...
    QProcess& program = start();
    EXPECT_TRUE(waitUntilConnected(program)) << errorsOf(0).toStdString();
    // ...and qx77zt, finding no window program of this user, drives the unit itself (there is
    // none here) instead of failing on the other user's socket.
    program.kill();
    program.waitForFinished(kPatienceMs);
    const CommandRun get = runCommand({QStringLiteral("get")});
    EXPECT_EQ(get.status, 3) << get.err.toStdString();
    EXPECT_TRUE(get.err.contains(QLatin1String("no QX-77ZT unit found"))) << get.err.toStdString();
}

// The real program and a qx77zt that drives the unit itself (played by the test, holding the unit
// lock as that one does): whichever comes first has the unit, and the second leaves it alone and
// says who has it. The demo's virtual unit is its own: it neither waits nor holds anything.
struct ExclusionCase {
    const char* name;
    bool commandFirst;
    bool demo;
    bool excluded;
};

const ExclusionCase kExclusions[] = {
    {"UpdateThenWindow", true, false, true},
    {"UpdateThenDemo", true, true, false},
    {"WindowThenCommand", false, false, true},
    {"DemoThenCommand", false, true, false},
};

class UnitExclusion : public ProgramProcess, public ::testing::WithParamInterface<ExclusionCase> {};

TEST_P(UnitExclusion, OneOfTheTwoDrivesTheUnit) {
    const ExclusionCase& c = GetParam();
    const QString program =
        c.demo ? QStringLiteral(QX_DEMO_PROGRAM) : QStringLiteral(QX_REAL_PROGRAM);
    const std::string folder = session_.path().toStdString();
    auto command = std::make_unique<cli::UnitLock>(folder);
    if (c.commandFirst) {
        ASSERT_EQ(command->take("update", std::chrono::milliseconds(0)),
                  cli::UnitLock::Result::Taken);
        QProcess& window = start(0, program);
        if (!c.excluded) {
            EXPECT_TRUE(waitUntilConnected(window)) << errorsOf(0).toStdString();
            return;
        }
        // The window says who has the unit, and does not open it...
        ASSERT_TRUE(waitForError(0, QStringLiteral("qx77zt is updating the unit's firmware")))
            << errorsOf(0).toStdString();
        QTest::qWait(1000);
        EXPECT_FALSE(threadNames(window.processId()).contains(QStringLiteral("hid-reader")));
        // ...until the command has ended.
        command.reset();
        EXPECT_TRUE(waitUntilConnected(window)) << errorsOf(0).toStdString();
        return;
    }
    QProcess& window = start(0, program);
    ASSERT_TRUE(waitUntilConnected(window)) << errorsOf(0).toStdString();
    const cli::UnitLock::Result taken = command->take("update", std::chrono::milliseconds(0));
    if (!c.excluded) {
        EXPECT_EQ(taken, cli::UnitLock::Result::Taken) << command->error();
        return;
    }
    EXPECT_EQ(taken, cli::UnitLock::Result::Busy) << command->error();
    EXPECT_EQ(command->holder(), cli::kWindowHolder);
}

INSTANTIATE_TEST_SUITE_P(Programs, UnitExclusion, ::testing::ValuesIn(kExclusions),
                         [](const auto& info) { return std::string(info.param.name); });

// Two shells of one user, one with the session's runtime folder named and one without (cron,
// `su`), or named elsewhere: the second qx77zt finds the first's lock. In the user's own runtime
// folder, as the programs choose it.
class CommandBesideCommand : public ProgramProcess,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(CommandBesideCommand, FindsTheFirstWhateverItsEnvironment) {
    qunsetenv("QX77ZT_RUNTIME_DIR");
    const cli::RuntimeFolder place = cli::userRuntimeFolder();
    ASSERT_NE(place.path, "") << place.error;
    cli::UnitLock first(place.path);
    if (first.take("update", std::chrono::milliseconds(0)) != cli::UnitLock::Result::Taken) {
        GTEST_SKIP() << "this user's own programs hold the unit: " << first.error();
    }
    changes.insert(QStringLiteral("QX77ZT_RUNTIME_DIR"), {});
    changes.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromUtf8(GetParam()));
    changes.insert(QStringLiteral("TMPDIR"), QString::fromUtf8(GetParam()));
    const CommandRun get = runCommand({QStringLiteral("get")});
    EXPECT_EQ(get.status, 1) << get.err.toStdString();
    EXPECT_EQ(get.err, QStringLiteral("qx77zt: a firmware update is already running (another "
                                      "qx77zt)\n"));
}

INSTANTIATE_TEST_SUITE_P(Environments, CommandBesideCommand,
                         ::testing::Values("", "/nonexistent-runtime"), [](const auto& info) {
                             return std::string(*info.param == '\0' ? "RuntimeUnset"
                                                                    : "RuntimeElsewhere");
                         });

} // namespace
} // namespace qx
