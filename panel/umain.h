// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: presets, mute, sum, difference and dim buttons, gain and source of each side,
// the two level meters and the ballistics, brightness, peak hold and scale choices, under the
// "File", "Update firmware", "Ddefault" and "About" menu.
//
// Clicks only change the settings record and post a write; what the controls show comes from
// refresh(), which runs when the unit's answer has been stored.
#pragma once

#include "controls/HSSpeedButton.h"
#include "link/LinkState.h"
#include "panel/ReadingLabel.h"
#include "update/Dialogs.h"

#include <QMainWindow>

#include <atomic>
#include <cstdint>
#include <functional>

class QAction;
class QButtonGroup;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QRadioButton;
class QSpinBox;
class QTimer;

namespace qx::levels {
class LevelMeters;
}

namespace qx {

class Tfu;

class Tfmain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 247;
    static constexpr int kClientHeight = 536;

    Tfmain(LinkState& link, Tfu& updateWindow, Dialogs& dialogs, QWidget* parent = nullptr);
    ~Tfmain() override;

    // Hooks the program entry sets. (Which activations bring the link up is decided beside the
    // window, by the program entry's activation gate.)
    // Runs when the window closes (stops the link worker).
    std::function<void()> onClose;
    // Rescans and connects; run after the update window closes.
    std::function<void()> connectUnit;
    // Shows the diagnostics window; offered by "About" when set.
    std::function<void()> onDiagnostics;

    // Shows and drives the unit of `link` from now on (one of several units).
    void showLink(LinkState& link);
    LinkState& shownLink() const { return *link_; }
    // The shown unit's name in the caption after the program's; empty: the program's alone.
    void setUnitName(const QString& name);

    // Enables or disables every control placed directly on the window; the menu stays usable.
    void Cont(bool en);
    // Makes every control show the two records.
    void refresh();
    // Safe from any thread and never blocks: queues one refresh onto the user interface thread.
    // Requests made while one is queued are merged into it.
    void requestRefresh();

    // The "unit present but cannot be opened" hint, with its steps as tooltip; an empty text
    // removes it. While it is set the status line shows it instead of the link's state.
    void showUnitHint(const QString& text, const QString& details = {});
    QString unitHint() const;
    // Puts the link's present state into the status line: no unit, connected, boot loader, not
    // answering, or a change waiting for confirmation. Runs with every redraw and connection
    // change, and by itself when time alone can change the sentence.
    void updateStatusLine();
    // What the status line shows now.
    QString statusText() const;

    // Handlers, named after their component and event.
    void but_down(THSSpeedButton* sender, Qt::MouseButton button);
    void muteClick(Qt::MouseButton button);
    void sumClick();
    void difClick();
    void dimClick(Qt::MouseButton button);
    void gainLChange(QSpinBox* sender, int value);
    void scr_sel(QComboBox* sender, int index);
    void scaleClick(QRadioButton* sender, bool checked);
    void brgClick(QRadioButton* sender, bool checked);
    void peakClick(QRadioButton* sender, bool checked);
    void rb_dbClick(QRadioButton* sender, bool checked);
    void EXPClick();
    void IMPClick();
    void FCLOSEClick();
    void UPDClick();
    void DEFClick();
    void INFClick();

    // The window's active control: the widget inside it that holds (or last held) the focus.
    bool isActiveControl(const QWidget* w) const;
    // Takes the focus away from every control of the window.
    void clearActiveControl();

    // Peak markers, over latches and the level history of the two meters.
    levels::LevelMeters* levelMeters() const { return levelMeters_; }

    // The name each file dialog offers next.
    QString saveFileName() const { return saveName_; }
    QString openFileName() const { return openName_; }

    // Components, named as in the window's design.
    THSSpeedButton* but0 = nullptr;
    THSSpeedButton* but1 = nullptr;
    THSSpeedButton* but2 = nullptr;
    THSSpeedButton* but3 = nullptr;
    THSSpeedButton* mute = nullptr;
    THSSpeedButton* sum = nullptr;
    THSSpeedButton* dif = nullptr;
    THSSpeedButton* dim = nullptr;
    QFrame* jvpnl1 = nullptr;
    QFrame* jvpnl2 = nullptr;
    QFrame* pnl1 = nullptr;
    QFrame* pnl_scale = nullptr;
    QFrame* pnl2 = nullptr;
    QFrame* pnl3 = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* lbl5 = nullptr;
    QLabel* lbl10 = nullptr;
    QSpinBox* gainL = nullptr;
    QLabel* lbl1 = nullptr;
    QLabel* lbl4 = nullptr;
    QComboBox* srcL = nullptr;
    QLabel* lbl9 = nullptr;
    QLabel* lbl6 = nullptr;
    QSpinBox* gainR = nullptr;
    QLabel* lbl7 = nullptr;
    QLabel* lbl8 = nullptr;
    QComboBox* srcR = nullptr;
    panel::ReadingLabel* levl = nullptr;
    panel::ReadingLabel* levr = nullptr;
    QLabel* lbl2 = nullptr;
    QLabel* lbl3 = nullptr;
    QRadioButton* rb_vu = nullptr;
    QRadioButton* rb_ppm = nullptr;
    QLabel* Label1 = nullptr;
    QRadioButton* brg0 = nullptr;
    QRadioButton* brg1 = nullptr;
    QRadioButton* brg2 = nullptr;
    QRadioButton* brg3 = nullptr;
    QLabel* Label2 = nullptr;
    QRadioButton* peak0 = nullptr;
    QRadioButton* peak1 = nullptr;
    QRadioButton* peak2 = nullptr;
    QLabel* Label3 = nullptr;
    QRadioButton* rb_db = nullptr;
    QRadioButton* rb_dbfs = nullptr;
    QMenuBar* mm = nullptr;
    QMenu* N4 = nullptr;
    QAction* EXP = nullptr;
    QAction* IMP = nullptr;
    QAction* FCLOSE = nullptr;
    QAction* HIST = nullptr;
    QAction* UPD = nullptr;
    QAction* DEF = nullptr;
    QAction* INF = nullptr;

signals:
    // Emitted by requestRefresh from any thread; delivered queued on the window's thread.
    void refreshRequested();
    // Emitted on the window's thread once the window shows what a request made it refresh, for
    // whatever else follows a stored answer there: one queued hand-off from the link's threads
    // per answer, not one per receiver.
    void answerShown();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void FormCreate();
    void buildButtons(QWidget* client);
    void buildColumns(QWidget* client);
    void buildMeters(QWidget* client);
    void keepReadingRepaintsSmall();
    void buildChoices(QWidget* client);
    void buildMenu();
    // Tab order, and the keys 1 to 4 for the presets.
    void setUpKeyboard();
    void save(const std::function<void(DeviceSettings&)>& edit);
    void showFileError(const char* format, const QString& name, const std::string& error);
    // A file command refused before anything was written or sent.
    void showFileRefusal(const QString& text);
    // Greys the meter bars and readings while they show a reading the unit no longer confirms.
    void markMetersStale(bool stale);

    LinkState* link_; // never null
    Tfu& tfu_;
    Dialogs& dialogs_;
    QButtonGroup* ballisticsGroup_ = nullptr;
    QButtonGroup* brightnessGroup_ = nullptr;
    QButtonGroup* peakGroup_ = nullptr;
    QButtonGroup* scaleGroup_ = nullptr;
    QLabel* hint_ = nullptr;
    // Single shot, for the moment time alone changes the status line; rests while answers keep
    // coming or nothing is due.
    QTimer* statusLineTimer_ = nullptr;
    QString unitHint_;
    QString unitHintDetails_;
    // When a unit in normal mode was last connected: silence is counted from here until it
    // answers.
    LinkState::Clock::time_point connectedAt_{};
    // Answers that failed their checks before the last good answer (or connection) at
    // damageCountedFrom_: the status line tells damaged answers from silence by those after it.
    LinkState::Clock::time_point damageCountedFrom_{};
    std::uint64_t failuresBefore_ = 0;
    levels::LevelMeters* levelMeters_ = nullptr;
    QString saveName_;
    QString openName_;
    std::atomic<bool> refreshQueued_{false};
    // The update window is open over this one: the status line then says what it waits for.
    bool updateWindowOpen_ = false;
};

} // namespace qx
