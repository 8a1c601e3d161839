// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/uu.h"

#include "update/JournalDialog.h"
#include "update/RecoveryOffer.h"
#include "update/UnfinishedUpdate.h"
#include "update/UpdateLog.h"
#include "update/UpdatePackage.h"
#include "update/UpdateRun.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace qx {

namespace {

const QString kUpdateCaption = QStringLiteral("Update firmware");
const QString kUnitAnswerCaption = QStringLiteral("Обновление программного обеспечения");

constexpr int kWidth = 147;
constexpr int kHeight = 317; // to the bottom of "Update history"
constexpr int kFirstTickMs = 2000;
constexpr int kTickMs = 200;
constexpr int kClosingTickMs = 100;
// How long the window waits after the finish request for the unit to say whether the update
// took; the unit checks its images before it answers.
constexpr std::chrono::milliseconds kVerdictWait{5000};
// How often a background wait looks at its stop request while the link has not taken its post.
constexpr std::chrono::milliseconds kStopPoll{50};

const QColor kBackground(0xE9, 0xE9, 0xE9);
const QColor kBarError(0xD0, 0x21, 0x21);

QFont windowFont() {
    const QString family = QFontDatabase::families().contains(QStringLiteral("Tahoma"))
                               ? QStringLiteral("Tahoma")
                               : QStringLiteral("DejaVu Sans");
    QFont font(family, 8, QFont::Bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QLineEdit* deviceField(QWidget* parent, int top) {
    auto* field = new QLineEdit(parent);
    field->setGeometry(6, top, 114, 21);
    field->setReadOnly(true);
    field->setAlignment(Qt::AlignCenter);
    return field;
}

// Labels size themselves to their text, like the rest of the window's captions.
QLabel* caption(QWidget* parent, const QString& text, int top) {
    auto* label = new QLabel(text, parent);
    label->move(6, top);
    label->adjustSize();
    return label;
}

} // namespace

class Tfu::Private {
public:
    Private(Tfu* window, LinkState& l, Dialogs& dlg) : q(window), link(&l), dialogs(dlg) {}

    void buildControls();
    void selectClick();
    // The update run of the package `fileName`, whose bytes are `file`.
    void startRun(const QString& fileName, PackageFileRead file);
    void refuse(const PackageReadResult& read);
    // A run that did not start: gives the transfer back and opens the buttons again.
    void notStarted();
    void runAgain();
    void showHistory();
    // Offers the unfinished update of a unit in its boot loader, or takes the offer away.
    void refreshOffer(bool bootUnit);
    void relayout();
    void noteJournalTrouble(const std::string& error);
    void defClick();
    void cancelClick();
    void tmrbTimer();
    void formShow();

    // What the other threads hand to the user interface thread, in the order they happened.
    struct News {
        enum Kind { Progress, RunEnded, ResetTaken, LeaveTaken, Verdict, ResetDone } kind;
        int value; // percent, RunOutcome, or the verdict (1 success, 0 failure)
    };
    // Any thread: queues `news` and wakes the user interface thread.
    void deliver(News news);
    // User interface thread: acts on everything queued so far.
    void takeNews();

    // Runs `work` on the background thread; it reports its end through deliver().
    void startJob(std::function<void(std::stop_token)> work);
    // On the background thread: waits until the worker has sent the post of `ticket` (or until
    // `giveUpAfter`), then delivers `done`.
    void awaitTaken(LinkState::Ticket ticket, News done,
                    std::chrono::milliseconds giveUpAfter = std::chrono::milliseconds::max());
    // Closes the window as one of its own three ways out (the "Close" request sent, the unit's
    // verdict shown), past the check that turns the Escape key and the desktop's close into
    // "Close".
    void closeWindow();
    // A run, a reset or a leave request is under way: nothing else may start.
    bool busy() const { return transferring || resetWaiting || leaving; }
    // A transfer this window did not start (a command-line request) runs on the link: says so
    // and returns true.
    bool refusedForOtherTransfer();
    // Takes the link's transfer for a run of this window; says so and returns false when
    // another one runs.
    bool claimTransfer();
    void endJob();
    void runEnded(RunOutcome outcome);
    void showVerdict(bool success);
    // A verdict that arrives while a run is under way ends the run's wait for it.
    void verdictArrived(bool success);
    void verdictMissing();
    void showResetDone();
    void setBarError(bool error);
    void setTransferring(bool on);
    void showSelectHint();

    Tfu* q;
    // Changed only while no job runs (see Tfu::showLink), so the jobs' threads read it safely.
    LinkState* link;
    Dialogs& dialogs;
    QFrame* Panel1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* vers = nullptr;
    QPalette barNormal;
    std::unique_ptr<UpdateLog> log = std::make_unique<UpdateLog>(nullptr, nullptr);
    std::optional<state::JournalEntry> offered;
    std::uint64_t announcedId = 0;
    JournalDialog* journalDialog = nullptr;

    // Only touched on the user interface thread.
    bool transferring = false;
    // Held from the moment a chosen package is about to be sent until the run has ended.
    std::optional<TransferClaim> claim;
    bool resetWaiting = false;
    bool leaving = false;           // "Close" waits for its leave-update request to go out
    bool closingFromInside = false; // closeWindow() is under way
    // Counts the showings, so that the end of a leave wait closes only the showing it began in.
    int showing = 0;
    // The run has sent its finish request and waits for the unit's verdict; a verdict that
    // came in before the run's end was reported is kept until then.
    bool awaitingVerdict = false;
    std::optional<bool> earlyVerdict;
    QTimer* verdictTimer = nullptr;
    // The open dialog's start, and the hint on "Select file" while it waits for a boot loader.
    QString packageStart;
    QString bootLoaderHow = QStringLiteral("start it in its boot loader as its manual says, and "
                                           "\"Select file\" comes on.");
    bool bootUnit = false; // the last scan that opened a unit found it in its boot loader
    std::jthread job;

    std::mutex newsMutex;
    std::deque<News> news; // guarded by newsMutex
};

void Tfu::Private::deliver(News item) {
    {
        std::lock_guard lock(newsMutex);
        news.push_back(item);
    }
    // Queued to the window's thread; the data travels through the lock above, not the event.
    emit q->newsArrived(QPrivateSignal());
}

void Tfu::Private::takeNews() {
    for (;;) {
        News item{};
        {
            std::lock_guard lock(newsMutex);
            if (news.empty()) {
                return;
            }
            item = news.front();
            news.pop_front();
        }
        // A message box below runs a nested event loop, which may take later news meanwhile;
        // the order stays the order of delivery.
        switch (item.kind) {
        case News::Progress:
            q->pb->setValue(item.value);
            break;
        case News::RunEnded:
            runEnded(static_cast<RunOutcome>(item.value));
            break;
        case News::ResetTaken:
            endJob();
            resetWaiting = false;
            break;
        case News::LeaveTaken:
            endJob();
            leaving = false;
            // The window may have closed meanwhile (the unit's verdict) and been opened again.
            if (item.value == showing) {
                closeWindow();
            }
            break;
        case News::Verdict:
            verdictArrived(item.value != 0);
            break;
        case News::ResetDone:
            showResetDone();
            break;
        }
    }
}

void Tfu::Private::buildControls() {
    q->setWindowTitle(QStringLiteral("Update FW"));
    q->setFont(windowFont());
    QPalette pal = q->palette();
    pal.setColor(QPalette::Window, kBackground);
    q->setPalette(pal);
    q->setAutoFillBackground(true);

    q->cancel = new QPushButton(QStringLiteral("Close"), q);
    q->cancel->setGeometry(10, 10, 127, 25);
    q->cancel->setAutoDefault(false);

    Panel1 = new QFrame(q);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(10, 41, 126, 150);
    Label2 = caption(Panel1, QStringLiteral("Device"), 6);
    q->dev_name = deviceField(Panel1, 23);
    Label5 = caption(Panel1, QStringLiteral("Serial"), 56);
    q->dev_serial = deviceField(Panel1, 73);
    vers = caption(Panel1, QStringLiteral("Version"), 105);
    q->dev_version = deviceField(Panel1, 123);

    q->pb = new QProgressBar(q);
    q->pb->setGeometry(10, 197, 127, 17);
    q->pb->setRange(0, 100);
    q->pb->setValue(0);
    q->pb->setTextVisible(false);
    barNormal = q->pb->palette();

    q->select = new QPushButton(QStringLiteral("Select file"), q);
    q->select->setGeometry(10, 220, 127, 25);
    q->select->setAutoDefault(false);
    q->select->setEnabled(false);

    q->def = new QPushButton(QStringLiteral("Set to default"), q);
    q->def->setGeometry(10, 251, 127, 25);
    q->def->setAutoDefault(false);

    QWidget::setTabOrder(q->select, q->dev_name);
    QWidget::setTabOrder(q->dev_name, q->dev_serial);
    QWidget::setTabOrder(q->dev_serial, q->dev_version);
    q->hist = new QPushButton(QStringLiteral("Update history"), q);
    q->hist->setGeometry(10, 282, 127, 25);
    q->hist->setAutoDefault(false);
    q->offer = new RecoveryOffer(q);
    q->setFixedSize(kWidth, kHeight);

    QWidget::setTabOrder(q->dev_version, q->cancel);
    QWidget::setTabOrder(q->cancel, q->def);
    QWidget::setTabOrder(q->def, q->hist);
    QWidget::setTabOrder(q->hist, q->offer->run);

    q->tmrb = new QTimer(q);
    q->tmrb->setInterval(kFirstTickMs);
    verdictTimer = new QTimer(q);
    verdictTimer->setSingleShot(true);
    verdictTimer->setInterval(kVerdictWait);
    connect(verdictTimer, &QTimer::timeout, q, [this] { verdictMissing(); });

    connect(q->cancel, &QPushButton::clicked, q, [this] { cancelClick(); });
    connect(q->select, &QPushButton::clicked, q, [this] { selectClick(); });
    connect(q->def, &QPushButton::clicked, q, [this] { defClick(); });
    connect(q->hist, &QPushButton::clicked, q, [this] { showHistory(); });
    connect(q->offer->run, &QPushButton::clicked, q, [this] { runAgain(); });
    connect(q->tmrb, &QTimer::timeout, q, [this] { tmrbTimer(); });
    connect(
        q, &Tfu::newsArrived, q, [this] { takeNews(); }, Qt::QueuedConnection);
    q->tmrb->start();
    showSelectHint();
}

void Tfu::Private::showSelectHint() {
    const QString hint = q->selectHint();
    if (q->select->toolTip() != hint) {
        q->select->setToolTip(hint);
    }
}

void Tfu::Private::setBarError(bool error) {
    if (!error) {
        q->pb->setPalette(barNormal);
        return;
    }
    QPalette pal = barNormal;
    pal.setColor(QPalette::Highlight, kBarError);
    q->pb->setPalette(pal);
}

void Tfu::Private::setTransferring(bool on) {
    transferring = on;
    if (!on) {
        claim.reset();
    }
    q->cancel->setEnabled(!on);
}

bool Tfu::Private::refusedForOtherTransfer() {
    if (claim || !link->transferRunning) {
        return false;
    }
    dialogs.message(q, Dialogs::Icon::Error, kUpdateCaption,
                    QStringLiteral("A firmware update is already running."), QMessageBox::Ok);
    return true;
}

bool Tfu::Private::claimTransfer() {
    claim = TransferClaim::take(*link);
    if (claim) {
        return true;
    }
    dialogs.message(q, Dialogs::Icon::Error, kUpdateCaption,
                    QStringLiteral("A firmware update is already running. The package was not "
                                   "sent to the unit."),
                    QMessageBox::Ok);
    return false;
}

void Tfu::Private::notStarted() {
    claim.reset();
    q->select->setEnabled(true);
    q->def->setEnabled(true);
    link->updateInProgress = false;
}

void Tfu::Private::selectClick() {
    if (busy() || refusedForOtherTransfer()) {
        return;
    }
    // Disabling the focused button would hand the focus to the next field, which then shows its
    // text selected for the whole run; the window itself holds it instead.
    q->setFocus(Qt::OtherFocusReason);
    q->select->setEnabled(false);
    q->def->setEnabled(false);
    const QString fileName =
        dialogs.openFileName(q, packageStart, QStringLiteral("Update File (*.orbu)"));
    if (fileName.isEmpty()) {
        q->select->setEnabled(true);
        q->def->setEnabled(true);
        link->updateInProgress = false;
        return;
    }
    startRun(fileName, readPackageFileBytes(
                           std::filesystem::path(QFile::encodeName(fileName).toStdString())));
}

void Tfu::Private::refuse(const PackageReadResult& read) {
    const bool mismatch = read.verdict == PackageVerdict::NameMismatch;
    if (mismatch) {
        setBarError(true);
    }
    dialogs.message(q, Dialogs::Icon::Error, kUpdateCaption, QString::fromStdString(read.message),
                    QMessageBox::Ok);
    if (mismatch) {
        setBarError(false);
    }
    notStarted();
}

void Tfu::Private::startRun(const QString& fileName, PackageFileRead file) {
    // Only now, with the file chosen, is the transfer taken: the dialogs before this point run
    // the event loop, and a command handed to the program may have started one meanwhile.
    if (!claimTransfer()) {
        q->select->setEnabled(true);
        q->def->setEnabled(true);
        return;
    }
    link->updateInProgress = true;
    PackageReadResult read;
    if (file.ok) {
        read = readUpdatePackage(file.bytes, q->dev_name->text().toStdString());
    } else {
        read.verdict = PackageVerdict::Unreadable;
        read.message = file.message;
    }
    if (read.verdict != PackageVerdict::Accepted) {
        refuse(read);
        return;
    }

    const std::string journalError =
        log->begin({q->dev_serial->text().toStdString(), q->dev_name->text().toStdString(),
                    q->dev_version->text().toStdString()},
                   QFileInfo(fileName).absoluteFilePath().toStdString(), file.bytes, read.package);
    if (!journalError.empty()) {
        const auto answer = dialogs.message(
            q, Dialogs::Icon::Warning, kUpdateCaption,
            QStringLiteral("No update journal can be kept: %1.\n\nWithout it, an update that is "
                           "cut off cannot be offered again. Go on with the update?")
                .arg(QString::fromStdString(journalError)),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            log->drop();
            notStarted();
            return;
        }
    }

    setBarError(false);
    q->pb->setValue(0);
    earlyVerdict.reset();
    q->offer->hide();
    relayout();
    setTransferring(true);
    auto images = std::make_shared<UpdateImages>(
        UpdateImages{std::move(read.package.flash), std::move(read.package.eeprom)});
    startJob([this, images](std::stop_token stop) {
        UpdateRun run(*link);
        const RunOutcome outcome = run.run(
            *images,
            [this](int percent) {
                log->blockDone();
                deliver({News::Progress, percent});
            },
            stop);
        deliver({News::RunEnded, static_cast<int>(outcome)});
    });
}

void Tfu::Private::runAgain() {
    if (busy() || !offered || refusedForOtherTransfer()) {
        return;
    }
    const state::JournalEntry entry = *offered;
    const QString path = QString::fromStdString(entry.packagePath);
    PackageFileRead file = readPackageFileBytes(entry.packagePath);
    const QString changed = packageChangeReason(entry, file.ok, file.bytes);
    if (!changed.isEmpty()) {
        dialogs.message(q, Dialogs::Icon::Warning, kUpdateCaption,
                        changed + QStringLiteral(" Choose the package to write."), QMessageBox::Ok);
        selectClick();
        return;
    }
    q->setFocus(Qt::OtherFocusReason);
    q->select->setEnabled(false);
    q->def->setEnabled(false);
    startRun(path, std::move(file));
}

void Tfu::Private::showHistory() {
    if (journalDialog == nullptr) {
        journalDialog = new JournalDialog(q);
    }
    journalDialog->show(log->entries(), log->currentId());
}

void Tfu::Private::refreshOffer(bool bootUnit) {
    offered = bootUnit ? log->unfinishedFor(q->dev_serial->text().toStdString()) : std::nullopt;
    if (!offered) {
        q->offer->hide();
        relayout();
        return;
    }
    q->offer->offer(recoveryText(*offered));
    q->offer->show();
    relayout();
    if (offered->id != announcedId) {
        announcedId = offered->id;
        emit q->recoveryOffered();
    }
}

void Tfu::Private::relayout() {
    int height = kHeight;
    if (q->offer->isVisibleTo(q)) {
        q->offer->move(10, kHeight);
        height += q->offer->height() + 10;
    }
    q->setFixedSize(kWidth, height);
}

void Tfu::Private::noteJournalTrouble(const std::string& error) {
    if (error.empty()) {
        return;
    }
    dialogs.message(q, Dialogs::Icon::Warning, kUpdateCaption,
                    QStringLiteral("The update journal could not be written: %1.")
                        .arg(QString::fromStdString(error)),
                    QMessageBox::Ok);
}

void Tfu::Private::runEnded(RunOutcome outcome) {
    endJob();
    if (outcome == RunOutcome::Completed) {
        // Every block and the finish request went out; whether the update took is the unit's
        // to say. The window stays locked until it does or the wait runs out.
        q->pb->setValue(0);
        awaitingVerdict = true;
        if (earlyVerdict) {
            verdictArrived(*earlyVerdict);
        } else {
            verdictTimer->start();
        }
        return;
    }
    setTransferring(false);
    switch (outcome) {
    case RunOutcome::Completed:
        return;
    case RunOutcome::FlashFailed:
    case RunOutcome::EepromFailed:
    case RunOutcome::TooLarge:
    case RunOutcome::FinishFailed: {
        const QString text = outcome == RunOutcome::EepromFailed
                                 ? QStringLiteral("Update failed. Try again.")
                                 : QStringLiteral("Update failed. Try again..");
        const std::string journalError = log->end(state::UpdateState::Failed, text.toStdString());
        dialogs.message(q, Dialogs::Icon::Error, kUpdateCaption, text, QMessageBox::Ok);
        noteJournalTrouble(journalError);
        q->select->setEnabled(true);
        q->def->setEnabled(true);
        link->updateInProgress = false;
        refreshOffer(link->bootMode && link->connected);
        return;
    }
    case RunOutcome::Stopped:
        return;
    }
}

void Tfu::Private::verdictArrived(bool success) {
    if (transferring && !awaitingVerdict) {
        earlyVerdict = success; // the run's end is still on its way
        return;
    }
    std::string journalError;
    if (awaitingVerdict) {
        verdictTimer->stop();
        awaitingVerdict = false;
        earlyVerdict.reset();
        setTransferring(false);
        journalError =
            log->end(success ? state::UpdateState::Completed : state::UpdateState::Refused);
    }
    noteJournalTrouble(journalError);
    showVerdict(success);
}

void Tfu::Private::verdictMissing() {
    if (!awaitingVerdict) {
        return;
    }
    awaitingVerdict = false;
    setTransferring(false);
    const std::string journalError = log->end(state::UpdateState::Unconfirmed);
    // Sent is not written: without the unit's word the update is not reported as done, and the
    // window stays open for another try.
    dialogs.message(q, Dialogs::Icon::Warning, kUpdateCaption,
                    QStringLiteral("Every block was sent, but the unit did not confirm the "
                                   "update. Check the unit and run the update again."),
                    QMessageBox::Ok);
    noteJournalTrouble(journalError);
    q->select->setEnabled(true);
    q->def->setEnabled(true);
    link->updateInProgress = false;
    refreshOffer(link->bootMode && link->connected);
}

void Tfu::Private::defClick() {
    if (busy() || refusedForOtherTransfer()) {
        return;
    }
    // Asked as the main window's "Ddefault" asks: the unit's settings are lost either way. While
    // the question is up a scan may disable the button, or another transfer start.
    if (!dialogs.confirmDefaults(q) || !q->def->isEnabled() || busy() ||
        refusedForOtherTransfer()) {
        return;
    }
    // Until the worker has taken the reset, nothing else may be posted over it, the keep-alive
    // included; the answer, if any, arrives through resetAnswer.
    resetWaiting = true;
    const LinkState::Ticket ticket = link->post(cmd::kResetDefaults);
    awaitTaken(ticket, {News::ResetTaken, 0});
}

void Tfu::Private::cancelClick() {
    // A command's transfer would be cut off by the leave-update request.
    if (busy() || refusedForOtherTransfer()) {
        return;
    }
    link->updateInProgress = false;
    // The main window reconnects as soon as this window has closed, and closing the unit under
    // the send would lose the request, leaving the unit in its boot loader: the window closes
    // once the worker has sent it (or has had a second to).
    leaving = true;
    const LinkState::Ticket ticket = link->post(cmd::kLeaveUpdate);
    awaitTaken(ticket, {News::LeaveTaken, showing}, std::chrono::seconds(1));
}

void Tfu::Private::tmrbTimer() {
    if (link->updateFinished) {
        closeWindow();
        return;
    }
    q->tmrb->setInterval(kTickMs);
    if (!q->isVisible()) {
        // Nothing is due while hidden: the timer rests until the window is shown or the unit's
        // verdict arrives, rather than waking the program five times a second for nothing.
        q->tmrb->stop();
        return;
    }
    // Nor while a command's transfer runs: a post overwrites a block request not yet taken.
    if (!link->updateInProgress && !link->transferRunning && !busy()) {
        link->post(cmd::kKeepAlive);
    }
}

void Tfu::Private::closeWindow() {
    closingFromInside = true;
    q->close();
    closingFromInside = false;
}

void Tfu::Private::formShow() {
    ++showing;
    link->updateFinished = false;
    link->updateInProgress = false;
    setBarError(false);
    q->pb->setValue(0);
}

void Tfu::Private::startJob(std::function<void(std::stop_token)> work) {
    job = std::jthread(std::move(work));
}

void Tfu::Private::awaitTaken(LinkState::Ticket ticket, News done,
                              std::chrono::milliseconds giveUpAfter) {
    startJob([this, ticket, done, giveUpAfter](std::stop_token stop) {
        using namespace std::chrono;
        const auto start = steady_clock::now();
        // Compared in milliseconds: the default of milliseconds::max() would overflow in the
        // clock's own nanoseconds.
        while (!link->waitTaken(ticket, kStopPoll) && !stop.stop_requested() &&
               duration_cast<milliseconds>(steady_clock::now() - start) < giveUpAfter) {
        }
        deliver(done);
    });
}

void Tfu::Private::endJob() {
    // The job's last act was to queue this call, so the join returns at once.
    if (job.joinable()) {
        job.join();
    }
}

void Tfu::Private::showVerdict(bool success) {
    dialogs.message(q, Dialogs::Icon::Information, kUnitAnswerCaption,
                    success ? QStringLiteral("Обновление завершено успешно!")
                            : QStringLiteral("Ошибка в процессе обновления!\r\nПовторите попытку"),
                    QMessageBox::Ok);
    link->updateFinished = true;
    link->updateInProgress = false;
    q->tmrb->start(kClosingTickMs);
}

void Tfu::Private::showResetDone() {
    dialogs.message(q, Dialogs::Icon::Information, kUnitAnswerCaption,
                    QStringLiteral("Настройки сброшены!"), QMessageBox::Ok);
}

bool Tfu::showLink(LinkState& link) {
    if (d->link == &link) {
        return true;
    }
    // A run or a wait in progress belongs to the unit it started on.
    if (busy()) {
        return false;
    }
    d->link = &link;
    return true;
}

LinkState& Tfu::shownLink() const {
    return *d->link;
}

void Tfu::setUnitName(const QString& name) {
    const QString caption = QStringLiteral("Update FW");
    setWindowTitle(name.isEmpty() ? caption : caption + QStringLiteral(" \u2014 ") + name);
}

Tfu::Tfu(LinkState& link, Dialogs& dialogs, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      d(new Private(this, link, dialogs)) {
    d->buildControls();
}

Tfu::~Tfu() {
    // A run left behind stops between two requests; its queued calls die with this object.
    if (d->job.joinable()) {
        d->job.request_stop();
        d->job.join();
    }
    delete d;
}

void Tfu::setDeviceFields(const QString& name, const QString& serial, const QString& version) {
    dev_name->setText(name);
    dev_serial->setText(serial);
    dev_version->setText(version);
    // The offer belongs to the unit it was made for.
    if (d->offered && serial.toStdString() != d->offered->serial) {
        d->refreshOffer(false);
    }
}

void Tfu::setUpdateButtonsEnabled(bool enabled) {
    // A scan during a run (the unit unplugged, say) must not open the buttons to a second run;
    // the run's end sets them.
    if (d->transferring) {
        return;
    }
    select->setEnabled(enabled);
    def->setEnabled(enabled);
    d->bootUnit = enabled;
    d->showSelectHint();
    d->refreshOffer(enabled);
}

void Tfu::setPackageStart(const QString& path) {
    d->packageStart = path;
}

void Tfu::setBootLoaderHow(const QString& how) {
    d->bootLoaderHow = how;
    d->showSelectHint();
}

QString Tfu::selectHint() const {
    return d->bootUnit ? QString()
                       : QStringLiteral("The unit must be in its boot loader: ") + d->bootLoaderHow;
}

void Tfu::setStateStore(state::UpdateJournal* journal, state::SettingsMemory* memory) {
    d->log = std::make_unique<UpdateLog>(journal, memory);
}

QString Tfu::deviceName() const {
    return dev_name->text();
}

QString Tfu::deviceSerial() const {
    return dev_serial->text();
}

QString Tfu::deviceVersion() const {
    return dev_version->text();
}

void Tfu::finishAnswer(bool success) {
    d->deliver({Private::News::Verdict, success ? 1 : 0});
}

void Tfu::resetAnswer() {
    d->deliver({Private::News::ResetDone, 0});
}

void Tfu::setVerdictWait(std::chrono::milliseconds wait) {
    d->verdictTimer->setInterval(wait);
}

bool Tfu::busy() const {
    return d->busy();
}

bool Tfu::transferring() const {
    return d->transferring;
}

void Tfu::done(int result) {
    if (d->closingFromInside || !isVisible()) {
        QDialog::done(result);
        return;
    }
    // The Escape key, the desktop's close and any other request to close: the same as "Close",
    // which sends the leave-update request once and closes when it has gone out. Refused while
    // a run, a reset or that request is under way.
    d->cancelClick();
}

void Tfu::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!tmrb->isActive()) {
        tmrb->start();
    }
    if (!event->spontaneous()) {
        d->formShow();
    }
}

void Tfu::closeEvent(QCloseEvent* event) {
    if (d->transferring) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace qx
