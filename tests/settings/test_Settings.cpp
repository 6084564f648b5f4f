#include "platform/ProfileStore.h"
#include "settings/Settings.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace {

using Value = std::pair<QString, QVariant>; // key, stored value

const auto U = [](std::int64_t n) { return QVariant::fromValue<uint>(uint(n)); };

} // namespace

// Loading narrows, zeroes unstored font fields, defaults damaged values; saving writes every row.
TEST(SettingsStore, NumbersNarrowDamagedValuesGiveDefaultsAndEveryRowIsSavedInOrder)
{
    g_DisplaySettings = DisplaySettings{};
    g_Version = 0;
    SetProfileStore(std::make_unique<MemoryProfileStore>());
    auto *pStore = static_cast<MemoryProfileStore *>(GetProfileStore());
    // clang-format off
    const Value planted[] = {
        {"Version", U(1)}, {"FontOutPrecision", "-128"}, {"FontClipPrecision", U(0x1FF)},
        {"Lmin", "-45"}, {"KeyDiv", U(25)}, {"FontFaceName", QString(12, u'ゴ')}, // 36 bytes
        {"Type", "abc"}, {"Fdiv", "1.5"}, {"Ldiv", ""}, {"Lmax", qlonglong(1) << 32},
        {"LPeek", QStringList{"1", "2"}}, {"BmpName", 5}, {"bmpName1", QByteArray("a")},
        {"FontCharSet", "x"}, {"InputSource", "mic"}};
    // clang-format on
    for (const auto &[strKey, value] : planted)
        pStore->SetRaw("Config", strKey, value);
    g_DisplaySettings.Font.lfItalic = 1; // a font field without a row: zeroed by loading
    LoadSettings();
    EXPECT_EQ(std::tuple(g_DisplaySettings.Font.lfItalic, g_DisplaySettings.Lmin),
              std::tuple(0, -45));
    g_DisplaySettings.Font.lfPitchAndFamily = 127;
    // clang-format off
    const std::vector<Value> changed = {{"FontOutPrecision", U(4294967168u)},
        {"FontClipPrecision", U(4294967295u)}, {"FontPichAndFamily", U(127)},
        {"Lmin", U(4294967251u)}, {"KeyDiv", U(25)}, {"FontFaceName", QString(10, u'ゴ')}};
    // clang-format on
    for (const ImageEntry &e : g_DisplaySettings.ImageList) // margins 4 and 4, options 0x1213
        EXPECT_EQ(std::tuple(e.bmpName, e.bmpLeftRight, e.bmpTopBottom, e.bmpTypeEtc),
                  std::tuple(QString(), 0x40004, 0x40004, 0x1213));
    for (int i = 0; i < 6; ++i)
        g_DisplaySettings.ImageList[size_t(i)] = {QString::number(i), 10 + i, 20 + i, 30 + i};
    SaveSettings();
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
    // clang-format on
    std::vector<Value> rows;
    for (const auto &[pszKey, nValue] : numbers)
        rows.push_back({QString::fromLatin1(pszKey), U(nValue)});
    rows[31].second = QStringLiteral("sp.bmp");
    rows[46].second = QStringLiteral("ＭＳ Ｐゴシック");
    // Picture entry keys: names and margins count from 1, options from 0.
    const QStringList keys = {"bmpName", "bmpLeftRight", "bmpTopBottom", "bmpTypeEtc"};
    for (int i = 0; i < 24; ++i)
        rows.push_back({keys[i / 6] + QString::number(i % 6 + (i < 18)),
                        i < 6 ? QVariant(QString::number(i)) : U(i / 6 * 10 + i % 6)});
    rows.push_back({"InputSource", QStringLiteral("mic")}); // beside the 72, after them
    ASSERT_EQ(pStore->WriteLog().size(), qsizetype(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        QVariant expected = rows[i].second;
        for (const Value &c : changed)
            expected = c.first == rows[i].first ? c.second : expected;
        EXPECT_EQ(pStore->WriteLog()[qsizetype(i)], "Config/" + rows[i].first);
        EXPECT_EQ(pStore->Raw("Config", rows[i].first), expected) << rows[i].first.toStdString();
    }
    EXPECT_EQ(pStore->FlushCount(), 1);

    SetProfileStore(nullptr);
}

// Kinds 4, 5 and 7 belong to the table format though no row of the program uses them.
TEST(SettingsRowKinds, NarrowOnReadAndExtendOnWriteAndFaceNamesAreCut)
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
    // A face name is cut to 31 bytes between characters, at a zero, and zero-filled.
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

// A settings file there but not used (no usable Version, unreadable) is explained once.
TEST(SettingsFile, AFileThatIsNotUsedIsExplainedOnce)
{
    // File ("/": a folder), a word of the explanation, then Type, Version, InputSource loaded.
    // clang-format off
    const std::tuple<const char *, const char *, int, int, const char *> cases[] = {
        {nullptr, nullptr, 0, 1, ""}, {"[Config]\nVersion=1\nType=3\n", nullptr, 3, 1, ""},
        {"[Config]\nVersion=7\nType=3\nInputSource=mic\n", nullptr, 3, 7, "mic"},
        {"[Config]\nVersion=0\nType=3\nInputSource=mic\n", "Version", 0, 1, ""},
        {"[Config]\nVersion=abc\nType=3\n", "Version", 0, 1, ""},
        {"[Config]\nType=3\n", "Version", 0, 1, ""}, {"/", "cannot read", 0, 1, ""}};
    // clang-format on
    for (const auto &[pszFile, pszProblem, nType, nVersion, pszInput] : cases) {
        QTemporaryDir dir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        const QString strFile = dir.path() + QStringLiteral("/tanuwel/vexlor.conf");
        QDir().mkpath(pszFile && *pszFile == '/' ? strFile : dir.path() + "/tanuwel");
        if (pszFile && *pszFile != '/')
            std::ofstream(strFile.toStdString()) << pszFile;
        SetProfileStore(std::make_unique<QSettingsProfileStore>("tanuwel", "vexlor")); // reads now
        g_Version = 0;
        g_DisplaySettings.InputSource = QStringLiteral("left over");
        LoadSettings();
        const QString strProblem = LoadSettingsProblem();
        SetProfileStore(nullptr);
        EXPECT_EQ(std::tuple(g_DisplaySettings.Type, g_Version, strProblem.isEmpty(),
                             g_DisplaySettings.InputSource),
                  std::tuple(nType, nVersion, !pszProblem, QString::fromLatin1(pszInput)))
            << (pszFile ? pszFile : "-");
        EXPECT_TRUE(!pszProblem || (strProblem.contains(QString::fromLatin1(pszProblem)) &&
                                    strProblem.contains(strFile) && !strProblem.contains(u'\n')))
            << strProblem.toStdString();
    }
}
