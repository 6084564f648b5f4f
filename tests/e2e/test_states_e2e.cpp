// The display's states end to end, through the program's own command line.
//
// Device error: the full-screen saver starts while no sound server answers
// on the address it was given (PULSE_SERVER), and shows the big clock with
// "Device error" under it; then the test starts a PulseAudio server of its
// own on that address, with a null sink whose monitor is the default source,
// and plays a 1 kHz tone into it: the watchdog's retry opens the input and
// the columns come back. Runs under the X server of run_with_xvfb.sh
// (1024 x 768) and reads the screen with XGetImage.
//
// Idle clock: a silent WAV file as the input turns the display into the big
// clock once 15 seconds have passed without a lit chip; headless snapshots
// at 10 s and 18.5 s show the columns and then the clock.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <functional>

namespace {

constexpr QRgb kBlack = 0xFF000000u;
constexpr QRgb kOutline = 0xFF808080u; // Coutline: column frames and the clock's octagon

bool IsGrey(QRgb c)
{
    return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
}

// Where a display with the default settings puts things, for a graph
// rectangle (device pixels, right and bottom exclusive) of 16 columns.
struct GraphGeometry
{
    QRect rcGraph;

    // Columns of (W / 16) pixels, centred: column k's pixels.
    QRect Column(int k) const
    {
        const int cw = rcGraph.width() / 16;
        const int x0 = rcGraph.left() + (rcGraph.width() - 16 * cw) / 2;
        return QRect(x0 + k * cw, rcGraph.top(), cw, rcGraph.height());
    }
};

// What a picture shows inside the graph.
struct GraphReading
{
    int nColumnEdges = 0; // outline pixels on a row through the upper half of the graph
    int nClockInk = 0;    // coloured pixels (not grey or black) where the big clock's time is
    int nMessageInk = 0;  // pulsing message pixels (red = green, no blue) under the time
    int nLit1k = 0;       // coloured pixels in the column of 1 kHz (band 8 of 16)
};

GraphReading Read(const QImage &img, const GraphGeometry &g)
{
    GraphReading r;
    const QRect &rc = g.rcGraph;
    // The columns hang from the top with their labels at the bottom. The big
    // clock's time is a cell of b / 2 rows around the middle (b the graph's
    // smaller side), a sixth of that higher in the error states, and the
    // message line starts 6 rows under it: so the time lies above
    // middle + b / 4 + 4 and the message mostly below.
    const int yEdges = rc.top() + rc.height() / 3;
    const int b = std::min(rc.width(), rc.height());
    const int yMessage = (rc.top() + rc.bottom() + 1) / 2 + b / 4 + 4;
    for (int x = rc.left(); x <= rc.right(); ++x)
        r.nColumnEdges += img.pixel(x, yEdges) == kOutline;
    for (int y = rc.top(); y <= rc.bottom(); ++y) {
        for (int x = rc.left(); x <= rc.right(); ++x) {
            const QRgb c = img.pixel(x, y);
            if (IsGrey(c))
                continue;
            if (y < yMessage)
                ++r.nClockInk;
            else if (qBlue(c) == 0 && qRed(c) == qGreen(c) && qRed(c) >= 40)
                ++r.nMessageInk;
        }
    }
    const QRect col = g.Column(8).adjusted(2, 0, -2, -16); // inside the frame, above the label
    for (int y = col.top(); y <= col.bottom(); ++y) {
        for (int x = col.left(); x <= col.right(); ++x) {
            const QRgb c = img.pixel(x, y);
            r.nLit1k += !IsGrey(c) && c != qRgb(255, 255, 0); // neither unlit nor the peak
        }
    }
    return r;
}

void KeepSnapshot(const QImage &img, const QString &strName)
{
    if (!qEnvironmentVariableIsEmpty("VEXLOR_KEEP_SNAPSHOTS"))
        img.save(QDir(qEnvironmentVariable("VEXLOR_KEEP_SNAPSHOTS")).filePath(strName));
}

// Writes a stereo 16-bit WAV file of a sine (amplitude 0: silence).
void WriteTone(const QString &strPath, int nSeconds, int nRate, double dAmplitude)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral(VEXLOR_TONE),
                                {strPath, QString::number(nSeconds), QString::number(nRate),
                                 QStringLiteral("1000"), QString::number(dAmplitude)}),
              0);
}

// Stops a process this test started, by its own handle, and waits for it.
void Stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

QImage GrabRoot(Display *pDisplay)
{
    const Window root = DefaultRootWindow(pDisplay);
    XImage *pImage = XGetImage(pDisplay, root, 0, 0, 1024, 768, AllPlanes, ZPixmap);
    if (!pImage)
        return {};
    QImage shot(1024, 768, QImage::Format_RGB32);
    for (int y = 0; y < 768; ++y)
        for (int x = 0; x < 1024; ++x)
            shot.setPixel(x, y, QRgb(XGetPixel(pImage, x, y)) | kBlack);
    XDestroyImage(pImage);
    return shot;
}

// Takes screenshots every 250 ms until done() says yes or nMs have passed;
// returns the readings in order and the last picture.
std::vector<GraphReading> Watch(Display *pDisplay, const GraphGeometry &g, int nMs,
                                const std::function<bool(const GraphReading &)> &done,
                                QImage *pLast)
{
    std::vector<GraphReading> readings;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < nMs) {
        QTest::qWait(250);
        *pLast = GrabRoot(pDisplay);
        if (pLast->isNull())
            continue;
        readings.push_back(Read(*pLast, g));
        if (done && done(readings.back()))
            break;
    }
    return readings;
}

} // namespace

TEST(DeviceErrorE2E, BigClockWithTheMessageUntilTheSoundServerComesThenTheSpectrum)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X server (run_with_xvfb.sh starts one)";
    for (const char *pszTool : {"pulseaudio", "paplay"})
        ASSERT_FALSE(QStandardPaths::findExecutable(QString::fromLatin1(pszTool)).isEmpty())
            << pszTool << " is missing (packages pulseaudio, pulseaudio-utils)";
    Display *pDisplay = XOpenDisplay(nullptr);
    ASSERT_NE(pDisplay, nullptr);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString strSocket = dir.filePath(QStringLiteral("pulse.sock"));
    const QString strRuntime = dir.filePath(QStringLiteral("run"));
    const QString strHome = dir.filePath(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(strRuntime) && QDir().mkpath(strHome));
    QFile::setPermissions(strRuntime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString strTone = dir.filePath(QStringLiteral("tone.wav"));
    WriteTone(strTone, 30, 44100, 0.5);

    // The program and the player are told the server's address; nothing
    // answers there yet. Only that server may ever answer.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *pszName :
         {"PULSE_SINK", "PULSE_SOURCE", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH", "PULSE_COOKIE",
          "DBUS_SESSION_BUS_ADDRESS", "XSCREENSAVER_WINDOW"})
        env.remove(QString::fromLatin1(pszName));
    env.insert(QStringLiteral("HOME"), strHome);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), strRuntime);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    QProcessEnvironment clientEnv = env;
    clientEnv.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + strSocket);
    clientEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));

    QProcess saver;
    saver.setProcessEnvironment(clientEnv);
    saver.start(QStringLiteral(VEXLOR_BINARY), {QStringLiteral("/s")});
    ASSERT_TRUE(saver.waitForStarted());

    // 545 x 151 centred on 1024 x 768 is (239, 308)-(784, 459); rings of
    // 151 / 48 = 3 pixels inset the graph by 9 on each side.
    const GraphGeometry g{QRect(QPoint(248, 317), QPoint(774, 449))};
    QImage shot;
    // The time appears once the window is up (the input fails at once)...
    const std::vector<GraphReading> start = Watch(
        pDisplay, g, 10000, [](const GraphReading &r) { return r.nClockInk > 500; }, &shot);
    ASSERT_TRUE(!start.empty() && start.back().nClockInk > 500)
        << "no big clock; the program said: " << saver.readAllStandardError().constData();
    // ... then three seconds of the error screen: the message pulses from the
    // background to yellow and back in about 2.7 s, and the time fades only
    // around a full minute, so both show on some of the pictures.
    const std::vector<GraphReading> errorScreen = Watch(pDisplay, g, 3000, {}, &shot);
    KeepSnapshot(shot, QStringLiteral("device-error.png"));
    ASSERT_EQ(saver.state(), QProcess::Running) << saver.readAllStandardError().constData();
    ASSERT_GE(errorScreen.size(), 6u);
    int nClockShots = 0, nMessageShots = 0;
    for (const GraphReading &r : errorScreen) {
        EXPECT_LE(r.nColumnEdges, 4); // at most the octagon's two sides: no columns
        nClockShots += r.nClockInk > 500;
        nMessageShots += r.nMessageInk > 100;
    }
    EXPECT_GT(nClockShots, 0);
    EXPECT_GT(nMessageShots, 0);

    // The server appears at the address, its sink and default source made
    // before the socket that clients connect to.
    QFile script(dir.filePath(QStringLiteral("server.pa")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("load-module module-null-sink sink_name=vexlor_null rate=44100 channels=2\n"
                 "set-default-sink vexlor_null\n"
                 "set-default-source vexlor_null.monitor\n"
                 "load-module module-native-protocol-unix auth-anonymous=1 socket=");
    script.write(QFile::encodeName(strSocket) + "\n");
    script.close();
    QProcessEnvironment serverEnv = env;
    serverEnv.remove(QStringLiteral("DISPLAY"));
    QProcess server;
    server.setProcessEnvironment(serverEnv);
    server.setProcessChannelMode(QProcess::MergedChannels);
    // In the foreground (a daemon would outlive its parent), as run_with_pulse.sh does.
    server.start(QStringLiteral("pulseaudio"),
                 {"--daemonize=no", "--system=no", "--use-pid-file=no", "-n", "--exit-idle-time=-1",
                  "--disallow-exit", "--realtime=no", "--high-priority=no", "--log-target=stderr",
                  "-F", script.fileName()});
    ASSERT_TRUE(server.waitForStarted());
    QElapsedTimer timer;
    timer.start();
    while (!QFileInfo::exists(strSocket) && timer.elapsed() < 10000 &&
           server.state() == QProcess::Running)
        QTest::qWait(100);
    ASSERT_TRUE(QFileInfo::exists(strSocket)) << server.readAll().constData();

    QProcess player;
    player.setProcessEnvironment(clientEnv);
    player.start(QStringLiteral("paplay"), {"-d", "vexlor_null", strTone});
    ASSERT_TRUE(player.waitForStarted());

    // The watchdog retries every second; the tone is in the monitor within a
    // second or two of the player's start.
    const std::vector<GraphReading> back = Watch(
        pDisplay, g, 15000,
        [](const GraphReading &r) { return r.nColumnEdges >= 16 && r.nLit1k > 300; }, &shot);
    KeepSnapshot(shot, QStringLiteral("device-back.png"));
    ASSERT_FALSE(back.empty());
    const GraphReading &last = back.back();
    EXPECT_GE(last.nColumnEdges, 16) << "the columns did not come back";
    EXPECT_GT(last.nLit1k, 300) << "the tone lights no chips";
    EXPECT_EQ(saver.state(), QProcess::Running);

    Stop(player);
    Stop(saver);
    EXPECT_EQ(saver.exitCode(), 0);
    Stop(server);
    XCloseDisplay(pDisplay);
}

TEST(IdleClockE2E, SilenceTurnsTheDisplayIntoTheBigClockAfterFifteenSeconds)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString strSilence = dir.filePath(QStringLiteral("silence.wav"));
    WriteTone(strSilence, 2, 22050, 0.0);
    // One clock colour: the gradient fades the time out around each full
    // minute, which a single snapshot might catch.
    const QString strConfig = dir.filePath(QStringLiteral("config"));
    ASSERT_TRUE(QDir().mkpath(strConfig + QStringLiteral("/tanuwel")));
    QFile conf(strConfig + QStringLiteral("/tanuwel/vexlor.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[Config]\nVersion=1\nCGrad=0\n");
    conf.close();

    // Both snapshots come from runs side by side, so the test takes 19 s.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), strConfig);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString astrAfter[2] = {QStringLiteral("10"), QStringLiteral("18.5")};
    QProcess runs[2];
    for (int i = 0; i < 2; ++i) {
        runs[i].setProcessEnvironment(env);
        runs[i].start(QStringLiteral(VEXLOR_BINARY),
                      {"--window", "800x300", "--input", strSilence, "--snapshot",
                       dir.filePath(QStringLiteral("after%1.png").arg(i)), "--after",
                       astrAfter[i]});
    }
    for (QProcess &run : runs) {
        EXPECT_TRUE(run.waitForFinished(40000));
        EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().constData();
    }

    // 800 x 300: rings of 300 / 48 = 6, so 3, pixels; the graph is inset 9.
    const GraphGeometry g{QRect(QPoint(9, 9), QPoint(790, 290))};
    const QImage before(dir.filePath(QStringLiteral("after0.png")));
    const QImage after(dir.filePath(QStringLiteral("after1.png")));
    ASSERT_EQ(before.size(), QSize(800, 300));
    ASSERT_EQ(after.size(), QSize(800, 300));
    KeepSnapshot(before, QStringLiteral("idle-10s.png"));
    KeepSnapshot(after, QStringLiteral("idle-18s.png"));

    // At 10 s: the 16 silent columns (17 frame edges), no clock.
    const GraphReading r10 = Read(before, g);
    EXPECT_GE(r10.nColumnEdges, 16);
    EXPECT_EQ(r10.nClockInk, 0);
    EXPECT_EQ(r10.nLit1k, 0);
    // At 18.5 s: the time in large digits and no columns; no message line,
    // as idleness is no error.
    const GraphReading r18 = Read(after, g);
    EXPECT_LE(r18.nColumnEdges, 4);
    EXPECT_GT(r18.nClockInk, 2000);
    EXPECT_EQ(r18.nMessageInk, 0);
}
