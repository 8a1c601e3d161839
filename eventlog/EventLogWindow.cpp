// SPDX-License-Identifier: GPL-3.0-or-later
#include "eventlog/EventLogWindow.h"

#include "eventlog/EventCsv.h"
#include "eventlog/EventText.h"
#include "eventlog/EventTime.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <deque>

namespace qx::eventlog {

namespace {

const QString kCaption = QStringLiteral("Event log");
constexpr int kFollowMs = 2000;

QString qText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QPushButton* makeButton(QWidget* parent, const QString& text, const QString& accessible,
                        const char* name) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAccessibleName(accessible);
    b->setAutoDefault(false);
    return b;
}

TimePoint timeOf(const QDateTime& t) {
    return TimePoint(std::chrono::milliseconds(t.toMSecsSinceEpoch()));
}

// The choices of the time box, in order.
enum TimeChoice { LastHour, LastDay, LastWeek, Everything, Between };

} // namespace

// --- the table -------------------------------------------------------------------------------

int EventTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(events_.size());
}

int EventTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant EventTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 ||
        static_cast<std::size_t>(index.row()) >= events_.size()) {
        return {};
    }
    const watch::Event& e = events_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        switch (index.column()) {
        case TimeColumn:
            return qText(formatLocal(e.time));
        case UnitColumn:
            return qText(unitShown(e));
        case KindColumn:
            return qText(e.kind);
        case DetailsColumn:
            return qText(eventDetails(e));
        default:
            return {};
        }
    }
    if (role == Qt::ToolTipRole && index.column() == UnitColumn && !e.serial.empty()) {
        return QStringLiteral("Serial number ") + qText(e.serial);
    }
    if (role == Qt::ForegroundRole &&
        (e.kind == watch::kind::kAlarmRaised || e.kind == watch::kind::kOver)) {
        return QColor(176, 0, 0);
    }
    return {};
}

QVariant EventTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case TimeColumn:
        return QStringLiteral("Time");
    case UnitColumn:
        return QStringLiteral("Unit");
    case KindColumn:
        return QStringLiteral("Kind");
    case DetailsColumn:
        return QStringLiteral("Details");
    default:
        return {};
    }
}

void EventTableModel::setEvents(std::vector<watch::Event> events) {
    beginResetModel();
    events_ = std::move(events);
    endResetModel();
}

void EventTableModel::append(std::vector<watch::Event> events, std::size_t maxRows) {
    if (events.empty()) {
        return;
    }
    if (events.size() > maxRows) {
        events.erase(events.begin(), events.end() - static_cast<std::ptrdiff_t>(maxRows));
    }
    const std::size_t over =
        events_.size() + events.size() > maxRows ? events_.size() + events.size() - maxRows : 0;
    if (over > 0) {
        beginRemoveRows({}, 0, static_cast<int>(over) - 1);
        events_.erase(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(over));
        endRemoveRows();
    }
    const int first = static_cast<int>(events_.size());
    beginInsertRows({}, first, first + static_cast<int>(events.size()) - 1);
    events_.insert(events_.end(), std::make_move_iterator(events.begin()),
                   std::make_move_iterator(events.end()));
    endInsertRows();
}

// --- the window ------------------------------------------------------------------------------

// What a read hands back to the window.
struct EventLogWindow::ReadResult {
    std::uint64_t generation = 0;
    bool follow = false;
    std::vector<watch::Event> events; // the newest kMaxRows that matched
    std::uint64_t matched = 0;
    std::map<std::string, std::string> units;
    ReadSummary summary;
};

EventLogWindow::EventLogWindow(std::filesystem::path folder, QWidget* parent)
    : QWidget(parent, Qt::Window), reader_(std::move(folder)) {
    setObjectName(QStringLiteral("eventLog"));
    setWindowTitle(kCaption);
    setAccessibleName(kCaption);
    resize(860, 480);

    model = new EventTableModel(this);
    table = new QTableView(this);
    table->setObjectName(QStringLiteral("eventTable"));
    table->setAccessibleName(QStringLiteral("Events"));
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setStretchLastSection(true);
    const int digit = table->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    table->setColumnWidth(EventTableModel::TimeColumn, digit * 22);
    table->setColumnWidth(EventTableModel::UnitColumn, digit * 18);
    table->setColumnWidth(EventTableModel::KindColumn, digit * 15);

    unitBox = new QComboBox(this);
    unitBox->setObjectName(QStringLiteral("unitFilter"));
    unitBox->setAccessibleName(QStringLiteral("Unit"));
    unitBox->addItem(QStringLiteral("All units"), QString());
    unitBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);

    kindBox = new QComboBox(this);
    kindBox->setObjectName(QStringLiteral("kindFilter"));
    kindBox->setAccessibleName(QStringLiteral("Kind"));
    kindBox->addItem(QStringLiteral("All kinds"), QStringList());
    kindBox->addItem(QStringLiteral("Alarms"),
                     QStringList{qText(std::string(watch::kind::kAlarmRaised)),
                                 qText(std::string(watch::kind::kAlarmCleared))});
    kindBox->addItem(QStringLiteral("Connections"),
                     QStringList{qText(std::string(watch::kind::kConnected)),
                                 qText(std::string(watch::kind::kDisconnected)),
                                 qText(std::string(watch::kind::kBootLoader))});
    kindBox->addItem(QStringLiteral("Updates"),
                     QStringList{qText(std::string(watch::kind::kUpdateStarted)),
                                 qText(std::string(watch::kind::kUpdateEnded))});
    kindBox->addItem(QStringLiteral("Settings changes"),
                     QStringList{qText(std::string(watch::kind::kSetting))});
    kindBox->addItem(QStringLiteral("Overs"),
                     QStringList{qText(std::string(watch::kind::kOver)),
                                 qText(std::string(watch::kind::kOverAcknowledged))});
    kindBox->addItem(QStringLiteral("Summaries"),
                     QStringList{qText(std::string(watch::kind::kSummary))});
    QStringList allButSummaries;
    for (const std::string_view k :
         {watch::kind::kAlarmRaised, watch::kind::kAlarmCleared, watch::kind::kConnected,
          watch::kind::kDisconnected, watch::kind::kBootLoader, watch::kind::kUpdateStarted,
          watch::kind::kUpdateEnded, watch::kind::kSetting, watch::kind::kOver,
          watch::kind::kOverAcknowledged, watch::kind::kProgram}) {
        allButSummaries.append(qText(std::string(k)));
    }
    kindBox->addItem(QStringLiteral("Everything but summaries"), allButSummaries);
    kindBox->addItem(QStringLiteral("Program"),
                     QStringList{qText(std::string(watch::kind::kProgram))});

    timeBox = new QComboBox(this);
    timeBox->setObjectName(QStringLiteral("timeFilter"));
    timeBox->setAccessibleName(QStringLiteral("Time"));
    timeBox->addItems({QStringLiteral("Last hour"), QStringLiteral("Last day"),
                       QStringLiteral("Last week"), QStringLiteral("Everything"),
                       QStringLiteral("Between")});
    timeBox->setCurrentIndex(LastDay);
    const QDateTime now = QDateTime::currentDateTime();
    fromEdit = new QDateTimeEdit(now.addDays(-1), this);
    fromEdit->setObjectName(QStringLiteral("fromTime"));
    fromEdit->setAccessibleName(QStringLiteral("From"));
    fromEdit->setCalendarPopup(true);
    fromEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    toEdit = new QDateTimeEdit(now.addSecs(3600), this);
    toEdit->setObjectName(QStringLiteral("toTime"));
    toEdit->setAccessibleName(QStringLiteral("To"));
    toEdit->setCalendarPopup(true);
    toEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));

    followBox = new QCheckBox(QStringLiteral("&Follow"), this);
    followBox->setObjectName(QStringLiteral("follow"));
    followBox->setAccessibleName(QStringLiteral("Follow new events"));
    followBox->setChecked(true);

    refreshButton = makeButton(this, QStringLiteral("&Refresh"),
                               QStringLiteral("Read the log again"), "refresh");
    exportButton = makeButton(this, QStringLiteral("Export &CSV..."),
                              QStringLiteral("Export the events shown as CSV"), "exportCsv");
    closeButton = makeButton(this, QStringLiteral("Close"), QStringLiteral("Close"), "close");
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("status"));
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* filters = new QHBoxLayout;
    const auto labelled = [this, filters](const QString& text, QWidget* w) {
        auto* label = new QLabel(text, this);
        label->setBuddy(w);
        filters->addWidget(label);
        filters->addWidget(w);
    };
    labelled(QStringLiteral("&Unit:"), unitBox);
    labelled(QStringLiteral("&Kind:"), kindBox);
    labelled(QStringLiteral("&Time:"), timeBox);
    filters->addWidget(fromEdit);
    filters->addWidget(new QLabel(QStringLiteral("to"), this));
    filters->addWidget(toEdit);
    filters->addStretch();
    filters->addWidget(followBox);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(status, 1);
    buttons->addWidget(refreshButton);
    buttons->addWidget(exportButton);
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(table, 1);
    layout->addLayout(buttons);

    followTimer_ = new QTimer(this);
    followTimer_->setInterval(kFollowMs);
    connect(followTimer_, &QTimer::timeout, this, &EventLogWindow::followTick);

    const auto filterChanged = [this] { refresh(); };
    connect(unitBox, &QComboBox::currentIndexChanged, this, filterChanged);
    connect(kindBox, &QComboBox::currentIndexChanged, this, filterChanged);
    connect(timeBox, &QComboBox::currentIndexChanged, this, [this] {
        timeChoiceChanged();
        refresh();
    });
    connect(fromEdit, &QDateTimeEdit::editingFinished, this, filterChanged);
    connect(toEdit, &QDateTimeEdit::editingFinished, this, filterChanged);
    connect(refreshButton, &QPushButton::clicked, this, &EventLogWindow::refresh);
    connect(exportButton, &QPushButton::clicked, this, &EventLogWindow::exportCsv);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    timeChoiceChanged();

    askSaveFileName = [](QWidget* owner, const QString& suggested) {
        return QFileDialog::getSaveFileName(owner, QStringLiteral("Export CSV"), suggested,
                                            QStringLiteral("CSV file (*.csv)"));
    };
}

EventLogWindow::~EventLogWindow() {
    readStop_.request_stop();
    exportStop_.request_stop();
    joinReader();
    if (exportThread_.joinable()) {
        exportThread_.join();
    }
}

void EventLogWindow::joinReader() {
    if (readThread_.joinable()) {
        readThread_.join();
    }
}

void EventLogWindow::timeChoiceChanged() {
    const bool between = timeBox->currentIndex() == Between;
    fromEdit->setEnabled(between);
    toEdit->setEnabled(between);
}

EventFilter EventLogWindow::currentFilter() const {
    EventFilter filter;
    filter.unit = unitBox->currentData().toString().toStdString();
    for (const QString& k : kindBox->currentData().toStringList()) {
        filter.kinds.push_back(k.toStdString());
    }
    const TimePoint now = Clock::now();
    switch (timeBox->currentIndex()) {
    case LastHour:
        filter.since = now - std::chrono::hours(1);
        break;
    case LastDay:
        filter.since = now - std::chrono::days(1);
        break;
    case LastWeek:
        filter.since = now - std::chrono::weeks(1);
        break;
    case Between:
        filter.since = timeOf(fromEdit->dateTime());
        filter.until = timeOf(toEdit->dateTime());
        break;
    default:
        break;
    }
    return filter;
}

bool EventLogWindow::busy() const {
    return reading_ || exporting_;
}

void EventLogWindow::refresh() {
    startRead(false);
}

void EventLogWindow::followTick() {
    if (!reading_ && followBox->isChecked() && end_) {
        startRead(true);
    }
}

void EventLogWindow::startRead(bool follow) {
    // A newer read replaces one under way.
    readStop_.request_stop();
    joinReader();
    readStop_ = std::stop_source();
    reading_ = true;
    const std::uint64_t generation = ++generation_;
    const EventFilter wanted = currentFilter();
    // Only the times go to the reader: every unit in them is collected for the unit box.
    EventFilter times;
    times.since = wanted.since;
    times.until = wanted.until;
    ReadOptions options;
    options.stop = readStop_.get_token();
    if (follow) {
        options.from = end_;
    } else {
        status->setText(QStringLiteral("Reading the log..."));
    }
    options.progress = [this, follow, generation](std::uint64_t done, std::uint64_t total) {
        if (follow || total == 0) {
            return;
        }
        {
            std::lock_guard lock(mailbox_.mutex);
            mailbox_.progress = {generation, static_cast<int>(done * 100 / total)};
        }
        QMetaObject::invokeMethod(this, "collect", Qt::QueuedConnection);
    };
    // The thread touches nothing of the window's but the mailbox; the window waits for it
    // before it goes.
    readThread_ = std::thread([this, reader = reader_, wanted, times, options, generation, follow] {
        auto result = std::make_shared<ReadResult>();
        result->generation = generation;
        result->follow = follow;
        std::deque<watch::Event> newest;
        result->summary = reader.read(
            times,
            [&](const watch::Event& e, std::string_view) {
                if (!e.serial.empty()) {
                    result->units[e.serial] = e.unit;
                }
                if (!wanted.matchesKind(e) || !wanted.matchesUnit(e)) {
                    return true;
                }
                ++result->matched;
                newest.push_back(e);
                if (newest.size() > kMaxRows) {
                    newest.pop_front();
                }
                return true;
            },
            options);
        result->events.assign(std::make_move_iterator(newest.begin()),
                              std::make_move_iterator(newest.end()));
        {
            std::lock_guard lock(mailbox_.mutex);
            mailbox_.reads.push_back(std::move(result));
        }
        QMetaObject::invokeMethod(this, "collect", Qt::QueuedConnection);
    });
}

void EventLogWindow::collect() {
    std::vector<std::shared_ptr<ReadResult>> reads;
    std::optional<CsvExport> exported;
    std::optional<std::pair<std::uint64_t, int>> progress;
    {
        std::lock_guard lock(mailbox_.mutex);
        reads.swap(mailbox_.reads);
        exported.swap(mailbox_.exported);
        progress.swap(mailbox_.progress);
    }
    if (progress && reading_ && progress->first == generation_) {
        status->setText(QStringLiteral("Reading the log... %1%").arg(progress->second));
    }
    for (std::shared_ptr<ReadResult>& r : reads) {
        readDone(std::move(r));
    }
    if (exported) {
        exportDone(*exported);
    }
}

void EventLogWindow::readDone(std::shared_ptr<ReadResult> result) {
    if (result->generation != generation_) {
        return; // a newer read was started since
    }
    reading_ = false;
    if (result->summary.stopped) {
        return;
    }
    if (result->summary.end) {
        end_ = result->summary.end;
    } else if (!result->follow) {
        // Nothing to read yet: follow from today's file on, once there is one.
        end_ = LogPosition{utcDay(Clock::now()), 0};
    }
    addUnits(result->units);
    QScrollBar* bar = table->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QString note;
    if (result->summary.damaged > 0) {
        note = QStringLiteral("; %1 damaged lines skipped").arg(result->summary.damaged);
    }
    if (!result->summary.problems.empty()) {
        note += QStringLiteral("; ") + qText(result->summary.problems.front());
    }
    if (result->follow) {
        const int added = static_cast<int>(result->events.size());
        model->append(std::move(result->events), kMaxRows);
        if (added > 0) {
            if (atEnd) {
                table->scrollToBottom();
            }
            status->setText(QStringLiteral("%1 events").arg(model->rowCount()) + note);
        }
        emit followed(added);
        return;
    }
    model->setEvents(std::move(result->events));
    table->scrollToBottom();
    const int rows = model->rowCount();
    QString text = result->matched > static_cast<std::uint64_t>(rows)
                       ? QStringLiteral("The newest %1 of %2 events")
                             .arg(QLocale().toString(rows),
                                  QLocale().toString(static_cast<qulonglong>(result->matched)))
                       : QStringLiteral("%1 events").arg(QLocale().toString(rows));
    status->setText(text + note);
    emit readFinished(rows);
}

void EventLogWindow::addUnits(const std::map<std::string, std::string>& units) {
    bool added = false;
    for (const auto& [serial, name] : units) {
        auto [it, fresh] = units_.insert({serial, name});
        if (!fresh && it->second != name && !name.empty()) {
            it->second = name;
        }
        added = added || fresh;
    }
    if (!added) {
        return;
    }
    const QSignalBlocker quiet(unitBox);
    const QString chosen = unitBox->currentData().toString();
    while (unitBox->count() > 1) {
        unitBox->removeItem(1);
    }
    for (const auto& [serial, name] : units_) {
        const QString text =
            name.empty() || name == serial
                ? qText(serial)
                : qText(name) + QStringLiteral(" (") + qText(serial) + QStringLiteral(")");
        unitBox->addItem(text, qText(serial));
    }
    unitBox->setCurrentIndex(std::max(0, unitBox->findData(chosen)));
}

bool EventLogWindow::exportCsv() {
    const QString suggested =
        QStringLiteral("events-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate));
    const QString path = askSaveFileName ? askSaveFileName(this, suggested) : QString();
    if (path.isEmpty()) {
        return false;
    }
    return exportCsvTo(path);
}

bool EventLogWindow::exportCsvTo(const QString& path) {
    if (exporting_) {
        return false;
    }
    if (exportThread_.joinable()) {
        exportThread_.join(); // ended already: its result has been shown
    }
    exporting_ = true;
    exportButton->setEnabled(false);
    status->setText(QStringLiteral("Exporting..."));
    const EventFilter filter = currentFilter();
    exportStop_ = std::stop_source();
    const std::filesystem::path to = path.toStdU16String();
    exportThread_ =
        std::thread([this, reader = reader_, filter, to, stop = exportStop_.get_token()] {
            CsvExport done = eventlog::exportCsv(reader, filter, to, stop);
            {
                std::lock_guard lock(mailbox_.mutex);
                mailbox_.exported = std::move(done);
            }
            QMetaObject::invokeMethod(this, "collect", Qt::QueuedConnection);
        });
    return true;
}

void EventLogWindow::exportDone(const CsvExport& done) {
    exporting_ = false;
    exportButton->setEnabled(true);
    const QString message = done.ok ? QStringLiteral("%1 events exported").arg(done.rows)
                                    : QStringLiteral("Export failed: ") + qText(done.error);
    status->setText(message);
    emit exportFinished(done.ok, message);
}

void EventLogWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (!shownOnce_) {
        shownOnce_ = true;
        refresh();
    }
    followTimer_->start();
}

void EventLogWindow::hideEvent(QHideEvent* e) {
    followTimer_->stop();
    QWidget::hideEvent(e);
}

} // namespace qx::eventlog
