#include "platform/ProfileStore.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using Value = std::pair<QString, QVariant>; // key, stored value

const auto U = [](std::int64_t n) { return QVariant::fromValue<uint>(uint(n)); };

// Every setting in table order with what a save of the defaults writes: numbers
// in unsigned 32-bit form (Version 1, as loading an empty store sets), texts as texts.
std::vector<Value> ExpectedRows()
{
    // clang-format off
    const std::pair<const char *, std::int64_t> numbers[] = {
        {"Type", 0}, {"Frange", 1}, {"Fdiv", 16}, {"Ldiv", 1}, {"Lmin", -60}, {"Lmax", -30},
        {"LPeek", 2}, {"CGrad", 1}, {"Cframe", 0x808080}, {"Coutline", 0x808080},
        {"Cpeekchip", 0x00FFFF}, {"Cbackground", 0}, {"Cchip1", 0xFFFF00}, {"Cchip2", 0xFF80FF},
        {"Cwline", 0xC080FF}, {"FwaveDisp", 0}, {"FclockDisp", 0}, {"FwaveZan", 0},
        {"FreqStrSw", 1}, {"WaveRecMode", 0}, {"PwinPosX1", 100}, {"PwinPosY1", 100},
        {"PwinPosX2", 645}, {"PwinPosY2", 251}, {"BaseKey", 440}, {"FontHeight", -11},
        {"FontWeight", 400}, {"KeyOn", -70}, {"KeyWidth", 10}, {"KeyNum", 5}, {"KeyDiv", 21},
        {"BmpName", 0}, {"AreaTop", 69}, {"AreaBottom", 21}, {"AreaLeft", 123},
        {"AreaRight", 114}, {"Version", 1}, {"SaverSizeX", 545}, {"SaverSizeY", 151},
        {"SaverMode", 1}, {"SpectFrameDraw", 1}, {"FontCharSet", -128}, {"FontOutPrecision", 3},
        {"FontClipPrecision", 2}, {"FontQuality", 1}, {"FontPichAndFamily", 0x32},
        {"FontFaceName", 0}, {"FontColor", 0xFFFF00}};
    std::vector<Value> rows;
    for (const auto &[pszKey, nValue] : numbers)
        rows.push_back({QString::fromLatin1(pszKey), U(nValue)});
    rows[31].second = QStringLiteral("sp.bmp");
    rows[46].second = QStringLiteral("ＭＳ Ｐゴシック");
    // The picture list: names, margins 4 and 4 (0x40004), option words 0x1213.
    for (const auto &[pszKey, nFirst, value] : {std::tuple{"bmpName", 1, QVariant(QString())},
             {"bmpLeftRight", 1, U(0x40004)}, {"bmpTopBottom", 1, U(0x40004)}, {"bmpTypeEtc", 0, U(0x1213)}})
        for (int i = 0; i < 6; ++i)
            rows.push_back({pszKey + QString::number(nFirst + i), value});
    // clang-format on
    return rows;
}

class SettingsStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_DisplaySettings = DisplaySettings{};
        g_PwinPosX1 = g_PwinPosY1 = g_PwinPosX2 = g_PwinPosY2 = g_Version = 0;
        SetProfileStore(std::make_unique<MemoryProfileStore>());
        m_pStore = static_cast<MemoryProfileStore *>(GetProfileStore());
    }
    void TearDown() override { SetProfileStore(nullptr); }
    // Saves: all 72 values are written in order (loading wrote none), defaults but for changed.
    void ExpectSavedDefaultsBut(const std::vector<Value> &changed = {})
    {
        SaveSettings();
        const std::vector<Value> rows = ExpectedRows();
        ASSERT_EQ(m_pStore->WriteLog().size(), qsizetype(rows.size()));
        for (size_t i = 0; i < rows.size(); ++i) {
            QVariant expected = rows[i].second;
            for (const Value &c : changed)
                expected = c.first == rows[i].first ? c.second : expected;
            EXPECT_EQ(m_pStore->WriteLog()[qsizetype(i)], "Config/" + rows[i].first);
            EXPECT_EQ(m_pStore->Raw("Config", rows[i].first), expected)
                << rows[i].first.toStdString();
        }
        EXPECT_EQ(m_pStore->FlushCount(), 1);
    }

    MemoryProfileStore *m_pStore = nullptr; // owned by the process-wide store slot
};

} // namespace

// Bytes narrow on reading, are written sign-extended (all 72 values in order); damaged values take
// their defaults; each picture entry's fields go under their own keys.
TEST_F(SettingsStore, NumbersNarrowDamagedValuesGiveDefaultsAndFaceNamesAreCut)
{
    // clang-format off
    const Value planted[] = {
        {"Version", U(1)}, {"FontOutPrecision", "-128"}, {"FontClipPrecision", U(0x1FF)},
        {"Lmin", "-45"}, {"KeyDiv", U(25)}, {"FontFaceName", QString(12, u'ゴ')}, // 36 bytes
        {"Type", "abc"}, {"Fdiv", "1.5"}, {"Ldiv", ""}, {"Lmax", qlonglong(1) << 32},
        {"LPeek", QStringList{"1", "2"}}, {"BmpName", 5}, {"bmpName1", QByteArray("a")},
        {"FontCharSet", "x"}};
    for (const auto &[strKey, value] : planted)
        m_pStore->SetRaw("Config", strKey, value);
    g_DisplaySettings.Font.lfItalic = 1; // a font field without a row: zeroed by loading
    LoadSettings();
    EXPECT_EQ(std::tuple(g_DisplaySettings.Font.lfItalic, g_DisplaySettings.Lmin), std::tuple(0, -45));
    g_DisplaySettings.Font.lfPitchAndFamily = 127;
    std::vector<Value> changed = {{"FontOutPrecision", U(4294967168u)}, {"FontClipPrecision", U(4294967295u)},
        {"FontPichAndFamily", U(127)}, {"Lmin", U(4294967251u)}, {"KeyDiv", U(25)}, {"FontFaceName", QString(10, u'ゴ')}};
    for (int i = 0; i < 6; ++i) { // keys of the names and margins count from 1, of the options from 0
        g_DisplaySettings.ImageList[size_t(i)] = {QString::number(i), 10 + i, 20 + i, 30 + i};
        const QString n = QString::number(i + 1);
        changed.insert(changed.end(), {{"bmpName" + n, QString::number(i)}, {"bmpLeftRight" + n, U(10 + i)},
            {"bmpTopBottom" + n, U(20 + i)}, {"bmpTypeEtc" + QString::number(i), U(30 + i)}});
    }
    // clang-format on
    ExpectSavedDefaultsBut(changed);
}

// A name is cut to 31 bytes between characters, at a zero, and zero-filled.
TEST(SettingsFaceName, IsCutTo31BytesBetweenCharactersAndZeroFilled)
{
    // clang-format off
    const std::pair<QString, QString> cases[] = {{QString(32, u'a'), QString(31, u'a')},
        {QString(28, u'd') + QStringLiteral("😀"), QString(28, u'd')},
        {QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd"), QStringLiteral("ab")}};
    // clang-format on
    for (const auto &[strName, strExpected] : cases) {
        char achFace[kFaceNameSize];
        std::memset(achFace, 'x', sizeof achFace);
        SetFaceName(achFace, strName);
        EXPECT_EQ(std::pair(FaceNameText(achFace), achFace[31]), std::pair(strExpected, '\0'));
    }
}

// Kinds 4, 5 and 7 belong to the table format though no row of the program uses them.
TEST(SettingsRowKinds, NarrowOnReadAndExtendOnWrite)
{
    std::int16_t n16 = 0;
    std::uint16_t w16 = 0;
    std::uint8_t b8 = 0;
    const SettingsRow rows[] = {Int16Row("K4", &n16, 70000), // low 16 bits: 4464
                                UInt16Row("K5", &w16, -1), UInt8Row("K7", &b8, -2)};
    MemoryProfileStore store;
    ReadSettingsRows(rows, &store); // absent: the defaults, narrowed
    EXPECT_EQ(std::tuple(n16, w16, b8), std::tuple(4464, 0xFFFF, 0xFE));
    n16 = -2;
    WriteSettingsRows(rows, &store);
    for (const auto &[pszKey, nWritten] : {std::pair{"K4", -2}, {"K5", 0xFFFF}, {"K7", 0xFE}}) {
        EXPECT_EQ(store.Raw("Config", pszKey), U(nWritten)) << pszKey;
        store.SetRaw("Config", pszKey, U(0x1807F));
    }
    ReadSettingsRows(rows, &store);
    EXPECT_EQ(std::tuple(n16, w16, b8), std::tuple(-32641, 0x807F, 0x7F)); // 0x807F
}

// The settings file <folder>/tanuwel/vexlor.conf that is there but not used: the
// user hears why, once. Version 0, none or not a number marks no settings of ours.
TEST(SettingsFile, AFileThatIsNotUsedIsExplainedOnce)
{
    // File (nullptr: none; "/": a folder in its place), a word of the explanation
    // (nullptr: none), then Type and Version after loading.
    // clang-format off
    const std::tuple<const char *, const char *, int, int> cases[] = {
        {nullptr, nullptr, 0, 1}, {"[Config]\nVersion=1\nType=3\n", nullptr, 3, 1},
        {"[Config]\nVersion=7\nType=3\n", nullptr, 3, 7}, {"[Config]\nVersion=0\nType=3\n", "Version", 0, 1},
        {"[Config]\nVersion=abc\nType=3\n", "Version", 0, 1}, {"[Config]\nType=3\n", "Version", 0, 1},
        {"/", "cannot read", 0, 1}};
    // clang-format on
    for (const auto &[pszFile, pszProblem, nType, nVersion] : cases) {
        QTemporaryDir dir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        const QString strFile = dir.path() + QStringLiteral("/tanuwel/vexlor.conf");
        QDir().mkpath(pszFile && *pszFile == '/' ? strFile : dir.path() + "/tanuwel");
        QFile file(strFile);
        if (pszFile && *pszFile != '/' && file.open(QIODevice::WriteOnly))
            file.write(pszFile);
        file.close();
        SetProfileStore(std::make_unique<QSettingsProfileStore>("tanuwel", "vexlor")); // reads now
        g_Version = 0;
        LoadSettings();
        const QString strProblem = LoadSettingsProblem();
        SetProfileStore(nullptr);
        EXPECT_EQ(std::tuple(g_DisplaySettings.Type, g_Version, strProblem.isEmpty()),
                  std::tuple(nType, nVersion, !pszProblem))
            << (pszFile ? pszFile : "-");
        EXPECT_TRUE(!pszProblem || (strProblem.contains(QString::fromLatin1(pszProblem)) &&
                                    strProblem.contains(strFile) && !strProblem.contains(u'\n')))
            << strProblem.toStdString();
    }
}
