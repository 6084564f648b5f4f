#include "settings/SettingValues.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

DisplaySettings DefaultDisplaySettings()
{
    // The table's rows point into the process-wide block. The same rows,
    // moved to the same members of a block of our own, reset that one
    // instead; the rows of the separate integers are left out.
    DisplaySettings settings;
    const auto nGlobal = reinterpret_cast<std::uintptr_t>(&g_DisplaySettings);
    auto *pLocal = reinterpret_cast<std::byte *>(&settings);
    std::vector<SettingsRow> rows;
    for (SettingsRow row : SettingsTable()) {
        const auto nTarget = reinterpret_cast<std::uintptr_t>(row.pTarget);
        if (nTarget < nGlobal || nTarget >= nGlobal + sizeof(DisplaySettings))
            continue;
        row.pTarget = pLocal + (nTarget - nGlobal);
        rows.push_back(row);
    }
    ResetSettingsRows(rows);
    return settings;
}

namespace {

// The pages' ranges (in dB for levels and keys, pixels for sizes).
constexpr int kLevelLow = -100; // the level sliders' low end
constexpr int kMaxKeysLit = 8;
constexpr int kMaxBaseKey = 22050; // Hz: half the fastest capture rate
constexpr int kMaxFontWeight = 1000;
// Margins travel packed in the halves of a signed 32-bit word (the picture list).
constexpr int kMaxMargin = 32767;

int Flag(std::int32_t n)
{
    return n != 0 ? 1 : 0;
}

// The first choice for a value outside nLow .. nHigh.
int Choice(std::int32_t n, int nLow, int nHigh, int nOutside)
{
    return n < nLow || n > nHigh ? nOutside : n;
}

} // namespace

DisplaySettings BoundedForUse(const DisplaySettings &settings)
{
    DisplaySettings s = settings;
    // An unknown display type is drawn as mono; a range outside the table
    // uses its first row; a resolution outside it the coarse chips; an unknown
    // peak type holds.
    s.Type = Choice(s.Type, TYPE_MONO, TYPE_KEYBOARD, TYPE_MONO);
    s.Frange = Choice(s.Frange, FRANGE_5K, FRANGE_20K, FRANGE_5K);
    s.Fdiv = UsableFdiv(s.Type, s.Fdiv);
    s.Ldiv = Choice(s.Ldiv, LDIV_FINE, LDIV_COARSE, LDIV_COARSE);
    s.LPeek = Choice(s.LPeek, PEAK_HOLD, PEAK_UP, PEAK_HOLD);
    // The level sliders keep the maximum at least 1 dB above the minimum.
    s.Lmin = std::clamp(s.Lmin, kLevelLow, -1);
    s.Lmax = std::clamp(s.Lmax, kLevelLow + 1, 0);
    if (s.Lmax < s.Lmin + 1)
        s.Lmax = s.Lmin + 1;
    s.KeyOn = std::clamp(s.KeyOn, kLevelLow, 0);
    s.KeyNum = std::clamp(s.KeyNum, 1, kMaxKeysLit);
    if (s.KeyDiv != 25 && s.KeyDiv != 28 && s.KeyDiv != 32)
        s.KeyDiv = 21; // the keyboard page shows every other count as 21
    // Below 0 the afterimage is off and above 2 it is the dark one.
    s.FwaveZan = std::clamp(s.FwaveZan, int(AFTERIMAGE_NONE), int(AFTERIMAGE_DARK));
    if (s.BaseKey < 1)
        s.BaseKey = 440;
    s.BaseKey = std::min(s.BaseKey, kMaxBaseKey);
    s.Font.lfHeight = std::clamp(s.Font.lfHeight, -kMaxFontHeight, kMaxFontHeight);
    s.Font.lfWeight = std::clamp(s.Font.lfWeight, 0, kMaxFontWeight);

    s.FwaveDisp = Flag(s.FwaveDisp);
    s.FclockDisp = Flag(s.FclockDisp);
    s.FreqStrSw = Flag(s.FreqStrSw);
    s.SpectFrameDraw = Flag(s.SpectFrameDraw);
    s.CGrad = Flag(s.CGrad);
    s.WaveRecMode = s.WaveRecMode == WAVEREC_MARKER ? WAVEREC_MARKER : WAVEREC_POSITION;
    s.SaverMode &= SAVERMODE_MOVE;

    for (std::int32_t *pMargin : {&s.AreaTop, &s.AreaBottom, &s.AreaLeft, &s.AreaRight})
        *pMargin = std::clamp(*pMargin, 0, kMaxMargin);
    for (std::int32_t *pColor : {&s.Cframe, &s.Coutline, &s.Cpeekchip, &s.Cbackground, &s.Cchip1,
                                 &s.Cchip2, &s.Cwline, &s.FontColor})
        *pColor &= 0xFFFFFF;
    return s;
}
