// The real sound path, end to end: a PulseAudio server of the test's own
// (started by run_with_pulse.sh) has a null sink whose monitor is the default
// source, and a player loops a 1 kHz stereo sine into the sink. The capture
// pair records it through the libpulse driver and the transform must find the
// tone's bin.
//
// The script runs the suites in this order: WithServer, then ServerLoss
// (which kills the server, whose process id it finds in VEXLOR_E2E_PULSE_PID),
// then WithoutServer.

#include "analysis/CFFT.h"
#include "audio/CWave.h"
#include "audio/CWaveDevice.h"
#include "audio/input/PulseWaveInDriver.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
constexpr double kToneHz = 1000.0;
// The tone is played at half full scale, 5000 in the transform's units
// (full scale 10000); with the Hann window its bin reads about half that.
// Silence from the null sink is exact zeros.
constexpr float kSignalPresent = 300.0f;

// Pumps the event loop for up to nMs, until pDone says so.
template <typename Done> bool PumpUntil(int nMs, Done done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > nMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

// A capture pair as the spectrum window holds it; the device outlives the
// buffer, whose destructor closes the device's input.
struct Capture
{
    Capture() : device(std::make_unique<PulseWaveInDriver>()) {}

    int Start(uint32_t rate)
    {
        wave.SetFormat(rate, 16, 2);
        if (!wave.Allocate(rate * 10))
            return 0;
        if (!device.CreateDeviceWindow())
            return 0;
        wave.SetDevice(&device);
        return wave.Start(0);
    }
    // Frame index of the newest N frames.
    int NewestStart(int n)
    {
        const uint32_t pos = wave.GetPosition();
        if (pos >= uint32_t(n))
            return int(pos - uint32_t(n));
        return wave.m_bWrapped ? int(pos + wave.m_dwFrames - uint32_t(n)) : -1;
    }
    std::string LastError() const
    {
        return device.m_pDriver ? device.m_pDriver->LastError() : std::string("no driver");
    }

    CWaveDevice device;
    CWave wave;
};

struct Analysis
{
    int nBin = -1;
    float fMax = 0.0f;
};

Analysis AnalyseNewest(Capture &capture, CFFT &fft, int n)
{
    Analysis result;
    const int start = capture.NewestStart(n);
    if (start < 0)
        return result;
    fft.Analyze(&capture.wave, &start, FFT_REMOVEDC | FFT_WINDOW | FFT_SINGLE | FFT_FASTMAG);
    const float *pSpectrum = fft.LockSpectrum();
    if (!pSpectrum)
        return result;
    result.nBin = 0;
    for (int k = 1; k < n / 2; ++k) {
        if (pSpectrum[k] > pSpectrum[result.nBin])
            result.nBin = k;
    }
    result.fMax = fft.m_fMax;
    fft.UnlockSpectrum();
    return result;
}

pid_t ServerPid()
{
    const QByteArray value = qgetenv("VEXLOR_E2E_PULSE_PID");
    return value.isEmpty() ? 0 : pid_t(value.toLong());
}

// Captures at the rate for about two seconds of tone, analysing every 50 ms
// as the display does, and checks where the spectrum peaks.
void ExpectToneBin(uint32_t rate, int n)
{
    Capture capture;
    ASSERT_EQ(capture.Start(rate), 1) << capture.LastError();
    CFFT fft;
    ASSERT_EQ(fft.Setup(n, 1, 3), 1);

    // The player's first data can take a second or two to reach the monitor.
    Analysis first;
    const bool bHeard = PumpUntil(15000, [&] {
        first = AnalyseNewest(capture, fft, n);
        return first.fMax > kSignalPresent;
    });
    ASSERT_TRUE(bHeard) << "no tone reached the capture at " << rate << " Hz; position "
                        << capture.wave.GetPosition() << ", driver says '" << capture.LastError()
                        << "'";

    const double expected = kToneHz * n / rate;
    const uint32_t pos0 = capture.wave.GetPosition();
    QElapsedTimer clock;
    clock.start();
    std::vector<int> bins;
    int nOnBin = 0;
    while (clock.elapsed() < 2000) {
        QTest::qWait(50);
        const Analysis a = AnalyseNewest(capture, fft, n);
        // Gaps in the player's loop show as silence; only frames with the tone count.
        if (a.fMax <= kSignalPresent)
            continue;
        bins.push_back(a.nBin);
        if (std::abs(a.nBin - expected) <= 1.0)
            ++nOnBin;
    }
    const uint32_t pos1 = capture.wave.GetPosition();
    const double seconds = clock.nsecsElapsed() / 1e9;

    std::string seen;
    for (int b : bins)
        seen += std::to_string(b) + " ";
    std::printf("capture %u Hz, N=%d: tone bin expected %.2f, bins found: %s\n", rate, n, expected,
                seen.c_str());
    ASSERT_GE(bins.size(), 20u);
    EXPECT_GE(nOnBin * 10, int(bins.size()) * 9) << "bins found: " << seen;

    // The server delivers at the rate asked for (the ring has not wrapped yet).
    ASSERT_GT(pos1, pos0);
    const double frameRate = (pos1 - pos0) / seconds;
    EXPECT_NEAR(frameRate, rate, rate * 0.2);
    EXPECT_EQ(capture.device.m_bStreamFailed, 0);

    EXPECT_EQ(capture.wave.Stop(), 1);
    EXPECT_FALSE(capture.device.IsInputOpen());
}

class CountingClient : public IWaveInClient
{
public:
    void OnWaveInData(WaveHeader *pHdr) override { m_returned.push_back(pHdr); }
    void OnWaveInFailed() override { ++m_nFailed; }
    std::vector<WaveHeader *> m_returned;
    int m_nFailed = 0;
};

WaveFormat StereoFormat(uint32_t rate)
{
    WaveFormat f;
    f.nChannels = 2;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = rate * 4;
    return f;
}
} // namespace

TEST(WithServer, ToneLandsOnItsBinAt22050HzWith512Points)
{
    ExpectToneBin(22050, 512);
}

TEST(WithServer, ToneLandsOnItsBinAt11025HzWith1024Points)
{
    ExpectToneBin(11025, 1024);
}

TEST(WithServer, DriverFillsBlocksInOrderAndThenStopsCounting)
{
    PulseWaveInDriver driver;
    CountingClient client;
    ASSERT_TRUE(driver.Open(StereoFormat(44100), &client)) << driver.LastError();
    const uint32_t blockFrames = 4410; // 100 ms
    std::vector<std::vector<uint8_t>> memory(4, std::vector<uint8_t>(blockFrames * 4));
    std::vector<WaveHeader> headers(4);
    for (size_t i = 0; i < headers.size(); ++i) {
        headers[i].lpData = memory[i].data();
        headers[i].dwBufferLength = blockFrames * 4;
        ASSERT_TRUE(driver.PrepareHeader(&headers[i]));
        ASSERT_TRUE(driver.AddBuffer(&headers[i]));
    }
    ASSERT_TRUE(driver.Start());
    ASSERT_TRUE(PumpUntil(10000, [&] { return client.m_returned.size() == 4; }))
        << client.m_returned.size() << " blocks came back";
    for (size_t i = 0; i < headers.size(); ++i)
        EXPECT_EQ(client.m_returned[i], &headers[i]);

    // With nothing queued, what arrives now is not counted.
    QTest::qWait(200);
    uint64_t pos = 0;
    ASSERT_TRUE(driver.GetPosition(&pos));
    EXPECT_EQ(pos, 4u * blockFrames);

    // The blocks hold the tone (a gap in the player's loop is shorter than
    // they are together): both channels equal and loud.
    int peak = 0;
    bool bChannelsEqual = true;
    for (const std::vector<uint8_t> &block : memory) {
        for (uint32_t f = 0; f < blockFrames; ++f) {
            int16_t lr[2];
            std::memcpy(lr, block.data() + f * 4, 4);
            peak = std::max(peak, std::abs(int(lr[0])));
            bChannelsEqual = bChannelsEqual && std::abs(lr[0] - lr[1]) <= 1;
        }
    }
    EXPECT_TRUE(bChannelsEqual);
    EXPECT_GT(peak, 8000); // the tone's peak is 16383
    EXPECT_EQ(client.m_nFailed, 0);
    EXPECT_TRUE(driver.Close());
}

TEST(ServerLoss, KillingTheServerMidRunReportsAFailureOnce)
{
    const pid_t server = ServerPid();
    ASSERT_GT(server, 0) << "VEXLOR_E2E_PULSE_PID is not set: run this through run_with_pulse.sh";

    Capture capture;
    ASSERT_EQ(capture.Start(22050), 1) << capture.LastError();
    ASSERT_TRUE(PumpUntil(10000, [&] { return capture.wave.GetPosition() > 22050 / 2; }));

    // A second client, straight on the driver, counts the notices.
    PulseWaveInDriver driver;
    CountingClient client;
    ASSERT_TRUE(driver.Open(StereoFormat(11025), &client)) << driver.LastError();
    ASSERT_TRUE(driver.Start());

    ASSERT_EQ(::kill(server, SIGKILL), 0) << std::strerror(errno);
    ASSERT_TRUE(PumpUntil(10000, [&] { return capture.device.m_bStreamFailed == 1; }))
        << "the capture pair was never told that the server went away";
    ASSERT_TRUE(PumpUntil(10000, [&] { return client.m_nFailed > 0; }));
    QTest::qWait(300);
    EXPECT_EQ(client.m_nFailed, 1);
    EXPECT_TRUE(driver.HasFailed());
    EXPECT_FALSE(driver.LastError().empty());
    std::printf("after the server was killed the driver says: %s\n", driver.LastError().c_str());

    // Nothing more is recorded, and closing still works.
    uint64_t before = 0, after = 0;
    ASSERT_TRUE(driver.GetPosition(&before));
    QTest::qWait(200);
    ASSERT_TRUE(driver.GetPosition(&after));
    EXPECT_EQ(after, before);
    EXPECT_FALSE(driver.Start());
    EXPECT_TRUE(driver.Close());
    EXPECT_EQ(capture.wave.Stop(), 1);
    EXPECT_FALSE(capture.device.IsInputOpen());
}

TEST(WithoutServer, StartingCaptureFailsCleanly)
{
    Capture capture;
    EXPECT_EQ(capture.Start(22050), 0);
    EXPECT_FALSE(capture.device.IsInputOpen());
    const std::string error = capture.LastError();
    EXPECT_NE(error.find("sound server"), std::string::npos) << error;
    std::printf("without a server the driver says: %s\n", error.c_str());

    PulseWaveInDriver driver;
    CountingClient client;
    EXPECT_FALSE(driver.Open(StereoFormat(44100), &client));
    EXPECT_TRUE(driver.Close());
    QTest::qWait(50);
    EXPECT_EQ(client.m_nFailed, 0);
}
