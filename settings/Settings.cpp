#include "settings/Settings.h"

#include "settings/SettingValues.h"

#include "platform/ProfileStore.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <type_traits>

static_assert(std::is_same_v<int, std::int32_t>,
              "the separate settings integers are table targets of 32-bit kinds");

DisplaySettings g_DisplaySettings;
int g_PwinPosX1 = 0;
int g_PwinPosY1 = 0;
int g_PwinPosX2 = 0;
int g_PwinPosY2 = 0;
int g_Version = 0;
int g_bPreview = 0;
int g_bSettingsChanged = 0;
uint32_t g_nSettingsGeneration = 0;

namespace {

// A short name for the block inside the table below.
constexpr DisplaySettings &ds = g_DisplaySettings;

// The one table: reading, writing and resetting walk it from first row to
// last, so this is also the order in which values are written.
constexpr std::array<SettingsRow, 72> kSettingsRows = {{
    Int32Row("Type", &ds.Type, 0),
    Int32Row("Frange", &ds.Frange, 1),
    Int32Row("Fdiv", &ds.Fdiv, 16),
    Int32Row("Ldiv", &ds.Ldiv, 1),
    Int32Row("Lmin", &ds.Lmin, -60),
    Int32Row("Lmax", &ds.Lmax, -30),
    Int32Row("LPeek", &ds.LPeek, 2),
    Int32Row("CGrad", &ds.CGrad, 1),
    Int32Row("Cframe", &ds.Cframe, 0x808080),       // grey
    Int32Row("Coutline", &ds.Coutline, 0x808080),   // grey
    Int32Row("Cpeekchip", &ds.Cpeekchip, 0x00FFFF), // yellow
    Int32Row("Cbackground", &ds.Cbackground, 0),    // black
    Int32Row("Cchip1", &ds.Cchip1, 0xFFFF00),       // cyan
    Int32Row("Cchip2", &ds.Cchip2, 0xFF80FF),       // light violet
    Int32Row("Cwline", &ds.Cwline, 0xC080FF),       // pink
    Int32Row("FwaveDisp", &ds.FwaveDisp, 0),
    Int32Row("FclockDisp", &ds.FclockDisp, 0),
    Int32Row("FwaveZan", &ds.FwaveZan, 0),
    Int32Row("FreqStrSw", &ds.FreqStrSw, 1),
    Int32Row("WaveRecMode", &ds.WaveRecMode, 0),
    Int32Row("PwinPosX1", &g_PwinPosX1, 100),
    Int32Row("PwinPosY1", &g_PwinPosY1, 100),
    Int32Row("PwinPosX2", &g_PwinPosX2, 645),
    Int32Row("PwinPosY2", &g_PwinPosY2, 251),
    Int32Row("BaseKey", &ds.BaseKey, 440),
    Int32Row("FontHeight", &ds.Font.lfHeight, -11),
    Int32Row("FontWeight", &ds.Font.lfWeight, 400),
    Int32Row("KeyOn", &ds.KeyOn, -70),
    Int32Row("KeyWidth", &ds.KeyWidth, 10),
    Int32Row("KeyNum", &ds.KeyNum, 5),
    Int32Row("KeyDiv", &ds.KeyDiv, 21),
    TextRow("BmpName", &ds.BmpName, "sp.bmp"),
    Int32Row("AreaTop", &ds.AreaTop, 69),
    Int32Row("AreaBottom", &ds.AreaBottom, 21),
    Int32Row("AreaLeft", &ds.AreaLeft, 123),
    Int32Row("AreaRight", &ds.AreaRight, 114),
    Int32Row("Version", &g_Version, 0),
    Int32Row("SaverSizeX", &ds.SaverSizeX, 545),
    Int32Row("SaverSizeY", &ds.SaverSizeY, 151),
    Int32Row("SaverMode", &ds.SaverMode, 1),
    Int32Row("SpectFrameDraw", &ds.SpectFrameDraw, 1),
    Int8Row("FontCharSet", &ds.Font.lfCharSet, 128),               // SHIFTJIS_CHARSET
    Int8Row("FontOutPrecision", &ds.Font.lfOutPrecision, 3),       // OUT_STROKE_PRECIS
    Int8Row("FontClipPrecision", &ds.Font.lfClipPrecision, 2),     // CLIP_STROKE_PRECIS
    Int8Row("FontQuality", &ds.Font.lfQuality, 1),                 // DRAFT_QUALITY
    Int8Row("FontPichAndFamily", &ds.Font.lfPitchAndFamily, 0x32), // VARIABLE_PITCH | FF_MODERN
    FaceNameRow("FontFaceName", &ds.Font.lfFaceName, "ＭＳ Ｐゴシック"),
    ColorRow("FontColor", &ds.FontColor, 0xFFFF00), // cyan
    TextRow("bmpName1", &ds.ImageList[0].bmpName, ""),
    TextRow("bmpName2", &ds.ImageList[1].bmpName, ""),
    TextRow("bmpName3", &ds.ImageList[2].bmpName, ""),
    TextRow("bmpName4", &ds.ImageList[3].bmpName, ""),
    TextRow("bmpName5", &ds.ImageList[4].bmpName, ""),
    TextRow("bmpName6", &ds.ImageList[5].bmpName, ""),
    // Margins 4 and 4.
    Int32Row("bmpLeftRight1", &ds.ImageList[0].bmpLeftRight, 0x40004),
    Int32Row("bmpLeftRight2", &ds.ImageList[1].bmpLeftRight, 0x40004),
    Int32Row("bmpLeftRight3", &ds.ImageList[2].bmpLeftRight, 0x40004),
    Int32Row("bmpLeftRight4", &ds.ImageList[3].bmpLeftRight, 0x40004),
    Int32Row("bmpLeftRight5", &ds.ImageList[4].bmpLeftRight, 0x40004),
    Int32Row("bmpLeftRight6", &ds.ImageList[5].bmpLeftRight, 0x40004),
    Int32Row("bmpTopBottom1", &ds.ImageList[0].bmpTopBottom, 0x40004),
    Int32Row("bmpTopBottom2", &ds.ImageList[1].bmpTopBottom, 0x40004),
    Int32Row("bmpTopBottom3", &ds.ImageList[2].bmpTopBottom, 0x40004),
    Int32Row("bmpTopBottom4", &ds.ImageList[3].bmpTopBottom, 0x40004),
    Int32Row("bmpTopBottom5", &ds.ImageList[4].bmpTopBottom, 0x40004),
    Int32Row("bmpTopBottom6", &ds.ImageList[5].bmpTopBottom, 0x40004),
    // The option words count from 0 while the three fields above count from 1.
    Int32Row("bmpTypeEtc0", &ds.ImageList[0].bmpTypeEtc, 0x1213),
    Int32Row("bmpTypeEtc1", &ds.ImageList[1].bmpTypeEtc, 0x1213),
    Int32Row("bmpTypeEtc2", &ds.ImageList[2].bmpTypeEtc, 0x1213),
    Int32Row("bmpTypeEtc3", &ds.ImageList[3].bmpTypeEtc, 0x1213),
    Int32Row("bmpTypeEtc4", &ds.ImageList[4].bmpTypeEtc, 0x1213),
    Int32Row("bmpTypeEtc5", &ds.ImageList[5].bmpTypeEtc, 0x1213),
}};

// Settings of this program's own, beside the 72; empty InputSource: what is playing.
constexpr std::array<SettingsRow, 1> kAddedRows = {{
    TextRow("InputSource", &ds.InputSource, ""),
}};

std::unique_ptr<IProfileStore> g_pProfileStore;
QString g_strLoadProblem;

// Stores a 32-bit store number into a numeric row's target, narrowed to the
// kind's width (conversion to a narrower type keeps the low bits).
void AssignNumber(const SettingsRow &row, std::uint32_t dwValue)
{
    switch (row.nKind) {
    case kKindInt32:
    case kKindColor:
        *static_cast<std::int32_t *>(row.pTarget) = static_cast<std::int32_t>(dwValue);
        break;
    case kKindInt16:
        *static_cast<std::int16_t *>(row.pTarget) = static_cast<std::int16_t>(dwValue);
        break;
    case kKindUInt16:
        *static_cast<std::uint16_t *>(row.pTarget) = static_cast<std::uint16_t>(dwValue);
        break;
    case kKindInt8:
    case kKindUInt8:
        // Both byte kinds hold the same eight bits; they differ only when written.
        *static_cast<std::uint8_t *>(row.pTarget) = static_cast<std::uint8_t>(dwValue);
        break;
    default:
        break;
    }
}

// The 32-bit store number of a numeric row's target: signed kinds
// sign-extended (a byte 128 gives 0xFFFFFF80), unsigned kinds zero-extended.
std::uint32_t NumberOf(const SettingsRow &row)
{
    switch (row.nKind) {
    case kKindInt32:
    case kKindColor:
        return static_cast<std::uint32_t>(*static_cast<const std::int32_t *>(row.pTarget));
    case kKindInt16:
        return static_cast<std::uint32_t>(
            static_cast<std::int32_t>(*static_cast<const std::int16_t *>(row.pTarget)));
    case kKindUInt16:
        return *static_cast<const std::uint16_t *>(row.pTarget);
    case kKindInt8:
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(
            static_cast<std::int8_t>(*static_cast<const std::uint8_t *>(row.pTarget))));
    case kKindUInt8:
        return *static_cast<const std::uint8_t *>(row.pTarget);
    default:
        return 0;
    }
}

bool IsTextKind(int nKind)
{
    return nKind == kKindText || nKind == kKindFaceName;
}

QString DefaultText(const SettingsRow &row)
{
    return QString::fromUtf8(row.pszDefault != nullptr ? row.pszDefault : "");
}

void AssignText(const SettingsRow &row, const QString &strValue)
{
    if (row.nKind == kKindText)
        *static_cast<QString *>(row.pTarget) = strValue;
    else
        SetFaceName(*static_cast<char(*)[kFaceNameSize]>(row.pTarget), strValue);
}

} // namespace

std::span<const SettingsRow> SettingsTable()
{
    return kSettingsRows;
}

std::span<const SettingsRow> AddedSettingsTable()
{
    return kAddedRows;
}

void ReadSettingsRows(std::span<const SettingsRow> rows, const IProfileStore *pStore)
{
    const QString strSection = QString::fromLatin1(kSettingsSection);
    for (const SettingsRow &row : rows) {
        const QString strKey = QString::fromLatin1(row.pszKey);
        if (IsTextKind(row.nKind)) {
            QString strValue;
            if (pStore == nullptr ||
                pStore->ReadText(strSection, strKey, strValue) != ProfileValueState::Present)
                strValue = DefaultText(row);
            AssignText(row, strValue);
        } else {
            std::uint32_t dwValue = 0;
            if (pStore == nullptr ||
                pStore->ReadNumber(strSection, strKey, dwValue) != ProfileValueState::Present)
                dwValue = static_cast<std::uint32_t>(row.nDefault);
            AssignNumber(row, dwValue);
        }
    }
}

void WriteSettingsRows(std::span<const SettingsRow> rows, IProfileStore *pStore)
{
    if (pStore == nullptr)
        return;
    const QString strSection = QString::fromLatin1(kSettingsSection);
    for (const SettingsRow &row : rows) {
        const QString strKey = QString::fromLatin1(row.pszKey);
        if (row.nKind == kKindText)
            pStore->WriteText(strSection, strKey, *static_cast<const QString *>(row.pTarget));
        else if (row.nKind == kKindFaceName)
            pStore->WriteText(
                strSection, strKey,
                FaceNameText(*static_cast<const char(*)[kFaceNameSize]>(row.pTarget)));
        else
            pStore->WriteNumber(strSection, strKey, NumberOf(row));
    }
}

void ResetSettingsRows(std::span<const SettingsRow> rows)
{
    for (const SettingsRow &row : rows) {
        if (IsTextKind(row.nKind))
            AssignText(row, DefaultText(row));
        else
            AssignNumber(row, static_cast<std::uint32_t>(row.nDefault));
    }
}

void SetProfileStore(std::unique_ptr<IProfileStore> pStore)
{
    g_pProfileStore = std::move(pStore);
}

IProfileStore *GetProfileStore()
{
    return g_pProfileStore.get();
}

void LoadSettings()
{
    // The fields of the font description that have no row stay 0.
    g_DisplaySettings.Font = LogFont{};
    ReadSettingsRows(kSettingsRows, g_pProfileStore.get());
    ReadSettingsRows(kAddedRows, g_pProfileStore.get());
    g_strLoadProblem.clear();
    // A store without the marker (a first run, or values from a build that did
    // not write it) is ignored as a whole; the next save writes the marker.
    if (g_Version == 0) {
        const IProfileStore *pStore = g_pProfileStore.get();
        if (pStore && !pStore->IsReadable())
            g_strLoadProblem = QStringLiteral("cannot read the settings file %1; using the "
                                              "defaults")
                                   .arg(pStore->Location());
        else if (pStore && pStore->HoldsValues(QString::fromLatin1(kSettingsSection)))
            g_strLoadProblem = QStringLiteral("the settings file %1 has no Version=1 in [%2], "
                                              "so its settings were not used (defaults instead)")
                                   .arg(pStore->Location(), QString::fromLatin1(kSettingsSection));
        ResetSettings();
        g_Version = 1;
    }
}

QString LoadSettingsProblem()
{
    return g_strLoadProblem;
}

void SaveSettings()
{
    // A value the pages cannot set (only a damaged store holds one) is
    // written back as the value the program used in its place.
    g_DisplaySettings = BoundedForUse(g_DisplaySettings);
    WriteSettingsRows(kSettingsRows, g_pProfileStore.get());
    WriteSettingsRows(kAddedRows, g_pProfileStore.get());
    if (g_pProfileStore)
        g_pProfileStore->Flush();
}

bool SaveSettingsChecked(QString *pWhere)
{
    SaveSettings();
    if (pWhere)
        *pWhere = g_pProfileStore ? g_pProfileStore->Location() : QString();
    return !g_pProfileStore || g_pProfileStore->FlushSucceeded();
}

void ResetSettings()
{
    g_DisplaySettings.Font = LogFont{};
    ResetSettingsRows(kSettingsRows);
    ResetSettingsRows(kAddedRows);
}

void SetFaceName(char (&achFaceName)[kFaceNameSize], const QString &strFaceName)
{
    QByteArray utf8 = strFaceName.toUtf8();
    // An embedded NUL ends the name, as it would in the array.
    const qsizetype nNul = utf8.indexOf('\0');
    if (nNul >= 0)
        utf8.truncate(nNul);
    qsizetype nLength = std::min<qsizetype>(utf8.size(), kFaceNameSize - 1);
    // Back off while the first byte left out continues the character before
    // it, so the cut never splits a multi-byte character.
    while (nLength > 0 && nLength < utf8.size() &&
           (static_cast<unsigned char>(utf8[nLength]) & 0xC0) == 0x80)
        --nLength;
    std::memset(achFaceName, 0, sizeof achFaceName);
    std::memcpy(achFaceName, utf8.constData(), static_cast<std::size_t>(nLength));
}

QString FaceNameText(const char (&achFaceName)[kFaceNameSize])
{
    const auto *pEnd = std::find(achFaceName, achFaceName + kFaceNameSize, '\0');
    return QString::fromUtf8(achFaceName, pEnd - achFaceName);
}
