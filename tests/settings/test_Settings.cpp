#include "settings/Settings.h"
#include "platform/ProfileStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

static_assert(sizeof(LogFont) == 60 && offsetof(LogFont, lfCharSet) == 23 &&
              offsetof(LogFont, lfFaceName) == 28);

namespace {

// Every setting in table order, written out independently of the table: key, kind, and the
// number a save of the defaults writes (negative defaults as their 32-bit two's
// complement; Version as 1, which loading an empty store sets) or the default text.
struct ExpectedRow
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

// clang-format off
const std::vector<ExpectedRow> kExpectedRows = {
    {"Type", 0, 0, nullptr}, {"Frange", 0, 1, nullptr}, {"Fdiv", 0, 16, nullptr},
    {"Ldiv", 0, 1, nullptr}, {"Lmin", 0, Neg(-60), nullptr}, {"Lmax", 0, Neg(-30), nullptr},
    {"LPeek", 0, 2, nullptr}, {"CGrad", 0, 1, nullptr}, {"Cframe", 0, 0x808080, nullptr},
    {"Coutline", 0, 0x808080, nullptr}, {"Cpeekchip", 0, 0x00FFFF, nullptr},
    {"Cbackground", 0, 0, nullptr}, {"Cchip1", 0, 0xFFFF00, nullptr},
    {"Cchip2", 0, 0xFF80FF, nullptr}, {"Cwline", 0, 0xC080FF, nullptr},
    {"FwaveDisp", 0, 0, nullptr}, {"FclockDisp", 0, 0, nullptr}, {"FwaveZan", 0, 0, nullptr},
    {"FreqStrSw", 0, 1, nullptr}, {"WaveRecMode", 0, 0, nullptr}, {"PwinPosX1", 0, 100, nullptr},
    {"PwinPosY1", 0, 100, nullptr}, {"PwinPosX2", 0, 645, nullptr}, {"PwinPosY2", 0, 251, nullptr},
    {"BaseKey", 0, 440, nullptr}, {"FontHeight", 0, Neg(-11), nullptr},
    {"FontWeight", 0, 400, nullptr}, {"KeyOn", 0, Neg(-70), nullptr}, {"KeyWidth", 0, 10, nullptr},
    {"KeyNum", 0, 5, nullptr}, {"KeyDiv", 0, 21, nullptr}, {"BmpName", 2, 0, "sp.bmp"},
    {"AreaTop", 0, 69, nullptr}, {"AreaBottom", 0, 21, nullptr}, {"AreaLeft", 0, 123, nullptr},
    {"AreaRight", 0, 114, nullptr}, {"Version", 0, 1, nullptr}, {"SaverSizeX", 0, 545, nullptr},
    {"SaverSizeY", 0, 151, nullptr}, {"SaverMode", 0, 1, nullptr},
    {"SpectFrameDraw", 0, 1, nullptr}, {"FontCharSet", 6, 4294967168u, nullptr},
    {"FontOutPrecision", 6, 3, nullptr}, {"FontClipPrecision", 6, 2, nullptr},
    {"FontQuality", 6, 1, nullptr}, {"FontPichAndFamily", 6, 50, nullptr},
    {"FontFaceName", 3, 0, "ＭＳ Ｐゴシック"}, {"FontColor", 1, 0xFFFF00, nullptr}, {"bmpName1", 2, 0, ""},
    {"bmpName2", 2, 0, ""}, {"bmpName3", 2, 0, ""}, {"bmpName4", 2, 0, ""}, {"bmpName5", 2, 0, ""},
    {"bmpName6", 2, 0, ""}, {"bmpLeftRight1", 0, 262148, nullptr},
    {"bmpLeftRight2", 0, 262148, nullptr}, {"bmpLeftRight3", 0, 262148, nullptr},
    {"bmpLeftRight4", 0, 262148, nullptr}, {"bmpLeftRight5", 0, 262148, nullptr},
    {"bmpLeftRight6", 0, 262148, nullptr}, {"bmpTopBottom1", 0, 262148, nullptr},
    {"bmpTopBottom2", 0, 262148, nullptr}, {"bmpTopBottom3", 0, 262148, nullptr},
    {"bmpTopBottom4", 0, 262148, nullptr}, {"bmpTopBottom5", 0, 262148, nullptr},
    {"bmpTopBottom6", 0, 262148, nullptr}, {"bmpTypeEtc0", 0, 4627, nullptr},
    {"bmpTypeEtc1", 0, 4627, nullptr}, {"bmpTypeEtc2", 0, 4627, nullptr},
    {"bmpTypeEtc3", 0, 4627, nullptr}, {"bmpTypeEtc4", 0, 4627, nullptr},
    {"bmpTypeEtc5", 0, 4627, nullptr},
};
// clang-format on

// Every setting at its default, Version 1: what loading an empty store gives.
DisplaySettings Defaults()
{
    // clang-format off
    DisplaySettings s{
        .Type = 0, .Frange = 1, .Fdiv = 16, .Ldiv = 1, .Lmax = -30, .Lmin = -60, .KeyOn = -70,
        .KeyWidth = 10, .KeyNum = 5, .LPeek = 2, .FwaveDisp = 0, .FclockDisp = 0, .FwaveZan = 0,
        .FreqStrSw = 1, .BaseKey = 440, .KeyDiv = 21, .SaverSizeX = 545, .SaverSizeY = 151,
        .SaverMode = 1, .BmpName = QStringLiteral("sp.bmp"),
        .AreaTop = 69, .AreaBottom = 21, .AreaLeft = 123, .AreaRight = 114,
        .CGrad = 1, .Cframe = 0x808080, .Coutline = 0x808080, .Cpeekchip = 0x00FFFF,
        .Cchip1 = 0xFFFF00, .Cchip2 = 0xFF80FF, .Cbackground = 0, .Cwline = 0xC080FF,
        .FontColor = 0xFFFF00,
        .Font = {.lfHeight = -11, .lfWeight = 400, .lfCharSet = 128, .lfOutPrecision = 3,
                 .lfClipPrecision = 2, .lfQuality = 1, .lfPitchAndFamily = 0x32,
                 .lfFaceName = "ＭＳ Ｐゴシック"},
        .ImageList = {},
        .WaveRecMode = 0, .SpectFrameDraw = 1};
    // clang-format on
    for (ImageEntry &entry : s.ImageList)
        entry = {QString(), 0x40004, 0x40004, 0x1213};
    return s;
}

// Starts every test from zeroed settings and an empty in-memory store that
// LoadSettings and SaveSettings use.
class SettingsStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_DisplaySettings = DisplaySettings{};
        g_PwinPosX1 = g_PwinPosY1 = g_PwinPosX2 = g_PwinPosY2 = g_Version = 0;
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

} // namespace

TEST_F(SettingsStore, EmptyStoreGivesDefaultsAndVersion1AndSaveWritesAll72InOrder)
{
    g_DisplaySettings.Font.lfItalic = 1; // a font field without a row: zeroed by loading
    g_DisplaySettings.Font.lfWidth = 7;
    LoadSettings();
    EXPECT_TRUE(g_DisplaySettings == Defaults());
    EXPECT_EQ(g_PwinPosX1, 100);
    EXPECT_EQ(g_PwinPosY2, 251);
    EXPECT_EQ(g_Version, 1);
    EXPECT_TRUE(m_pStore->WriteLog().isEmpty()); // loading only reads

    SaveSettings();
    ASSERT_EQ(m_pStore->WriteLog().size(), 72);
    for (std::size_t i = 0; i < kExpectedRows.size(); ++i) {
        const ExpectedRow &row = kExpectedRows[i];
        EXPECT_EQ(m_pStore->WriteLog()[qsizetype(i)], QStringLiteral("Config/") + row.pszKey);
        EXPECT_EQ(SettingsTable()[i].nKind, row.nKind) << row.pszKey;
        const QVariant value = Stored(row.pszKey);
        if (row.pszText != nullptr)
            EXPECT_EQ(value, QVariant(QString::fromUtf8(row.pszText))) << row.pszKey;
        else
            EXPECT_EQ(value, QVariant::fromValue<uint>(row.dwWritten)) << row.pszKey;
    }
    EXPECT_EQ(m_pStore->FlushCount(), 1);
}

TEST_F(SettingsStore, VersionDecidesWhetherStoredValuesCount)
{
    struct Case
    {
        QVariant version; // invalid: no Version value at all
        int nExpectedType;
        int nExpectedVersion;
    };
    const std::vector<Case> cases = {
        {QVariant(), 0, 1},
        {QVariant::fromValue<uint>(1u), 3, 1},
        {QVariant::fromValue<uint>(7u), 3, 7}, // any non-zero marker keeps the values, as it is
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
    }
    ResetSettings();
    EXPECT_EQ(g_Version, 0);
}

TEST_F(SettingsStore, NumbersNarrowOnReadAndBytesAreWrittenSignExtended)
{
    Plant("Version", 1u);
    Plant("FontCharSet", 4294967168u);
    Plant("FontOutPrecision", QStringLiteral("-128")); // a hand edit in signed form
    Plant("FontClipPrecision", 0x1FFu);                // only the low byte counts
    Plant("Lmin", QStringLiteral("-45"));
    LoadSettings();
    EXPECT_EQ(g_DisplaySettings.Font.lfCharSet, 128);
    EXPECT_EQ(g_DisplaySettings.Font.lfOutPrecision, 128);
    EXPECT_EQ(g_DisplaySettings.Font.lfClipPrecision, 255);
    EXPECT_EQ(g_DisplaySettings.Lmin, -45);

    g_DisplaySettings.Font.lfPitchAndFamily = 127;
    SaveSettings();
    EXPECT_EQ(Stored("FontCharSet").toUInt(), 4294967168u);
    EXPECT_EQ(Stored("FontOutPrecision").toUInt(), 4294967168u);
    EXPECT_EQ(Stored("FontClipPrecision").toUInt(), 4294967295u);
    EXPECT_EQ(Stored("FontPichAndFamily").toUInt(), 127u);
    EXPECT_EQ(Stored("Lmin").toUInt(), 4294967251u);
}

TEST_F(SettingsStore, DamagedValuesTakeTheirDefaults)
{
    Plant("Version", 1u);
    Plant("Type", QStringLiteral("abc"));
    Plant("Fdiv", QStringLiteral("1.5"));
    Plant("Ldiv", QStringLiteral(""));
    Plant("Lmax", QVariant(qlonglong(4294967296LL)));
    Plant("Lmin", QVariant(QStringList{"1", "2"}));
    Plant("BmpName", QVariant(5)); // a number where a text belongs
    Plant("FontFaceName", QVariant(QByteArray("Arial")));
    Plant("FontCharSet", QStringLiteral("x"));
    Plant("KeyDiv", QStringLiteral("25")); // the one healthy value
    LoadSettings();
    DisplaySettings expected = Defaults();
    expected.KeyDiv = 25;
    EXPECT_TRUE(g_DisplaySettings == expected);
}

TEST_F(SettingsStore, FaceNamesAreCutTo31BytesBetweenCharacters)
{
    const QString strGo10 = QString(10, u'ゴ');   // 30 bytes in UTF-8
    const QString strEmoji = QStringLiteral("😀"); // 4 bytes
    const std::vector<std::pair<QString, QString>> cases = {
        {QString(31, u'a'), QString(31, u'a')},
        {QString(32, u'a'), QString(31, u'a')},
        {u'a' + strGo10, u'a' + strGo10}, // exactly 31 bytes
        {strGo10 + u'ク', strGo10},       // 33 bytes: the whole last character goes
        {QString(28, u'd') + strEmoji, QString(28, u'd')},
        {QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd"), QStringLiteral("ab")},
    };
    for (const auto &[strName, strExpected] : cases) {
        char achFace[kFaceNameSize];
        std::memset(achFace, 'x', sizeof achFace);
        SetFaceName(achFace, strName);
        EXPECT_EQ(FaceNameText(achFace), strExpected) << strName.toStdString();
        for (std::size_t i = std::strlen(achFace); i < sizeof achFace; ++i)
            EXPECT_EQ(achFace[i], '\0') << strName.toStdString() << " byte " << i;
    }

    Plant("Version", 1u);
    Plant("FontFaceName", QString(12, u'ゴ')); // 36 bytes
    LoadSettings();
    EXPECT_EQ(FaceNameText(g_DisplaySettings.Font.lfFaceName), strGo10);
    SaveSettings();
    EXPECT_EQ(Stored("FontFaceName").toString(), strGo10);
}

// Kinds 4, 5 and 7 belong to the table format although no row of the program
// uses them; a table of its own checks them.
TEST(SettingsRowKinds, NarrowOnReadAndExtendOnWrite)
{
    std::int16_t n16 = 0;
    std::uint16_t w16 = 0;
    std::uint8_t b8 = 0;
    const std::array<SettingsRow, 3> rows = {{
        Int16Row("K4", &n16, 70000), // 0x11170: the low 16 bits are 4464
        UInt16Row("K5", &w16, -1),
        UInt8Row("K7", &b8, -2),
    }};
    MemoryProfileStore store;
    ReadSettingsRows(rows, &store); // absent: the defaults, narrowed
    EXPECT_EQ(n16, 4464);
    EXPECT_EQ(w16, 0xFFFF);
    EXPECT_EQ(b8, 0xFE);
    n16 = -2;
    WriteSettingsRows(rows, &store);
    EXPECT_EQ(store.Raw("Config", "K4"), QVariant::fromValue<uint>(4294967294u));
    EXPECT_EQ(store.Raw("Config", "K5"), QVariant::fromValue<uint>(0xFFFFu));
    EXPECT_EQ(store.Raw("Config", "K7"), QVariant::fromValue<uint>(0xFEu));
    for (const char *pszKey : {"K4", "K5", "K7"})
        store.SetRaw("Config", pszKey, QVariant::fromValue<uint>(0x1807Fu));
    ReadSettingsRows(rows, &store);
    EXPECT_EQ(n16, -32641); // 0x807F
    EXPECT_EQ(w16, 0x807F);
    EXPECT_EQ(b8, 0x7F);
}

namespace {

QByteArray ReadAll(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The settings with the real QSettings store, its user folder redirected to a
// folder of the test's own.
class SettingsQSettingsFile : public SettingsStore
{
protected:
    void SetUp() override
    {
        SettingsStore::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        UseFileStore();
    }
    void UseFileStore()
    {
        SetProfileStore(std::make_unique<QSettingsProfileStore>("tanuwel", "vexlor"));
    }
    QString ConfPath() const { return m_dir.path() + QStringLiteral("/tanuwel/vexlor.conf"); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SettingsQSettingsFile, SaveAndLoadRoundTripThroughTheFile)
{
    LoadSettings();
    EXPECT_FALSE(QFile::exists(ConfPath())); // loading without a file creates none
    g_DisplaySettings.Lmin = -45;
    g_DisplaySettings.BmpName = QStringLiteral("/home/u/背景, 1.bmp"); // a comma makes no list
    g_DisplaySettings.ImageList[5].bmpTypeEtc = 0x41013;
    SetFaceName(g_DisplaySettings.Font.lfFaceName, QStringLiteral("Noto Sans CJK JP"));
    g_PwinPosX1 = -5;
    SaveSettings();

    const QByteArray content = ReadAll(ConfPath());
    EXPECT_TRUE(content.startsWith("[Config]\n"));
    EXPECT_EQ(content.count('\n'), 73); // the section line and 72 values
    // Negative numbers as a person writes them; the byte 128 is -128 as a signed byte.
    for (const char *pszLine : {"\nVersion=1\n", "\nLmin=-45\n", "\nPwinPosX1=-5\n",
                                "\nFontCharSet=-128\n", "\nbmpTypeEtc5=266259\n"})
        EXPECT_TRUE(content.contains(pszLine)) << pszLine;

    const DisplaySettings saved = g_DisplaySettings;
    g_DisplaySettings = DisplaySettings{};
    g_PwinPosX1 = 0;
    UseFileStore();
    LoadSettings();
    EXPECT_TRUE(g_DisplaySettings == saved);
    EXPECT_EQ(g_PwinPosX1, -5);
}

TEST_F(SettingsQSettingsFile, LoadingNeverWritesTheFile)
{
    LoadSettings();
    SaveSettings();
    SetProfileStore(nullptr);
    // Damage one value, then put the file's time an hour back so that even a
    // rewrite within the same second would show.
    {
        QFile file(ConfPath());
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("Fdiv=abc\n");
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                     QFileDevice::FileModificationTime));
    }
    const QByteArray content = ReadAll(ConfPath());
    const QDateTime mtime = QFileInfo(ConfPath()).lastModified();

    UseFileStore();
    LoadSettings();
    EXPECT_EQ(g_DisplaySettings.Fdiv, 16);
    SetProfileStore(nullptr); // the store goes away as it does at process end

    EXPECT_EQ(ReadAll(ConfPath()), content);
    EXPECT_EQ(QFileInfo(ConfPath()).lastModified(), mtime);
    EXPECT_EQ(QDir(m_dir.path() + QStringLiteral("/tanuwel")).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("vexlor.conf")});
}
