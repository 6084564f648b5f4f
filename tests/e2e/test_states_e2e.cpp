// The display's states through the real capture path: the big clock with
// "Device error" until a sound server answers, then the tone's column, the
// error again when the server dies; the big clock after 15 silent seconds.
#include "E2eSupport.h"

#include <QFileInfo>

#include <algorithm>
#include <functional>

using namespace e2e;

namespace {
const auto IsGrey = [](QRgb c) { return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c); };

// What a picture shows inside a graph of 16 columns with the default settings.
struct GraphReading
{
    int nColumnEdges = 0; // outline pixels on a row through the upper half of the graph
    int nClockInk = 0;    // coloured pixels (not grey or black) where the big clock's time is
    int nMessageInk = 0;  // pulsing message pixels (red = green, no blue) under the time
    int nLit1k = 0;       // coloured pixels in the column of 1 kHz (band 8 of 16)
};

GraphReading Read(const QImage &img, const QRect &rc)
{
    // The time is a cell of b / 2 rows around the middle (b the smaller side),
    // b / 12 higher in the error states, with the message 6 rows under it.
    const int yMessage =
        (rc.top() + rc.bottom() + 1) / 2 + std::min(rc.width(), rc.height()) / 4 + 4;
    // Columns of (W / 16) pixels, centred; column 8 inside its frame, above its label.
    const int cw = rc.width() / 16;
    const QRect rcColumn8(rc.left() + (rc.width() - 16 * cw) / 2 + 8 * cw + 2, rc.top(), cw - 4,
                          rc.height() - 16);
    return {
        CountPixels(img, QRect(rc.left(), rc.top() + rc.height() / 3, rc.width(), 1), Is(kOutline)),
        CountPixels(img, QRect(rc.topLeft(), QPoint(rc.right(), yMessage - 1)),
                    [](QRgb c) { return !IsGrey(c); }),
        CountPixels(img, QRect(QPoint(rc.left(), yMessage), rc.bottomRight()),
                    [](QRgb c) { return qBlue(c) == 0 && qRed(c) == qGreen(c) && qRed(c) >= 40; }),
        CountPixels(img, rcColumn8, [](QRgb c) { return !IsGrey(c) && c != kYellow; })};
}

// Readings of screenshots every 250 ms until done() says yes or nMs have passed.
std::vector<GraphReading> Watch(const QRect &rcGraph, int nMs,
                                const std::function<bool(const GraphReading &)> &done)
{
    std::vector<GraphReading> readings;
    PollUntil(nMs, 250, [&] {
        const QImage shot = Grab(XServer(), DefaultRootWindow(XServer()), 1024, 768);
        if (shot.isNull())
            return false;
        readings.push_back(Read(shot, rcGraph));
        return done && done(readings.back());
    });
    return readings;
}
} // namespace

TEST(DeviceErrorE2E, BigClockWithTheMessageUntilTheSoundServerComesThenTheSpectrum)
{
    E2E_REQUIRE_X();
    ASSERT_TRUE(HasTool("pulseaudio")) << "pulseaudio is missing (package pulseaudio)";
    ASSERT_NE(XServer(), nullptr);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString strSocket = dir.filePath("pulse.sock"), strRuntime = dir.filePath("run");
    ASSERT_TRUE(QDir().mkpath(strRuntime));
    QFile::setPermissions(strRuntime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // Only the server at the program's address, where nothing answers yet, may answer
    // (run_with_servers.sh clears the other ways to find one).
    QProcessEnvironment env = Env(dir.path(), "xcb");
    env.insert("XDG_RUNTIME_DIR", strRuntime);
    QProcessEnvironment serverEnv = env;
    serverEnv.remove("DISPLAY");
    env.insert("PULSE_SERVER", "unix:" + strSocket);
    Program saver(env, {"/s"});

    // 545 x 151 centred on 1024 x 768 is (239, 308)-(784, 459); rings of
    // 151 / 48 = 3 pixels inset the graph by 9 on each side.
    const QRect rcGraph(QPoint(248, 317), QPoint(774, 449));
    // 5 s of the error screen (the input fails at once): the message pulses in about 2.7 s
    // and the time fades only around a full minute, so both show on some pictures.
    const std::vector<GraphReading> errorScreen = Watch(rcGraph, 5000, {});
    ASSERT_EQ(saver.process.state(), QProcess::Running)
        << saver.process.readAllStandardError().constData();
    int nClockShots = 0, nMessageShots = 0;
    for (const GraphReading &r : errorScreen) {
        EXPECT_LE(r.nColumnEdges, 4); // at most the octagon's two sides: no columns
        nClockShots += r.nClockInk > 500;
        nMessageShots += r.nMessageInk > 100;
    }
    EXPECT_GT(nClockShots, 0);
    EXPECT_GT(nMessageShots, 0);

    // Sink, source and tone exist before the socket; a daemon would outlive the test.
    QFile script(dir.filePath("server.pa"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("load-module module-null-sink sink_name=vexlor_null rate=44100 channels=2\n"
                 "set-default-sink vexlor_null\nset-default-source vexlor_null.monitor\n"
                 "load-module module-sine sink=vexlor_null frequency=1000\n"
                 "load-module module-native-protocol-unix auth-anonymous=1 socket=" +
                 QFile::encodeName(strSocket) + "\n");
    script.close();
    Program server(serverEnv,
                   {"--daemonize=no", "--system=no", "--use-pid-file=no", "-n",
                    "--exit-idle-time=-1", "--disallow-exit", "--realtime=no", "--high-priority=no",
                    "--log-target=stderr", "-F", script.fileName()},
                   "pulseaudio");
    PollUntil(10000, 100, [&] {
        return QFileInfo::exists(strSocket) || server.process.state() != QProcess::Running;
    });
    ASSERT_TRUE(QFileInfo::exists(strSocket)) << server.process.readAllStandardError().constData();

    // The watchdog retries every second; the tone reaches the monitor in a second or two.
    const auto spectrum = [](const GraphReading &r) {
        return r.nColumnEdges >= 16 && r.nLit1k > 300;
    };
    const std::vector<GraphReading> back = Watch(rcGraph, 15000, spectrum);
    ASSERT_TRUE(!back.empty() && spectrum(back.back())) << "no columns, or the tone lights none";

    // A server that dies mid-run is a device error again.
    server.process.kill();
    const std::vector<GraphReading> lost = Watch(rcGraph, 10000, [](const GraphReading &r) {
        return r.nColumnEdges <= 4 && r.nMessageInk > 100;
    });
    ASSERT_FALSE(lost.empty());
    EXPECT_GT(lost.back().nMessageInk, 100) << "no device error after the server died";
    saver.Stop();
    EXPECT_EQ(saver.process.exitCode(), 0);
}

TEST(IdleClockE2E, SilenceTurnsTheDisplayIntoTheBigClockAfterFifteenSeconds)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString strSilence = dir.filePath("silence.wav");
    MakeTone(strSilence, 2, 22050, 1000, 0.0);
    // One clock colour: the gradient fades the time out around each full minute.
    QFile conf(dir.filePath(".config/tanuwel/vexlor.conf"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(conf).path()));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[Config]\nVersion=1\nCGrad=0\n");
    conf.close();

    // Both snapshots come from runs side by side, so the test takes 19 s.
    const QProcessEnvironment env = Env(dir.path(), "offscreen");
    const QString strPng10 = dir.filePath("after10.png"), strPng18 = dir.filePath("after18.png");
    Program r10(env, SnapshotArgs(strSilence, strPng10, "10"));
    Program r18(env, SnapshotArgs(strSilence, strPng18, "18.5"));
    for (Program *pRun : {&r10, &r18}) {
        EXPECT_TRUE(pRun->process.waitForFinished(40000));
        EXPECT_EQ(pRun->process.exitCode(), 0) << pRun->process.readAllStandardError().constData();
    }

    const QImage before(strPng10), after(strPng18);
    ASSERT_EQ(before.size(), QSize(800, 300));
    ASSERT_EQ(after.size(), QSize(800, 300));

    // 800 x 300: rings of 300 / 48 = 6, so 3, pixels; the graph is inset 9.
    const QRect rcGraph(QPoint(9, 9), QPoint(790, 290));
    // At 10 s: the 16 silent columns (17 frame edges), no clock.
    const GraphReading r10s = Read(before, rcGraph);
    EXPECT_GE(r10s.nColumnEdges, 16);
    EXPECT_EQ(r10s.nClockInk, 0);
    EXPECT_EQ(r10s.nLit1k, 0);
    // At 18.5 s: the time in large digits, no columns, no message (idleness is no error).
    const GraphReading r18s = Read(after, rcGraph);
    EXPECT_LE(r18s.nColumnEdges, 4);
    EXPECT_GT(r18s.nClockInk, 2000);
    EXPECT_EQ(r18s.nMessageInk, 0);
}
