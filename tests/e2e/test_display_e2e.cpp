// The program end to end, through its own command line: tones played from
// WAV files light the columns that hold their frequencies in a headless
// snapshot, and the preview draws inside a host window made here (under the
// X server that run_with_xvfb.sh starts) and ends when that window goes.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// A stereo 16-bit WAV file of one sine.
void WriteTone(const QString &strPath, double hz, int rate, double seconds, double amplitude)
{
    const int n = int(rate * seconds);
    QByteArray wav(44 + n * 4, '\0');
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            wav[at + i] = char((v >> (8 * i)) & 0xFF);
    };
    auto put16 = [&](int at, uint16_t v) {
        wav[at] = char(v & 0xFF);
        wav[at + 1] = char(v >> 8);
    };
    wav.replace(0, 4, "RIFF");
    put32(4, uint32_t(wav.size() - 8));
    wav.replace(8, 8, "WAVEfmt ");
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, uint32_t(rate));
    put32(28, uint32_t(rate * 4));
    put16(32, 4);
    put16(34, 16);
    wav.replace(36, 4, "data");
    put32(40, uint32_t(n * 4));
    for (int i = 0; i < n; ++i) {
        const auto v = int16_t(std::lround(amplitude * 32767 * std::sin(2 * kPi * hz * i / rate)));
        put16(44 + 4 * i, uint16_t(v));
        put16(46 + 4 * i, uint16_t(v));
    }
    QFile f(strPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(wav);
}

// Runs the program with a settings folder of its own (so every setting has
// its default) and returns its exit code.
int RunVexlor(const QStringList &args, const QString &strConfigHome, int nTimeoutMs = 30000,
              QByteArray *pStderr = nullptr)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), strConfigHome);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VEXLOR_BINARY), args);
    if (!p.waitForFinished(nTimeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (pStderr)
        *pStderr = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The defaults: 22050 Hz, N = 512, 16 bands from bin 2 up to half the rate
// on a logarithmic axis; band k covers bins first .. first + count - 1.
struct BandBins
{
    int first;
    int count;
};
BandBins BinsOfBand(int k)
{
    const double f = 22050.0 / 512;
    const double e0 = std::log10(2 * f);
    const double m = (std::log10(11025.0) - e0) / 16;
    const int first = std::max(1, int(std::pow(10.0, e0 + k * m) / f));
    const int count = std::max(1, int(std::pow(10.0, e0 + (k + 1) * m) / f) - first);
    return {first, count};
}

constexpr double kHzPerBin = 22050.0 / 512;

// The last band whose bins hold the tone's bin.
int BandOf(double hz)
{
    const double bin = hz / kHzPerBin;
    int band = -1;
    for (int k = 0; k < 16; ++k) {
        const BandBins b = BinsOfBand(k);
        if (bin >= b.first - 0.5 && bin < b.first + b.count - 0.5)
            band = k;
    }
    return band;
}

// How far, in bins, the band's nearest bin lies from the tone.
double BinDistance(int k, double hz)
{
    const double bin = hz / kHzPerBin;
    const BandBins b = BinsOfBand(k);
    if (bin < b.first)
        return b.first - bin;
    if (bin > b.first + b.count - 1)
        return bin - (b.first + b.count - 1);
    return 0.0;
}

// Lit chip pixels of each of the 16 columns of an 800 x 300 window with the
// default settings: frame rings 3 pixels wide (300 / 48 = 6, so 3), the graph
// inset by 9, columns of (782 / 16) pixels centred in it. Counts pixels that
// are neither background, nor outline grey, nor the yellow peak chip.
std::vector<int> LitPixelsPerColumn(const QImage &img)
{
    const int left = 9, right = 800 - 9, top = 9, bottom = 300 - 9 - 14; // above the labels
    const int W = right - left;
    const int cw = W / 16;
    const int x0 = left + (W - cw * 16) / 2;
    std::vector<int> lit(16, 0);
    for (int k = 0; k < 16; ++k) {
        for (int x = x0 + k * cw + 2; x < x0 + (k + 1) * cw - 2; ++x) {
            for (int y = top; y < bottom; ++y) {
                const QRgb c = img.pixel(x, y);
                if (c != qRgb(0, 0, 0) && c != qRgb(128, 128, 128) && c != qRgb(255, 255, 0))
                    ++lit[k];
            }
        }
    }
    return lit;
}

} // namespace

TEST(SnapshotE2E, TonesLightTheColumnsThatHoldThem)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const double hz : {100.0, 1000.0, 5000.0}) {
        const QString strWav = dir.filePath(QStringLiteral("tone%1.wav").arg(hz));
        const QString strPng = dir.filePath(QStringLiteral("tone%1.png").arg(hz));
        WriteTone(strWav, hz, 44100, 4.0, 0.25);
        ASSERT_EQ(RunVexlor({QStringLiteral("--window"), QStringLiteral("800x300"),
                             QStringLiteral("--input"), strWav, QStringLiteral("--snapshot"),
                             strPng, QStringLiteral("--after"), QStringLiteral("2")},
                            dir.filePath(QStringLiteral("config"))),
                  0)
            << hz;
        const QImage img(strPng);
        ASSERT_EQ(img.size(), QSize(800, 300));
        if (!qEnvironmentVariableIsEmpty("VEXLOR_KEEP_SNAPSHOTS"))
            img.save(QDir(qEnvironmentVariable("VEXLOR_KEEP_SNAPSHOTS"))
                         .filePath(QStringLiteral("tone%1.png").arg(hz)));

        const int band = BandOf(hz);
        ASSERT_GE(band, 0);
        const std::vector<int> lit = LitPixelsPerColumn(img);
        // The band holding the tone is lit well up its column...
        EXPECT_GT(lit[band], 20 * 40) << hz << " Hz, band " << band;
        // ... and no band far from it shows a lit chip: beyond the Hann
        // window's main lobe (two bins each way) and a bin of margin.
        for (int k = 0; k < 16; ++k) {
            if (BinDistance(k, hz) > 3.0) {
                EXPECT_EQ(lit[k], 0) << hz << " Hz lights band " << k;
            }
        }
    }
}

TEST(SnapshotE2E, BadUseSaysSoOnOneLine)
{
    QTemporaryDir dir;
    QByteArray err;
    EXPECT_EQ(RunVexlor({QStringLiteral("--input"), dir.filePath(QStringLiteral("none.wav"))},
                        dir.path(), 30000, &err),
              2);
    EXPECT_TRUE(err.contains("no such file")) << err.constData();
    EXPECT_EQ(RunVexlor({QStringLiteral("--window"), QStringLiteral("12by4")}, dir.path(), 30000,
                        &err),
              2);
    EXPECT_EQ(RunVexlor({QStringLiteral("--snapshot")}, dir.path(), 30000, &err), 2);
    EXPECT_TRUE(err.contains("missing value")) << err.constData();
    // The host's switches stay silent.
    EXPECT_EQ(RunVexlor({QStringLiteral("/x")}, dir.path(), 30000, &err), 0);
    EXPECT_TRUE(err.trimmed().isEmpty() || !err.contains("vexlor")) << err.constData();
}

TEST(PreviewE2E, DrawsInsideTheHostWindowAndEndsWithIt)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X server (run_with_xvfb.sh starts one)";
    Display *pDisplay = XOpenDisplay(nullptr);
    ASSERT_NE(pDisplay, nullptr);
    const int nScreen = DefaultScreen(pDisplay);
    const Window host = XCreateSimpleWindow(pDisplay, RootWindow(pDisplay, nScreen), 10, 10, 200,
                                            150, 0, 0, WhitePixel(pDisplay, nScreen));
    XMapWindow(pDisplay, host);
    XSync(pDisplay, False);

    QTemporaryDir dir;
    const QString strWav = dir.filePath(QStringLiteral("tone.wav"));
    WriteTone(strWav, 1000.0, 44100, 4.0, 0.25);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VEXLOR_BINARY),
            {QStringLiteral("/p"), QString::number(qulonglong(host)), QStringLiteral("--input"),
             strWav});
    ASSERT_TRUE(p.waitForStarted());
    QTest::qWait(2500);
    ASSERT_EQ(p.state(), QProcess::Running) << p.readAllStandardError().constData();

    XImage *pImage = XGetImage(pDisplay, host, 0, 0, 200, 150, AllPlanes, ZPixmap);
    ASSERT_NE(pImage, nullptr);
    QImage shot(200, 150, QImage::Format_RGB32);
    for (int y = 0; y < 150; ++y) {
        for (int x = 0; x < 200; ++x)
            shot.setPixel(x, y, QRgb(XGetPixel(pImage, x, y)) | 0xFF000000u);
    }
    XDestroyImage(pImage);
    if (!qEnvironmentVariableIsEmpty("VEXLOR_KEEP_SNAPSHOTS"))
        shot.save(QDir(qEnvironmentVariable("VEXLOR_KEEP_SNAPSHOTS"))
                      .filePath(QStringLiteral("preview.png")));

    // The whole client area is the display's: background outside the area,
    // which is inset 3 and 15 pixels; the frame's outer ring starts there.
    EXPECT_EQ(shot.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(shot.pixel(3, 15), qRgb(163, 163, 163));
    EXPECT_EQ(shot.pixel(196, 134), qRgb(163, 163, 163));
    EXPECT_EQ(shot.pixel(2, 15), qRgb(0, 0, 0));
    // Area 194 x 120: rings of 120 / 48 = 2 pixels.
    EXPECT_EQ(shot.pixel(5, 75), qRgb(128, 128, 128));
    EXPECT_EQ(shot.pixel(7, 75), qRgb(92, 92, 92));
    // The tone lights chips: pixels of the level colours inside the graph.
    int nLit = 0;
    for (int y = 21; y < 129; ++y) {
        for (int x = 9; x < 191; ++x) {
            const QRgb c = shot.pixel(x, y);
            nLit += c != qRgb(0, 0, 0) && c != qRgb(128, 128, 128) && c != qRgb(255, 255, 0);
        }
    }
    EXPECT_GT(nLit, 50);

    // The host goes away: the preview ends by itself.
    XDestroyWindow(pDisplay, host);
    XSync(pDisplay, False);
    EXPECT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0);
    XCloseDisplay(pDisplay);
}
