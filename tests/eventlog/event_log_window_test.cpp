// SPDX-License-Identifier: GPL-3.0-or-later
// The "Event log" window over a log on the disk: its filters, following new lines, the CSV
// export, and reads that never hold up the window.
#include "LogFixture.h"
#include "eventlog/EventCsv.h"
#include "eventlog/EventJson.h"
#include "eventlog/EventLogWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

namespace qx::eventlog::test {
namespace {

class EventLogWindowTest : public LogFolderTest {
protected:
    void SetUp() override {
        LogFolderTest::SetUp();
        now = std::chrono::floor<std::chrono::seconds>(Clock::now());
        add(now - 30h, "connected", "QX1", "Studio A");
        add(now - 2h, "alarm-raised", "QX2", "Rack 2", {{"alarm", "silence"}});
        add(now - 90min, "alarm-cleared", "QX2", "Rack 2", {{"alarm", "silence"}});
        add(now - 10min, "over", "QX1", "Studio A", {{"channel", "left"}});
        add(now - 5min, "setting", "QX1", "Studio A",
            {{"setting", "preset"}, {"from", "command line"}, {"value", "2"}});
    }

    void add(TimePoint t, const char* kind, const char* serial, const char* unit,
             std::vector<std::pair<std::string, std::string>> texts = {}) {
        watch::Event e = makeEvent(t, kind, serial, unit);
        e.texts = std::move(texts);
        const std::filesystem::path file = dayFile(utcDay(t));
        write(file, read(file) + formatEventLine(e) + "\n");
    }

    // A window showing everything, read once.
    std::unique_ptr<EventLogWindow> open() {
        auto w = std::make_unique<EventLogWindow>(folder);
        w->timeBox->setCurrentIndex(3); // Everything
        QSignalSpy read(w.get(), &EventLogWindow::readFinished);
        w->show();
        EXPECT_TRUE(read.wait(10000));
        return w;
    }

    QString cell(EventLogWindow& w, int row, int column) {
        return w.model->index(row, column).data().toString();
    }

    std::string kinds(EventLogWindow& w) {
        std::string out;
        for (int r = 0; r < w.model->rowCount(); ++r) {
            out += (out.empty() ? "" : " ") + cell(w, r, EventTableModel::KindColumn).toStdString();
        }
        return out;
    }

    // Sets a filter and waits for the read it starts.
    void choose(EventLogWindow& w, QComboBox* box, int index) {
        QSignalSpy read(&w, &EventLogWindow::readFinished);
        box->setCurrentIndex(index);
        ASSERT_TRUE(read.wait(10000));
    }

    TimePoint now;
};

TEST_F(EventLogWindowTest, ShowsTheLogAndFiltersIt) {
    auto w = open();
    EXPECT_EQ(kinds(*w), "connected alarm-raised alarm-cleared over setting");
    EXPECT_EQ(cell(*w, 3, EventTableModel::TimeColumn).toStdString(), formatLocal(now - 10min));
    EXPECT_EQ(cell(*w, 3, EventTableModel::UnitColumn), QStringLiteral("Studio A"));
    EXPECT_EQ(cell(*w, 4, EventTableModel::DetailsColumn),
              QStringLiteral("setting=preset from=\"command line\" value=2"));
    EXPECT_EQ(w->status->text(), QStringLiteral("5 events"));

    // Every unit seen is offered, by name and serial number.
    ASSERT_EQ(w->unitBox->count(), 3);
    EXPECT_EQ(w->unitBox->itemText(1), QStringLiteral("Studio A (QX1)"));
    EXPECT_EQ(w->unitBox->itemText(2), QStringLiteral("Rack 2 (QX2)"));
    choose(*w, w->unitBox, 2);
    EXPECT_EQ(kinds(*w), "alarm-raised alarm-cleared");
    choose(*w, w->unitBox, 0);

    choose(*w, w->kindBox, w->kindBox->findText(QStringLiteral("Alarms")));
    EXPECT_EQ(kinds(*w), "alarm-raised alarm-cleared");
    choose(*w, w->kindBox, w->kindBox->findText(QStringLiteral("Settings changes")));
    EXPECT_EQ(kinds(*w), "setting");
    choose(*w, w->kindBox, 0);

    choose(*w, w->timeBox, 0); // last hour
    EXPECT_EQ(kinds(*w), "over setting");
    EXPECT_FALSE(w->fromEdit->isEnabled());
    w->fromEdit->setDateTime(QDateTime::fromSecsSinceEpoch(Clock::to_time_t(now - 3h)));
    w->toEdit->setDateTime(QDateTime::fromSecsSinceEpoch(Clock::to_time_t(now - 1h)));
    choose(*w, w->timeBox, 4); // between
    EXPECT_TRUE(w->fromEdit->isEnabled());
    EXPECT_EQ(kinds(*w), "alarm-raised alarm-cleared");
}

TEST_F(EventLogWindowTest, FollowsNewLinesAsTheyAreWritten) {
    auto w = open();
    ASSERT_TRUE(w->followBox->isChecked());
    QSignalSpy followed(w.get(), &EventLogWindow::followed);
    add(Clock::now(), "over-ack", "QX1", "Studio A");
    add(Clock::now(), "disconnected", "QX3", "Rack 3");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->model->rowCount() == 7; }, 10000));
    EXPECT_EQ(kinds(*w), "connected alarm-raised alarm-cleared over setting over-ack disconnected");
    // A unit first seen by following is offered too.
    EXPECT_NE(w->unitBox->findData(QStringLiteral("QX3")), -1);
    // Nothing new: nothing added.
    followed.clear();
    ASSERT_TRUE(followed.wait(10000));
    EXPECT_EQ(followed.front().front().toInt(), 0);
    EXPECT_EQ(w->model->rowCount(), 7);
}

TEST_F(EventLogWindowTest, FollowsALogThatWasEmptyWhenOpened) {
    std::filesystem::remove_all(folder);
    auto w = open();
    EXPECT_EQ(w->model->rowCount(), 0);
    add(Clock::now(), "connected", "QX1", "Studio A");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->model->rowCount() == 1; }, 10000));
}

TEST_F(EventLogWindowTest, ExportsTheFilteredEventsAsCsv) {
    auto w = open();
    choose(*w, w->kindBox, w->kindBox->findText(QStringLiteral("Alarms")));
    const QString to = QString::fromStdString((root / "alarms.csv").string());
    QString suggested;
    w->askSaveFileName = [&](QWidget*, const QString& name) {
        suggested = name;
        return to;
    };
    QSignalSpy finished(w.get(), &EventLogWindow::exportFinished);
    QTest::mouseClick(w->exportButton, Qt::LeftButton);
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(finished.front().at(0).toBool());
    EXPECT_TRUE(suggested.startsWith(QStringLiteral("events-")));
    const std::string csv = read(root / "alarms.csv");
    EXPECT_EQ(csv.rfind(csvHeader(), 0), 0u);
    EXPECT_NE(csv.find(",Rack 2,QX2,alarm-raised,alarm=silence\r\n"), std::string::npos);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3);
    EXPECT_EQ(w->status->text(), QStringLiteral("2 events exported"));

    // Cancelled: nothing happens.
    w->askSaveFileName = [](QWidget*, const QString&) { return QString(); };
    EXPECT_FALSE(w->exportCsv());
    // A place that cannot be written is said so.
    finished.clear();
    ASSERT_TRUE(w->exportCsvTo(QString::fromStdString((root / "no" / "x.csv").string())));
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_FALSE(finished.front().at(0).toBool());
    EXPECT_TRUE(w->status->text().startsWith(QStringLiteral("Export failed")));
}

TEST_F(EventLogWindowTest, ReadsWithoutHoldingUpTheWindowAndShowsTheNewestRows) {
    // More events than the table shows.
    std::string lines;
    const TimePoint start = now - 20h;
    const std::size_t count = EventLogWindow::kMaxRows + 500;
    for (std::size_t i = 0; i < count; ++i) {
        lines += formatEventLine(makeEvent(start + std::chrono::milliseconds(i * 100), "summary",
                                           "QX1", "Studio A")) +
                 "\n";
    }
    std::filesystem::remove_all(folder);
    write(dayFile(utcDay(start)), lines.substr(0, lines.size() / 2));
    write(dayFile(utcDay(start) + std::chrono::days(1)), lines.substr(lines.size() / 2));
    // The split may cut a line: that is two damaged lines at most, not more.
    auto w = std::make_unique<EventLogWindow>(folder);
    w->timeBox->setCurrentIndex(3);
    QSignalSpy read(w.get(), &EventLogWindow::readFinished);
    w->refresh();
    // refresh() came back at once; the rows come through the event loop.
    EXPECT_TRUE(w->busy());
    ASSERT_TRUE(read.wait(60000));
    EXPECT_FALSE(w->busy());
    EXPECT_EQ(static_cast<std::size_t>(w->model->rowCount()), EventLogWindow::kMaxRows);
    EXPECT_TRUE(w->status->text().startsWith(QStringLiteral("The newest")));
}

TEST_F(EventLogWindowTest, ClosingDuringAReadEndsItAndWaitsForIt) {
    std::string lines;
    for (int i = 0; i < 50000; ++i) {
        lines += formatEventLine(makeEvent(now - 1h, "summary")) + "\n";
    }
    write(dayFile(utcDay(now - 1h)), lines);
    for (int i = 0; i < 5; ++i) {
        auto w = std::make_unique<EventLogWindow>(folder);
        w->refresh();
        w->exportCsvTo(QString::fromStdString((root / "x.csv").string()));
        w.reset(); // stops and joins both threads; nothing reaches the window afterwards
        QCoreApplication::processEvents();
    }
}

// A picture for a person to look at, not a check. Run by hand:
//   QX_SHOTS_DIR=/some/folder test_event_log_window --gtest_also_run_disabled_tests
//       --gtest_filter='*Shot*'
TEST_F(EventLogWindowTest, DISABLED_Shot) {
    add(now - 4min, "summary", "QX1", "Studio A");
    add(now - 3min, "disconnected", "QX2", "Rack 2");
    add(now - 2min, "program", "", "", {{"what", "stopped"}});
    auto w = open();
    w->resize(980, 360);
    const QString dir = qEnvironmentVariable("QX_SHOTS_DIR", QStringLiteral("/tmp/qx-shots"));
    QDir().mkpath(dir);
    QTest::qWait(200);
    ASSERT_TRUE(w->grab().save(dir + QStringLiteral("/event-log.png")));
}

} // namespace
} // namespace qx::eventlog::test
