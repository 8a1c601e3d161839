// SPDX-License-Identifier: GPL-3.0-or-later
// The update window around a transfer: its design, the unit's answers, reset to defaults, the
// keep-alive, leaving update mode, and the packages it refuses.
#include "Fixtures.h"

#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx::test {
namespace {

const QString kUnitCaption = QStringLiteral("Обновление программного обеспечения");

TEST(WindowDesign, MatchesItsDesignAtCreation) {
    LinkState link;
    ScriptedDialogs dialogs;
    Tfu tfu(link, dialogs);
    EXPECT_EQ(tfu.windowTitle(), QStringLiteral("Update FW"));
    // The design's 147 × 286, and a row below for "Update history".
    EXPECT_EQ(tfu.minimumSize(), QSize(147, 317));
    EXPECT_EQ(tfu.maximumSize(), QSize(147, 317));
    const Qt::WindowFlags flags = tfu.windowFlags();
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_FALSE(flags & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint));
    EXPECT_EQ(tfu.palette().color(QPalette::Window), QColor(0xE9, 0xE9, 0xE9));
    EXPECT_TRUE(tfu.font().bold());
    EXPECT_EQ(tfu.font().pointSize(), 8);

    struct Place {
        QWidget* w;
        QRect rect;
        QString text;
    };
    for (const Place& p :
         {Place{tfu.cancel, {10, 10, 127, 25}, QStringLiteral("Close")},
          Place{tfu.pb, {10, 197, 127, 17}, {}},
          Place{tfu.select, {10, 220, 127, 25}, QStringLiteral("Select file")},
          Place{tfu.def, {10, 251, 127, 25}, QStringLiteral("Set to default")},
          Place{tfu.hist, {10, 282, 127, 25}, QStringLiteral("Update history")},
          Place{tfu.dev_name, {6, 23, 114, 21}, {}}, Place{tfu.dev_serial, {6, 73, 114, 21}, {}},
          Place{tfu.dev_version, {6, 123, 114, 21}, {}}}) {
        EXPECT_EQ(p.w->geometry(), p.rect) << p.w->metaObject()->className();
        if (auto* b = qobject_cast<QPushButton*>(p.w)) {
            EXPECT_EQ(b->text(), p.text);
        }
    }
    EXPECT_EQ(tfu.dev_name->parentWidget()->geometry(), QRect(10, 41, 126, 150));
    for (QLineEdit* f : {tfu.dev_name, tfu.dev_serial, tfu.dev_version}) {
        EXPECT_TRUE(f->isReadOnly());
        EXPECT_EQ(f->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    }
    EXPECT_EQ(tfu.pb->minimum(), 0);
    EXPECT_EQ(tfu.pb->maximum(), 100);
    EXPECT_FALSE(tfu.select->isEnabled());
    EXPECT_TRUE(tfu.def->isEnabled());
    EXPECT_TRUE(tfu.tmrb->isActive());
    EXPECT_EQ(tfu.tmrb->interval(), 2000);
}

// "Select file" greyed says why, and how to get on; the open dialog starts where it is told
// (the demo's sample package).
TEST(WindowDesign, GreyedSelectSaysWhyAndTheDialogStartsWhereItIsTold) {
    LinkState link;
    ScriptedDialogs dialogs;
    Tfu tfu(link, dialogs);
    const QString why = QStringLiteral("The unit must be in its boot loader: ");
    struct Row {
        const char* name;
        std::function<void()> act;
        bool enabled;
        QString hint;
    };
    const Row rows[] = {
        {"at start", [] {}, false,
         why + QStringLiteral("start it in its boot loader as its manual "
                              "says, and \"Select file\" comes on.")},
        {"told how",
         [&] { tfu.setBootLoaderHow(QStringLiteral("press \"Restart in boot mode\".")); }, false,
         why + QStringLiteral("press \"Restart in boot mode\".")},
        {"a unit in its boot loader", [&] { tfu.setUpdateButtonsEnabled(true); }, true, QString()},
        {"back in normal mode", [&] { tfu.setUpdateButtonsEnabled(false); }, false,
         why + QStringLiteral("press \"Restart in boot mode\".")},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        r.act();
        EXPECT_EQ(tfu.select->isEnabled(), r.enabled);
        EXPECT_EQ(tfu.selectHint(), r.hint);
        EXPECT_EQ(tfu.select->toolTip(), r.hint);
    }

    tfu.setUpdateButtonsEnabled(true);
    tfu.show();
    const QString sample = QStringLiteral("/opt/samples/QX-77ZT-demo.orbu");
    tfu.setPackageStart(sample);
    tfu.select->click(); // the dialog is cancelled
    EXPECT_EQ(dialogs.openInitial, sample);
    EXPECT_EQ(dialogs.openFilter, QStringLiteral("Update File (*.orbu)"));
    EXPECT_TRUE(tfu.select->isEnabled());
}

// Hidden, the window has nothing to send: after its first tick its timer rests, and showing the
// window sets it going again at the usual pace.
TEST(WindowDesign, HiddenWindowSendsNothingAndItsTimerRests) {
    RecordingLink rec;
    ScriptedDialogs dialogs;
    Tfu tfu(rec.link, dialogs);
    tfu.tmrb->start(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tfu.tmrb->interval() == 200; }));
    EXPECT_FALSE(tfu.tmrb->isActive());
    EXPECT_TRUE(rec.taken().empty());
    tfu.show();
    EXPECT_TRUE(tfu.tmrb->isActive());
    EXPECT_EQ(tfu.tmrb->interval(), 200);
    tfu.hide();
}

struct VerdictCase {
    const char* name;
    bool success;
    const char* text;
};

void PrintTo(const VerdictCase& c, std::ostream* os) {
    *os << c.name;
}

class Verdict : public WindowTest, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(Verdict, IsShownThenFlagsSetAndWindowClosesAtNextTick) {
    const VerdictCase& c = GetParam();
    link.updateInProgress = true;
    bool finishedWhileShown = true;
    dialogs.onMessage = [&](const ShownMessage&) { finishedWhileShown = link.updateFinished; };
    // The answer arrives on the library's reader thread.
    std::thread reader([&] { tfu->finishAnswer(c.success); });
    reader.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.messages.empty(); }));
    const ShownMessage& m = dialogs.messages.front();
    EXPECT_EQ(m.text, QString::fromUtf8(c.text));
    EXPECT_EQ(m.caption, kUnitCaption);
    EXPECT_EQ(m.icon, Dialogs::Icon::Information);
    EXPECT_FALSE(finishedWhileShown) << "flags change only once the message is dismissed";
    EXPECT_TRUE(link.updateFinished);
    EXPECT_FALSE(link.updateInProgress);
    EXPECT_EQ(tfu->tmrb->interval(), 100);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tfu->isVisible(); }, 2000));

    // Shown again, the window starts afresh.
    tfu->pb->setValue(40);
    tfu->show();
    EXPECT_FALSE(link.updateFinished);
    EXPECT_FALSE(link.updateInProgress);
    EXPECT_EQ(tfu->pb->value(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, Verdict,
    ::testing::Values(VerdictCase{"Success", true, "Обновление завершено успешно!"},
                      VerdictCase{"Failure", false,
                                  "Ошибка в процессе обновления!\r\nПовторите попытку"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ResetCase {
    const char* name;
    bool connected;
    QMessageBox::StandardButton answer; // to the question asked first
};

void PrintTo(const ResetCase& c, std::ostream* os) {
    *os << c.name;
}

class SetToDefault : public WindowTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(SetToDefault, AsksThenPostsTheResetAndShowsTheUnitsAnswer) {
    const ResetCase& c = GetParam();
    link.connected = c.connected;
    dialogs.confirmAnswer = c.answer;
    tfu->def->click();
    // The question the main window asks before its own reset, owned by this window.
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.messages.front().text, QStringLiteral("Set default values?"));
    EXPECT_EQ(dialogs.messages.front().caption, QStringLiteral("Confirm"));
    EXPECT_EQ(dialogs.messages.front().icon, Dialogs::Icon::Question);
    EXPECT_EQ(dialogs.messages.front().buttons, QMessageBox::Ok | QMessageBox::Cancel);
    dialogs.messages.erase(dialogs.messages.begin());
    EXPECT_TRUE(tfu->select->isEnabled()) << "the buttons are not changed";
    EXPECT_TRUE(tfu->def->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu->busy(); }));
    const bool sends = c.connected && c.answer == QMessageBox::Ok;
    if (sends) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.messages.empty(); }));
        EXPECT_EQ(dialogs.messages.front().text, QStringLiteral("Настройки сброшены!"));
        EXPECT_EQ(dialogs.messages.front().caption, kUnitCaption);
        EXPECT_EQ(dialogs.messages.front().icon, Dialogs::Icon::Information);
        EXPECT_EQ(sent(cmd::kResetDefaults), 1u);
    } else {
        // Cancelled, or taken without being sent: no answer can come.
        QTest::qWait(50);
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(sent(cmd::kResetDefaults), 0u);
    }
    EXPECT_TRUE(tfu->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Unit, SetToDefault,
                         ::testing::Values(ResetCase{"WithUnit", true, QMessageBox::Ok},
                                           ResetCase{"Cancelled", true, QMessageBox::Cancel},
                                           ResetCase{"WithoutUnit", false, QMessageBox::Ok}),
                         [](const auto& info) { return std::string(info.param.name); });

// The window closes only once the request has gone out: the main window reconnects right after,
// and closing the unit under the send would lose it.
TEST_F(WindowTest, CloseLeavesUpdateModeAndClosesTheWindowOnceTheRequestIsSent) {
    link.updateInProgress = true;
    bool sentWhenHidden = false;
    QObject::connect(tfu.get(), &QDialog::rejected,
                     [&] { sentWhenHidden = sent(cmd::kLeaveUpdate) == 1; });
    tfu->cancel->click();
    EXPECT_FALSE(link.updateInProgress);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu->isVisible(); }, 5000));
    EXPECT_TRUE(sentWhenHidden);
    EXPECT_EQ(tfu->result(), QDialog::Rejected);
    EXPECT_EQ(sent(cmd::kKeepAlive), 0u) << "nothing posted over the request meanwhile";
}

TEST_F(WindowTest, CancelledDialogReenablesButtonsAndSendsNothing) {
    bool disabledWhileOpen = false;
    dialogs.onOpen = [&] {
        disabledWhileOpen = !tfu->select->isEnabled() && !tfu->def->isEnabled();
    };
    link.updateInProgress = true;
    tfu->select->click();
    EXPECT_EQ(dialogs.openFilter, QStringLiteral("Update File (*.orbu)"));
    EXPECT_TRUE(disabledWhileOpen);
    EXPECT_TRUE(tfu->select->isEnabled());
    EXPECT_TRUE(tfu->def->isEnabled());
    EXPECT_FALSE(link.updateInProgress);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(blocksSent(), 0u);
}

TEST_F(WindowTest, KeepAliveGoesOnWhileChoosingStopsWhileRefusingAndResumes) {
    auto keepAlives = [&] { return sent(cmd::kKeepAlive); };
    tfu->tmrb->start(1); // skip the two-second wait for the first tick
    ASSERT_TRUE(QTest::qWaitFor([&] { return keepAlives() >= 1; }, 2000));

    const QString foreign = packages.package("QX-99", pattern(10), {});
    dialogs.files.push_back(foreign);
    unsigned whileChoosing = 0;
    dialogs.onOpen = [&] {
        const unsigned before = keepAlives();
        EXPECT_TRUE(QTest::qWaitFor([&] { return keepAlives() > before; }, 2000));
        whileChoosing = keepAlives() - before;
    };
    int ticks = 0;
    QObject::connect(tfu->tmrb, &QTimer::timeout, [&] { ++ticks; });
    unsigned duringRefusal = 0;
    dialogs.onMessage = [&](const ShownMessage&) {
        settleLink();
        const unsigned before = keepAlives();
        const int from = ticks;
        EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= from + 2; }, 2000));
        settleLink();
        duringRefusal = keepAlives() - before;
    };
    tfu->select->click();
    EXPECT_GE(whileChoosing, 1u);
    EXPECT_EQ(duringRefusal, 0u);
    const unsigned after = keepAlives();
    EXPECT_TRUE(QTest::qWaitFor([&] { return keepAlives() > after; }, 2000));
}

struct NameCase {
    const char* name;
    const char* deviceField;
    Bytes package; // whole file
    bool accepted;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.name;
}

const Bytes kOneEepromByte{0, 1, 0, 0, 0, 0, 2, 0x5A, 0, 0};

// A package whose header is exactly `headerText`, followed by `area` (one EEPROM byte unless
// told otherwise).
Bytes packageWithHeader(const std::string& headerText, const Bytes& area = kOneEepromByte) {
    const std::size_t h = headerText.size() + 2;
    Bytes out(h);
    out[0] = static_cast<std::uint8_t>(h >> 8);
    out[1] = static_cast<std::uint8_t>(h);
    std::copy(headerText.begin(), headerText.end(), out.begin() + 2);
    out.insert(out.end(), area.begin(), area.end());
    return out;
}

class NameCheck : public WindowTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(NameCheck, DecidesBeforeAnythingIsSent) {
    const NameCase& c = GetParam();
    tfu->setDeviceFields(QString::fromUtf8(c.deviceField), {}, {});
    tfu->pb->setValue(30);
    bool redWhileShown = false;
    dialogs.onMessage = [&](const ShownMessage&) {
        redWhileShown = tfu->pb->palette().color(QPalette::Highlight) !=
                        tfu->palette().color(QPalette::Highlight);
    };
    selectPackage(packages.write(QStringLiteral("n.orbu"), c.package));
    if (c.accepted) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !tfu->isVisible(); }, 2000))
            << dialogs.texts().join(u'|').toStdString();
        settleLink();
        EXPECT_EQ(sent(cmd::kWriteEeprom), 1u);
        EXPECT_EQ(sent(cmd::kFinish), 1u);
        return;
    }
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Invalid file!"));
    EXPECT_EQ(dialogs.messages[0].caption, QStringLiteral("Update firmware"));
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Icon::Error);
    EXPECT_TRUE(redWhileShown) << "the bar is in its error state while the message is up";
    EXPECT_EQ(tfu->pb->palette().color(QPalette::Highlight),
              tfu->palette().color(QPalette::Highlight));
    EXPECT_EQ(tfu->pb->value(), 30) << "the bar keeps its position";
    EXPECT_TRUE(tfu->select->isEnabled());
    EXPECT_TRUE(tfu->def->isEnabled());
    EXPECT_FALSE(link.updateInProgress);
    EXPECT_TRUE(tfu->isVisible());
    settleLink();
    EXPECT_EQ(blocksSent() + sent(cmd::kFinish), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameCheck,
    ::testing::Values(
        NameCase{"BootRightAfterName", "QX-77ZT(boot)", packageWithHeader("NAME=QX-77ZT&"), true},
        NameCase{"SpaceBeforeBootKept", "QX-77ZT (boot)", packageWithHeader("NAME=QX-77ZT &"),
                 true},
        NameCase{"SpaceMissingInPackage", "QX-77ZT (boot)", packageWithHeader("NAME=QX-77ZT&"),
                 false},
        NameCase{"LetterCaseCounts", "QX-77ZT (boot)", packageWithHeader("NAME=qx-77zt &"), false},
        NameCase{"NoNameFitsOnlyEmptyField", "", packageWithHeader("VERSION=1.0&"), true},
        NameCase{"NoNameRefusedByUnit", "QX-77ZT (boot)", packageWithHeader("VERSION=1.0&"), false},
        // Refused as another model's package although its record area is damaged.
        NameCase{"ForeignAndDamaged", "QX-77ZT (boot)",
                 packageWithHeader("NAME=QX-1&", Bytes{0, 5}), false}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadFileCase {
    const char* name;
    Bytes bytes; // empty: the file does not exist
};

void PrintTo(const BadFileCase& c, std::ostream* os) {
    *os << c.name;
}

class BadFile : public WindowTest, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BadFile, IsRefusedWithItsMessageBeforeAnythingIsSent) {
    const BadFileCase& c = GetParam();
    const QString path =
        c.bytes.empty() ? packages.missing() : packages.write(QStringLiteral("bad.orbu"), c.bytes);
    selectPackage(path);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_FALSE(dialogs.messages[0].text.isEmpty());
    EXPECT_NE(dialogs.messages[0].text, QStringLiteral("Invalid file!"));
    EXPECT_EQ(dialogs.messages[0].caption, QStringLiteral("Update firmware"));
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Icon::Error);
    EXPECT_TRUE(tfu->select->isEnabled());
    EXPECT_TRUE(tfu->def->isEnabled());
    EXPECT_FALSE(link.updateInProgress);
    settleLink();
    EXPECT_EQ(blocksSent() + sent(cmd::kFinish), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadFile,
    ::testing::Values(BadFileCase{"Missing", {}}, BadFileCase{"HeaderTooShort", Bytes{0, 2}},
                      BadFileCase{"NameWithoutAmpersand", packageWithHeader("NAME=QX-77ZT ")},
                      BadFileCase{"NoRecords", packageWithHeader("NAME=QX-77ZT &", {})},
                      BadFileCase{
                          "RecordCutShort",
                          packageWithHeader("NAME=QX-77ZT &", Bytes{0, 9, 0, 0, 0, 0, 2, 1})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, NamedPipeIsRefusedWithoutBlockingTheWindow) {
    const QString fifo = packages.write(QStringLiteral("pipe.orbu"), {});
    ASSERT_TRUE(QFile::remove(fifo));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Should the window block in open(), a writer coming and going lets it go on, and the test
    // fails instead of hanging.
    std::atomic<bool> released{false};
    std::jthread guard([&](std::stop_token stop) {
        std::mutex m;
        std::condition_variable_any cv;
        std::unique_lock lock(m);
        cv.wait_for(lock, stop, std::chrono::seconds(5), [] { return false; });
        if (stop.stop_requested()) {
            return;
        }
        const int w = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (w >= 0) {
            released = true;
            ::close(w);
        }
    });
    selectPackage(fifo);
    guard.request_stop();
    guard.join();
    EXPECT_FALSE(released) << "the window blocked on the pipe";
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("Not a regular file")))
        << dialogs.messages[0].text.toStdString();
    EXPECT_TRUE(dialogs.messages[0].text.contains(fifo));
    EXPECT_TRUE(tfu->select->isEnabled());
    EXPECT_TRUE(tfu->def->isEnabled());
    EXPECT_FALSE(link.updateInProgress);
}

} // namespace
} // namespace qx::test
