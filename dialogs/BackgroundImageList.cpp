#include "dialogs/BackgroundImageList.h"

#include "settings/Settings.h"

#include <algorithm>

QString FileNamePart(const QString &strPath)
{
    if (strPath.size() < 2)
        return strPath;
#ifdef Q_OS_WIN
    const qsizetype nSeparator =
        std::max(strPath.lastIndexOf(QLatin1Char('\\')), strPath.lastIndexOf(QLatin1Char('/')));
#else
    const qsizetype nSeparator = strPath.lastIndexOf(QLatin1Char('/'));
#endif
    if (nSeparator >= 0)
        return strPath.mid(nSeparator + 1);
    // Paths remembered on Windows may name a drive without a folder ("C:sp.bmp").
    if (strPath.at(1) == QLatin1Char(':'))
        return strPath.mid(2);
    return strPath;
}

int FindImageEntry(const QString &strPath)
{
    const QString strName = FileNamePart(strPath);
    const auto &list = g_DisplaySettings.ImageList;
    for (int i = 0; i < kImageListSize; ++i) {
        if (!list[i].bmpName.isEmpty() && FileNamePart(list[i].bmpName) == strName)
            return i;
    }
    return -1;
}

void MoveImageEntryToFront(int nSlot)
{
    if (nSlot <= 0 || nSlot >= kImageListSize)
        return;
    auto &list = g_DisplaySettings.ImageList;
    std::rotate(list.begin(), list.begin() + nSlot, list.begin() + nSlot + 1);
}

void ApplyFirstImageEntry()
{
    DisplaySettings &ds = g_DisplaySettings;
    const ImageEntry &entry = ds.ImageList[0];
    const auto nLeftRight = static_cast<std::uint32_t>(entry.bmpLeftRight);
    const auto nTopBottom = static_cast<std::uint32_t>(entry.bmpTopBottom);
    ds.BmpName = entry.bmpName;
    ds.AreaLeft = std::int32_t(nLeftRight >> 16);
    ds.AreaRight = std::int32_t(nLeftRight & 0xFFFF);
    ds.AreaTop = std::int32_t(nTopBottom >> 16);
    ds.AreaBottom = std::int32_t(nTopBottom & 0xFFFF);
    UnpackDisplayState(entry.bmpTypeEtc);
}

void StoreCurrentImage(bool bShift)
{
    DisplaySettings &ds = g_DisplaySettings;
    if (ds.BmpName.isEmpty())
        return;
    auto &list = ds.ImageList;
    if (bShift)
        std::shift_right(list.begin(), list.end(), 1);
    // Margins come from the dialogs as 0..65535; the unsigned arithmetic
    // keeps a hand-edited larger value from overflowing a signed int.
    const auto pack = [](std::int32_t nHigh, std::int32_t nLow) {
        return std::int32_t(std::uint32_t(nHigh) * 65536u + std::uint32_t(nLow));
    };
    list[0] = ImageEntry{ds.BmpName, pack(ds.AreaLeft, ds.AreaRight),
                         pack(ds.AreaTop, ds.AreaBottom), PackDisplayState()};
}

std::int32_t PackDisplayState()
{
    const DisplaySettings &ds = g_DisplaySettings;
    std::uint32_t nWord = 0;
    if (ds.FreqStrSw != 0)
        nWord |= 1u;
    if (ds.FclockDisp != 0)
        nWord |= 2u;
    if (ds.FwaveDisp != 0)
        nWord |= (std::uint32_t(ds.FwaveZan + 1) & 3u) << 2;
    nWord |= (std::uint32_t(ds.Ldiv) & 0xFu) << 4;
    nWord |= (std::uint32_t(ds.Fdiv) & 0xFFu) << 8;
    nWord |= (std::uint32_t(ds.Type) & 0xFu) << 16;
    return std::int32_t(nWord);
}

void UnpackDisplayState(std::int32_t nWord)
{
    DisplaySettings &ds = g_DisplaySettings;
    const auto nBits = static_cast<std::uint32_t>(nWord);
    ds.FreqStrSw = std::int32_t(nBits & 1u);
    ds.FclockDisp = std::int32_t((nBits >> 1) & 1u);
    const std::uint32_t nWave = (nBits >> 2) & 3u;
    ds.FwaveDisp = nWave != 0 ? 1 : 0;
    if (nWave != 0)
        ds.FwaveZan = std::int32_t(nWave - 1);
    ds.Ldiv = std::int32_t((nBits >> 4) & 0xFu);
    const std::uint32_t nDiv = (nBits >> 8) & 0xFFu;
    ds.Fdiv = nDiv != 0 ? std::int32_t(nDiv) : 1;
    ds.Type = std::int32_t((nBits >> 16) & 0xFu);
}
