#include "audio/CWave.h"
#include "audio/CWaveDevice.h"
#include "audio/input/ScriptedWaveInDriver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A buffer wired to a device whose driver the test steers.
struct Rig
{
    ScriptedWaveInDriver *pDriver = new ScriptedWaveInDriver; // owned by the device
    CWaveDevice device{std::unique_ptr<IWaveInDriver>(pDriver)};
    CWave wave;

    Rig(uint32_t rate, uint16_t bits, uint16_t channels, uint32_t frames)
    {
        device.CreateDeviceWindow();
        wave.SetFormat(rate, bits, channels);
        EXPECT_EQ(wave.Allocate(frames), 1);
        wave.SetDevice(&device);
    }
};

void PutSample16(CWave &wave, uint32_t sampleIndex, int16_t v)
{
    std::memcpy(wave.GetData(0) + size_t(sampleIndex) * 2, &v, 2);
    wave.Unlock();
}

} // namespace

TEST(CWaveFormat, ConstructedAs8BitMono22050)
{
    CWave wave;
    EXPECT_EQ(wave.m_format.wFormatTag, 1);
    EXPECT_EQ(wave.m_format.nChannels, 1);
    EXPECT_EQ(wave.m_format.nSamplesPerSec, 22050u);
    EXPECT_EQ(wave.m_format.nAvgBytesPerSec, 22050u);
    EXPECT_EQ(wave.m_format.nBlockAlign, 1);
    EXPECT_EQ(wave.m_format.wBitsPerSample, 8);
    EXPECT_EQ(wave.GetData(0), nullptr);
}

TEST(CWaveFormat, StereoSixteenBitTenSecondsIsZeroFilled)
{
    CWave wave;
    wave.SetFormat(22050, 16, 2);
    EXPECT_EQ(wave.m_format.nBlockAlign, 4);
    EXPECT_EQ(wave.m_format.nAvgBytesPerSec, 88200u);
    ASSERT_EQ(wave.Allocate(220500), 1);
    EXPECT_EQ(wave.m_dwBytes, 882000u);
    EXPECT_EQ(wave.m_dwFrames, 220500u);
    const uint8_t *p = wave.GetData(0);
    ASSERT_NE(p, nullptr);
    for (uint32_t i = 0; i < wave.m_dwBytes; ++i)
        ASSERT_EQ(p[i], 0) << "byte " << i;
    // Frame addresses step by the block alignment.
    EXPECT_EQ(wave.GetData(10) - wave.GetData(0), 40);
}

TEST(CWaveFormat, EightBitIsFilledWithSilence0x80)
{
    CWave wave;
    wave.SetFormat(11025, 8, 1);
    ASSERT_EQ(wave.Allocate(10), 1);
    EXPECT_EQ(wave.m_dwBytes, 10u);
    const uint8_t *p = wave.GetData(0);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(p[i], 0x80);
}

TEST(CWaveFormat, FailedAllocationLeavesNoMemory)
{
    CWave wave;
    wave.SetFormat(44100, 16, 2);
    ASSERT_EQ(wave.Allocate(100), 1);
    // 4 bytes a frame times 2^31 frames does not fit a 32-bit size.
    EXPECT_EQ(wave.Allocate(0x80000000u), 0);
    EXPECT_EQ(wave.m_dwFrames, 0u);
    EXPECT_EQ(wave.m_dwBytes, 0u);
    EXPECT_EQ(wave.GetData(0), nullptr);
    EXPECT_EQ(wave.Allocate(0), 0);
}

TEST(CWaveFormat, SetFormatFreesAndForgetsTheWrap)
{
    CWave wave;
    wave.SetFormat(22050, 16, 2);
    ASSERT_EQ(wave.Allocate(100), 1);
    wave.m_bWrapped = 1;
    wave.SetFormat(44100, 16, 2);
    EXPECT_EQ(wave.m_dwFrames, 0u);
    EXPECT_EQ(wave.m_bWrapped, 0);
    EXPECT_EQ(wave.m_format.nAvgBytesPerSec, 176400u);
}

TEST(CWaveIndex, WrapIndexClampsBeforeTheFirstWrapAndReducesAfter)
{
    CWave wave;
    wave.SetFormat(11025, 16, 2);
    ASSERT_EQ(wave.Allocate(1000), 1);
    EXPECT_EQ(wave.WrapIndex(999), 999u);
    EXPECT_EQ(wave.WrapIndex(1000 + 5), 999u);
    EXPECT_EQ(wave.WrapIndex(0xFFFFFFFFu), 999u);
    wave.m_bWrapped = 1;
    EXPECT_EQ(wave.WrapIndex(1000 + 5), 5u);
    EXPECT_EQ(wave.WrapIndex(999), 999u);
    EXPECT_EQ(wave.WrapIndex(0xFFFFFFFFu), 0xFFFFFFFFu % 1000u);
}

TEST(CWaveIndex, MsToFramesWrapsTheProductIn32Bits)
{
    CWave wave;
    wave.SetFormat(44100, 16, 2);
    EXPECT_EQ(wave.MsToFrames(1000), 44100u);
    EXPECT_EQ(wave.MsToFrames(50), 2205u);
    // 100000 ms x 44100 = 4410000000 wraps to 115032704 before dividing.
    EXPECT_EQ(wave.MsToFrames(100000), uint32_t(4410000000ull % 4294967296ull) / 1000u);
}

TEST(CWaveSamples, SixteenBitChannelsAndScaling)
{
    CWave wave;
    wave.SetFormat(22050, 16, 2);
    ASSERT_EQ(wave.Allocate(8), 1);
    PutSample16(wave, 0, 32767);
    PutSample16(wave, 1, -32768);
    PutSample16(wave, 2, -3);
    PutSample16(wave, 3, 0);

    EXPECT_EQ(wave.GetSampleInt(0, 1), 32767);
    EXPECT_EQ(wave.GetSampleInt(0, 2), -32768);
    EXPECT_EQ(wave.GetSampleInt(0, 3), (32767 - 32768) / 2);
    EXPECT_EQ(wave.GetSampleInt(1, 3), -1); // -3 / 2 rounds toward zero
    EXPECT_EQ(wave.GetSampleInt(0, 0), 0);

    EXPECT_DOUBLE_EQ(wave.GetSampleFloat(0, 1), 9999.69482421875);
    EXPECT_DOUBLE_EQ(wave.GetSampleFloat(0, 2), -10000.0);
    EXPECT_DOUBLE_EQ(wave.GetSampleFloat(0, 3), (32767.0 - 32768.0) * 0.5 * 10000.0 / 32768.0);
    EXPECT_DOUBLE_EQ(wave.GetSampleFloat(0, 0), 0.0);
}

TEST(CWaveSamples, EightBitSamplesRepeatTheirByte)
{
    CWave wave;
    wave.SetFormat(11025, 8, 2);
    ASSERT_EQ(wave.Allocate(4), 1);
    uint8_t *p = wave.GetData(0);
    p[0] = 0xFF;
    p[1] = 0x00;
    p[2] = 0x80;
    p[3] = 0x81;
    wave.Unlock();

    EXPECT_EQ(wave.GetSampleInt(0, 1), 32639);
    EXPECT_EQ(wave.GetSampleInt(0, 2), -32640);
    EXPECT_EQ(wave.GetSampleInt(0, 3), (32639 - 32640) / 2);
    EXPECT_EQ(wave.GetSampleInt(1, 1), 0);
    EXPECT_EQ(wave.GetSampleInt(1, 2), 257);

    EXPECT_DOUBLE_EQ(wave.GetSampleFloat(0, 1), 127 * 78.125);
    EXPECT_DOUBLE_EQ(wave.GetSampleFloat(0, 2), -10000.0);
    EXPECT_DOUBLE_EQ(wave.GetSampleFloat(0, 3), (127 * 78.125 - 10000.0) * 0.5);
}

TEST(CWaveSamples, MonoBufferMixIsTheOneChannel)
{
    CWave wave;
    wave.SetFormat(11025, 16, 1);
    ASSERT_EQ(wave.Allocate(4), 1);
    PutSample16(wave, 2, 1234);
    EXPECT_EQ(wave.GetSampleInt(2, 1), 1234);
    EXPECT_EQ(wave.GetSampleInt(2, 3), 1234);
    EXPECT_DOUBLE_EQ(wave.GetSampleFloat(2, 3), 1234 * 0.30517578125);
    int16_t l = 0, r = 0;
    EXPECT_EQ(wave.GetStereoSample(2, &l, &r, 0), 1234);
    EXPECT_EQ(r, 1234);
    EXPECT_EQ(wave.GetStereoSample(2, &l, &r, 1), 0);
}

TEST(CWaveSamples, StereoSampleSumAndDifference)
{
    CWave wave;
    wave.SetFormat(22050, 16, 2);
    ASSERT_EQ(wave.Allocate(4), 1);
    PutSample16(wave, 0, 1000);
    PutSample16(wave, 1, -1000);
    int16_t l = 0, r = 0;
    EXPECT_EQ(wave.GetStereoSample(0, &l, &r, 0), 0);
    EXPECT_EQ(l, 1000);
    EXPECT_EQ(r, -1000);
    EXPECT_EQ(wave.GetStereoSample(0, &l, &r, 1), 1000);
}

TEST(CWaveSamples, ReadsPastTheEndFollowTheWrapState)
{
    CWave wave;
    wave.SetFormat(22050, 16, 2);
    ASSERT_EQ(wave.Allocate(4), 1);
    PutSample16(wave, 3 * 2, 333); // frame 3, left
    PutSample16(wave, 1 * 2, 111); // frame 1, left
    EXPECT_EQ(wave.GetSampleInt(9, 1), 333); // last frame before the first wrap
    wave.m_bWrapped = 1;
    EXPECT_EQ(wave.GetSampleInt(9, 1), 111); // 9 mod 4
}

TEST(CWaveFill, MarkerModeFillsEverythingBeforeQueueing)
{
    Rig rig(22050, 16, 2, 1000);
    ASSERT_EQ(rig.wave.Start(2), 1);
    EXPECT_EQ(rig.pDriver->QueuedCount(), 2u);
    for (int ch = 1; ch <= 3; ++ch) {
        EXPECT_EQ(rig.wave.GetSampleInt(0, ch), 8738);
        EXPECT_EQ(rig.wave.GetSampleInt(999, ch), 8738);
    }
}

TEST(CWaveFill, HalvesOfAnOddBufferLeaveTheLastFrame)
{
    CWave wave;
    wave.SetFormat(11025, 8, 1);
    ASSERT_EQ(wave.Allocate(7), 1);
    wave.m_nFillMode = 2;
    wave.Fill(2);
    const uint8_t *p = wave.GetData(0);
    const uint8_t expected[7] = {0x80, 0x80, 0x80, 0x22, 0x22, 0x22, 0x80};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(p[i], expected[i]) << "frame " << i;
    wave.Fill(1);
    p = wave.GetData(0);
    EXPECT_EQ(p[0], 0x22);
    EXPECT_EQ(p[2], 0x22);
    EXPECT_EQ(p[6], 0x80);
}

TEST(CWaveFill, SilenceModeAndNoFillMode)
{
    CWave wave;
    wave.SetFormat(11025, 16, 1);
    ASSERT_EQ(wave.Allocate(6), 1);
    std::memset(wave.GetData(0), 0x55, 12);
    wave.Fill(0); // fill mode 0: nothing happens
    EXPECT_EQ(wave.GetData(0)[11], 0x55);
    wave.m_nFillMode = 1;
    wave.Fill(3);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(wave.GetData(0)[i], 0x00);

    CWave wave8;
    wave8.SetFormat(11025, 8, 1);
    ASSERT_EQ(wave8.Allocate(4), 1);
    std::memset(wave8.GetData(0), 0x22, 4);
    wave8.m_nFillMode = 1;
    wave8.Fill(0);
    EXPECT_EQ(wave8.GetData(0)[3], 0x80);
}

TEST(CWaveRun, StartQueuesBothHalvesAndReturnedHalvesAreQueuedAgain)
{
    Rig rig(22050, 16, 2, 220500);
    ASSERT_EQ(rig.wave.Start(0), 1);
    ASSERT_EQ(rig.pDriver->QueuedCount(), 2u);
    EXPECT_EQ(rig.pDriver->QueuedAt(0)->dwBufferLength, 110250u * 4);
    EXPECT_EQ(rig.pDriver->QueuedAt(1)->lpData, rig.wave.GetData(110250));
    EXPECT_EQ(rig.wave.m_bWrapped, 0);

    rig.pDriver->SetPosition(110250 + 7);
    rig.pDriver->CompleteNext();
    EXPECT_EQ(rig.wave.m_dwLastPos, 110250u);
    EXPECT_EQ(rig.wave.m_bWrapped, 0);
    ASSERT_EQ(rig.pDriver->QueuedCount(), 2u);
    EXPECT_EQ(rig.pDriver->QueuedAt(1)->lpData, rig.wave.GetData(0));

    rig.pDriver->SetPosition(220500 + 3);
    rig.pDriver->CompleteNext();
    EXPECT_EQ(rig.wave.m_dwLastPos, 220500u);
    EXPECT_EQ(rig.wave.m_bWrapped, 1);
    ASSERT_EQ(rig.pDriver->QueuedCount(), 2u);
    EXPECT_EQ(rig.pDriver->QueuedAt(1)->lpData, rig.wave.GetData(110250));
    EXPECT_EQ(rig.wave.m_nHalfDone, 0); // no fill mode: nothing to refill
}

TEST(CWaveRun, MarkerModeNamesTheHalfThatCameBack)
{
    Rig rig(11025, 16, 2, 1000);
    ASSERT_EQ(rig.wave.Start(2), 1);
    rig.pDriver->SetPosition(500);
    rig.pDriver->CompleteNext();
    EXPECT_EQ(rig.wave.m_nHalfDone, 1);
    rig.pDriver->SetPosition(1000);
    rig.pDriver->CompleteNext();
    EXPECT_EQ(rig.wave.m_nHalfDone, 2);
}

TEST(CWaveRun, PositionFollowsTheDriverThroughTheRing)
{
    Rig rig(22050, 16, 2, 220500);
    ASSERT_EQ(rig.wave.Start(0), 1);
    rig.pDriver->SetPosition(150000);
    EXPECT_EQ(rig.wave.GetPosition(), 150000u);
    rig.pDriver->SetPosition(110250);
    rig.pDriver->CompleteNext(); // first half again, at stream position 220500
    rig.pDriver->SetPosition(230000);
    EXPECT_EQ(rig.wave.GetPosition(), 9500u);
}

TEST(CWaveRun, RecordedSamplesLandInTheRing)
{
    Rig rig(11025, 16, 2, 10);
    ASSERT_EQ(rig.wave.Start(0), 1);
    std::vector<int16_t> frames;
    for (int i = 0; i < 7; ++i) {
        frames.push_back(int16_t(100 + i));
        frames.push_back(int16_t(-100 - i));
    }
    rig.pDriver->Record(frames.data(), frames.size() * 2);
    EXPECT_EQ(rig.wave.GetPosition(), 7u);
    EXPECT_EQ(rig.wave.GetSampleInt(6, 1), 106);
    EXPECT_EQ(rig.wave.GetSampleInt(6, 2), -106);
    EXPECT_EQ(rig.wave.m_dwLastPos, 5u); // the first half came back at its end
    // Five more frames: the second half fills, comes back, and the ring wraps.
    rig.pDriver->Record(frames.data(), 5 * 4);
    EXPECT_EQ(rig.wave.m_bWrapped, 1);
    EXPECT_EQ(rig.wave.GetPosition(), 2u);
    EXPECT_EQ(rig.wave.GetSampleInt(0, 1), 103);
    EXPECT_EQ(rig.wave.GetSampleInt(1, 1), 104);
}

TEST(CWaveRun, StopClosesTheDeviceAndKeepsTheMemory)
{
    Rig rig(22050, 16, 2, 1000);
    ASSERT_EQ(rig.wave.Start(2), 1);
    rig.pDriver->SetPosition(321);
    EXPECT_EQ(rig.wave.Stop(), 1);
    EXPECT_EQ(rig.wave.m_bRunning, 0);
    EXPECT_EQ(rig.wave.AnySlotInUse(), 0);
    EXPECT_EQ(rig.wave.m_nFillMode, 0);
    EXPECT_FALSE(rig.pDriver->IsOpen());
    EXPECT_EQ(rig.pDriver->QueuedCount(), 0u);
    EXPECT_EQ(rig.wave.m_dwLastPos, 321u); // the stop position was reported
    EXPECT_EQ(rig.wave.GetPosition(), 321u);
    EXPECT_EQ(rig.wave.m_dwFrames, 1000u);
    // Stopping again is harmless.
    EXPECT_EQ(rig.wave.Stop(), 1);
}

TEST(CWaveRun, WithoutADeviceStartAndStopFail)
{
    CWave wave;
    wave.SetFormat(22050, 16, 2);
    ASSERT_EQ(wave.Allocate(100), 1);
    EXPECT_EQ(wave.Start(0), 0);
    EXPECT_EQ(wave.m_bRunning, 1);
    EXPECT_EQ(wave.Stop(), 0);
    EXPECT_EQ(wave.GetPosition(), 0u);
}

TEST(CWaveRun, DeviceThatWillNotOpenFailsStartWithNothingQueued)
{
    Rig rig(22050, 16, 2, 1000);
    rig.pDriver->m_bFailOpen = true;
    EXPECT_EQ(rig.wave.Start(0), 0);
    EXPECT_EQ(rig.wave.AnySlotInUse(), 0);
    EXPECT_EQ(rig.pDriver->QueuedCount(), 0u);
}

TEST(CWaveRun, FreeWhileRecordingGivesEveryBlockBack)
{
    Rig rig(22050, 16, 2, 1000);
    ASSERT_EQ(rig.wave.Start(0), 1);
    rig.wave.Free();
    EXPECT_FALSE(rig.pDriver->IsOpen());
    EXPECT_EQ(rig.pDriver->QueuedCount(), 0u);
    EXPECT_EQ(rig.wave.AnySlotInUse(), 0);
    for (WaveHeader *p : rig.device.m_pHdr)
        EXPECT_EQ(p, nullptr);
    EXPECT_EQ(rig.wave.m_dwFrames, 0u);
}
