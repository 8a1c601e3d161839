// SPDX-License-Identifier: GPL-3.0-or-later
// One redraw of the main window at the status rate: a new level with every button unchanged,
// and one where every button's scheme changes.
#include "panel/umain.h"
#include "update/uu.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

class NoDialogs : public qx::Dialogs {
public:
    QMessageBox::StandardButton message(QWidget*, Icon, const QString&, const QString&,
                                        QMessageBox::StandardButtons) override {
        return QMessageBox::Ok;
    }
    QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFileName(QWidget*, const QString&, const QString&) override { return {}; }
};

struct Window {
    qx::LinkState link;
    NoDialogs dialogs;
    qx::Tfu tfu{link, dialogs};
    qx::Tfmain w{link, tfu, dialogs};
    Window() {
        w.Cont(true);
        w.show();
        QApplication::processEvents();
    }
    void answer(const qx::DeviceSettings& s, int8_t level) {
        std::array<uint8_t, qx::kAnswerPayloadSize> a{};
        std::memcpy(a.data(), &s, qx::kSettingsSize);
        a[qx::kSettingsSize] = static_cast<uint8_t>(level);
        a[qx::kSettingsSize + 1] = static_cast<uint8_t>(level - 2);
        link.storeAnswer(false, a);
    }
};

void BM_RefreshNewLevel(benchmark::State& state) {
    Window win;
    const qx::DeviceSettings s = qx::factoryDefaults();
    int8_t level = -30;
    for (auto _ : state) {
        win.answer(s, level);
        win.w.refresh();
        QApplication::processEvents(); // paint what changed
        level = level >= 12 ? -30 : static_cast<int8_t>(level + 1);
    }
}
BENCHMARK(BM_RefreshNewLevel)->Unit(benchmark::kMicrosecond);

void BM_RefreshEverySchemeChanges(benchmark::State& state) {
    Window win;
    qx::DeviceSettings a = qx::factoryDefaults();
    qx::DeviceSettings b = a;
    b.preset = 1;
    b.muteOn = 1;
    b.monitorMode = 1;
    b.dimMode = 2;
    bool flip = false;
    for (auto _ : state) {
        qx::DeviceSettings s = flip ? b : a;
        // Alternate which of the two monitor buttons is lit so both change every time.
        s.monitorMode = flip ? 1 : 2;
        win.answer(s, -10);
        win.w.refresh();
        QApplication::processEvents();
        flip = !flip;
    }
}
BENCHMARK(BM_RefreshEverySchemeChanges)->Unit(benchmark::kMicrosecond);

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
