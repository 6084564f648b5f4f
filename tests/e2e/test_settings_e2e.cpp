// The settings run mode through its own command line, on an X server:
// `vexlor /c` driven by xdotool's real clicks and keys, the settings file that
// 閉じる leaves behind (Esc leaves it as it was), and a snapshot taken with it.
#include "E2eSupport.h"

#include <QSettings>

using namespace e2e;

namespace {
// The middle of each control in its window: its dialog-unit rectangle x 2.
constexpr QPoint kStereoTopBottom{126 + 8, 196 + 10}; // stereoTopBottomRadio (63,98 54x10)
constexpr QPoint kKeyboard{126 + 8, 246 + 10};        // keyboardRadio (63,123 47x10)
constexpr QPoint kRecSearch{14 + 8, 290 + 10};        // recSearchCheck (7,145 67x10)
constexpr QPoint kSaverButton{282 + 87, 314 + 21};    // saverButton (141,157 87x21)
constexpr QPoint kCloseButton{14 + 34, 322 + 17};     // closeButton (7,161 34x17)
constexpr QPoint kRandomMove{14 + 8, 14 + 10};        // saver page: randomMoveCheck (7,7 110x10)
constexpr QPoint kSizeX{48 + 40, 80 + 12};            // saver page: sizeXEdit (24,40 40x12)
constexpr QPoint kSizeY{172 + 40, 80 + 12};           // saver page: sizeYEdit (86,40 40x12)
const QString kHubTitle = "スペアナの設定", kSaverPageTitle = "スクリーンセーバーの設定";

// The window with this title, once it is shown (xdotool waits up to 15 s).
QString FindWindow(const QString &strTitle)
{
    return XDoTool({"search", "--sync", "--onlyvisible", "--name", "^" + strTitle + "$"})
        .split('\n')
        .value(0);
}

void ClickAt(const QString &strWindow, QPoint pt)
{
    XDoTool({"mousemove", "--window", strWindow, QString::number(pt.x()), QString::number(pt.y()),
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
    const QString m_strConf = m_home.filePath(".config/tanuwel/vexlor.conf");
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
            return QProcess::execute("xdotool", {"search", "--onlyvisible", "--name",
                                                 "^" + kSaverPageTitle + "$"}) != 0;
        })) << "the saver page stays";
        ClickAt(strHub, kCloseButton);
        EXPECT_TRUE(run.EndsCleanlyWithin(10000));
    }
    ASSERT_TRUE(QFile::exists(m_strConf));
    {
        QSettings conf(m_strConf, QSettings::IniFormat);
        conf.beginGroup("Config");
        EXPECT_EQ(conf.childKeys().size(), 73);              // the 72 and InputSource
        EXPECT_EQ(conf.value("InputSource").toString(), ""); // what is playing
        // SaverMode unchecked (default 1); negatives written signed, as a person would; the default
        // picture remembered with type 3 in slot 0 (labels on, Ldiv 1, Fdiv 16);
        // untouched settings at their defaults.
        // clang-format off
        const std::pair<const char *, qlonglong> numbers[] = {
            {"Version", 1}, {"Type", 3}, {"WaveRecMode", 1}, {"SaverMode", 0}, {"SaverSizeX", 640},
            {"SaverSizeY", -200}, {"bmpTypeEtc0", 1 | (1 << 4) | (16 << 8) | (3 << 16)},
            {"Frange", 1}, {"Fdiv", 16}, {"Lmin", -60}, {"FontColor", 0xFFFF00}};
        // clang-format on
        for (const auto &[pszKey, nValue] : numbers)
            EXPECT_EQ(conf.value(pszKey).toLongLong(), nValue) << pszKey;
        EXPECT_EQ(conf.value("bmpName1").toString(), "sp.bmp");
    }

    const QByteArray saved = FileBytes(m_strConf);
    EscapeAfterChanges(); // with a settings file: it stays byte for byte as it was
    EXPECT_EQ(FileBytes(m_strConf), saved);

    // A snapshot with those settings: stereo top and bottom around a label strip;
    // 3-pixel frame rings make the graph (9, 9) to (791, 291).
    const QString strWav = m_home.filePath("tone.wav"), strPng = m_home.filePath("shot.png");
    MakeTone(strWav, 4, 44100, 1000, 0.25);
    ASSERT_EQ(RunToEnd(Env(m_home.path(), "offscreen"), SnapshotArgs(strWav, strPng, "2")), 0);
    const QImage shot(strPng);
    ASSERT_EQ(shot.size(), QSize(800, 300));
    KeepSnapshot(shot, "settings.png");
    // The label strip: a row near the middle that no column divider crosses.
    bool bStrip = false;
    for (int y = 140; y <= 160 && !bStrip; ++y)
        bStrip = CountPixels(shot, QRect(20, y, 760, 1), Is(kOutline)) == 0;
    EXPECT_TRUE(bStrip);
    // The 1 kHz peaks: the left channel's reach the top, the right channel's the bottom.
    EXPECT_GT(CountPixels(shot, QRect(9, 9, 782, 21), Is(kYellow)), 20);
    EXPECT_GT(CountPixels(shot, QRect(9, 270, 782, 21), Is(kYellow)), 20);
}
