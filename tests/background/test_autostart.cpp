// SPDX-License-Identifier: GPL-3.0-or-later
// "Start at login" and the kept desktop setting, in a temporary configuration folder.
#include "background/DesktopSettings.h"
#include "background/linux/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace qx::background {
namespace {

// Sets an environment variable for one test and puts the old value back.
class EnvGuard {
public:
    EnvGuard(const char* name, const QString& value) : name_(name) {
        if (qEnvironmentVariableIsSet(name)) {
            old_ = qgetenv(name);
        }
        if (value.isNull()) {
            qunsetenv(name);
        } else {
            qputenv(name, value.toUtf8());
        }
    }
    ~EnvGuard() {
        if (old_) {
            qputenv(name_, *old_);
        } else {
            qunsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<QByteArray> old_;
};

QString readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class AutostartTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString config() const { return dir_.filePath(QStringLiteral("config")); }

    QTemporaryDir dir_;
    EnvGuard configHome_{"XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config"))};
};

TEST_F(AutostartTest, EntryIsWrittenWithTheHiddenStartAndRemoved) {
    const AutostartEntry entry = autostartEntry(false, QStringLiteral("/usr/bin/QX_77ZT"));
    const QString path = config() + QStringLiteral("/autostart/qx77zt.desktop");
    EXPECT_EQ(autostartPath(entry), path);
    EXPECT_FALSE(autostartEnabled(entry));

    ASSERT_EQ(enableAutostart(entry), QString());
    const QString text = readAll(path);
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nType=Application\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=/usr/bin/QX_77ZT --hidden\n")));
    EXPECT_TRUE(autostartEnabled(entry));
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(config() + QStringLiteral("/autostart")).entryList(QDir::Files).size(), 1);

    // Written again: the same single entry.
    ASSERT_EQ(enableAutostart(entry), QString());
    EXPECT_EQ(readAll(path), text);

    ASSERT_EQ(disableAutostart(entry), QString());
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(autostartEnabled(entry));
    // Removing what is not there is no failure.
    EXPECT_EQ(disableAutostart(entry), QString());
}

TEST_F(AutostartTest, TheDemosEntryNamesTheDemoAndLeavesTheProgramsAlone) {
    const AutostartEntry program = autostartEntry(false, QStringLiteral("/usr/bin/QX_77ZT"));
    const AutostartEntry demo = autostartEntry(true, QStringLiteral("/opt/qx/QX_77ZT_demo"));
    ASSERT_EQ(enableAutostart(program), QString());
    ASSERT_EQ(enableAutostart(demo), QString());
    EXPECT_NE(autostartPath(demo), autostartPath(program));
    EXPECT_TRUE(readAll(autostartPath(demo))
                    .contains(QStringLiteral("\nExec=/opt/qx/QX_77ZT_demo --hidden\n")));
    ASSERT_EQ(disableAutostart(demo), QString());
    EXPECT_TRUE(autostartEnabled(program));
}

TEST_F(AutostartTest, ProgramPathsAreQuotedAsDesktopEntriesRequire) {
    struct Case {
        const char* program;
        const char* exec;
    };
    const Case cases[] = {
        {"/home/a b/QX_77ZT", R"(Exec="/home/a b/QX_77ZT" --hidden)"},
        {"/opt/100%/QX_77ZT", "Exec=/opt/100%%/QX_77ZT --hidden"},
        {"/opt/$x/QX_77ZT", R"(Exec="/opt/\\$x/QX_77ZT" --hidden)"},
        {"/opt/a\"b/QX", R"(Exec="/opt/a\\"b/QX" --hidden)"},
        {"/opt/back\\slash/QX", R"(Exec="/opt/back\\\\slash/QX" --hidden)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        const QString text = autostartText(autostartEntry(false, QString::fromUtf8(c.program)));
        EXPECT_TRUE(
            text.contains(QLatin1Char('\n') + QString::fromUtf8(c.exec) + QLatin1Char('\n')))
            << text.toStdString();
    }
}

TEST_F(AutostartTest, AnEntrySwitchedOffByTheDesktopCountsAsOff) {
    const AutostartEntry entry = autostartEntry(false, QStringLiteral("/usr/bin/QX_77ZT"));
    ASSERT_EQ(enableAutostart(entry), QString());
    for (const char* line : {"Hidden=true", "X-GNOME-Autostart-enabled = false"}) {
        SCOPED_TRACE(line);
        QFile file(autostartPath(entry));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("[Desktop Entry]\nType=Application\nExec=QX_77ZT\n") + line + "\n");
        file.close();
        EXPECT_FALSE(autostartEnabled(entry));
    }
}

TEST_F(AutostartTest, FolderFollowsTheXdgRules) {
    {
        // Not absolute: ignored, as the rules say.
        const EnvGuard relative("XDG_CONFIG_HOME", QStringLiteral("relative/config"));
        const EnvGuard home("HOME", dir_.filePath(QStringLiteral("home")));
        EXPECT_EQ(autostartFolder(), dir_.filePath(QStringLiteral("home/.config/autostart")));
    }
    {
        const EnvGuard unset("XDG_CONFIG_HOME", QString());
        const EnvGuard noHome("HOME", QString());
        EXPECT_EQ(autostartFolder(), QString());
        EXPECT_FALSE(
            enableAutostart(autostartEntry(false, QStringLiteral("/usr/bin/QX_77ZT"))).isEmpty());
    }
}

TEST_F(AutostartTest, AFolderThatCannotBeMadeIsToldNotHidden) {
    QFile blocker(config());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    blocker.close();
    const QString trouble =
        enableAutostart(autostartEntry(false, QStringLiteral("/usr/bin/QX_77ZT")));
    EXPECT_TRUE(trouble.contains(QStringLiteral("autostart"))) << trouble.toStdString();
}

TEST_F(AutostartTest, KeepWatchingIsKeptAcrossRuns) {
    const QString path = desktopSettingsPath(false);
    EXPECT_EQ(path, config() + QStringLiteral("/qx77zt/desktop.conf"));
    EXPECT_EQ(desktopSettingsPath(true), config() + QStringLiteral("/qx77zt-demo/desktop.conf"));

    DesktopSettings fresh(path);
    EXPECT_EQ(fresh.load(), QString()); // missing: the defaults
    EXPECT_FALSE(fresh.keepWatching);
    fresh.keepWatching = true;
    ASSERT_EQ(fresh.save(), QString());

    DesktopSettings later(path);
    EXPECT_EQ(later.load(), QString());
    EXPECT_TRUE(later.keepWatching);
}

TEST_F(AutostartTest, ADamagedSettingIsToldAndNotTrusted) {
    const QString path = desktopSettingsPath(false);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\nkeep-watching=perhaps\n");
    file.close();
    DesktopSettings settings(path);
    const QString trouble = settings.load();
    EXPECT_TRUE(trouble.contains(QStringLiteral("perhaps"))) << trouble.toStdString();
    EXPECT_FALSE(settings.keepWatching);
}

} // namespace
} // namespace qx::background
