#include "dialogs/TypePictures.h"

#include "settings/Settings.h"
#include "display/CChipColumn.h"
#include "display/CSpectrumWnd.h"
#include "audio/input/DemoSignal.h"
#include "audio/input/ScriptedWaveInDriver.h"

#include <algorithm>
#include <memory>

namespace {

// How long the demo signal plays into the window before the picture is
// taken: long enough for the peaks to stand above the columns.
constexpr int kFrames = 24;
constexpr int kFrameMs = 50;
// Where in the demo signal to start, seconds: a loud chord with the melody.
constexpr int kStartSecond = 1;

// Keeps every process-wide setting and puts it back on the way out: the
// window reads and clears them as a running display does.
class SettingsKeeper
{
public:
    SettingsKeeper()
        : m_settings(g_DisplaySettings), m_nPwin{g_PwinPosX1, g_PwinPosY1, g_PwinPosX2,
                                                 g_PwinPosY2},
          m_nVersion(g_Version), m_bPreview(g_bPreview), m_bSettingsChanged(g_bSettingsChanged),
          m_nFrameCounter(g_nFrameCounter)
    {}
    ~SettingsKeeper()
    {
        g_DisplaySettings = m_settings;
        g_PwinPosX1 = m_nPwin[0];
        g_PwinPosY1 = m_nPwin[1];
        g_PwinPosX2 = m_nPwin[2];
        g_PwinPosY2 = m_nPwin[3];
        g_Version = m_nVersion;
        g_bPreview = m_bPreview;
        g_bSettingsChanged = m_bSettingsChanged;
        g_nFrameCounter = m_nFrameCounter;
    }
    SettingsKeeper(const SettingsKeeper &) = delete;
    SettingsKeeper &operator=(const SettingsKeeper &) = delete;

private:
    DisplaySettings m_settings;
    int m_nPwin[4];
    int m_nVersion;
    int m_bPreview;
    int m_bSettingsChanged;
    int m_nFrameCounter;
};

} // namespace

QImage RenderTypePicture(int nType, QSize size)
{
    if (size.isEmpty())
        return {};
    const SettingsKeeper keeper;
    ResetSettings();
    g_DisplaySettings.Type = nType;
    g_DisplaySettings.BmpName.clear(); // the window's own frame, no background picture
    g_bPreview = 0;

    auto *pDriver = new ScriptedWaveInDriver; // owned by the window's device
    CSpectrumWnd wnd;
    wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
    const RECT rc{0, 0, size.width(), size.height()};
    wnd.SetArea(rc);
    if (!wnd.CreateSpectrumWindow(rc, nullptr))
        return {};

    // The start-up chain by hand, as its timers would run it.
    wnd.OnTimer(CSpectrumWnd::TIMER_START);
    wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
    const int nRate = wnd.m_nRate;
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
