// Every numeric setting at the ends of the 32-bit range and just past its
// own, one at a time: loaded from a store, shown in every display type for a
// few frames, saved. Nothing may crash, and what is saved must be usable.
#include "audio/input/ScriptedWaveInDriver.h"
#include "display/CSpectrumWnd.h"
#include "platform/ProfileStore.h"
#include "settings/SettingValues.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

// The values a store may hold that the program can use, from what each
// setting means: the pages' radio buttons, sliders and spinners, the colour
// layout 0x00BBGGRR, margins packed into the halves of a signed 32-bit word.
// Fdiv's bound is 40 for the stereo types (checked separately); KeyDiv takes
// four values only.
struct KeyRange
{
    const char *pszKey;
    qint64 nMin;
    qint64 nMax;
    bool bPages = false; // the pages' own range: both ends must be kept as they are
};

constexpr qint64 kAny = qint64(INT_MAX) + 1; // no bound: any 32-bit value
constexpr KeyRange kRanges[] = {
    {"Type", 0, 4, true},
    {"Frange", 0, 2, true},
    {"Fdiv", 1, 80, true},
    {"Ldiv", 0, 2, true},
    {"Lmin", -100, -1, true},
    {"Lmax", -99, 0, true},
    {"LPeek", 0, 2, true},
    {"CGrad", 0, 1, true},
    {"Cframe", 0, 0xFFFFFF, true},
    {"Coutline", 0, 0xFFFFFF, true},
    {"Cpeekchip", 0, 0xFFFFFF, true},
    {"Cbackground", 0, 0xFFFFFF, true},
    {"Cchip1", 0, 0xFFFFFF, true},
    {"Cchip2", 0, 0xFFFFFF, true},
    {"Cwline", 0, 0xFFFFFF, true},
    {"FontColor", 0, 0xFFFFFF, true},
    {"FwaveDisp", 0, 1, true},
    {"FclockDisp", 0, 1, true},
    {"FwaveZan", 0, 2, true},
    {"FreqStrSw", 0, 1, true},
    {"WaveRecMode", 0, 1, true},
    {"SpectFrameDraw", 0, 1, true},
    {"SaverMode", 0, 1, true},
    {"BaseKey", 1, 22050},       // a pitch the fastest capture (44100 Hz) can still show
    {"FontHeight", -4096, 4096}, // no text taller than a screen
    {"FontWeight", 0, 1000},
    {"KeyOn", -100, 0, true},
    {"KeyNum", 1, 8, true},
    {"KeyDiv", 21, 32, true},
    {"AreaTop", 0, 32767, true},
    {"AreaBottom", 0, 32767, true},
    {"AreaLeft", 0, 32767, true},
    {"AreaRight", 0, 32767, true},
    // The saver page takes any whole number for the graph size, cut to the
    // screen where it is used; stored only, or packed words of the picture
    // list: any value will do.
    {"SaverSizeX", -kAny, kAny},
    {"SaverSizeY", -kAny, kAny},
    {"KeyWidth", -kAny, kAny},
    {"PwinPosX1", -kAny, kAny},
    {"PwinPosY1", -kAny, kAny},
    {"PwinPosX2", -kAny, kAny},
    {"PwinPosY2", -kAny, kAny},
    {"Version", -kAny, kAny},
    {"bmpLeftRight1", -kAny, kAny},
    {"bmpTopBottom1", -kAny, kAny},
    {"bmpTypeEtc0", -kAny, kAny},
    // One-byte font fields, written sign-extended.
    {"FontCharSet", -128, 127},
    {"FontOutPrecision", -128, 127},
    {"FontClipPrecision", -128, 127},
    {"FontQuality", -128, 127},
    {"FontPichAndFamily", -128, 127},
};

// A loud two-tone signal, 50 ms a call.
void Feed(ScriptedWaveInDriver *pDriver, long long &nDone)
{
    const int nRate = int(pDriver->m_format.nSamplesPerSec);
    if (nRate <= 0)
        return;
    std::vector<int16_t> samples(size_t(2 * (nRate / 20)));
    for (size_t i = 0; i < samples.size(); i += 2, ++nDone) {
        const double t = double(nDone) / nRate;
        samples[i] = int16_t(12000 * std::sin(2 * std::numbers::pi * 440 * t));
        samples[i + 1] = int16_t(12000 * std::sin(2 * std::numbers::pi * 3000 * t));
    }
    pDriver->Record(samples.data(), samples.size() * sizeof(int16_t));
}

} // namespace

TEST(SettingsSweep, EveryValueLoadsShowsAndSavesUsably)
{
    const QString strSection = QString::fromLatin1(kSettingsSection);
    auto *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    ResetSettings();
    g_Version = 1;
    g_bPreview = 0;
    CSpectrumWnd wnd{g_DisplaySettings};
    int nChanged = 0;
    wnd.SetChangeFlag(&nChanged);
    wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
    const RECT rcArea{0, 0, 240, 120};
    wnd.CreateSpectrumWindow(rcArea, nullptr);
    wnd.SetArea(rcArea);
    long long nDone = 0;

    for (const KeyRange &key : kRanges) {
        const qint64 nPastMax = key.nMax >= kAny ? qint64(INT_MAX) : key.nMax + 1;
        for (const qint64 nValue :
             {qint64(INT_MIN), qint64(-1), qint64(0), qint64(1), nPastMax, qint64(INT_MAX)}) {
            const std::string strCase = std::string(key.pszKey) + " = " + std::to_string(nValue);
            auto pOwnedStore = std::make_unique<MemoryProfileStore>();
            MemoryProfileStore *pStore = pOwnedStore.get();
            pStore->SetRaw(strSection, QStringLiteral("Version"), 1);
            pStore->SetRaw(strSection, QString::fromLatin1(key.pszKey),
                           QVariant(qlonglong(quint32(qint32(nValue)))));
            SetProfileStore(std::move(pOwnedStore));
            LoadSettings();
            const bool bSweepsType = std::string(key.pszKey) == "Type";
            for (int nType = 0; nType <= 4; ++nType) {
                if (!bSweepsType)
                    g_DisplaySettings.Type = nType;
                else if (nType > 0)
                    break;
                nChanged = 1;
                wnd.OnTimer(CSpectrumWnd::TIMER_START); // the restart
                wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
                wnd.OnTimer(CSpectrumWnd::TIMER_FIRSTFRAME);
                for (int f = 0; f < 2; ++f) {
                    Feed(pDriver, nDone);
                    wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
                }
                ASSERT_EQ(wnd.State(), CSpectrumWnd::DS_SPECTRUM) << strCase << ", type " << nType;
            }
            // The dialog's user picks a stereo type, then closes it.
            if (!bSweepsType)
                g_DisplaySettings.Type = TYPE_STEREO;
            SaveSettings();

            auto saved = [&](const char *pszKey) {
                std::uint32_t dw = 0;
                EXPECT_EQ(pStore->ReadNumber(strSection, QString::fromLatin1(pszKey), dw),
                          ProfileValueState::Present)
                    << strCase << ": " << pszKey << " not saved";
                return qint64(qint32(dw));
            };
            for (const KeyRange &check : kRanges) {
                const qint64 n = saved(check.pszKey);
                EXPECT_TRUE(n >= check.nMin && n <= check.nMax)
                    << strCase << ": saved " << check.pszKey << " = " << n;
            }
            const qint64 nType = saved("Type");
            if (nType >= 1 && nType <= 3) {
                EXPECT_LE(saved("Fdiv"), 40) << strCase << ": two channels of bands";
            }
            const qint64 nKeyDiv = saved("KeyDiv");
            EXPECT_TRUE(nKeyDiv == 21 || nKeyDiv == 25 || nKeyDiv == 28 || nKeyDiv == 32)
                << strCase << ": saved KeyDiv = " << nKeyDiv;
            EXPECT_LT(saved("Lmin"), saved("Lmax")) << strCase;
            EXPECT_NE(saved("Version"), 0) << strCase;
        }
    }
    SetProfileStore(nullptr);
    ResetSettings();
    g_Version = 1;
}

// Both ends of every range a page sets survive a load and a save unchanged.
TEST(SettingsSweep, ValuesThePagesCanSetAreKept)
{
    const QString strSection = QString::fromLatin1(kSettingsSection);
    for (const KeyRange &key : kRanges) {
        if (!key.bPages)
            continue;
        for (const qint64 nValue : {key.nMin, key.nMax}) {
            auto pOwnedStore = std::make_unique<MemoryProfileStore>();
            MemoryProfileStore *pStore = pOwnedStore.get();
            pStore->SetRaw(strSection, QStringLiteral("Version"), 1);
            // The lowest maximum needs the lowest minimum beneath it.
            pStore->SetRaw(strSection, QStringLiteral("Lmin"), QVariant(qlonglong(quint32(-100))));
            pStore->SetRaw(strSection, QString::fromLatin1(key.pszKey),
                           QVariant(qlonglong(quint32(qint32(nValue)))));
            SetProfileStore(std::move(pOwnedStore));
            LoadSettings();
            SaveSettings();
            std::uint32_t dw = 0;
            pStore->ReadNumber(strSection, QString::fromLatin1(key.pszKey), dw);
            EXPECT_EQ(qint32(dw), nValue) << key.pszKey;
        }
    }
    SetProfileStore(nullptr);
    ResetSettings();
    g_Version = 1;
}
