// The settings run mode end to end, under the X server that run_with_xvfb.sh
// starts: `vexlor /c` is driven with xdotool's real clicks and keys, the
// settings file is what 閉じる leaves behind (and Esc leaves it as it was),
// and a snapshot taken with the saved settings shows them.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Places on the forms, in pixels from the window's top-left corner: the
// middle of each control, from its dialog-unit rectangle x 2.
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

QString XDoTool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(15000) || p.exitCode() != 0) {
        ADD_FAILURE() << "xdotool " << args.join(' ').toStdString() << " failed";
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The window with this title, once it is shown (waits up to 15 s).
QString FindWindow(const QString &strTitle)
{
    const QString strIds = XDoTool(
        {"search", "--sync", "--onlyvisible", "--name", QStringLiteral("^%1$").arg(strTitle)});
    return strIds.split('\n').value(0);
}

// Waits up to 5 s for the window with this title to go.
bool WaitGone(const QString &strTitle)
{
    QElapsedTimer timer;
    timer.start();
    const QStringList args{"search", "--onlyvisible", "--name",
                           QStringLiteral("^%1$").arg(strTitle)};
    while (QProcess::execute(QStringLiteral("xdotool"), args) == 0) {
        if (timer.elapsed() > 5000)
            return false;
        QTest::qWait(100);
    }
    return true;
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

// `vexlor /c` with a home and settings folder of its own.
struct HubRun
{
    QProcess process;

    explicit HubRun(const QTemporaryDir &home)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("XSCREENSAVER_WINDOW"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(VEXLOR_BINARY), {QStringLiteral("/c")});
        EXPECT_TRUE(process.waitForStarted());
    }
    ~HubRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    bool EndsCleanly()
    {
        // It may have ended already, while the last input was waited for.
        const bool bEnded =
            process.state() == QProcess::NotRunning || process.waitForFinished(10000);
        return bEnded && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
};

QString ConfPath(const QTemporaryDir &home)
{
    return home.filePath(QStringLiteral(".config/tanuwel/vexlor.conf"));
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
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X server (run_with_xvfb.sh starts one)";
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            << "xdotool is missing (scripts/setup.sh installs it)";
        ASSERT_TRUE(m_home.isValid());
    }
    // Changes the type and the recording-point search, then presses Esc.
    void EscapeAfterChanges()
    {
        HubRun run(m_home);
        const QString strHub = FindWindow(QStringLiteral("スペアナの設定"));
        ASSERT_FALSE(strHub.isEmpty());
        ClickAt(strHub, kKeyboard);
        ClickAt(strHub, kRecSearch);
        Keys({"Escape"});
        EXPECT_TRUE(run.EndsCleanly());
    }
    QTemporaryDir m_home;
};

} // namespace

TEST_F(SettingsE2E, CloseSavesTheChangesEscLeavesTheFileAndTheSnapshotShowsThem)
{
    // Esc on a first run: nothing is written at all.
    EscapeAfterChanges();
    EXPECT_FALSE(QFile::exists(ConfPath(m_home)));

    // 閉じる after a type, the recording-point search and the saver page.
    {
        HubRun run(m_home);
        const QString strHub = FindWindow(QStringLiteral("スペアナの設定"));
        ASSERT_FALSE(strHub.isEmpty());
        ClickAt(strHub, kStereoTopBottom);
        ClickAt(strHub, kRecSearch);
        ClickAt(strHub, kSaverButton);
        const QString strPage = FindWindow(QStringLiteral("スクリーンセーバーの設定"));
        ASSERT_FALSE(strPage.isEmpty());
        ClickAt(strPage, kRandomMove);
        ClickAt(strPage, kSizeX);
        Keys({"ctrl+a", "6", "4", "0"});
        ClickAt(strPage, kSizeY);
        Keys({"ctrl+a", "minus", "2", "0", "0", "Return"}); // Return: the page's OK
        EXPECT_TRUE(WaitGone(QStringLiteral("スクリーンセーバーの設定")));
        ClickAt(strHub, kCloseButton);
        EXPECT_TRUE(run.EndsCleanly());
    }
    ASSERT_TRUE(QFile::exists(ConfPath(m_home)));
    {
        QSettings conf(ConfPath(m_home), QSettings::IniFormat);
        conf.beginGroup(QStringLiteral("Config"));
        EXPECT_EQ(conf.childKeys().size(), 72);
        const auto number = [&conf](const char *pszKey) {
            return conf.value(QString::fromLatin1(pszKey)).toLongLong();
        };
        EXPECT_EQ(number("Version"), 1);
        EXPECT_EQ(number("Type"), 3);
        EXPECT_EQ(number("WaveRecMode"), 1);
        EXPECT_EQ(number("SaverMode"), 0); // default 1, unchecked
        EXPECT_EQ(number("SaverSizeX"), 640);
        EXPECT_EQ(number("SaverSizeY"), -200); // written signed, as a person would
        // The type change remembered the default picture with type 3 in
        // slot 0: labels on, Ldiv 1, Fdiv 16.
        EXPECT_EQ(conf.value(QStringLiteral("bmpName1")).toString(), QStringLiteral("sp.bmp"));
        EXPECT_EQ(number("bmpTypeEtc0"), 1 | (1 << 4) | (16 << 8) | (3 << 16));
        // Untouched settings keep their defaults.
        EXPECT_EQ(number("Frange"), 1);
        EXPECT_EQ(number("Fdiv"), 16);
        EXPECT_EQ(number("Lmin"), -60);
        EXPECT_EQ(number("FontColor"), 0xFFFF00);
    }

    // Esc with a settings file: it stays byte for byte as it was.
    const QByteArray saved = FileBytes(ConfPath(m_home));
    EscapeAfterChanges();
    EXPECT_EQ(FileBytes(ConfPath(m_home)), saved);

    // A snapshot with those settings: stereo top and bottom around a label
    // strip. An 800 x 300 window has 3-pixel frame rings, so the graph is
    // (9, 9) to (791, 291) and its middle row is 150.
    const QString strWav = m_home.filePath(QStringLiteral("tone.wav"));
    const QString strPng = m_home.filePath(QStringLiteral("shot.png"));
    ASSERT_EQ(
        QProcess::execute(QStringLiteral(VEXLOR_TONE), {strWav, "4", "44100", "1000", "0.25"}), 0);
    QProcess snap;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    snap.setProcessEnvironment(env);
    snap.start(QStringLiteral(VEXLOR_BINARY),
               {"--window", "800x300", "--input", strWav, "--snapshot", strPng, "--after", "2"});
    ASSERT_TRUE(snap.waitForFinished(30000));
    ASSERT_EQ(snap.exitCode(), 0);
    const QImage shot(strPng);
    ASSERT_EQ(shot.size(), QSize(800, 300));
    if (!qEnvironmentVariableIsEmpty("VEXLOR_KEEP_SNAPSHOTS"))
        shot.save(QDir(qEnvironmentVariable("VEXLOR_KEEP_SNAPSHOTS")).filePath("settings.png"));
    const QRgb grey = qRgb(128, 128, 128), yellow = qRgb(255, 255, 0);
    // The label strip: a row near the middle that no column divider crosses.
    bool bStrip = false;
    for (int y = 140; y <= 160 && !bStrip; ++y) {
        bool bDivider = false;
        for (int x = 20; x < 780; ++x)
            bDivider = bDivider || shot.pixel(x, y) == grey;
        bStrip = !bDivider;
    }
    EXPECT_TRUE(bStrip);
    // The 1 kHz columns' peaks: the left channel's group grows up to the top
    // of the graph, the right channel's down to its bottom.
    int nTopPeak = 0, nBottomPeak = 0;
    for (int x = 9; x < 791; ++x) {
        for (int y = 9; y < 30; ++y)
            nTopPeak += shot.pixel(x, y) == yellow;
        for (int y = 270; y < 291; ++y)
            nBottomPeak += shot.pixel(x, y) == yellow;
    }
    EXPECT_GT(nTopPeak, 20);
    EXPECT_GT(nBottomPeak, 20);
}
