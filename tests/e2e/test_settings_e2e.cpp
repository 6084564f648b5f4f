// `vexlor /c` driven by xdotool's real clicks and keys on an X server: the
// settings file that 閉じる leaves behind (Esc writes none), and a snapshot
// taken with it.
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

class SettingsE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        E2E_REQUIRE_X();
        ASSERT_TRUE(HasTool("xdotool")) << "xdotool is missing (scripts/setup.sh installs it)";
        ASSERT_TRUE(m_home.isValid());
    }
    QTemporaryDir m_home;
    const QString m_strConf = m_home.filePath(".config/tanuwel/vexlor.conf");
};
} // namespace

TEST_F(SettingsE2E, CloseSavesTheChangesEscLeavesTheFileAndTheSnapshotShowsThem)
{
    { // Esc after changes on a first run: nothing is written at all
        Program run(Env(m_home.path(), "xcb"), {"/c"});
        const QString strHub = FindWindow(kHubTitle);
        ASSERT_FALSE(strHub.isEmpty());
        ClickAt(strHub, kKeyboard);
        ClickAt(strHub, kRecSearch);
        Keys({"Escape"});
        EXPECT_TRUE(run.EndsCleanlyWithin(10000));
    }
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
        // SaverMode unchecked (default 1); negatives written signed, as a person would.
        const std::pair<const char *, qlonglong> numbers[] = {
            {"Type", 3},         {"WaveRecMode", 1},   {"SaverMode", 0},
            {"SaverSizeX", 640}, {"SaverSizeY", -200}, {"Fdiv", 16}};
        for (const auto &[pszKey, nValue] : numbers)
            EXPECT_EQ(conf.value(pszKey).toLongLong(), nValue) << pszKey;
    }

    // A snapshot with those settings: stereo top and bottom; 3-pixel frame rings make the
    // graph (9, 9) to (791, 291).
    const QString strWav = m_home.filePath("tone.wav"), strPng = m_home.filePath("shot.png");
    MakeTone(strWav, 4, 44100, 1000, 0.25);
    ASSERT_EQ(RunToEnd(Env(m_home.path(), "offscreen"), SnapshotArgs(strWav, strPng, "2")), 0);
    const QImage shot(strPng);
    ASSERT_EQ(shot.size(), QSize(800, 300));
    // The 1 kHz peaks: the left channel's reach the top, the right channel's the bottom.
    EXPECT_GT(CountPixels(shot, QRect(9, 9, 782, 21), Is(kYellow)), 20);
    EXPECT_GT(CountPixels(shot, QRect(9, 270, 782, 21), Is(kYellow)), 20);
}
