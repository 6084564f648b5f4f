// What a frame hands to the window system: display type 1 with 80 columns in
// a shown window fed the built-in music-like signal, at 1920 x 1080 and
// 3840 x 2160. Counters per frame: the pixels drawn (the device context's
// entries), the rectangles and pixels handed over, the pixels copied.
#include "audio/input/DemoSignal.h"
#include "audio/input/ScriptedWaveInDriver.h"
#include "audio/input/WavFileWaveInDriver.h"
#include "display/CSpectrumWnd.h"
#include "settings/SettingValues.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

struct ShownRig
{
    ScriptedWaveInDriver *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    CSpectrumWnd wnd{g_DisplaySettings};
    uint64_t nPosition = 22050;

    ShownRig(int nWidth, int nHeight)
    {
        ResetSettings();
        g_Version = 1;
        g_DisplaySettings.Type = 1;
        g_DisplaySettings.Fdiv = 80;
        wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
        wnd.CreateSpectrumWindow(RECT{0, 0, nWidth, nHeight}, nullptr);
        wnd.SetArea(RECT{0, 0, nWidth, nHeight});
        g_bSettingsChanged = 0;
        wnd.OnTimer(CSpectrumWnd::TIMER_START);
        wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
        WavClip clip;
        std::string error;
        WavFileWaveInDriver::ParseWav(SynthesizeDemoWav(10, 22050), "demo", &clip, &error);
        CWave &wave = wnd.Engine().Wave();
        auto *p = reinterpret_cast<int16_t *>(wave.GetData(0));
        for (uint32_t i = 0; i < wave.m_dwFrames && i < clip.nFrames; ++i) {
            p[2 * i] = clip.Sample(i, 0);
            p[2 * i + 1] = clip.Sample(i, 1);
        }
        wave.Unlock();
        pDriver->SetPosition(nPosition);
        wnd.show();
        QCoreApplication::processEvents();
        wnd.OnTimer(CSpectrumWnd::TIMER_FIRSTFRAME);
        QCoreApplication::processEvents();
    }

    void Tick()
    {
        nPosition += 1102;
        if (nPosition >= 110250 * 2 - 2205)
            nPosition = 22050;
        pDriver->SetPosition(nPosition);
        wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
    }
};

void BM_FrameToScreen(benchmark::State &state)
{
    ShownRig rig(int(state.range(0)), int(state.range(1)));
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
        rig.Tick();
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
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
