// Two monitors side by side (1280 x 800 and 1024 x 768 on one 2304 x 800 X
// screen, run_with_two_monitors.sh): the saver covers each monitor and a key
// ends it; -root draws one graph per monitor. Headless at twice the pixel
// density: the picture has the device's resolution, not doubled pixels.
#include "E2eSupport.h"

#include <set>

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
            GTEST_SKIP() << "needs two monitors (run_with_two_monitors.sh sets them up)";
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
    // Where each graph's outer ring is, and nothing of it outside: the corners of the
    // 545 x 151 rectangle, the pixels just outside, the seam and the middle of the root
    // (where one graph across both monitors would be: 879 to 1424).
    static void ExpectAGraphOnEachMonitor(const QImage &shot)
    {
        for (const QPoint &pt : kGraphs) {
            ExpectColour(shot, kOuterRing, {pt, pt + QPoint(544, 150)});
            ExpectColour(shot, kBlack,
                         {pt - QPoint(1, 0), pt - QPoint(0, 1), pt + QPoint(545, 150),
                          pt + QPoint(544, 151)});
            EXPECT_GT(LitPixels(shot, Columns(pt)), 500) << pt.x(); // the 1 kHz column
        }
        ExpectColour(shot, kBlack, {QPoint(1279, 400), QPoint(1280, 400), QPoint(1100, 324)});
    }
    // The sizes of the program's shown top-level windows.
    std::multiset<std::pair<int, int>> SaverWindows()
    {
        std::multiset<std::pair<int, int>> sizes;
        Window root = 0, parent = 0, *pChildren = nullptr;
        unsigned nChildren = 0;
        if (!XQueryTree(m_pDisplay, DefaultRootWindow(m_pDisplay), &root, &parent, &pChildren,
                        &nChildren))
            return sizes;
        for (unsigned i = 0; i < nChildren; ++i) {
            XWindowAttributes attributes;
            XClassHint hint = {};
            if (XGetWindowAttributes(m_pDisplay, pChildren[i], &attributes) &&
                attributes.map_state == IsViewable &&
                XGetClassHint(m_pDisplay, pChildren[i], &hint) && hint.res_class &&
                QByteArray(hint.res_class).compare("vexlor", Qt::CaseInsensitive) == 0)
                sizes.insert({attributes.width, attributes.height});
            if (hint.res_name)
                XFree(hint.res_name);
            if (hint.res_class)
                XFree(hint.res_class);
        }
        if (pChildren)
            XFree(pChildren);
        return sizes;
    }
    bool WindowsBecome(const std::multiset<std::pair<int, int>> &sizes)
    {
        return PollUntil(5000, 100, [&] { return SaverWindows() == sizes; });
    }
    // Splits the screen's right part off as a monitor again, or takes it away.
    static void RightMonitor(bool bThere)
    {
        QProcess xrandr;
        xrandr.start("xrandr", bThere ? QStringList{"--setmonitor", "vexlor-right",
                                                    "1024/270x768/203+1280+0", "none"}
                                      : QStringList{"--delmonitor", "vexlor-right"});
        ASSERT_TRUE(xrandr.waitForFinished(10000) && xrandr.exitCode() == 0);
    }

    Display *m_pDisplay = nullptr;
    QTemporaryDir m_home;
    const QString m_strWav = m_home.filePath("tone.wav");
    const QProcessEnvironment m_env = Env(m_home.path(), "xcb");
};

} // namespace

TEST_F(MonitorsE2E, TheSaverCoversEachMonitorFollowsThemAndAKeyClosesEveryWindow)
{
    Program run(m_env, {"/s", "--input", m_strWav});
    const QImage shot = WaitForGraphs({kGraphs[0], kGraphs[1]});
    KeepSnapshot(shot, "saver_two_monitors.png");
    ExpectAGraphOnEachMonitor(shot);
    EXPECT_TRUE(WindowsBecome({{1280, 800}, {1024, 768}}));

    // A monitor that goes takes its window along, and one that comes gets one; the saver runs on.
    RightMonitor(false);
    EXPECT_TRUE(WindowsBecome({{1280, 800}}));
    RightMonitor(true);
    EXPECT_TRUE(WindowsBecome({{1280, 800}, {1024, 768}}));
    EXPECT_EQ(WaitForGraphs({kGraphs[1]}).pixel(kGraphs[1]), kOuterRing);
    EXPECT_EQ(run.process.state(), QProcess::Running);

    XDoTool({"key", "x"});
    EXPECT_TRUE(run.EndsCleanlyWithin(2000));
    EXPECT_TRUE(SaverWindows().empty());
}

TEST_F(MonitorsE2E, RootWithoutAHostDrawsOneGraphPerMonitor)
{
    Program run(m_env, {"-root", "--input", m_strWav});
    const QImage shot = WaitForGraphs({kGraphs[0], kGraphs[1]});
    KeepSnapshot(shot, "root_two_monitors.png");
    ExpectAGraphOnEachMonitor(shot);
    run.process.terminate(); // SIGTERM, as XScreenSaver ends a hack
    EXPECT_TRUE(run.EndsCleanlyWithin(3000));
}

// At twice the pixel density the snapshot has two device pixels to a logical one, and what is
// drawn is drawn at that resolution: column outlines one device pixel wide, where a doubled
// picture would have them two wide (every 2 x 2 block of one colour), and no colour at a chip's
// edge that is neither the chip's nor the gap's.
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
        KeepSnapshot(shots[nScale - 1], QString("density%1.png").arg(nScale));
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
    // Each line stays one pixel wide, at twice its logical place, so the graph's columns span
    // 2 x (w - 1) + 1 device pixels for w logical ones.
    ASSERT_EQ(two.size(), one.size());
    for (size_t i = 0; i < one.size(); ++i)
        EXPECT_EQ(two[i], 2 * one[i]) << i;
    EXPECT_EQ(two.back() - two.front() + 1, 2 * (one.back() - one.front()) + 1);
    // Chip edges: up and down from a lit pixel is its own colour, the gap's black, an outline
    // or a peak, never a blend of them.
    const QImage &img = shots[1];
    int nLit = 0, nBlended = 0;
    for (int y = 2 * 20; y < 2 * 250; ++y)
        for (int x = two.front(); x < two.back(); ++x) {
            const QRgb c = img.pixel(x, y);
            if (c == kBlack || c == kOutline || c == kYellow)
                continue;
            ++nLit;
            for (const QRgb n : {img.pixel(x, y - 1), img.pixel(x, y + 1)})
                nBlended += n != c && n != kBlack && n != kOutline && n != kYellow;
        }
    EXPECT_GT(nLit, 1000);
    EXPECT_EQ(nBlended, 0);
}
