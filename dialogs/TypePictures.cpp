#include "dialogs/TypePictures.h"

#include "audio/input/DemoSignal.h"
#include "audio/input/ScriptedWaveInDriver.h"
#include "display/CSpectrumWnd.h"
#include "settings/SettingValues.h"

#include <algorithm>
#include <memory>

namespace {

// How long the demo signal plays into the window before the picture is
// taken: long enough for the peaks to stand above the columns.
constexpr int kFrames = 24;
constexpr int kFrameMs = 50;
// Where in the demo signal to start, seconds: a loud chord with the melody.
constexpr int kStartSecond = 1;

} // namespace

QImage RenderTypePicture(int nType, QSize size)
{
    if (size.isEmpty())
        return {};
    // The defaults in a block of the picture's own, with a change flag of its
    // own: the running display's settings and restarts are left alone.
    DisplaySettings settings = DefaultDisplaySettings();
    settings.Type = nType;
    settings.BmpName.clear(); // the window's own frame, no background picture
    int nSettingsChanged = 0;

    auto *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    CSpectrumWnd wnd(settings);
    wnd.SetChangeFlag(&nSettingsChanged);
    wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
    const RECT rc{0, 0, size.width(), size.height()};
    wnd.SetArea(rc);
    if (!wnd.CreateSpectrumWindow(rc, nullptr))
        return {};

    // The start-up chain by hand, as its timers would run it.
    wnd.OnTimer(CSpectrumWnd::TIMER_START);
    wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
    const int nRate = wnd.Engine().Rate();
    const QByteArray wav = SynthesizeDemoWav(kStartSecond + 2, nRate);
    constexpr int kHeaderBytes = 44; // the demo is a plain 16-bit stereo PCM file
    constexpr int kFrameBytes = 4;
    const int nFramesPerTick = nRate * kFrameMs / 1000;
    qsizetype nOffset = kHeaderBytes + qsizetype(kStartSecond) * nRate * kFrameBytes;
    // A second of sound first, so the newest analysis window is full.
    const qsizetype nLead = qsizetype(nRate) * kFrameBytes;
    pDriver->Record(wav.constData() + nOffset, size_t(nLead));
    nOffset += nLead;
    wnd.OnTimer(CSpectrumWnd::TIMER_FIRSTFRAME);
    for (int i = 0; i < kFrames; ++i) {
        const qsizetype nBytes =
            std::min<qsizetype>(qsizetype(nFramesPerTick) * kFrameBytes, wav.size() - nOffset);
        if (nBytes > 0) {
            pDriver->Record(wav.constData() + nOffset, size_t(nBytes));
            nOffset += nBytes;
        }
        wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
    }
    return wnd.BackingImage().copy();
}
