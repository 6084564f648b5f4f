// What the end-to-end tests share: runs of the vexlor binary with a home of
// their own, test tones, screenshots, pixel counts, polling.
#pragma once

#include <gtest/gtest.h>

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cmath>
#include <numbers>

namespace e2e {

constexpr QRgb kBlack = 0xFF000000u;
constexpr QRgb kOutline = 0xFF808080u;   // column frames, the clock's octagon
constexpr QRgb kYellow = 0xFFFFFF00u;    // the peak chip
constexpr QRgb kOuterRing = 0xFFA3A3A3u; // the frame's outer ring

#define E2E_REQUIRE_X()                                                                            \
    if (qEnvironmentVariableIsEmpty("DISPLAY"))                                                    \
    GTEST_SKIP() << "needs an X server (run_with_servers.sh starts one)"

inline bool HasTool(const char *pszTool)
{
    return !QStandardPaths::findExecutable(QString::fromLatin1(pszTool)).isEmpty();
}

// Calls done() every nStepMs until it says yes or nMs have passed; its last answer.
template <typename Done> bool PollUntil(int nMs, int nStepMs, Done done)
{
    QElapsedTimer timer;
    timer.start();
    bool bDone = done();
    while (!bDone && timer.elapsed() < nMs) {
        QTest::qWait(nStepMs);
        bDone = done();
    }
    return bDone;
}

// Settings only from this home's .config/tanuwel/vexlor.conf: defaults unless written there.
inline QProcessEnvironment Env(const QString &strHome, const QString &strPlatform)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", strHome);
    env.insert("XDG_CONFIG_HOME", strHome + "/.config");
    env.insert("QT_QPA_PLATFORM", strPlatform);
    env.remove("XSCREENSAVER_WINDOW");
    return env;
}

// A run of the program (or another tool), stopped by its own handle if it outlives the test.
struct Program
{
    QProcess process;
    Program(const QProcessEnvironment &env, const QStringList &args,
            const QString &strProgram = VEXLOR_BINARY)
    {
        process.setProcessEnvironment(env);
        process.start(strProgram, args);
        EXPECT_TRUE(process.waitForStarted()) << strProgram.toStdString();
    }
    ~Program() { Stop(); }
    void Stop()
    {
        process.terminate();
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished();
        }
    }
    bool EndsCleanlyWithin(int nMs)
    {
        const bool bEnded = process.state() == QProcess::NotRunning || process.waitForFinished(nMs);
        return bEnded && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
};

// Runs the program to its end (30 s at most): its exit code, or -1.
inline int RunToEnd(const QProcessEnvironment &env, const QStringList &args)
{
    Program run(env, args);
    const bool bEnded = run.process.waitForFinished(30000);
    return bEnded && run.process.exitStatus() == QProcess::NormalExit ? run.process.exitCode() : -1;
}

// An 800 x 300 headless window playing the WAV file, pictured after the given seconds.
inline QStringList SnapshotArgs(const QString &strWav, const QString &strPng,
                                const QString &strAfter)
{
    return {"--window", "800x300", "--input", strWav, "--snapshot", strPng, "--after", strAfter};
}

// A 16-bit stereo PCM WAV file of one sine in both channels (amplitude 0: silence).
inline void MakeTone(const QString &strPath, double dSeconds, int nRate, double dHz,
                     double dAmplitude)
{
    QFile file(strPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << strPath.toStdString();
    const auto bytes = quint32(dSeconds * nRate) * 4;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + bytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(2) << quint32(nRate) << quint32(nRate * 4)
        << quint16(4) << quint16(16);
    out.writeRawData("data", 4);
    out << bytes;
    for (quint32 i = 0; i < bytes / 4; ++i) {
        const auto s = qint16(
            std::lround(dAmplitude * 32767 * std::sin(2 * std::numbers::pi * dHz * i / nRate)));
        out << s << s;
    }
    ASSERT_EQ(out.status(), QDataStream::Ok);
}

// xdotool's output; a failure fails the test.
inline QString XDoTool(const QStringList &args)
{
    QProcess p;
    p.start("xdotool", args);
    if (!p.waitForFinished(15000) || p.exitCode() != 0) {
        ADD_FAILURE() << "xdotool " << args.join(' ').toStdString() << " failed";
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The window with this title, once it is shown (xdotool waits up to 15 s).
inline QString FindWindow(const QString &strTitle)
{
    return XDoTool({"search", "--sync", "--onlyvisible", "--name", "^" + strTitle + "$"})
        .section('\n', 0, 0);
}

// One connection for the whole program: an X server refuses clients while it resets.
inline Display *XServer()
{
    static Display *const s_pDisplay = XOpenDisplay(nullptr);
    return s_pDisplay;
}

// The top-left w x h pixels of an X window; null if it is gone.
inline QImage Grab(Display *pDisplay, Window window, int w, int h)
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

// A plain white window, as a host would make.
inline Window MakeHost(Display *pDisplay, const QRect &rc)
{
    const int nScreen = DefaultScreen(pDisplay);
    const Window host = XCreateSimpleWindow(pDisplay, RootWindow(pDisplay, nScreen), rc.x(), rc.y(),
                                            unsigned(rc.width()), unsigned(rc.height()), 0, 0,
                                            WhitePixel(pDisplay, nScreen));
    XMapWindow(pDisplay, host);
    XSync(pDisplay, False);
    return host;
}

inline void ExpectColour(const QImage &img, QRgb c, std::initializer_list<QPoint> points)
{
    for (const QPoint &pt : points)
        EXPECT_EQ(img.pixel(pt), c) << "at " << pt.x() << ", " << pt.y();
}

// How many pixels inside rc are(c) says yes to.
template <typename Pred> int CountPixels(const QImage &img, const QRect &rc, Pred are)
{
    int n = 0;
    for (int y = rc.top(); y <= rc.bottom(); ++y)
        for (int x = rc.left(); x <= rc.right(); ++x)
            n += are(img.pixel(x, y));
    return n;
}

inline auto Is(QRgb colour)
{
    return [colour](QRgb c) { return c == colour; };
}

// Pixels inside rc in no colour of an unlit graph (background, outline, peak); -1 if empty.
inline int LitPixels(const QImage &img, const QRect &rc)
{
    return rc.isEmpty() ? -1 : CountPixels(img, rc, [](QRgb c) {
        return c != kBlack && c != kOutline && c != kYellow;
    });
}

} // namespace e2e
