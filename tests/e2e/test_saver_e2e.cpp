// The screen saver end to end, under the X server that run_with_xvfb.sh
// starts (1024 x 768): the full-screen window draws the graph centred and
// ends at the user's input, driven by xdotool; XScreenSaver's conventions
// draw into a host window made here and end with SIGTERM or with the host;
// and `cmake --install` puts the program and its hack description in place.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr QRgb kBlack = 0xFF000000u;
constexpr QRgb kOuterRing = 0xFFA3A3A3u; // the frame's outer ring, (163, 163, 163)

// A saver run with default settings (a settings folder of its own), on the
// X server, with a 1 kHz tone as its sound input.
struct SaverRun
{
    QTemporaryDir dir;
    QProcess process;

    explicit SaverRun(const QStringList &args, const QString &strXScreenSaverWindow = {})
    {
        const QString strWav = dir.filePath(QStringLiteral("tone.wav"));
        EXPECT_EQ(
            QProcess::execute(QStringLiteral(VEXLOR_TONE), {strWav, "8", "44100", "1000", "0.25"}),
            0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("XSCREENSAVER_WINDOW"));
        if (!strXScreenSaverWindow.isEmpty())
            env.insert(QStringLiteral("XSCREENSAVER_WINDOW"), strXScreenSaverWindow);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(VEXLOR_BINARY), args + QStringList{"--input", strWav});
        EXPECT_TRUE(process.waitForStarted());
    }
    ~SaverRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    bool EndsCleanlyWithin(int nMs)
    {
        return process.waitForFinished(nMs) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
};

QImage Grab(Display *pDisplay, Window window, int w, int h)
{
    XImage *pImage =
        XGetImage(pDisplay, window, 0, 0, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
    if (!pImage)
        return {};
    QImage shot(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            shot.setPixel(x, y, QRgb(XGetPixel(pImage, x, y)) | kBlack);
    XDestroyImage(pImage);
    return shot;
}

// Pixels inside rc in none of the colours of an unlit graph: background,
// outline grey and the yellow peak chip. -1 for an empty rc.
int LitPixels(const QImage &shot, const QRect &rc)
{
    if (rc.isEmpty())
        return -1;
    int n = 0;
    for (int y = rc.top(); y <= rc.bottom(); ++y) {
        for (int x = rc.left(); x <= rc.right(); ++x) {
            const QRgb c = shot.pixel(x, y);
            n += c != kBlack && c != qRgb(128, 128, 128) && c != qRgb(255, 255, 0);
        }
    }
    return n;
}

// Waits up to 10 s for the frame's outer ring at (x, y) of the window and,
// given rcInside, for lit chips there; returns the last picture.
QImage WaitForRing(Display *pDisplay, Window window, int w, int h, int x, int y,
                   const QRect &rcInside = {})
{
    QElapsedTimer timer;
    timer.start();
    QImage shot;
    do {
        QTest::qWait(250);
        shot = Grab(pDisplay, window, w, h);
    } while ((shot.isNull() || shot.pixel(x, y) != kOuterRing || LitPixels(shot, rcInside) == 0) &&
             timer.elapsed() < 10000);
    return shot;
}

void XDoTool(const QStringList &args)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), args), 0)
        << args.join(' ').toStdString();
}

class SaverE2E : public ::testing::Test
{
protected:
    // One connection for the whole suite: an X server resets when its last
    // client goes, and refuses connections while it does.
    static void SetUpTestSuite()
    {
        if (!qEnvironmentVariableIsEmpty("DISPLAY"))
            m_pDisplay = XOpenDisplay(nullptr);
    }
    static void TearDownTestSuite()
    {
        if (m_pDisplay)
            XCloseDisplay(m_pDisplay);
        m_pDisplay = nullptr;
    }
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X server (run_with_xvfb.sh starts one)";
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            << "xdotool is missing (scripts/setup.sh installs it)";
        ASSERT_NE(m_pDisplay, nullptr);
        m_root = DefaultRootWindow(m_pDisplay);
    }
    // A plain white 400 x 300 window, as a host would make.
    Window MakeHost()
    {
        const int nScreen = DefaultScreen(m_pDisplay);
        const Window host = XCreateSimpleWindow(m_pDisplay, m_root, 50, 50, 400, 300, 0, 0,
                                                WhitePixel(m_pDisplay, nScreen));
        XMapWindow(m_pDisplay, host);
        XSync(m_pDisplay, False);
        return host;
    }

    inline static Display *m_pDisplay = nullptr;
    Window m_root = 0;
};

} // namespace

TEST_F(SaverE2E, DrawsTheGraphCentredAndTheSecondMovementEndsIt)
{
    XDoTool({"mousemove", "300", "300"});
    SaverRun run({"/s"});
    // 545 x 151 centred on 1024 x 768: (239, 308) to (784, 459). Rings of
    // 151 / 48 = 3 pixels put the columns 9 pixels in; labels take the bottom.
    const QRect rcColumns(QPoint(250, 320), QPoint(773, 430));
    const QImage shot = WaitForRing(m_pDisplay, m_root, 1024, 768, 239, 308, rcColumns);
    if (!qEnvironmentVariableIsEmpty("VEXLOR_KEEP_SNAPSHOTS"))
        shot.save(QDir(qEnvironmentVariable("VEXLOR_KEEP_SNAPSHOTS")).filePath("saver.png"));
    EXPECT_EQ(shot.pixel(239, 308), kOuterRing);
    EXPECT_EQ(shot.pixel(783, 458), kOuterRing);
    for (const QPoint &pt : {QPoint(238, 308), QPoint(239, 307), QPoint(784, 458), QPoint(783, 459),
                             QPoint(0, 0), QPoint(1023, 767)})
        EXPECT_EQ(shot.pixel(pt), kBlack) << pt.x() << ", " << pt.y();
    EXPECT_GT(LitPixels(shot, rcColumns), 500); // the 1 kHz column

    XDoTool({"mousemove", "310", "300"}); // the first movement is only noted
    EXPECT_FALSE(run.process.waitForFinished(1000));
    XDoTool({"mousemove", "310", "300"}); // nor does the same place close it
    EXPECT_FALSE(run.process.waitForFinished(700));
    XDoTool({"mousemove", "330", "320"});
    EXPECT_TRUE(run.EndsCleanlyWithin(1000));
}

TEST_F(SaverE2E, AKeyOrAButtonEndsIt)
{
    for (const QStringList &action : {QStringList{"key", "x"}, QStringList{"key", "alt+F4"},
                                      QStringList{"click", "1"}, QStringList{"click", "3"}}) {
        SaverRun run({"/s"});
        WaitForRing(m_pDisplay, m_root, 1024, 768, 239, 308);
        XDoTool(action);
        EXPECT_TRUE(run.EndsCleanlyWithin(1000)) << action.join(' ').toStdString();
    }
}

TEST_F(SaverE2E, WindowIdDrawsIntoTheHostIgnoresInputAndEndsWithSigterm)
{
    const Window host = MakeHost();
    SaverRun run({"-window-id", QString::number(qulonglong(host))});
    // 400 x 300: the width shrinks to 370, so the graph is (15, 74) to (385, 225).
    const QImage shot = WaitForRing(m_pDisplay, host, 400, 300, 15, 74);
    EXPECT_EQ(shot.pixel(15, 74), kOuterRing);
    EXPECT_EQ(shot.pixel(384, 224), kOuterRing);
    EXPECT_EQ(shot.pixel(14, 74), kBlack);
    EXPECT_EQ(shot.pixel(0, 0), kBlack); // the saver's background covers the host

    XDoTool({"mousemove", "100", "100"});
    XDoTool({"mousemove", "200", "200"});
    XDoTool({"click", "1"});
    XDoTool({"key", "x"});
    EXPECT_FALSE(run.process.waitForFinished(700)); // only the host ends it
    run.process.terminate();                        // SIGTERM
    EXPECT_TRUE(run.EndsCleanlyWithin(3000));
    XDestroyWindow(m_pDisplay, host);
}

TEST_F(SaverE2E, RootDrawsIntoXScreenSaversWindowAndEndsWhenItGoes)
{
    const Window host = MakeHost();
    SaverRun run({"-root"}, QStringLiteral("0x%1").arg(qulonglong(host), 0, 16));
    const QImage shot = WaitForRing(m_pDisplay, host, 400, 300, 15, 74);
    EXPECT_EQ(shot.pixel(15, 74), kOuterRing);
    XDestroyWindow(m_pDisplay, host);
    XSync(m_pDisplay, False);
    EXPECT_TRUE(run.EndsCleanlyWithin(5000));
}

TEST(InstallE2E, InstallsTheProgramAndItsHackDescription)
{
    QTemporaryDir prefix;
    ASSERT_EQ(QProcess::execute(QStringLiteral(VEXLOR_CMAKE),
                                {"--install", VEXLOR_BUILD_DIR, "--prefix", prefix.path()}),
              0);
    EXPECT_TRUE(QFileInfo(prefix.filePath("bin/vexlor")).isExecutable());

    QFile xml(prefix.filePath("share/xscreensaver/config/vexlor.xml"));
    ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
    QXmlStreamReader reader(&xml);
    QStringList seen;
    while (reader.readNextStartElement()) {
        const QXmlStreamAttributes a = reader.attributes();
        if (reader.name() == u"screensaver") {
            seen << "name=" + a.value("name").toString() << "label=" + a.value("_label").toString();
            continue; // into its children
        }
        if (reader.name() == u"command")
            seen << "command=" + a.value("arg").toString();
        if (reader.name() == u"_description" && !reader.readElementText().trimmed().isEmpty())
            seen << "description";
        else
            reader.skipCurrentElement();
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    EXPECT_EQ(seen, (QStringList{"name=vexlor", "label=Vexlor", "command=-root", "description"}));
}
