#include "app/Settings.h"
#include "platform/ProfileStore.h"

#include <QStringList>
#include <QVariant>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

// The settings as the design lists them: key, kind, and the number a save of
// the defaults writes (negative defaults as their 32-bit two's complement) or
// the default text.
struct DesignRow
{
    const char *pszKey;
    int nKind;
    std::uint32_t dwWritten;
    const char *pszText;
};

constexpr std::uint32_t Neg(std::int64_t n)
{
    return static_cast<std::uint32_t>(n);
}

const std::vector<DesignRow> kDesign = {
    {"Type", 0, 0, nullptr},
    {"Frange", 0, 1, nullptr},
    {"Fdiv", 0, 16, nullptr},
    {"Ldiv", 0, 1, nullptr},
    {"Lmin", 0, Neg(-60), nullptr},
    {"Lmax", 0, Neg(-30), nullptr},
    {"LPeek", 0, 2, nullptr},
    {"CGrad", 0, 1, nullptr},
    {"Cframe", 0, 0x808080, nullptr},
    {"Coutline", 0, 0x808080, nullptr},
    {"Cpeekchip", 0, 0x00FFFF, nullptr},
    {"Cbackground", 0, 0, nullptr},
    {"Cchip1", 0, 0xFFFF00, nullptr},
    {"Cchip2", 0, 0xFF80FF, nullptr},
    {"Cwline", 0, 0xC080FF, nullptr},
    {"FwaveDisp", 0, 0, nullptr},
    {"FclockDisp", 0, 0, nullptr},
    {"FwaveZan", 0, 0, nullptr},
    {"FreqStrSw", 0, 1, nullptr},
    {"WaveRecMode", 0, 0, nullptr},
    {"PwinPosX1", 0, 100, nullptr},
    {"PwinPosY1", 0, 100, nullptr},
    {"PwinPosX2", 0, 645, nullptr},
    {"PwinPosY2", 0, 251, nullptr},
    {"BaseKey", 0, 440, nullptr},
    {"FontHeight", 0, Neg(-11), nullptr},
    {"FontWeight", 0, 400, nullptr},
    {"KeyOn", 0, Neg(-70), nullptr},
    {"KeyWidth", 0, 10, nullptr},
    {"KeyNum", 0, 5, nullptr},
    {"KeyDiv", 0, 21, nullptr},
    {"BmpName", 2, 0, "sp.bmp"},
    {"AreaTop", 0, 69, nullptr},
    {"AreaBottom", 0, 21, nullptr},
    {"AreaLeft", 0, 123, nullptr},
    {"AreaRight", 0, 114, nullptr},
    {"Version", 0, 1, nullptr}, // 0 by default, 1 once loading has applied the marker rule
    {"SaverSizeX", 0, 545, nullptr},
    {"SaverSizeY", 0, 151, nullptr},
    {"SaverMode", 0, 1, nullptr},
    {"SpectFrameDraw", 0, 1, nullptr},
    {"FontCharSet", 6, 4294967168u, nullptr}, // 128 sign-extended
    {"FontOutPrecision", 6, 3, nullptr},
    {"FontClipPrecision", 6, 2, nullptr},
    {"FontQuality", 6, 1, nullptr},
    {"FontPichAndFamily", 6, 50, nullptr},
    {"FontFaceName", 3, 0, "ＭＳ Ｐゴシック"},
    {"FontColor", 1, 0xFFFF00, nullptr},
    {"bmpName1", 2, 0, ""},
    {"bmpName2", 2, 0, ""},
    {"bmpName3", 2, 0, ""},
    {"bmpName4", 2, 0, ""},
    {"bmpName5", 2, 0, ""},
    {"bmpName6", 2, 0, ""},
    {"bmpLeftRight1", 0, 262148, nullptr},
    {"bmpLeftRight2", 0, 262148, nullptr},
    {"bmpLeftRight3", 0, 262148, nullptr},
    {"bmpLeftRight4", 0, 262148, nullptr},
    {"bmpLeftRight5", 0, 262148, nullptr},
    {"bmpLeftRight6", 0, 262148, nullptr},
    {"bmpTopBottom1", 0, 262148, nullptr},
    {"bmpTopBottom2", 0, 262148, nullptr},
    {"bmpTopBottom3", 0, 262148, nullptr},
    {"bmpTopBottom4", 0, 262148, nullptr},
    {"bmpTopBottom5", 0, 262148, nullptr},
    {"bmpTopBottom6", 0, 262148, nullptr},
    {"bmpTypeEtc0", 0, 4627, nullptr},
    {"bmpTypeEtc1", 0, 4627, nullptr},
    {"bmpTypeEtc2", 0, 4627, nullptr},
    {"bmpTypeEtc3", 0, 4627, nullptr},
    {"bmpTypeEtc4", 0, 4627, nullptr},
    {"bmpTypeEtc5", 0, 4627, nullptr},
};

// Starts every test from zeroed settings and an empty in-memory store that
// LoadSettings and SaveSettings use.
class SettingsStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_DisplaySettings = DisplaySettings{};
        g_PwinPosX1 = g_PwinPosY1 = g_PwinPosX2 = g_PwinPosY2 = 0;
        g_Version = 0;
        auto pStore = std::make_unique<MemoryProfileStore>();
        m_pStore = pStore.get();
        SetProfileStore(std::move(pStore));
    }

    void TearDown() override { SetProfileStore(nullptr); }

    void Plant(const char *pszKey, const QVariant &value)
    {
        m_pStore->SetRaw(QStringLiteral("Config"), QString::fromLatin1(pszKey), value);
    }

    QVariant Stored(const char *pszKey) const
    {
        return m_pStore->Raw(QStringLiteral("Config"), QString::fromLatin1(pszKey));
    }

    MemoryProfileStore *m_pStore = nullptr; // owned by the process-wide store slot
};

std::string FaceName()
{
    return FaceNameText(g_DisplaySettings.Font.lfFaceName).toStdString();
}

} // namespace

TEST(SettingsTable, HasTheDesignsKeysAndKindsInOrder)
{
    const std::span<const SettingsRow> rows = SettingsTable();
    ASSERT_EQ(rows.size(), kDesign.size());
    ASSERT_EQ(rows.size(), 72u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_STREQ(rows[i].pszKey, kDesign[i].pszKey) << "row " << i + 1;
        EXPECT_EQ(rows[i].nKind, kDesign[i].nKind) << kDesign[i].pszKey;
    }
    // No two rows share a target.
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = i + 1; j < rows.size(); ++j)
            EXPECT_NE(rows[i].pTarget, rows[j].pTarget) << rows[i].pszKey << " " << rows[j].pszKey;
}

TEST(SettingsTable, FontDescriptionHasTheWindowsLayout)
{
    static_assert(sizeof(LogFont) == 60);
    static_assert(offsetof(LogFont, lfWeight) == 16);
    static_assert(offsetof(LogFont, lfItalic) == 20);
    static_assert(offsetof(LogFont, lfCharSet) == 23);
    static_assert(offsetof(LogFont, lfPitchAndFamily) == 27);
    static_assert(offsetof(LogFont, lfFaceName) == 28);
    // Rows point at the font's own fields.
    const std::span<const SettingsRow> rows = SettingsTable();
    const LogFont &font = g_DisplaySettings.Font;
    EXPECT_EQ(rows[25].pTarget, &font.lfHeight);
    EXPECT_EQ(rows[26].pTarget, &font.lfWeight);
    EXPECT_EQ(rows[41].pTarget, &font.lfCharSet);
    EXPECT_EQ(rows[45].pTarget, &font.lfPitchAndFamily);
    EXPECT_EQ(rows[46].pTarget, &font.lfFaceName);
    EXPECT_EQ(rows[71].pTarget, &g_DisplaySettings.ImageList[5].bmpTypeEtc);
}

TEST_F(SettingsStore, EmptyStoreGivesEveryDefaultAndVersion1)
{
    LoadSettings();

    const DisplaySettings &s = g_DisplaySettings;
    EXPECT_EQ(s.Type, 0);
    EXPECT_EQ(s.Frange, 1);
    EXPECT_EQ(s.Fdiv, 16);
    EXPECT_EQ(s.Ldiv, 1);
    EXPECT_EQ(s.Lmin, -60);
    EXPECT_EQ(s.Lmax, -30);
    EXPECT_EQ(s.LPeek, 2);
    EXPECT_EQ(s.CGrad, 1);
    EXPECT_EQ(s.Cframe, 0x808080);
    EXPECT_EQ(s.Coutline, 0x808080);
    EXPECT_EQ(s.Cpeekchip, 0x00FFFF);
    EXPECT_EQ(s.Cbackground, 0);
    EXPECT_EQ(s.Cchip1, 0xFFFF00);
    EXPECT_EQ(s.Cchip2, 0xFF80FF);
    EXPECT_EQ(s.Cwline, 0xC080FF);
    EXPECT_EQ(s.FwaveDisp, 0);
    EXPECT_EQ(s.FclockDisp, 0);
    EXPECT_EQ(s.FwaveZan, 0);
    EXPECT_EQ(s.FreqStrSw, 1);
    EXPECT_EQ(s.WaveRecMode, 0);
    EXPECT_EQ(g_PwinPosX1, 100);
    EXPECT_EQ(g_PwinPosY1, 100);
    EXPECT_EQ(g_PwinPosX2, 645);
    EXPECT_EQ(g_PwinPosY2, 251);
    EXPECT_EQ(s.BaseKey, 440);
    EXPECT_EQ(s.KeyOn, -70);
    EXPECT_EQ(s.KeyWidth, 10);
    EXPECT_EQ(s.KeyNum, 5);
    EXPECT_EQ(s.KeyDiv, 21);
    EXPECT_EQ(s.BmpName, QStringLiteral("sp.bmp"));
    EXPECT_EQ(s.AreaTop, 69);
    EXPECT_EQ(s.AreaBottom, 21);
    EXPECT_EQ(s.AreaLeft, 123);
    EXPECT_EQ(s.AreaRight, 114);
    EXPECT_EQ(g_Version, 1);
    EXPECT_EQ(s.SaverSizeX, 545);
    EXPECT_EQ(s.SaverSizeY, 151);
    EXPECT_EQ(s.SaverMode, 1);
    EXPECT_EQ(s.SpectFrameDraw, 1);
    EXPECT_EQ(s.FontColor, 0xFFFF00);

    EXPECT_EQ(s.Font.lfHeight, -11);
    EXPECT_EQ(s.Font.lfWeight, 400);
    EXPECT_EQ(s.Font.lfCharSet, 128);
    EXPECT_EQ(s.Font.lfOutPrecision, 3);
    EXPECT_EQ(s.Font.lfClipPrecision, 2);
    EXPECT_EQ(s.Font.lfQuality, 1);
    EXPECT_EQ(s.Font.lfPitchAndFamily, 0x32);
    EXPECT_EQ(FaceName(), "ＭＳ Ｐゴシック");
    EXPECT_EQ(s.Font.lfWidth, 0);
    EXPECT_EQ(s.Font.lfEscapement, 0);
    EXPECT_EQ(s.Font.lfOrientation, 0);
    EXPECT_EQ(s.Font.lfItalic, 0);
    EXPECT_EQ(s.Font.lfUnderline, 0);
    EXPECT_EQ(s.Font.lfStrikeOut, 0);

    for (const ImageEntry &entry : s.ImageList) {
        EXPECT_TRUE(entry.bmpName.isEmpty());
        EXPECT_EQ(entry.bmpLeftRight, 0x40004);
        EXPECT_EQ(entry.bmpTopBottom, 0x40004);
        EXPECT_EQ(entry.bmpTypeEtc, 0x1213);
    }

    // Loading reads only.
    EXPECT_TRUE(m_pStore->WriteLog().isEmpty());
    EXPECT_EQ(m_pStore->FlushCount(), 0);
}

TEST_F(SettingsStore, SaveWritesAll72ValuesInTableOrderWithVersion1)
{
    LoadSettings();
    SaveSettings();

    QStringList expectedLog;
    for (const DesignRow &row : kDesign)
        expectedLog << QStringLiteral("Config/") + QString::fromLatin1(row.pszKey);
    EXPECT_EQ(m_pStore->WriteLog(), expectedLog);
    EXPECT_EQ(m_pStore->Count(), 72);
    EXPECT_EQ(m_pStore->FlushCount(), 1);

    for (const DesignRow &row : kDesign) {
        const QVariant value = Stored(row.pszKey);
        if (row.pszText != nullptr) {
            EXPECT_EQ(value.typeId(), QMetaType::QString) << row.pszKey;
            EXPECT_EQ(value.toString(), QString::fromUtf8(row.pszText)) << row.pszKey;
        } else {
            EXPECT_EQ(value.typeId(), QMetaType::UInt) << row.pszKey;
            EXPECT_EQ(value.toUInt(), row.dwWritten) << row.pszKey;
        }
    }
}

TEST_F(SettingsStore, StoreWithoutVersionIsIgnoredAsAWhole)
{
    Plant("Type", 3u);
    Plant("Fdiv", 40u);
    Plant("BmpName", QStringLiteral("mine.bmp"));
    Plant("FontCharSet", 0u);
    LoadSettings();
    EXPECT_EQ(g_DisplaySettings.Type, 0);
    EXPECT_EQ(g_DisplaySettings.Fdiv, 16);
    EXPECT_EQ(g_DisplaySettings.BmpName, QStringLiteral("sp.bmp"));
    EXPECT_EQ(g_DisplaySettings.Font.lfCharSet, 128);
    EXPECT_EQ(g_Version, 1);
}

TEST_F(SettingsStore, VersionDecidesWhetherStoredValuesCount)
{
    struct Case
    {
        QVariant version;
        int nExpectedType;
        int nExpectedVersion;
    };
    const std::vector<Case> cases = {
        {QVariant::fromValue<uint>(1u), 3, 1},
        {QVariant::fromValue<uint>(7u), 3, 7}, // any non-zero marker keeps the values, as it is
        {QStringLiteral("1"), 3, 1},
        {QVariant::fromValue<uint>(0u), 0, 1},
        {QStringLiteral("abc"), 0, 1}, // a damaged marker is a missing one
    };
    for (const Case &c : cases) {
        SetUp();
        Plant("Type", 3u);
        Plant("Version", c.version);
        LoadSettings();
        EXPECT_EQ(g_DisplaySettings.Type, c.nExpectedType) << c.version.toString().toStdString();
        EXPECT_EQ(g_Version, c.nExpectedVersion) << c.version.toString().toStdString();
        // Values the store does not hold take their defaults either way.
        EXPECT_EQ(g_DisplaySettings.Fdiv, 16);
        EXPECT_EQ(g_DisplaySettings.Lmin, -60);
        TearDown();
    }
}

TEST_F(SettingsStore, ByteKindIsWrittenSignExtendedAndReadNarrowed)
{
    Plant("Version", 1u);
    Plant("FontCharSet", 4294967168u);
    Plant("FontOutPrecision", QStringLiteral("-128")); // a hand edit in signed form
    Plant("FontClipPrecision", 0x1FFu);               // only the low byte counts
    Plant("FontQuality", 0xFFFFFF05u);
    LoadSettings();
    EXPECT_EQ(g_DisplaySettings.Font.lfCharSet, 128);
    EXPECT_EQ(g_DisplaySettings.Font.lfOutPrecision, 128);
    EXPECT_EQ(g_DisplaySettings.Font.lfClipPrecision, 255);
    EXPECT_EQ(g_DisplaySettings.Font.lfQuality, 5);

    g_DisplaySettings.Font.lfPitchAndFamily = 127;
    SaveSettings();
    EXPECT_EQ(Stored("FontCharSet").toUInt(), 4294967168u);
    EXPECT_EQ(Stored("FontOutPrecision").toUInt(), 4294967168u);
    EXPECT_EQ(Stored("FontClipPrecision").toUInt(), 4294967295u);
    EXPECT_EQ(Stored("FontQuality").toUInt(), 5u);
    EXPECT_EQ(Stored("FontPichAndFamily").toUInt(), 127u);

    // And the saved form reads back as the same bytes.
    g_DisplaySettings.Font = LogFont{};
    LoadSettings();
    EXPECT_EQ(g_DisplaySettings.Font.lfCharSet, 128);
    EXPECT_EQ(g_DisplaySettings.Font.lfClipPrecision, 255);
    EXPECT_EQ(g_DisplaySettings.Font.lfPitchAndFamily, 127);
}

TEST_F(SettingsStore, NegativeNumbersRoundTrip)
{
    Plant("Version", 1u);
    Plant("Lmin", QStringLiteral("-45"));
    Plant("KeyOn", 4294967206u); // -90 in unsigned form
    Plant("Cbackground", 0xFFFFFFFFu);
    LoadSettings();
    EXPECT_EQ(g_DisplaySettings.Lmin, -45);
    EXPECT_EQ(g_DisplaySettings.KeyOn, -90);
    EXPECT_EQ(g_DisplaySettings.Cbackground, -1);
    SaveSettings();
    EXPECT_EQ(Stored("Lmin").toUInt(), 4294967251u);
    EXPECT_EQ(Stored("KeyOn").toUInt(), 4294967206u);
    EXPECT_EQ(Stored("Cbackground").toUInt(), 4294967295u);
}

TEST_F(SettingsStore, DamagedValuesTakeTheirDefaults)
{
    Plant("Version", 1u);
    Plant("Type", QStringLiteral("abc"));
    Plant("Fdiv", QStringLiteral("1.5"));
    Plant("Ldiv", QStringLiteral(""));
    Plant("Lmax", QVariant(qlonglong(4294967296LL)));
    Plant("Lmin", QVariant(QStringList{QStringLiteral("1"), QStringLiteral("2")}));
    Plant("KeyNum", QVariant(true));
    Plant("Cframe", QVariant(2.5));
    Plant("BmpName", QVariant(5)); // a number where a text belongs
    Plant("bmpName1", QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    Plant("FontFaceName", QVariant(QByteArray("Arial")));
    Plant("FontCharSet", QStringLiteral("x"));
    Plant("bmpTypeEtc5", QStringLiteral("99999999999"));
    Plant("KeyDiv", QStringLiteral("25")); // the one healthy value
    LoadSettings();

    const DisplaySettings &s = g_DisplaySettings;
    EXPECT_EQ(s.Type, 0);
    EXPECT_EQ(s.Fdiv, 16);
    EXPECT_EQ(s.Ldiv, 1);
    EXPECT_EQ(s.Lmax, -30);
    EXPECT_EQ(s.Lmin, -60);
    EXPECT_EQ(s.KeyNum, 5);
    EXPECT_EQ(s.Cframe, 0x808080);
    EXPECT_EQ(s.BmpName, QStringLiteral("sp.bmp"));
    EXPECT_TRUE(s.ImageList[0].bmpName.isEmpty());
    EXPECT_EQ(FaceName(), "ＭＳ Ｐゴシック");
    EXPECT_EQ(s.Font.lfCharSet, 128);
    EXPECT_EQ(s.ImageList[5].bmpTypeEtc, 0x1213);
    EXPECT_EQ(s.KeyDiv, 25);
    EXPECT_EQ(g_Version, 1);
}

TEST_F(SettingsStore, LoadZeroesTheFontFieldsThatAreNotStored)
{
    Plant("Version", 1u);
    LogFont &font = g_DisplaySettings.Font;
    font.lfWidth = 7;
    font.lfEscapement = 900;
    font.lfOrientation = 900;
    font.lfItalic = 1;
    font.lfUnderline = 1;
    font.lfStrikeOut = 1;
    std::memset(font.lfFaceName, 'x', sizeof font.lfFaceName);
    LoadSettings();
    EXPECT_EQ(font.lfWidth, 0);
    EXPECT_EQ(font.lfEscapement, 0);
    EXPECT_EQ(font.lfOrientation, 0);
    EXPECT_EQ(font.lfItalic, 0);
    EXPECT_EQ(font.lfUnderline, 0);
    EXPECT_EQ(font.lfStrikeOut, 0);
    // The default face fills 22 bytes; everything after it is zero.
    for (std::size_t i = std::strlen(font.lfFaceName); i < sizeof font.lfFaceName; ++i)
        EXPECT_EQ(font.lfFaceName[i], '\0') << i;
}

TEST_F(SettingsStore, ResetGivesDefaultsAndVersion0)
{
    g_DisplaySettings.Type = 4;
    g_DisplaySettings.BmpName = QStringLiteral("x.bmp");
    g_DisplaySettings.Font.lfItalic = 1;
    g_DisplaySettings.ImageList[3].bmpName = QStringLiteral("y.bmp");
    g_PwinPosX2 = 5;
    g_Version = 9;
    ResetSettings();
    EXPECT_EQ(g_DisplaySettings.Type, 0);
    EXPECT_EQ(g_DisplaySettings.BmpName, QStringLiteral("sp.bmp"));
    EXPECT_EQ(g_DisplaySettings.Font.lfItalic, 0);
    EXPECT_EQ(g_DisplaySettings.Font.lfCharSet, 128);
    EXPECT_TRUE(g_DisplaySettings.ImageList[3].bmpName.isEmpty());
    EXPECT_EQ(g_PwinPosX2, 645);
    EXPECT_EQ(g_Version, 0);
    EXPECT_TRUE(m_pStore->WriteLog().isEmpty());
}

TEST_F(SettingsStore, EveryStoredValueSurvivesLoadAndSave)
{
    // A complete store with a distinct non-default value in every row.
    std::uint32_t dwNext = 1000;
    for (const DesignRow &row : kDesign) {
        if (row.nKind == 2 || row.nKind == 3)
            Plant(row.pszKey, QStringLiteral("名前 ") + QString::fromLatin1(row.pszKey));
        else if (row.nKind == 6)
            Plant(row.pszKey, dwNext++ % 100); // below 128: the same number comes back
        else
            Plant(row.pszKey, dwNext++);
    }
    Plant("Version", 1u);
    std::vector<QVariant> before;
    for (const DesignRow &row : kDesign)
        before.push_back(Stored(row.pszKey));

    LoadSettings();
    EXPECT_EQ(g_DisplaySettings.Type, 1000);
    EXPECT_EQ(g_DisplaySettings.ImageList[5].bmpTypeEtc, 1000 + 63); // 63 numeric rows before it
    EXPECT_EQ(g_DisplaySettings.ImageList[2].bmpName, QStringLiteral("名前 bmpName3"));
    EXPECT_EQ(g_PwinPosY2, 1000 + 23);
    const DisplaySettings loaded = g_DisplaySettings;

    SaveSettings();
    for (std::size_t i = 0; i < kDesign.size(); ++i) {
        if (kDesign[i].nKind == 2 || kDesign[i].nKind == 3)
            EXPECT_EQ(Stored(kDesign[i].pszKey), before[i]) << kDesign[i].pszKey;
        else
            EXPECT_EQ(Stored(kDesign[i].pszKey).toUInt(), before[i].toUInt()) << kDesign[i].pszKey;
    }
    g_DisplaySettings = DisplaySettings{};
    LoadSettings();
    EXPECT_TRUE(g_DisplaySettings == loaded);
}

TEST_F(SettingsStore, WithoutAStoreLoadingGivesDefaultsAndSavingDoesNothing)
{
    SetProfileStore(nullptr);
    EXPECT_EQ(GetProfileStore(), nullptr);
    LoadSettings();
    EXPECT_EQ(g_DisplaySettings.Fdiv, 16);
    EXPECT_EQ(g_Version, 1);
    SaveSettings();
}

TEST_F(SettingsStore, TheBlockCopiesAsAValue)
{
    LoadSettings();
    DisplaySettings copy = g_DisplaySettings;
    EXPECT_TRUE(copy == g_DisplaySettings);
    copy.ImageList[4].bmpName = QStringLiteral("z.bmp");
    EXPECT_FALSE(copy == g_DisplaySettings);
    copy = g_DisplaySettings;
    copy.Font.lfFaceName[0] = 'A';
    EXPECT_FALSE(copy == g_DisplaySettings);
    g_DisplaySettings.BmpName = QStringLiteral("changed.bmp");
    g_DisplaySettings = copy; // restoring a saved copy brings the texts back too
    EXPECT_EQ(g_DisplaySettings.BmpName, QStringLiteral("sp.bmp"));
    EXPECT_EQ(g_DisplaySettings.Font.lfFaceName[0], 'A');
}

TEST(SettingsFaceName, LongNamesAreCutTo31BytesBetweenCharacters)
{
    struct Case
    {
        QString strName;
        QString strExpected;
    };
    const QString str31 = QString(31, u'a');
    const QString strGo10 = QString(10, u'ゴ'); // 30 bytes in UTF-8
    const std::vector<Case> cases = {
        {QString(), QString()},
        {str31, str31},
        {str31 + u'b', str31},
        {QString(40, u'c'), QString(31, u'c')},
        {u'a' + strGo10, u'a' + strGo10},  // exactly 31 bytes
        {strGo10 + u'ク', strGo10},        // the 33-byte name loses its whole last character
        {QStringLiteral("ab") + strGo10, QStringLiteral("ab") + QString(9, u'ゴ')},
        {QString(28, u'd') + QStringLiteral("😀"), QString(28, u'd')}, // a 4-byte character
        {QString(27, u'd') + QStringLiteral("😀"), QString(27, u'd') + QStringLiteral("😀")},
        {QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd"), QStringLiteral("ab")},
    };
    for (const Case &c : cases) {
        char achFace[kFaceNameSize];
        std::memset(achFace, 'x', sizeof achFace);
        SetFaceName(achFace, c.strName);
        EXPECT_EQ(FaceNameText(achFace), c.strExpected) << c.strName.toStdString();
        const std::size_t nLength = std::strlen(achFace);
        EXPECT_LE(nLength, 31u);
        for (std::size_t i = nLength; i < sizeof achFace; ++i)
            EXPECT_EQ(achFace[i], '\0') << c.strName.toStdString() << " byte " << i;
    }
}

TEST(SettingsFaceName, ArrayWithoutNulReadsAll32Bytes)
{
    char achFace[kFaceNameSize];
    std::memset(achFace, 'q', sizeof achFace);
    EXPECT_EQ(FaceNameText(achFace), QString(32, u'q'));
}

TEST_F(SettingsStore, LongStoredFaceNameIsCutWhenLoadedAndSavedCut)
{
    Plant("Version", 1u);
    Plant("FontFaceName", QString(12, u'ゴ')); // 36 bytes
    LoadSettings();
    EXPECT_EQ(FaceNameText(g_DisplaySettings.Font.lfFaceName), QString(10, u'ゴ'));
    EXPECT_EQ(g_DisplaySettings.Font.lfFaceName[30], '\0');
    SaveSettings();
    EXPECT_EQ(Stored("FontFaceName").toString(), QString(10, u'ゴ'));
}

// Kinds 4, 5 and 7 belong to the table format although no row of the program
// uses them; a table of its own checks them with kind 6 beside them.
TEST(SettingsRowKinds, NarrowOnReadAndExtendOnWriteByKind)
{
    std::int16_t n16 = 0;
    std::uint16_t w16 = 0;
    std::uint8_t b8s = 0;
    std::uint8_t b8u = 0;
    std::int32_t n32 = 0;
    const std::array<SettingsRow, 5> rows = {{
        Int16Row("K4", &n16, 70000),  // 70000 = 0x11170: the low 16 bits are 4464
        UInt16Row("K5", &w16, -1),    // 0xFFFF
        Int8Row("K6", &b8s, 0x180),   // 0x80
        UInt8Row("K7", &b8u, -2),     // 0xFE
        ColorRow("K1", &n32, 0x123456),
    }};

    ResetSettingsRows(rows);
    EXPECT_EQ(n16, 4464);
    EXPECT_EQ(w16, 65535);
    EXPECT_EQ(b8s, 0x80);
    EXPECT_EQ(b8u, 0xFE);
    EXPECT_EQ(n32, 0x123456);

    MemoryProfileStore store;
    WriteSettingsRows(rows, &store);
    EXPECT_EQ(store.WriteLog(), (QStringList{QStringLiteral("Config/K4"), QStringLiteral("Config/K5"),
                                             QStringLiteral("Config/K6"), QStringLiteral("Config/K7"),
                                             QStringLiteral("Config/K1")}));
    EXPECT_EQ(store.Raw(QStringLiteral("Config"), QStringLiteral("K4")).toUInt(), 4464u);
    EXPECT_EQ(store.Raw(QStringLiteral("Config"), QStringLiteral("K5")).toUInt(), 65535u);
    EXPECT_EQ(store.Raw(QStringLiteral("Config"), QStringLiteral("K6")).toUInt(), 4294967168u);
    EXPECT_EQ(store.Raw(QStringLiteral("Config"), QStringLiteral("K7")).toUInt(), 254u);
    EXPECT_EQ(store.FlushCount(), 0); // flushing is SaveSettings' business

    n16 = -2;
    w16 = 0x8000;
    WriteSettingsRows(rows, &store);
    EXPECT_EQ(store.Raw(QStringLiteral("Config"), QStringLiteral("K4")).toUInt(), 4294967294u);
    EXPECT_EQ(store.Raw(QStringLiteral("Config"), QStringLiteral("K5")).toUInt(), 32768u);

    store.SetRaw(QStringLiteral("Config"), QStringLiteral("K4"), QVariant::fromValue<uint>(0x18000u));
    store.SetRaw(QStringLiteral("Config"), QStringLiteral("K5"), QVariant::fromValue<uint>(0x18000u));
    store.SetRaw(QStringLiteral("Config"), QStringLiteral("K6"), QVariant::fromValue<uint>(0x17Fu));
    store.SetRaw(QStringLiteral("Config"), QStringLiteral("K7"), QStringLiteral("-1"));
    ReadSettingsRows(rows, &store);
    EXPECT_EQ(n16, -32768);
    EXPECT_EQ(w16, 32768);
    EXPECT_EQ(b8s, 0x7F);
    EXPECT_EQ(b8u, 0xFF);

    // Absent values take the default, narrowed the same way.
    MemoryProfileStore empty;
    ReadSettingsRows(rows, &empty);
    EXPECT_EQ(n16, 4464);
    EXPECT_EQ(w16, 65535);
    EXPECT_EQ(b8s, 0x80);
    EXPECT_EQ(b8u, 0xFE);
}
