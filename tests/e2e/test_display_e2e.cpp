// Tones light their columns in a headless snapshot; the preview draws inside a
// host window and ends with it.
#include "E2eSupport.h"

#include <algorithm>
#include <cmath>

using namespace e2e;

namespace {
// The defaults: 22050 Hz, N = 512, 16 bands from bin 2 up to half the rate
// on a logarithmic axis; band k covers bins first .. second.
constexpr double kHzPerBin = 22050.0 / 512;

std::pair<int, int> BinsOfBand(int k)
{
    const double e0 = std::log10(2 * kHzPerBin);
    const double m = (std::log10(11025.0) - e0) / 16;
    const int first = std::max(1, int(std::pow(10.0, e0 + k * m) / kHzPerBin));
    const int count = std::max(1, int(std::pow(10.0, e0 + (k + 1) * m) / kHzPerBin) - first);
    return {first, first + count - 1};
}
} // namespace

TEST(SnapshotE2E, TonesLightTheColumnsThatHoldThem)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const double hz : {100.0, 1000.0, 5000.0}) {
        const QString strWav = dir.filePath(QString("tone%1.wav").arg(hz));
        const QString strPng = dir.filePath(QString("tone%1.png").arg(hz));
        MakeTone(strWav, 4, 44100, hz, 0.25);
        ASSERT_EQ(RunToEnd(Env(dir.path(), "offscreen"), SnapshotArgs(strWav, strPng, "2")), 0)
            << hz;
        const QImage img(strPng);
        ASSERT_EQ(img.size(), QSize(800, 300));

        const double bin = hz / kHzPerBin;
        int band = -1; // the last band whose bins hold the tone's
        for (int k = 0; k < 16; ++k)
            if (bin >= BinsOfBand(k).first - 0.5 && bin < BinsOfBand(k).second + 0.5)
                band = k;
        ASSERT_GE(band, 0);
        for (int k = 0; k < 16; ++k) {
            // 3-pixel frame rings inset the graph by 9; columns of 782 / 16
            // pixels centred in it; the labels take the bottom 14 rows.
            const int lit = LitPixels(img, QRect(18 + 48 * k, 9, 44, 268));
            const auto [first, last] = BinsOfBand(k);
            if (k == band) { // lit well up its column
                EXPECT_GT(lit, 20 * 40) << hz << " Hz, band " << band;
            }
            // Beyond the Hann window's main lobe (two bins each way) and a bin of margin: dark.
            else if (std::max({0.0, first - bin, bin - last}) > 3.0) {
                EXPECT_EQ(lit, 0) << hz << " Hz lights band " << k;
            }
        }
    }
}

TEST(PreviewE2E, DrawsInsideTheHostWindowAndEndsWithIt)
{
    E2E_REQUIRE_X();
    Display *pDisplay = XServer();
    const Window host = MakeHost(pDisplay, QRect(10, 10, 200, 150));
    QTemporaryDir dir;
    const QString strWav = dir.filePath("tone.wav");
    MakeTone(strWav, 4, 44100, 1000, 0.25);
    Program run(Env(dir.path(), "xcb"),
                {"/p", QString::number(qulonglong(host)), "--input", strWav});
    QTest::qWait(2500);
    ASSERT_EQ(run.process.state(), QProcess::Running)
        << run.process.readAllStandardError().constData();

    const QImage shot = Grab(pDisplay, host, 200, 150);
    ASSERT_FALSE(shot.isNull());
    // The whole client area is the display's; the frame starts 3 and 15 pixels in.
    ExpectColour(shot, kBlack, {QPoint(0, 0), QPoint(2, 15)});
    ExpectColour(shot, kOuterRing, {QPoint(3, 15), QPoint(196, 134)});
    EXPECT_GT(LitPixels(shot, QRect(QPoint(9, 21), QPoint(190, 128))), 50); // the tone's chips

    XDestroyWindow(pDisplay, host);
    XSync(pDisplay, False);
    EXPECT_TRUE(run.process.waitForFinished(5000)); // the preview ends with its host
    EXPECT_EQ(run.process.exitCode(), 0);
}
