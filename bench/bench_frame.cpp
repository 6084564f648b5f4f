// The cost of the display's frame tick and of a full repaint, for the
// heaviest column layout: stereo side by side with 40 bands a channel (all
// 80 slots) in a 1920 x 1080 window, fed with the built-in music-like signal.
#include "audio/input/DemoSignal.h"
#include "audio/input/ScriptedWaveInDriver.h"
#include "audio/input/WavFileWaveInDriver.h"
#include "display/CSpectrumWnd.h"
#include "settings/SettingValues.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <cstring>

namespace {

struct FrameRig
{
    ScriptedWaveInDriver *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    CSpectrumWnd wnd{g_DisplaySettings};
    WavClip clip;
    uint64_t nPosition = 0;

    FrameRig(int nType, int nFdiv)
    {
        ResetSettings();
        g_Version = 1;
        g_DisplaySettings.Type = nType;
        g_DisplaySettings.Fdiv = nFdiv;
        wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
        wnd.CreateSpectrumWindow(RECT{0, 0, 1920, 1080}, nullptr);
        wnd.SetArea(RECT{0, 0, 1920, 1080});
        g_bSettingsChanged = 0;
        wnd.OnTimer(CSpectrumWnd::TIMER_START);
        wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);

        // Ten seconds of music in the ring, as the device would have left it.
        std::string error;
        WavFileWaveInDriver::ParseWav(SynthesizeDemoWav(10, 22050), "demo", &clip, &error);
        CWave &wave = wnd.Engine().Wave();
        auto *p = reinterpret_cast<int16_t *>(wave.GetData(0));
        for (uint32_t i = 0; i < wave.m_dwFrames && i < clip.nFrames; ++i) {
            p[2 * i] = clip.Sample(i, 0);
            p[2 * i + 1] = clip.Sample(i, 1);
        }
        wave.Unlock();
        nPosition = 22050;
        pDriver->SetPosition(nPosition);
        wnd.OnTimer(CSpectrumWnd::TIMER_FIRSTFRAME);
    }

    // 50 ms of sound arrive between two ticks.
    void Advance()
    {
        nPosition += 1102;
        if (nPosition >= 110250 * 2 - 2205)
            nPosition = 22050;
        pDriver->SetPosition(nPosition);
    }
};

FrameRig *g_pRig = nullptr;
FrameRig *g_pShownRig = nullptr;

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
    FrameRig rig(TYPE_STEREO, 40);
    g_pRig = &rig;
    FrameRig shownRig(TYPE_MONO, 16);
    shownRig.wnd.show();
    QCoreApplication::processEvents();
    g_pShownRig = &shownRig;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_pRig = g_pShownRig = nullptr;
    return 0;
}
