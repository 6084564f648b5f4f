#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

class IProfileStore;

// The persisted settings: one process-wide block, the few integers beside
// it, and the one ordered table that reads, writes and resets them all.
// Everything here is used from the user-interface thread only.

constexpr int kFaceNameSize = 32; // bytes of LogFont::lfFaceName, the terminating NUL included

// The text font, laid out like the Windows font description (LOGFONT with
// 8-bit characters): 60 bytes, no padding. Only height, weight, the five byte
// fields from lfCharSet on and the face name are persisted; the others are 0
// after every load or reset.
struct LogFont
{
    std::int32_t lfHeight{}; // logical units; negative: character height without internal leading
    std::int32_t lfWidth{};
    std::int32_t lfEscapement{};
    std::int32_t lfOrientation{};
    std::int32_t lfWeight{}; // 400 normal
    std::uint8_t lfItalic{};
    std::uint8_t lfUnderline{};
    std::uint8_t lfStrikeOut{};
    std::uint8_t lfCharSet{}; // 128: Shift-JIS
    std::uint8_t lfOutPrecision{};
    std::uint8_t lfClipPrecision{};
    std::uint8_t lfQuality{};
    std::uint8_t lfPitchAndFamily{};
    // UTF-8, NUL-terminated; at most 31 bytes of text, always cut between characters.
    char lfFaceName[kFaceNameSize]{};

    bool operator==(const LogFont &) const = default;
};
static_assert(sizeof(LogFont) == 60, "the font description is 60 bytes without padding");

// One remembered background picture. The margins pack two pixel distances
// into one value, the first-named margin in the high 16 bits.
struct ImageEntry
{
    QString bmpName;             // full path; empty: the entry is free
    std::int32_t bmpLeftRight{}; // AreaLeft * 65536 + AreaRight
    std::int32_t bmpTopBottom{}; // AreaTop * 65536 + AreaBottom
    std::int32_t bmpTypeEtc{};   // packed display options (see the background image list)

    bool operator==(const ImageEntry &) const = default;
};

constexpr int kImageListSize = 6;

// The block of persisted settings, each member named by its store key. A
// value type: copying it copies everything, texts included. All members are
// 32-bit signed integers unless noted. Colours are 0x00BBGGRR; Area* margins
// are pixels of the background picture; levels are dB.
struct DisplaySettings
{
    std::int32_t Type{};   // 0 mono, 1 stereo, 2 stereo left/right, 3 stereo top/bottom, 4 keyboard
    std::int32_t Frange{}; // 0 100~5 kHz, 1 100~10 kHz, 2 100~20 kHz
    std::int32_t Fdiv{};   // number of frequency bands
    std::int32_t Ldiv{};   // level-axis resolution: 0 fine, 1 standard, 2 coarse
    std::int32_t Lmax{};   // dB
    std::int32_t Lmin{};   // dB
    std::int32_t KeyOn{};  // dB at which a key lights
    std::int32_t KeyWidth{}; // stored only
    std::int32_t KeyNum{};   // keys lit at once
    std::int32_t LPeek{};    // 0 hold, 1 slow down, 2 up
    std::int32_t FwaveDisp{};
    std::int32_t FclockDisp{};
    std::int32_t FwaveZan{}; // afterimage: 0 none, 1 faint, 2 dark
    std::int32_t FreqStrSw{};
    std::int32_t BaseKey{};    // Hz
    std::int32_t KeyDiv{};     // white keys: 21, 25, 28 or 32
    std::int32_t SaverSizeX{}; // pixels
    std::int32_t SaverSizeY{}; // pixels
    std::int32_t SaverMode{};  // bit 0: move the graph every 30 s

    QString BmpName;

    std::int32_t AreaTop{};
    std::int32_t AreaBottom{};
    std::int32_t AreaLeft{};
    std::int32_t AreaRight{};

    std::int32_t CGrad{};
    std::int32_t Cframe{};
    std::int32_t Coutline{};
    std::int32_t Cpeekchip{};
    std::int32_t Cchip1{};
    std::int32_t Cchip2{};
    std::int32_t Cbackground{};
    std::int32_t Cwline{};
    std::int32_t FontColor{};

    LogFont Font;

    // Entry 0 is the most recent picture (keys bmpName1, ..., bmpTypeEtc0).
    std::array<ImageEntry, kImageListSize> ImageList;

    std::int32_t WaveRecMode{};    // 1: marker mode capture
    std::int32_t SpectFrameDraw{}; // 1: divider lines between columns

    // What the sound input records (kInputDefaultSource and the rest in
    // SettingValues.h). Stored beside the 72 rows, under its own key.
    QString InputSource;

    bool operator==(const DisplaySettings &) const = default;
};

extern DisplaySettings g_DisplaySettings;
// The stored rectangle (left, top, right, bottom), read and written only.
extern int g_PwinPosX1;
extern int g_PwinPosY1;
extern int g_PwinPosX2;
extern int g_PwinPosY2;
// 0 until the store held a complete set of settings; see LoadSettings.
extern int g_Version;
// 1 only in the preview run mode: no background picture is loaded then.
extern int g_bPreview;
// 1 asks every running spectrum window to rebuild its layout and restart
// capture; raised by the settings pages, cleared by the spectrum window.
extern int g_bSettingsChanged;
// How many changes the running views have taken from g_bSettingsChanged: the
// first view to see the flag raised clears it and counts one more, and every
// view lays out again when the count differs from the one it last laid out
// with, so that views sharing the flag all follow the change.
extern uint32_t g_nSettingsGeneration;

// How a table row holds its value in memory and converts it to and from the
// store's 32-bit numbers and texts.
enum SettingKind : int
{
    kKindInt32 = 0,    // std::int32_t
    kKindColor = 1,    // std::int32_t, handled as kKindInt32
    kKindText = 2,     // QString
    kKindFaceName = 3, // char[kFaceNameSize]
    kKindInt16 = 4,    // std::int16_t: read narrowed to 16 bits, written sign-extended
    kKindUInt16 = 5,   // std::uint16_t: read narrowed to 16 bits, written zero-extended
    kKindInt8 = 6,     // one byte (std::uint8_t field) read narrowed, written sign-extended
    kKindUInt8 = 7,    // one byte, read narrowed, written zero-extended
};

// One setting: its kind, store key, the variable it lives in, and its default
// (nDefault for the numeric kinds, pszDefault, UTF-8, for kinds 2 and 3).
// Build rows with the Row* helpers below, which tie the target's type to the kind.
struct SettingsRow
{
    int nKind;
    const char *pszKey;
    void *pTarget;
    std::int32_t nDefault{};
    const char *pszDefault;
};

constexpr SettingsRow Int32Row(const char *pszKey, std::int32_t *pTarget, std::int32_t nDefault)
{
    return {kKindInt32, pszKey, pTarget, nDefault, nullptr};
}
constexpr SettingsRow ColorRow(const char *pszKey, std::int32_t *pTarget, std::int32_t nDefault)
{
    return {kKindColor, pszKey, pTarget, nDefault, nullptr};
}
constexpr SettingsRow TextRow(const char *pszKey, QString *pTarget, const char *pszDefault)
{
    return {kKindText, pszKey, pTarget, 0, pszDefault};
}
constexpr SettingsRow FaceNameRow(const char *pszKey, char (*pTarget)[kFaceNameSize],
                                  const char *pszDefault)
{
    return {kKindFaceName, pszKey, pTarget, 0, pszDefault};
}
constexpr SettingsRow Int16Row(const char *pszKey, std::int16_t *pTarget, std::int32_t nDefault)
{
    return {kKindInt16, pszKey, pTarget, nDefault, nullptr};
}
constexpr SettingsRow UInt16Row(const char *pszKey, std::uint16_t *pTarget, std::int32_t nDefault)
{
    return {kKindUInt16, pszKey, pTarget, nDefault, nullptr};
}
constexpr SettingsRow Int8Row(const char *pszKey, std::uint8_t *pTarget, std::int32_t nDefault)
{
    return {kKindInt8, pszKey, pTarget, nDefault, nullptr};
}
constexpr SettingsRow UInt8Row(const char *pszKey, std::uint8_t *pTarget, std::int32_t nDefault)
{
    return {kKindUInt8, pszKey, pTarget, nDefault, nullptr};
}

// The largest font height, in pixels, that the display draws text in or
// makes room for; a stored FontHeight beyond it (only a damaged store holds
// one, such as -2147483648) counts as this much.
constexpr int kMaxFontHeight = 2000;

// |lfHeight| in pixels, at most kMaxFontHeight: the height of the strips
// that the font's text takes in the layout. Defined for every 32-bit value.
constexpr int FontHeightMagnitude(std::int32_t lfHeight)
{
    const std::int64_t n = lfHeight < 0 ? -std::int64_t(lfHeight) : std::int64_t(lfHeight);
    return int(n < kMaxFontHeight ? n : kMaxFontHeight);
}

// The section every setting lives in.
inline constexpr char kSettingsSection[] = "Config";

// The 72 rows of the program's settings, in read and write order.
std::span<const SettingsRow> SettingsTable();
// The rows stored beside those 72 (InputSource), read, written and reset
// after them and by the same rules: a missing key gives the default, and a
// store without Version is ignored for them too.
std::span<const SettingsRow> AddedSettingsTable();

// The table walks behind LoadSettings, SaveSettings and ResetSettings, for any
// table. A null store reads as empty; writing to it does nothing.
void ReadSettingsRows(std::span<const SettingsRow> rows, const IProfileStore *pStore);
void WriteSettingsRows(std::span<const SettingsRow> rows, IProfileStore *pStore);
void ResetSettingsRows(std::span<const SettingsRow> rows);

// The process-wide store that LoadSettings reads and SaveSettings writes; set
// once at start-up (tests install an in-memory one). Without one, loading
// gives the defaults and saving does nothing.
void SetProfileStore(std::unique_ptr<IProfileStore> pStore);
IProfileStore *GetProfileStore();

// Reads every setting (absent or unusable values take their defaults). If
// Version is then 0 the stored values are dropped: every setting takes its
// default and Version becomes 1.
void LoadSettings();
// Why the last LoadSettings used the defaults in place of a store that holds
// something, in one line for the user ("cannot read the settings file ...");
// empty when it did not (a first run without a store included).
QString LoadSettingsProblem();
// Writes all 72 values in table order and then the added rows, then flushes the store; values no
// settings page could set are first brought into range in the block itself
// (BoundedForUse). Only the settings dialog's OK calls this.
void SaveSettings();
// SaveSettings, then whether the values reached the store's place; pWhere,
// when given, receives that place (the settings file) for a message.
bool SaveSettingsChecked(QString *pWhere);
// Every setting (Version included, to 0) takes its default.
void ResetSettings();

// Copies a text into a face-name array as UTF-8, cut to at most 31 bytes
// without splitting a character, and NUL-terminated; the rest of the array is zeroed.
void SetFaceName(char (&achFaceName)[kFaceNameSize], const QString &strFaceName);
// The text of a face-name array, up to its first NUL (all 32 bytes if it has none).
QString FaceNameText(const char (&achFaceName)[kFaceNameSize]);
