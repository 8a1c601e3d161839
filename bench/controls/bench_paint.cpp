// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of composing one main-window button image, as every repaint does.
#include "HSButtons.h"

#include <QApplication>
#include <QFontDatabase>

#include <benchmark/benchmark.h>

namespace {

THSButtonPaintState MainWindowButton(THSButtonStyle style, int smooth) {
    const THSColorScheme c = GetColorScheme(lcsChrome);
    THSButtonPaintState s;
    s.width = 96;
    s.height = 49;
    s.caption = QStringLiteral("MUTE");
    s.font = QFont(QFontDatabase::families().contains(QStringLiteral("Tahoma"))
                       ? QStringLiteral("Tahoma")
                       : QStringLiteral("DejaVu Sans"));
    s.font.setPixelSize(13);
    s.font.setBold(true);
    s.color = c.face;
    s.lightColor = c.light;
    s.shadowColor = RGBColor(192, 192, 192);
    s.colorWhenDown = clWhite;
    s.hotTrackColor = RGBColor(208, 208, 208);
    s.fontColor = clBlack;
    s.style = style;
    s.border = 1;
    s.smooth = smooth;
    return s;
}

// Fresh image, key fill, PaintButton, and the keyed copy that reaches the widget.
void Compose(benchmark::State& state, THSButtonStyle style, int smooth) {
    const THSButtonPaintState s = MainWindowButton(style, smooth);
    for (auto _ : state) {
        QImage out = KeyOutColor(RenderButtonImage(s), TransparentKey);
        benchmark::DoNotOptimize(out.constBits());
    }
}

void BM_ModernButton(benchmark::State& state) {
    Compose(state, bsModern, 0);
}
// bsModern ignores Smooth; this confirms it costs nothing there.
void BM_ModernButtonSmooth2(benchmark::State& state) {
    Compose(state, bsModern, 2);
}
// Where Smooth does blur (bsNormal), for comparison.
void BM_NormalButtonSmooth2(benchmark::State& state) {
    Compose(state, bsNormal, 2);
}

} // namespace

BENCHMARK(BM_ModernButton);
BENCHMARK(BM_ModernButtonSmooth2);
BENCHMARK(BM_NormalButtonSmooth2);

int main(int argc, char** argv) {
    // Nothing here needs a display; test discovery runs without the offscreen setting too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv); // fonts need a GUI application
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
