// Every numeric setting at the 32-bit ends and past its own, loaded, shown, saved usable.
#include "audio/input/ScriptedWaveInDriver.h"
#include "display/CSpectrumWnd.h"
#include "platform/ProfileStore.h"
#include "settings/SettingValues.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {

constexpr qint64 kAny = qint64(INT_MAX) + 1; // no bound: any 32-bit value

// Usable values by meaning; bPages: the pages' own range, whose ends must be kept.
// clang-format off
struct KeyRange { const char *pszKeys; qint64 nMin, nMax; bool bPages = false; };
constexpr KeyRange kRanges[] = {
    {"Type", 0, 4, true},      {"Frange Ldiv LPeek FwaveZan", 0, 2, true},
    {"Fdiv", 1, 80, true},     {"Lmin", -100, -1, true},
    {"Lmax", -99, 0, true},    {"KeyOn", -100, 0, true},
    {"KeyNum", 1, 8, true},    {"KeyDiv", 21, 32, true},
    {"CGrad FwaveDisp FclockDisp FreqStrSw WaveRecMode SpectFrameDraw SaverMode", 0, 1, true},
    {"Cframe Coutline Cpeekchip Cbackground Cchip1 Cchip2 Cwline FontColor", 0, 0xFFFFFF, true},
    {"AreaTop AreaBottom AreaLeft AreaRight", 0, 32767, true},
    {"BaseKey", 1, 22050}, {"FontHeight", -4096, 4096}, {"FontWeight", 0, 1000},
    {"FontCharSet FontOutPrecision FontClipPrecision FontQuality FontPichAndFamily", -128, 127},
    {"SaverSizeX SaverSizeY KeyWidth PwinPosX1 PwinPosY1 PwinPosX2 PwinPosY2 Version", -kAny, kAny},
    {"bmpLeftRight1 bmpTopBottom1 bmpTypeEtc0", -kAny, kAny}, // stored only, cut where used, packed
};
// clang-format on

template <typename Fn> void ForEachKey(Fn fn)
{
    for (const KeyRange &r : kRanges)
        for (const QString &str : QString::fromLatin1(r.pszKeys).split(u' '))
            fn(str, r);
}

const QString kSection = QString::fromLatin1(kSettingsSection);

// A fresh store holding Version 1, Lmin -100 (for Lmax -99) and strKey = nValue, loaded.
MemoryProfileStore *Load(const QString &strKey, qint64 nValue)
{
    auto pOwned = std::make_unique<MemoryProfileStore>();
    MemoryProfileStore *pStore = pOwned.get();
    pStore->SetRaw(kSection, QStringLiteral("Version"), 1);
    pStore->SetRaw(kSection, QStringLiteral("Lmin"), QVariant(qlonglong(quint32(-100))));
    pStore->SetRaw(kSection, strKey, QVariant(qlonglong(quint32(qint32(nValue)))));
    SetProfileStore(std::move(pOwned));
    LoadSettings();
    return pStore;
}

qint64 Saved(MemoryProfileStore *pStore, const QString &strKey)
{
    std::uint32_t dw = 0;
    EXPECT_EQ(pStore->ReadNumber(kSection, strKey, dw), ProfileValueState::Present);
    return qint64(qint32(dw));
}

} // namespace

TEST(SettingsSweep, EveryValueLoadsShowsAndSavesUsably)
{
    auto *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    ResetSettings();
    std::tie(g_Version, g_bPreview) = std::tuple(1, 0);
    CSpectrumWnd wnd{g_DisplaySettings};
    int nChanged = 0;
    wnd.SetChangeFlag(&nChanged);
    wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
    wnd.CreateSpectrumWindow(RECT{0, 0, 240, 120}, nullptr);
    wnd.SetArea(RECT{0, 0, 240, 120});
    std::vector<int16_t> samples(4410); // 50 ms of a loud square wave on both channels
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i / 64) % 2 ? 12000 : -12000;
    ForEachKey([&](const QString &strKey, const KeyRange &key) {
        for (const qint64 n : {qint64(INT_MIN), qint64(-1), qint64(0), qint64(1),
                               std::min(key.nMax + 1, qint64(INT_MAX)), qint64(INT_MAX)}) {
            SCOPED_TRACE(strKey.toStdString() + " = " + std::to_string(n));
            MemoryProfileStore *pStore = Load(strKey, n);
            for (int nType = 0; nType <= 4; ++nType) {
                if (strKey != "Type")
                    g_DisplaySettings.Type = nType;
                nChanged = 1; // the restart
                for (const int nTimer : {CSpectrumWnd::TIMER_START, CSpectrumWnd::TIMER_OPEN,
                                         CSpectrumWnd::TIMER_FIRSTFRAME})
                    wnd.OnTimer(nTimer);
                for (int f = 0; f < 2; ++f, wnd.OnTimer(CSpectrumWnd::TIMER_FRAME))
                    pDriver->Record(samples.data(), samples.size() * sizeof(int16_t));
                EXPECT_EQ(wnd.State(), CSpectrumWnd::DS_SPECTRUM) << "type " << nType;
            }
            if (strKey != "Type") // the user picks a stereo type, then closes the dialog
                g_DisplaySettings.Type = TYPE_STEREO;
            SaveSettings();
            ForEachKey([pStore](const QString &strName, const KeyRange &r) {
                const qint64 nSaved = Saved(pStore, strName);
                EXPECT_EQ(std::clamp(nSaved, r.nMin, r.nMax), nSaved) << strName.toStdString();
            });
            const qint64 nType = Saved(pStore, "Type"), nKeyDiv = Saved(pStore, "KeyDiv");
            EXPECT_TRUE(Saved(pStore, "Fdiv") <= (nType >= 1 && nType <= 3 ? 40 : 80) &&
                        QList<qint64>({21, 25, 28, 32}).contains(nKeyDiv) &&
                        Saved(pStore, "Lmin") < Saved(pStore, "Lmax") && Saved(pStore, "Version"));
        }
    });
    SetProfileStore(nullptr);
}

// Both ends of every range a page sets survive a load and a save unchanged.
TEST(SettingsSweep, ValuesThePagesCanSetAreKept)
{
    ForEachKey([](const QString &strKey, const KeyRange &key) {
        for (const qint64 nValue : {key.nMin, key.nMax}) {
            MemoryProfileStore *pStore = Load(strKey, nValue);
            SaveSettings();
            const qint64 nSaved = Saved(pStore, strKey);
            EXPECT_EQ(nSaved, key.bPages ? nValue : nSaved) << strKey.toStdString();
        }
    });
    SetProfileStore(nullptr);
}
