// The settings run mode through its own command line, on an X server:
// `vexlor /c` driven by xdotool's real clicks and keys, the settings file that
// 閉じる leaves behind (Esc leaves it as it was), and a snapshot taken with it.
#include "E2eSupport.h"

#include <QSettings>

using namespace e2e;

namespace {
// The middle of each control, in pixels from its window's top-left corner:
// its dialog-unit rectangle x 2.
struct Spot
{
    int x, y;
};
constexpr Spot kStereoTopBottom{126 + 8, 196 + 10}; // stereoTopBottomRadio (63,98 54x10)
constexpr Spot kKeyboard{126 + 8, 246 + 10};        // keyboardRadio (63,123 47x10)
constexpr Spot kRecSearch{14 + 8, 290 + 10};        // recSearchCheck (7,145 67x10)
constexpr Spot kSaverButton{282 + 87, 314 + 21};    // saverButton (141,157 87x21)
constexpr Spot kCloseButton{14 + 34, 322 + 17};     // closeButton (7,161 34x17)
constexpr Spot kRandomMove{14 + 8, 14 + 10};        // saver page: randomMoveCheck (7,7 110x10)
constexpr Spot kSizeX{48 + 40, 80 + 12};            // saver page: sizeXEdit (24,40 40x12)
constexpr Spot kSizeY{172 + 40, 80 + 12};           // saver page: sizeYEdit (86,40 40x12)
const QString kHubTitle = "スペアナの設定", kSaverPageTitle = "スクリーンセーバーの設定";

QStringList SearchArgs(const QString &strTitle)
{
    return {"search", "--onlyvisible", "--name", QString("^%1$").arg(strTitle)};
}

// The window with this title, once it is shown (xdotool waits up to 15 s).
QString FindWindow(const QString &strTitle)
{
    QStringList args = SearchArgs(strTitle);
    args.insert(1, "--sync");
    return XDoTool(args).split('\n').value(0);
}

void ClickAt(const QString &strWindow, Spot spot)
{
    XDoTool({"mousemove", "--window", strWindow, QString::number(spot.x), QString::number(spot.y),
             "click", "1"});
    QTest::qWait(150);
}

// Typed keys go to the window under the pointer: there is no window manager.
void Keys(const QStringList &keys)
{
    XDoTool(QStringList{"key", "--delay", "50"} + keys);
    QTest::qWait(150);
}

QByteArray FileBytes(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class SettingsE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        E2E_REQUIRE_X();
        ASSERT_TRUE(HasTool("xdotool")) << "xdotool is missing (scripts/setup.sh installs it)";
        ASSERT_TRUE(m_home.isValid());
    }
    // Changes the type and the recording-point search, then presses Esc.
    void EscapeAfterChanges()
    {
        Program run(Env(m_home.path(), "xcb"), {"/c"});
        const QString strHub = FindWindow(kHubTitle);
        ASSERT_FALSE(strHub.isEmpty());
        ClickAt(strHub, kKeyboard);
        ClickAt(strHub, kRecSearch);
        Keys({"Escape"});
        EXPECT_TRUE(run.EndsCleanlyWithin(10000));
    }
    QTemporaryDir m_home;
    const QString m_strConf = ConfPath(m_home.path());
};
} // namespace

TEST_F(SettingsE2E, CloseSavesTheChangesEscLeavesTheFileAndTheSnapshotShowsThem)
{
    EscapeAfterChanges(); // on a first run: nothing is written at all
    EXPECT_FALSE(QFile::exists(m_strConf));

    // 閉じる after a type, the recording-point search and the saver page.
    {
        Program run(Env(m_home.path(), "xcb"), {"/c"});
        const QString strHub = FindWindow(kHubTitle);
        ASSERT_FALSE(strHub.isEmpty());
        ClickAt(strHub, kStereoTopBottom);
        ClickAt(strHub, kRecSearch);
        ClickAt(strHub, kSaverButton);
        const QString strPage = FindWindow(kSaverPageTitle);
        ASSERT_FALSE(strPage.isEmpty());
        ClickAt(strPage, kRandomMove);
        ClickAt(strPage, kSizeX);
        Keys({"ctrl+a", "6", "4", "0"});
        ClickAt(strPage, kSizeY);
        Keys({"ctrl+a", "minus", "2", "0", "0", "Return"}); // Return: the page's OK
        EXPECT_TRUE(PollUntil(5000, 100, [] {
            return QProcess::execute("xdotool", SearchArgs(kSaverPageTitle)) != 0;
        })) << "the saver page stays";
        ClickAt(strHub, kCloseButton);
        EXPECT_TRUE(run.EndsCleanlyWithin(10000));
    }
    ASSERT_TRUE(QFile::exists(m_strConf));
    {
        QSettings conf(m_strConf, QSettings::IniFormat);
        conf.beginGroup("Config");
        EXPECT_EQ(conf.childKeys().size(), 72);
        // SaverMode: default 1, unchecked. Negative numbers as 32-bit ones. The
        // type change remembered the default picture with type 3 in slot 0:
        // labels on, Ldiv 1, Fdiv 16. Untouched settings keep their defaults.
        const std::pair<const char *, qlonglong> numbers[] = {
            {"Version", 1},
            {"Type", 3},
            {"WaveRecMode", 1},
            {"SaverMode", 0},
            {"SaverSizeX", 640},
            {"SaverSizeY", 4294967296LL - 200},
            {"bmpTypeEtc0", 1 | (1 << 4) | (16 << 8) | (3 << 16)},
            {"Frange", 1},
            {"Fdiv", 16},
            {"Lmin", 4294967296LL - 60},
            {"FontColor", 0xFFFF00}};
        for (const auto &[pszKey, nValue] : numbers)
            EXPECT_EQ(conf.value(pszKey).toLongLong(), nValue) << pszKey;
        EXPECT_EQ(conf.value("bmpName1").toString(), "sp.bmp");
    }

    const QByteArray saved = FileBytes(m_strConf);
    EscapeAfterChanges(); // with a settings file: it stays byte for byte as it was
    EXPECT_EQ(FileBytes(m_strConf), saved);

    // A snapshot with those settings: stereo top and bottom around a label
    // strip. An 800 x 300 window has 3-pixel frame rings, so the graph is
    // (9, 9) to (791, 291) and its middle row is 150.
    const QString strWav = m_home.filePath("tone.wav"), strPng = m_home.filePath("shot.png");
    MakeTone(strWav, 4, 44100, 1000, 0.25);
    ASSERT_EQ(RunToEnd(Env(m_home.path(), "offscreen"), SnapshotArgs(strWav, strPng, "2")), 0);
    const QImage shot(strPng);
    ASSERT_EQ(shot.size(), QSize(800, 300));
    KeepSnapshot(shot, "settings.png");
    // The label strip: a row near the middle that no column divider crosses.
    bool bStrip = false;
    for (int y = 140; y <= 160 && !bStrip; ++y) {
        bool bDivider = false;
        for (int x = 20; x < 780; ++x)
            bDivider = bDivider || shot.pixel(x, y) == kOutline;
        bStrip = !bDivider;
    }
    EXPECT_TRUE(bStrip);
    // The 1 kHz columns' peaks: the left channel's group grows up to the top
    // of the graph, the right channel's down to its bottom.
    int nTopPeak = 0, nBottomPeak = 0;
    for (int x = 9; x < 791; ++x) {
        for (int y = 9; y < 30; ++y) {
            nTopPeak += shot.pixel(x, y) == kYellow;
            nBottomPeak += shot.pixel(x, y + 261) == kYellow;
        }
    }
    EXPECT_GT(nTopPeak, 20);
    EXPECT_GT(nBottomPeak, 20);
}
