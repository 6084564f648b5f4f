// Two monitors side by side (1280 x 800 and 1024 x 768 on one 2304 x 800 X
// screen, run_with_servers.sh --two-monitors): the saver covers each monitor and a key
// ends it; -root draws one graph per monitor. Headless at twice the pixel
// density: the picture has the device's resolution, not doubled pixels.
#include "E2eSupport.h"

using namespace e2e;

namespace {

// The 545 x 151 graph centred on each monitor: (1280 - 545) / 2, (800 - 151) / 2 on the
// first, 1280 + (1024 - 545) / 2, (768 - 151) / 2 on the second.
const QPoint kGraphs[2] = {QPoint(367, 324), QPoint(1519, 308)};
// Where the columns of a graph at pt are lit, inside its rings and above its labels.
QRect Columns(QPoint pt)
{
    return QRect(pt + QPoint(11, 12), pt + QPoint(534, 122));
}

class MonitorsE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        E2E_REQUIRE_X();
        if (qEnvironmentVariableIsEmpty("VEXLOR_X_SERVER"))
            GTEST_SKIP() << "needs two monitors (run_with_servers.sh --two-monitors sets them up)";
        ASSERT_TRUE(HasTool("xdotool")) << "xdotool is missing (scripts/setup.sh installs it)";
        ASSERT_NE(m_pDisplay = XServer(), nullptr);
        MakeTone(m_strWav, 30, 44100, 1000, 0.25);
        XDoTool({"mousemove", "600", "400"});
    }
    // The root's picture once a graph's ring and lit columns show at every place in pts.
    QImage WaitForGraphs(std::initializer_list<QPoint> pts)
    {
        QImage shot;
        PollUntil(10000, 250, [&] {
            shot = Grab(m_pDisplay, DefaultRootWindow(m_pDisplay), 2304, 800);
            bool bAll = !shot.isNull();
            for (const QPoint &pt : pts)
                bAll = bAll && shot.pixel(pt) == kOuterRing && LitPixels(shot, Columns(pt)) > 0;
            return bAll;
        });
        return shot;
    }
    // Each graph's outer ring at the corners of its 545 x 151 rectangle, nothing just outside.
    static void ExpectAGraphOnEachMonitor(const QImage &shot)
    {
        for (const QPoint &pt : kGraphs) {
            ExpectColour(shot, kOuterRing, {pt, pt + QPoint(544, 150)});
            ExpectColour(shot, kBlack, {pt - QPoint(1, 1), pt + QPoint(545, 151)});
            EXPECT_GT(LitPixels(shot, Columns(pt)), 500) << pt.x(); // the 1 kHz column
        }
    }
    // How many top-level windows of the program are shown.
    static int SaverWindows()
    {
        QProcess xdotool; // it ends with status 1 when it finds none
        xdotool.start("xdotool",
                      {"search", "--maxdepth", "1", "--onlyvisible", "--class", "^vexlor$"});
        xdotool.waitForFinished(10000);
        return int(xdotool.readAllStandardOutput().count('\n'));
    }

    Display *m_pDisplay = nullptr;
    QTemporaryDir m_home;
    const QString m_strWav = m_home.filePath("tone.wav");
    const QProcessEnvironment m_env = Env(m_home.path(), "xcb");
};

} // namespace

TEST_F(MonitorsE2E, TheSaverCoversEachMonitorAndAKeyClosesEveryWindow)
{
    Program run(m_env, {"/s", "--input", m_strWav});
    const QImage shot = WaitForGraphs({kGraphs[0], kGraphs[1]});
    ExpectAGraphOnEachMonitor(shot);
    EXPECT_TRUE(PollUntil(5000, 100, [] { return SaverWindows() == 2; }));
    XDoTool({"key", "x"});
    EXPECT_TRUE(run.EndsCleanlyWithin(2000));
    EXPECT_EQ(SaverWindows(), 0);
}

TEST_F(MonitorsE2E, RootWithoutAHostDrawsOneGraphPerMonitor)
{
    Program run(m_env, {"-root", "--input", m_strWav});
    const QImage shot = WaitForGraphs({kGraphs[0], kGraphs[1]});
    ExpectAGraphOnEachMonitor(shot);
    run.process.terminate(); // SIGTERM, as XScreenSaver ends a hack
    EXPECT_TRUE(run.EndsCleanlyWithin(3000));
}

// At twice the pixel density the snapshot has two device pixels to a logical one, and what is
// drawn is drawn at that resolution: column outlines one device pixel wide, where a doubled
// picture would have them two wide (every 2 x 2 block of one colour).
TEST(DensityE2E, TwiceTheDensityDrawsLinesOneDevicePixelWide)
{
    QTemporaryDir home;
    const QString strWav = home.filePath("tone.wav");
    MakeTone(strWav, 4, 44100, 1000, 0.25);
    QImage shots[2];
    for (int nScale = 1; nScale <= 2; ++nScale) {
        QProcessEnvironment env = Env(home.path(), "offscreen");
        env.insert("QT_SCALE_FACTOR", QString::number(nScale));
        const QString strPng = home.filePath(QString("scale%1.png").arg(nScale));
        ASSERT_EQ(RunToEnd(env, SnapshotArgs(strWav, strPng, "2")), 0) << nScale;
        ASSERT_TRUE(shots[nScale - 1].load(strPng)) << nScale;
        shots[nScale - 1] = shots[nScale - 1].convertToFormat(QImage::Format_RGB32);
    }
    ASSERT_EQ(shots[0].size(), QSize(800, 300));
    ASSERT_EQ(shots[1].size(), QSize(1600, 600));
    // The column outlines across a row through the columns' middle: outline pixels between
    // the first and the last that stand alone (the frame's middle ring, also of the outline's
    // colour, is three logical pixels wide, so six device pixels).
    const auto outlines = [](const QImage &img, int y) {
        const auto at = [&](int x) { return img.pixel(x, y) == kOutline; };
        std::vector<int> xs;
        for (int x = 1; x + 1 < img.width(); ++x)
            if (at(x) && !at(x - 1) && !at(x + 1))
                xs.push_back(x);
        int nAll = 0; // every outline pixel from the first line to the last
        for (int x = xs.empty() ? 0 : xs.front(); !xs.empty() && x <= xs.back(); ++x)
            nAll += at(x);
        EXPECT_EQ(nAll, int(xs.size())) << "a line wider than a pixel";
        return xs;
    };
    const std::vector<int> one = outlines(shots[0], 100), two = outlines(shots[1], 200);
    ASSERT_EQ(one.size(), 17u); // 16 columns and their shared edges
    // Each line stays one pixel wide, at twice its logical place: the graph twice as large.
    ASSERT_EQ(two.size(), one.size());
    for (size_t i = 0; i < one.size(); ++i)
        EXPECT_EQ(two[i], 2 * one[i]) << i;
}
