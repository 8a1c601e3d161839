// SPDX-License-Identifier: GPL-3.0-or-later
// The time from the shown unit's answer (stored by its link, on the library's reader thread) to
// its meters drawn (the end of the event in which the main window painted a meter), with one unit
// and with four, whose other answers reach the user interface thread as well and repaint the
// chooser strip and, when open, the "Units" window. Wired as the window program wires them.
// Also the processor time and wake-ups of the whole process over the same span.
//
// QX_BENCH_SECONDS sets the span measured (default 20 s, some 200 answers of the shown unit).
#include "bench/common/TaskStats.h"
#include "bench/room/RoomRig.h"
#include "levels/LevelMeters.h"
#include "panel/umain.h"
#include "units/UnitChooser.h"
#include "units/UnitsWindow.h"
#include "update/uu.h"

#include <QApplication>
#include <QToolBar>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int64_t nowNs() {
    return Clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
}

// Tells when an event that painted one of the watched widgets has been handled in full: the
// window's backing store is then painted and flushed.
class DrawWatch : public QApplication {
public:
    using QApplication::QApplication;
    std::vector<const QObject*> watched;
    std::function<void()> drawn;
    // The window whose backing store flushes are counted, and how many there were.
    const QWidget* window = nullptr;
    long long flushes = 0;

    bool notify(QObject* receiver, QEvent* e) override {
        ++depth_;
        if (e->type() == QEvent::Paint &&
            std::find(watched.begin(), watched.end(), receiver) != watched.end()) {
            painted_ = true;
        }
        if (e->type() == QEvent::UpdateRequest && window != nullptr &&
            (receiver == window || receiver == static_cast<QObject*>(window->windowHandle()))) {
            ++flushes;
        }
        const bool result = QApplication::notify(receiver, e);
        if (--depth_ == 0 && painted_) {
            painted_ = false;
            if (drawn) {
                drawn();
            }
        }
        return result;
    }

private:
    int depth_ = 0;
    bool painted_ = false;
};

class NoDialogs : public qx::Dialogs {
public:
    QMessageBox::StandardButton message(QWidget*, Icon, const QString&, const QString&,
                                        QMessageBox::StandardButtons) override {
        return QMessageBox::Ok;
    }
    QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFileName(QWidget*, const QString&, const QString&) override { return {}; }
};

std::atomic<long long> qtMessages{0};

void countMessage(QtMsgType, const QMessageLogContext&, const QString&) {
    ++qtMessages;
}

double percentile(std::vector<double> v, double share) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1,
                      static_cast<std::size_t>(share * static_cast<double>(v.size())))];
}

// range(0): units; range(1): whether the "Units" window is open.
void BM_AnswerToDrawn(benchmark::State& state) {
    const int units = static_cast<int>(state.range(0));
    const bool overview = state.range(1) != 0;
    auto* app = static_cast<DrawWatch*>(QCoreApplication::instance());

    qx::LinkState noUnit;
    NoDialogs dialogs;
    qx::Tfu updateWindow(noUnit, dialogs);
    qx::Tfmain mainWindow(noUnit, updateWindow, dialogs);

    // The oldest answer of the shown unit not yet taken by a refresh, and the one a refresh took
    // that is not drawn yet (nanoseconds of the steady clock; 0: none).
    std::atomic<int64_t> stored{0};
    int64_t awaitingDraw = 0;
    std::vector<double> latenciesMs;
    long long undrawn = 0;
    bool measuring = false;

    qx::bench::RoomRig rig(units, [&] {
        int64_t none = 0;
        stored.compare_exchange_strong(none, nowNs());
        mainWindow.requestRefresh();
    });
    qx::room::UnitRoom& room = *rig.room;
    QObject::connect(&room, &qx::room::UnitRoom::shownChanged, &mainWindow, [&](int index) {
        qx::room::RoomUnit& u = room.unit(index);
        updateWindow.showLink(u.link());
        mainWindow.levelMeters()->attachMemory(&u.levels());
        mainWindow.showLink(u.link());
    });
    auto* unitBar = new QToolBar(QStringLiteral("Units"), &mainWindow);
    auto* chooser = new qx::units::UnitChooser(
        room, [] { return true; }, unitBar);
    unitBar->addWidget(chooser);
    mainWindow.addToolBar(Qt::TopToolBarArea, unitBar);
    unitBar->setVisible(false);
    QObject::connect(chooser, &qx::units::UnitChooser::wanted, unitBar,
                     [unitBar](bool on) { unitBar->setVisible(on); });
    qx::units::UnitsWindow unitsWindow(room);

    QObject::connect(&mainWindow, &qx::Tfmain::answerShown, &mainWindow, [&] {
        const int64_t t = stored.exchange(0);
        if (t == 0) {
            return;
        }
        // The previous answer left the meters as they were (same level): nothing to draw.
        undrawn += awaitingDraw != 0 && measuring ? 1 : 0;
        awaitingDraw = t;
    });
    app->watched = {mainWindow.levelMeters()->meter(qx::levels::LevelMeters::kLeft),
                    mainWindow.levelMeters()->meter(qx::levels::LevelMeters::kRight)};
    app->drawn = [&] {
        if (awaitingDraw == 0) {
            return;
        }
        if (measuring) {
            latenciesMs.push_back(static_cast<double>(nowNs() - awaitingDraw) / 1e6);
        }
        awaitingDraw = 0;
    };

    mainWindow.Cont(true);
    mainWindow.show();
    if (!rig.startAndWaitForAnswers(units)) {
        app->drawn = nullptr;
        state.SkipWithError("the units did not all answer");
        return;
    }
    if (overview) {
        unitsWindow.show();
    }
    qx::bench::runEvents(1.0);

    const double seconds = qx::bench::spanSeconds(20.0);
    qx::bench::SpanFigures figures;
    const long long messagesBefore = qtMessages.load();
    app->window = &mainWindow;
    const long long flushesBefore = app->flushes;
    double wall = seconds;
    for (auto _ : state) {
        measuring = true;
        const qx::bench::SpanMeter meter(::getpid());
        wall = qx::bench::runEvents(seconds);
        figures = meter.finish(wall);
        measuring = false;
    }
    app->drawn = nullptr;
    app->watched.clear();
    app->window = nullptr;
    // How often the main window's picture was brought up to date (for any of its parts).
    state.counters["main_window_updates_per_s"] =
        static_cast<double>(app->flushes - flushesBefore) / wall;
    state.counters["median_ms"] = percentile(latenciesMs, 0.5);
    state.counters["p99_ms"] = percentile(latenciesMs, 0.99);
    state.counters["max_ms"] = percentile(latenciesMs, 1.0);
    state.counters["drawn"] = static_cast<double>(latenciesMs.size());
    state.counters["undrawn"] = static_cast<double>(undrawn);
    state.counters["cpu_percent"] = figures.cpuPercent;
    state.counters["cpu_percent_fine"] = figures.cpuPercentFine;
    state.counters["wakeups_per_s"] = figures.wakeUpsPerSecond;
    // Qt's warnings are counted and dropped, so the output stays readable.
    state.counters["qt_messages_per_s"] =
        static_cast<double>(qtMessages.load() - messagesBefore) / wall;
}
BENCHMARK(BM_AnswerToDrawn)
    ->ArgNames({"units", "overview"})
    ->Args({1, 0})
    ->Args({4, 0})
    ->Args({4, 1})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qInstallMessageHandler(countMessage);
    DrawWatch app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
