#pragma once

// A display fed the built-in music-like signal, for the benchmarks: the ring
// holds ten seconds of it as the device would have left it, and each Advance
// moves the recording position on by the 50 ms that arrive between two ticks.
#include "audio/input/DemoSignal.h"
#include "audio/input/ScriptedWaveInDriver.h"
#include "audio/input/WavFileWaveInDriver.h"
#include "display/CSpectrumWnd.h"
#include "settings/SettingValues.h"

#include <memory>
#include <string>

struct DemoRig
{
    ScriptedWaveInDriver *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    CSpectrumWnd wnd{g_DisplaySettings};
    uint64_t nPosition = 22050;

    DemoRig(int nType, int nFdiv, int nWidth = 1920, int nHeight = 1080)
    {
        ResetSettings();
        g_Version = 1;
        g_DisplaySettings.Type = nType;
        g_DisplaySettings.Fdiv = nFdiv;
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
        wnd.OnTimer(CSpectrumWnd::TIMER_FIRSTFRAME);
    }

    void Advance()
    {
        nPosition += 1102;
        if (nPosition >= 110250 * 2 - 2205)
            nPosition = 22050;
        pDriver->SetPosition(nPosition);
    }
};
