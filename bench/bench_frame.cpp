// The cost of the display's frame tick and of a full repaint, for the
// heaviest column layout: stereo side by side with 40 bands a channel (all
// 80 slots) in a 1920 x 1080 window, fed with the built-in music-like signal.
#include "DemoRig.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

DemoRig *g_pRig = nullptr;
DemoRig *g_pShownRig = nullptr;

void BM_FrameTick(benchmark::State &state)
{
    for (auto _ : state) {
        g_pRig->Advance();
        g_pRig->wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
    }
}
BENCHMARK(BM_FrameTick)->Unit(benchmark::kMicrosecond);

void BM_FullRepaint(benchmark::State &state)
{
    for (auto _ : state)
        g_pRig->wnd.InvalidateErase();
}
BENCHMARK(BM_FullRepaint)->Unit(benchmark::kMicrosecond);

// A tick of the program as it runs by default (mono, 16 bands) in a shown
// 1920 x 1080 window: the tick itself and the copy of what it drew to the
// window system's image.
void BM_ShownFrameTick(benchmark::State &state)
{
    for (auto _ : state) {
        g_pShownRig->Advance();
        g_pShownRig->wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_ShownFrameTick)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    DemoRig rig(TYPE_STEREO, 40);
    g_pRig = &rig;
    DemoRig shownRig(TYPE_MONO, 16);
    shownRig.wnd.show();
    QCoreApplication::processEvents();
    g_pShownRig = &shownRig;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_pRig = g_pShownRig = nullptr;
    return 0;
}
