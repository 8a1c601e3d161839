// SPDX-License-Identifier: GPL-3.0-or-later
// The level history window's repaint with ten full minutes of both channels, at the window's
// opening size and on a wide screen, and the meters' own share of a refresh: peak markers,
// latches and the history ring.
#include "levels/HistoryPlot.h"
#include "levels/LevelMeters.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

using namespace qx::levels;

// Ten minutes at 10 Hz of a programme with overs now and then, ending at `now`.
void fill(LevelRing& ring, const Instant& now) {
    const int64_t end = toMs(now.mono);
    const int64_t wall = toMs(now.wall) - end;
    for (int k = 0; k < static_cast<int>(LevelRing::kCapacity); ++k) {
        const int64_t t = end - (static_cast<int64_t>(LevelRing::kCapacity) - 1 - k) * 100;
        const auto left = static_cast<int8_t>(k % 97 == 0 ? 13 : -12 + 10 * std::sin(k * 0.21));
        const auto right = static_cast<int8_t>(-13 + 10 * std::sin(k * 0.19 + 1.0));
        ring.add({t, t + wall, left, right});
    }
}

void BM_HistoryRepaint(benchmark::State& state) {
    const Instant now = systemNow();
    LevelRing ring;
    fill(ring, now);
    HistoryView view;
    view.zoom(static_cast<double>(state.range(2)) / static_cast<double>(view.spanMs()));
    QImage image(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                 QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&image);
        paintHistory(p, image.rect(), ring, view, now);
    }
    state.counters["readings"] = static_cast<double>(ring.size());
}
// Window opening size and a wide one; all ten minutes and the closest zoom.
BENCHMARK(BM_HistoryRepaint)
    ->Args({740, 310, 600'000})
    ->Args({1900, 900, 600'000})
    ->Args({740, 310, 10'000})
    ->Unit(benchmark::kMicrosecond);

void BM_MetersShow(benchmark::State& state) {
    QWidget panel;
    panel.resize(209, 39);
    auto* left = new QLabel(&panel);
    auto* right = new QLabel(&panel);
    // Plain pictures in the main window's sizes: the drawing's cost does not depend on them.
    auto picture = [](Qt::GlobalColor colour) {
        QPixmap p(154, 10);
        p.fill(colour);
        return p;
    };
    LevelMeters meters(&panel,
                       {{5, 7, 154, 10},
                        picture(Qt::green),
                        {5, 7, 154, 10},
                        picture(Qt::black),
                        left,
                        QStringLiteral("Left")},
                       {{4, 23, 154, 10},
                        picture(Qt::green),
                        {5, 23, 154, 10},
                        picture(Qt::black),
                        right,
                        QStringLiteral("Right")});
    panel.show();
    QApplication::processEvents();
    Instant t = systemNow();
    meters.setTimeSource([&t] { return t; });
    int k = 0;
    for (auto _ : state) {
        t.mono += std::chrono::milliseconds(100);
        t.wall += std::chrono::milliseconds(100);
        // A programme that peaks and overs now and then, so markers move and latches change.
        const int level = k % 50 == 0 ? 13 : -30 + (k * 7) % 40;
        meters.show(level, level - 3);
        if (k % 200 == 100) {
            meters.clearOver(LevelMeters::kLeft);
        }
        QApplication::processEvents(); // paint what changed
        ++k;
    }
}
BENCHMARK(BM_MetersShow)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
