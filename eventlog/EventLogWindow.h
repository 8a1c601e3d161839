// SPDX-License-Identifier: GPL-3.0-or-later
// The "Event log" window: the log's events in a table (time, unit, kind, details), filtered by
// unit, kind and time, following new entries as they are written, and exported as CSV.
//
// The log is read on a thread of the window's own (a year's log is hundreds of megabytes), and
// the rows reach the window by queued calls: the window never waits on the disk. At most
// kMaxRows rows are shown, the newest; the export writes every event that matches.
#pragma once

#include "eventlog/EventCsv.h"
#include "eventlog/EventReader.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QPushButton;
class QTableView;
class QTimer;

namespace qx::eventlog {

// The rows of the table, oldest first.
class EventTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn, UnitColumn, KindColumn, DetailsColumn, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setEvents(std::vector<watch::Event> events);
    // Adds newer events at the end, dropping the oldest past `maxRows`.
    void append(std::vector<watch::Event> events, std::size_t maxRows);
    const std::vector<watch::Event>& events() const { return events_; }

private:
    std::vector<watch::Event> events_;
};

class EventLogWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxRows = 100000;

    // `folder`: the log's folder (`<state folder>/events`).
    explicit EventLogWindow(std::filesystem::path folder, QWidget* parent = nullptr);
    // Stops a read or export under way and waits for its thread.
    ~EventLogWindow() override;

    // Reads the log again with the filters shown (on its thread; readFinished tells the end).
    void refresh();
    // Asks for a file name (askSaveFileName), then exports; false when cancelled.
    bool exportCsv();
    // Writes the events the filters let through to `path` (on its thread; exportFinished tells
    // the end). False when an export already runs.
    bool exportCsvTo(const QString& path);

    // The filter the controls describe, times as of now.
    EventFilter currentFilter() const;
    // A read or an export is under way.
    bool busy() const;

    // Asks the operator where to save; empty when cancelled. A save dialog unless replaced
    // (tests drive it without one).
    std::function<QString(QWidget* owner, const QString& suggested)> askSaveFileName;

    EventTableModel* model = nullptr;
    QTableView* table = nullptr;
    QComboBox* unitBox = nullptr;
    QComboBox* kindBox = nullptr;
    QComboBox* timeBox = nullptr;
    QDateTimeEdit* fromEdit = nullptr;
    QDateTimeEdit* toEdit = nullptr;
    QCheckBox* followBox = nullptr;
    QPushButton* refreshButton = nullptr;
    QPushButton* exportButton = nullptr;
    QPushButton* closeButton = nullptr;
    QLabel* status = nullptr;

signals:
    // A full read has ended with `rows` rows shown.
    void readFinished(int rows);
    // New events were added at the end by following the log.
    void followed(int added);
    void exportFinished(bool ok, const QString& message);

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    struct ReadResult;

    // Takes what the threads left in the mailbox (queued to the window's thread by name, so
    // that no functor made on another thread is run or freed here).
    Q_INVOKABLE void collect();
    void startRead(bool follow);
    void exportDone(const CsvExport& done);
    void readDone(std::shared_ptr<ReadResult> result);
    void followTick();
    void timeChoiceChanged();
    void addUnits(const std::map<std::string, std::string>& units);
    void joinReader();

    EventReader reader_;
    QTimer* followTimer_ = nullptr;
    // The end of the last read, where following goes on; none before a first read.
    std::optional<LogPosition> end_;
    // Counts reads: a result of an earlier one than the newest is dropped.
    std::uint64_t generation_ = 0;
    bool reading_ = false;
    bool exporting_ = false;
    bool shownOnce_ = false;
    std::map<std::string, std::string> units_; // serial -> name, every unit seen
    // What the threads hand to the window; they touch nothing else of it.
    struct Mailbox {
        std::mutex mutex;
        std::vector<std::shared_ptr<ReadResult>> reads;
        std::optional<CsvExport> exported;
        std::optional<std::pair<std::uint64_t, int>> progress; // read generation, percent
    } mailbox_;
    std::stop_source readStop_;
    std::thread readThread_;
    std::stop_source exportStop_;
    std::thread exportThread_;
};

} // namespace qx::eventlog
