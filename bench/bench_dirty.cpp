// What a frame hands to the window system: display type 1 with 80 columns in
// a shown window fed the built-in music-like signal, at 1920 x 1080 and
// 3840 x 2160. Counters per frame: the pixels drawn (the device context's
// entries), the rectangles and pixels handed over, the pixels copied.
// Offscreen unless QT_QPA_PLATFORM says otherwise: under Xvfb with
// QT_QPA_PLATFORM=xcb the frames go through the shared-memory presenter.
#include "DemoRig.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <vector>

namespace {

void BM_FrameToScreen(benchmark::State &state)
{
    DemoRig rig(TYPE_STEREO, 80, int(state.range(0)), int(state.range(1)));
    rig.wnd.show();
    QCoreApplication::processEvents();
    double dChanged = 0, dRects = 0, dHanded = 0, dCopied = 0;
    // The live program draws a frame every 50 ms, in between other programs
    // push its image out of the caches: the cold case evicts them first.
    const bool bCold = state.range(2) != 0;
    std::vector<uint8_t> evict(bCold ? size_t(64) << 20 : 0);
    for (auto _ : state) {
        if (bCold) {
            state.PauseTiming();
            for (size_t i = 0; i < evict.size(); i += 64)
                evict[i] = uint8_t(evict[i] + 1);
            benchmark::ClobberMemory();
            state.ResumeTiming();
        }
        rig.Advance();
        rig.wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
        const CSpectrumWnd::FlushCounts &c = rig.wnd.LastFlush();
        dChanged += double(c.nChanged);
        dRects += c.nRects;
        dHanded += double(c.nHanded);
        dCopied += double(c.nCopied);
    }
    using C = benchmark::Counter;
    state.counters["changed_px"] = C(dChanged, C::kAvgIterations);
    state.counters["rects"] = C(dRects, C::kAvgIterations);
    state.counters["handed_px"] = C(dHanded, C::kAvgIterations);
    state.counters["copied_px"] = C(dCopied, C::kAvgIterations);
    state.counters["handed_ratio"] = dChanged > 0 ? dHanded / dChanged : 0;
}
BENCHMARK(BM_FrameToScreen)
    ->Args({1920, 1080, 0})
    ->Args({3840, 2160, 0})
    ->Args({1920, 1080, 1})
    ->Args({3840, 2160, 1})
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(400);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
