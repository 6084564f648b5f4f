// The real sound path against the PulseAudio server of run_with_pulse.sh, whose
// default source hears a 1 kHz sine: the capture pair records it through the
// libpulse driver and the transform finds the tone's bin.
#include "analysis/CFFT.h"
#include "audio/CWave.h"
#include "audio/CWaveDevice.h"
#include "audio/input/PulseWaveInDriver.h"

#include "E2eSupport.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

using namespace e2e;

namespace {
// The half-scale tone is 5000 in the transform's units, about half that with the Hann window.
constexpr float kSignalPresent = 300.0f;

// As the spectrum window holds them: the buffer's destructor closes the device's input.
struct Capture
{
    Capture() : device(std::make_unique<PulseWaveInDriver>()) {}
    int Start(uint32_t rate)
    {
        wave.SetFormat(rate, 16, 2);
        if (!wave.Allocate(rate * 10) || !device.CreateDeviceWindow())
            return 0;
        wave.SetDevice(&device);
        return wave.Start(0);
    }
    std::string LastError() const
    {
        return device.m_pDriver ? device.m_pDriver->LastError() : std::string("no driver");
    }
    CWaveDevice device;
    CWave wave;
};

// The bin where the newest n frames peak, and the spectrum's maximum; bin -1 before n frames.
std::pair<int, float> AnalyseNewest(Capture &capture, CFFT &fft, int n)
{
    const uint32_t pos = capture.wave.GetPosition();
    const int start = pos >= uint32_t(n)        ? int(pos - uint32_t(n))
                      : capture.wave.m_bWrapped ? int(pos + capture.wave.m_dwFrames - uint32_t(n))
                                                : -1;
    if (start < 0)
        return {-1, 0.0f};
    fft.Analyze(&capture.wave, &start, FFT_REMOVEDC | FFT_WINDOW | FFT_SINGLE | FFT_FASTMAG);
    const float *pSpectrum = fft.LockSpectrum();
    if (!pSpectrum)
        return {-1, 0.0f};
    const int nBin = int(std::max_element(pSpectrum, pSpectrum + n / 2) - pSpectrum);
    const float fMax = fft.m_fMax;
    fft.UnlockSpectrum();
    return {nBin, fMax};
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
    return {1, 2, rate, rate * 4, 4, 16, 0}; // PCM, 2 channels of 16 bits
}
} // namespace

// About two seconds of tone analysed every 50 ms, as the display does.
TEST(WithServer, ToneLandsOnItsBin)
{
    for (const auto &[rate, n] : {std::pair{22050u, 512}, std::pair{11025u, 1024}}) {
        SCOPED_TRACE(testing::Message() << rate << " Hz, N=" << n);
        Capture capture;
        ASSERT_EQ(capture.Start(rate), 1) << capture.LastError();
        CFFT fft;
        ASSERT_EQ(fft.Setup(n, 1, 3), 1);
        // The first data can take a second or two to reach the monitor.
        ASSERT_TRUE(PollUntil(
            15000, 10, [&] { return AnalyseNewest(capture, fft, n).second > kSignalPresent; }))
            << "no tone; position " << capture.wave.GetPosition() << ", driver says '"
            << capture.LastError() << "'";

        const double expected = 1000.0 * n / rate;
        const uint32_t pos0 = capture.wave.GetPosition();
        QElapsedTimer clock;
        clock.start();
        std::string seen;
        int nHeard = 0, nOnBin = 0;
        while (clock.elapsed() < 2000) {
            QTest::qWait(50);
            const auto [nBin, fMax] = AnalyseNewest(capture, fft, n);
            if (fMax <= kSignalPresent) // only frames with the tone count
                continue;
            seen += std::to_string(nBin) + " ";
            ++nHeard;
            nOnBin += std::abs(nBin - expected) <= 1.0;
        }
        const uint32_t pos1 = capture.wave.GetPosition();
        ASSERT_GE(nHeard, 20);
        EXPECT_GE(nOnBin * 10, nHeard * 9) << "bins found: " << seen;
        // The server delivers at the rate asked for (the ring has not wrapped yet).
        ASSERT_GT(pos1, pos0);
        EXPECT_NEAR((pos1 - pos0) / (clock.nsecsElapsed() / 1e9), rate, rate * 0.2);
        EXPECT_EQ(capture.device.m_bStreamFailed, 0);
        EXPECT_EQ(capture.wave.Stop(), 1);
        EXPECT_FALSE(capture.device.IsInputOpen());
    }
}

TEST(WithServer, DriverFillsBlocksInOrderAndThenStopsCounting)
{
    PulseWaveInDriver driver;
    CountingClient client;
    ASSERT_TRUE(driver.Open(StereoFormat(44100), &client)) << driver.LastError();
    const uint32_t blockFrames = 4410; // 100 ms
    std::vector<int16_t> memory(4 * blockFrames * 2);
    std::vector<WaveHeader> headers(4);
    for (size_t i = 0; i < headers.size(); ++i) {
        headers[i].lpData = reinterpret_cast<uint8_t *>(&memory[i * blockFrames * 2]);
        headers[i].dwBufferLength = blockFrames * 4;
        ASSERT_TRUE(driver.PrepareHeader(&headers[i]));
        ASSERT_TRUE(driver.AddBuffer(&headers[i]));
    }
    ASSERT_TRUE(driver.Start());
    ASSERT_TRUE(PollUntil(10000, 10, [&] { return client.m_returned.size() == 4; }))
        << client.m_returned.size() << " blocks came back";
    for (size_t i = 0; i < headers.size(); ++i)
        EXPECT_EQ(client.m_returned[i], &headers[i]);

    QTest::qWait(200); // with nothing queued, what arrives now is not counted
    uint64_t pos = 0;
    ASSERT_TRUE(driver.GetPosition(&pos));
    EXPECT_EQ(pos, 4u * blockFrames);

    // The blocks hold the tone: both channels equal and loud.
    int peak = 0;
    bool bChannelsEqual = true;
    for (size_t i = 0; i < memory.size(); i += 2) {
        peak = std::max(peak, std::abs(int(memory[i])));
        bChannelsEqual = bChannelsEqual && std::abs(memory[i] - memory[i + 1]) <= 1;
    }
    EXPECT_TRUE(bChannelsEqual);
    EXPECT_GT(peak, 8000); // the tone's peak is 16383
    EXPECT_EQ(client.m_nFailed, 0);
    EXPECT_TRUE(driver.Close());
}

TEST(ServerLoss, KillingTheServerMidRunReportsAFailureOnce)
{
    const pid_t server = pid_t(qgetenv("VEXLOR_E2E_PULSE_PID").toLong());
    ASSERT_GT(server, 0) << "VEXLOR_E2E_PULSE_PID is not set: run this through run_with_pulse.sh";

    Capture capture;
    ASSERT_EQ(capture.Start(22050), 1) << capture.LastError();
    ASSERT_TRUE(PollUntil(10000, 10, [&] { return capture.wave.GetPosition() > 22050 / 2; }));
    // A second client, straight on the driver, counts the notices.
    PulseWaveInDriver driver;
    CountingClient client;
    ASSERT_TRUE(driver.Open(StereoFormat(11025), &client)) << driver.LastError();
    ASSERT_TRUE(driver.Start());

    ASSERT_EQ(::kill(server, SIGKILL), 0) << std::strerror(errno);
    ASSERT_TRUE(PollUntil(10000, 10, [&] { return capture.device.m_bStreamFailed == 1; }))
        << "the capture pair was never told that the server went away";
    ASSERT_TRUE(PollUntil(10000, 10, [&] { return client.m_nFailed > 0; }));
    QTest::qWait(300);
    EXPECT_EQ(client.m_nFailed, 1);
    EXPECT_TRUE(driver.HasFailed());
    EXPECT_FALSE(driver.LastError().empty());

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

    PulseWaveInDriver driver;
    CountingClient client;
    EXPECT_FALSE(driver.Open(StereoFormat(44100), &client));
    EXPECT_TRUE(driver.Close());
    QTest::qWait(50);
    EXPECT_EQ(client.m_nFailed, 0);
}
