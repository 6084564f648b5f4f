#include "audio/CWave.h"
#include "audio/CWaveDevice.h"
#include "audio/input/ScriptedWaveInDriver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

namespace {
// A 22050 Hz 16-bit stereo ring wired to a device whose driver the test steers.
struct Rig
{
    ScriptedWaveInDriver *pDriver = new ScriptedWaveInDriver; // owned by the device
    CWaveDevice device{std::unique_ptr<IWaveInDriver>(pDriver)};
    CWave wave;
    explicit Rig(uint32_t nFrames)
    {
        EXPECT_EQ(device.CreateDeviceWindow(), 1);
        wave.SetFormat(22050, 16, 2);
        EXPECT_EQ(wave.Allocate(nFrames), 1);
        wave.SetDevice(&device);
    }
    // Where the device maps a driver position: (result, frame, slot).
    std::tuple<int, uint32_t, int> Map(uint64_t nPos, int nSlot = -1) const
    {
        uint32_t nOut = 0;
        const int nResult = device.MapPosition(nPos, &nOut, &nSlot);
        return {nResult, nOut, nSlot};
    }
};
using Mapped = std::tuple<int, uint32_t, int>;

std::vector<uint8_t> Bytes(CWave &w)
{
    return std::vector(w.GetData(0), w.GetData(0) + w.m_dwBytes);
}
} // namespace

TEST(CWave, FormatsAllocationAndSilence)
{
    CWave wave;
    const WaveFormat &f = wave.m_format;
    wave.SetFormat(22050, 16, 2);
    ASSERT_EQ(wave.Allocate(220500), 1);
    EXPECT_EQ(std::tuple(f.nBlockAlign, f.nAvgBytesPerSec, wave.m_dwBytes, wave.m_dwFrames),
              std::tuple(4, 88200u, 882000u, 220500u));
    EXPECT_EQ(Bytes(wave), std::vector<uint8_t>(882000, 0x00));
    // A new format frees the memory and forgets the wrap; 8-bit silence is 0x80.
    wave.m_bWrapped = 1;
    wave.SetFormat(11025, 8, 1);
    EXPECT_EQ(std::pair(wave.m_dwFrames, wave.m_bWrapped), std::pair(0u, 0));
    ASSERT_EQ(wave.Allocate(7), 1);
    // Fill mode 0 writes nothing; with an odd count the last frame is in no half.
    wave.Fill(0);
    wave.m_nFillMode = 2;
    wave.Fill(2);
    EXPECT_EQ(Bytes(wave), (std::vector<uint8_t>{0x80, 0x80, 0x80, 0x22, 0x22, 0x22, 0x80}));
    wave.Fill(1);
    EXPECT_EQ(Bytes(wave), (std::vector<uint8_t>{0x22, 0x22, 0x22, 0x22, 0x22, 0x22, 0x80}));
    wave.m_nFillMode = 1;
    wave.Fill(0);
    EXPECT_EQ(Bytes(wave), std::vector<uint8_t>(7, 0x80));
}

TEST(CWave, SamplesByFrameChannelAndWidth)
{
    CWave w16, w8, mono;
    w16.SetFormat(11025, 16, 2), w8.SetFormat(11025, 8, 2), mono.SetFormat(11025, 16, 1);
    ASSERT_EQ(w16.Allocate(1000) + w8.Allocate(2) + mono.Allocate(4), 3);
    const int16_t a16[] = {32767, -32768, -3, 0, 1000, 0};
    std::memcpy(w16.GetData(0), a16, sizeof a16);
    const int16_t aLastFifthMono[] = {333, 111, 1234};
    std::memcpy(w16.GetData(999), aLastFifthMono, 2);
    std::memcpy(w16.GetData(5), aLastFifthMono + 1, 2);
    std::memcpy(mono.GetData(2), aLastFifthMono + 2, 2);
    std::memcpy(w8.GetData(0), "\xFF\x00\x80\x81", 4); // 8-bit samples repeat their byte
    // Ring, wrapped, frame, channel, as an int, as a double (full scale reads +-10000).
    using Case = std::tuple<CWave *, int, uint32_t, int, int, double>;
    // clang-format off
    const Case cases[] = {
        {&w16, 0, 0, 1, 32767, 9999.69482421875}, {&w16, 0, 0, 2, -32768, -10000.0}, {&w16, 0, 0, 3, 0, -0.152587890625},
        {&w16, 0, 1, 3, -1, -0.457763671875}, {&w16, 0, 0, 0, 0, 0.0}, {&w16, 0, 0, 4, 0, 0.0},
        {&w16, 0, 1005, 1, 333, 101.623535156}, {&w16, 1, 1005, 1, 111, 33.874511718}, {&w16, 1, 4294967295, 1, 0, 0.0},
        {&w8, 0, 0, 1, 32639, 9921.875}, {&w8, 0, 0, 2, -32640, -10000.0}, {&w8, 0, 0, 3, 0, -39.0625},
        {&w8, 0, 1, 1, 0, 0.0}, {&w8, 0, 1, 2, 257, 78.125},
        {&mono, 0, 2, 2, 1234, 376.586914062}, {&mono, 0, 2, 3, 1234, 376.586914062},
        {&mono, 0, 2, 1, 1234, 376.586914062}, {&w16, 0, 5, 1, 111, 33.874511718},
    };
    // clang-format on
    for (const auto &[p, bWrapped, nFrame, nChannel, nInt, fFloat] : cases) {
        p->m_bWrapped = bWrapped;
        EXPECT_EQ(p->GetSampleInt(nFrame, nChannel), nInt) << nFrame << " " << nChannel;
        EXPECT_NEAR(p->GetSampleFloat(nFrame, nChannel), fFloat, 1e-6) << nFrame << " " << nChannel;
        // The scan's reader of the left channel, past the end and in every width too.
        if (nChannel == 1) {
            EXPECT_EQ(p->LeftSamples()(nFrame), nInt) << nFrame;
        }
    }
    CWave none;
    EXPECT_EQ(none.LeftSamples()(0), 0);
    int16_t l = 0, r = 0;
    EXPECT_EQ(w16.GetStereoSample(0, &l, &r, 1), 32767); // half the difference
    EXPECT_EQ(w16.GetStereoSample(2, &l, &r, 0), 500);
    EXPECT_EQ(l - r, 1000);
    EXPECT_EQ(mono.GetStereoSample(2, &l, &r, 1), 0);
    EXPECT_EQ(r, 1234);
}

// Halves queue at 0 and 110250; each half back is queued again into the lowest free slot.
TEST(CWaveDevice, HalvesAreQueuedAgainAsTheyComeBackAndPositionsMapIntoTheRing)
{
    Rig rig(220500);
    ASSERT_EQ(rig.wave.Start(0), 1);
    ASSERT_EQ(rig.pDriver->QueuedCount(), 2u);
    EXPECT_EQ(rig.pDriver->QueuedAt(0)->dwBufferLength, 110250u * 4);
    // Position, slot asked (-1: any), mapped.
    // clang-format off
    const std::tuple<uint64_t, int, Mapped> maps[] = {{150000, -1, {1, 150000, 1}}, {110250, -1, {1, 110250, 1}},
        {220500, -1, {1, 220500, 1}}, {100, 1, {0, 0, 1}}, {220500, 1, {1, 220500, 1}}, {300000, 1, {0, 220500, 1}},
        {300000, 5, {0, 300000, 5}}};
    // clang-format on
    for (const auto &[nPos, nSlot, mapped] : maps)
        EXPECT_EQ(rig.Map(nPos, nSlot), mapped) << nPos << " " << nSlot;
    rig.pDriver->SetPosition(110250 + 7);
    rig.pDriver->CompleteNext();
    EXPECT_EQ(
        std::tuple(rig.wave.m_dwLastPos, rig.wave.m_bWrapped, rig.pDriver->QueuedAt(1)->lpData),
        std::tuple(110250u, 0, rig.wave.GetData(0)));
    EXPECT_EQ(rig.Map(230000), (Mapped{1, 9500, 0})); // the first half again, from 220500
    rig.pDriver->SetPosition(230000);
    EXPECT_EQ(rig.wave.GetPosition(), 9500u);
    rig.pDriver->SetPosition(220500 + 3);
    rig.pDriver->CompleteNext();
    EXPECT_EQ(std::tuple(rig.wave.m_dwLastPos, rig.wave.m_bWrapped, rig.wave.m_nHalfDone),
              std::tuple(220500u, 1, 0)); // no fill mode: nothing to refill
    EXPECT_EQ(rig.Map(1000), (Mapped{0, 1000, CWaveDevice::kSlots}));
    EXPECT_EQ(rig.Map((uint64_t(1) << 32) + 5), (Mapped{0, 0xFFFFFFFF, CWaveDevice::kSlots}));
}

TEST(CWave, RecordedFramesLandInTheRingUntilStop)
{
    Rig rig(10);
    ASSERT_EQ(rig.wave.Start(2), 1); // marker mode: the whole ring marked (0x2222) first
    EXPECT_EQ(Bytes(rig.wave), std::vector<uint8_t>(40, 0x22));
    std::vector<int16_t> frames;
    for (int i = 0; i < 7; ++i)
        frames.insert(frames.end(), {int16_t(100 + i), int16_t(-100 - i)});
    rig.pDriver->Record(frames.data(), frames.size() * 2);
    EXPECT_EQ(std::tuple(rig.wave.GetPosition(), rig.wave.m_dwLastPos, rig.wave.m_nHalfDone),
              std::tuple(7u, 5u, 1));
    EXPECT_EQ(rig.wave.GetSampleInt(6, 2), -106);
    rig.pDriver->Record(frames.data(), 5 * 4); // the second half fills: the ring wraps
    EXPECT_EQ(std::tuple(rig.wave.m_bWrapped, rig.wave.GetPosition(), rig.wave.m_nHalfDone),
              std::tuple(1, 2u, 2));
    EXPECT_EQ(rig.wave.GetSampleInt(1, 1), 104);
    // Stop closes the device, reports where it stopped and keeps the memory.
    rig.pDriver->SetPosition(13);
    EXPECT_EQ(rig.wave.Stop(), 1);
    EXPECT_EQ(std::tuple(rig.wave.m_bRunning, rig.wave.AnySlotInUse(), rig.pDriver->IsOpen(),
                         rig.wave.m_dwLastPos, rig.wave.GetPosition(), rig.wave.m_dwFrames),
              std::tuple(0, 0, false, 3u, 3u, 10u));
    // Free while recording gives every block back.
    ASSERT_EQ(rig.wave.Start(0), 1);
    rig.wave.Free();
    EXPECT_EQ(
        std::tuple(rig.pDriver->QueuedCount(), rig.device.FindFreeSlot(), rig.wave.m_dwFrames),
        std::tuple(0u, 0, 0u));
}

TEST(CWaveDevice, SlotsAreBoundedInNumberAndByTheBuffer)
{
    Rig rig(1000);
    ASSERT_EQ(rig.device.OpenIn(rig.wave.m_format), 1);
    int nSlot = rig.device.PrepareSlot(&rig.wave, 900, 0); // 0: to the end
    EXPECT_EQ(rig.device.m_dwCount[nSlot], 100u);
    nSlot = rig.device.PrepareSlot(&rig.wave, 800, 500);
    EXPECT_EQ(std::tuple(rig.device.m_dwCount[nSlot], rig.device.m_pHdr[nSlot]->dwBufferLength,
                         rig.device.m_pHdr[nSlot]->dwUser, rig.device.m_dwTotal),
              std::tuple(200u, 800u, uintptr_t(1), 300u));
    EXPECT_EQ(rig.device.PrepareSlot(&rig.wave, 1000, 1), -1);
    for (int i = 2; i < CWaveDevice::kSlots; ++i)
        ASSERT_EQ(rig.device.PrepareSlot(&rig.wave, 0, 10), i);
    EXPECT_EQ(rig.device.PrepareSlot(&rig.wave, 0, 10), -1);
    rig.device.ReleaseSlot(17);
    EXPECT_EQ(rig.device.FindFreeSlot(), 17);
    EXPECT_EQ(rig.wave.m_nBlocksQueued, CWaveDevice::kSlots - 1);
}

TEST(CWaveDevice, FailuresAndNoticesReleaseBlocksAndCloseWhenNothingIsQueued)
{
    Rig rig(1000);
    rig.pDriver->m_bFailStart = true;
    EXPECT_EQ(rig.device.QueueInput(&rig.wave, 0, 500), 0);
    EXPECT_EQ(std::tuple(rig.device.FindFreeSlot(), rig.wave.AnySlotInUse(), rig.pDriver->IsOpen()),
              std::tuple(0, 0, false));
    rig.pDriver->m_bFailStart = false;
    ASSERT_EQ(rig.device.QueueInput(&rig.wave, 0, 500), 1);
    // Reopening while open keeps the running total and only checks the format.
    EXPECT_EQ(rig.device.OpenIn(rig.wave.m_format), 1);
    EXPECT_EQ(rig.device.m_dwTotal, 500u);
    rig.pDriver->m_bFailAddBuffer = true; // the second half fails, the first stays queued
    EXPECT_EQ(rig.device.QueueInput(&rig.wave, 500, 500), 0);
    EXPECT_EQ(std::tuple(rig.device.m_nInQueued, rig.pDriver->IsOpen(), rig.wave.m_nBlocksQueued,
                         rig.wave.AnySlotInUse()),
              std::tuple(1, true, 1, 1));
    // A refused close keeps the input for a later try; past every block, no owner is told.
    rig.pDriver->SetPosition(700);
    rig.pDriver->m_bFailClose = true;
    EXPECT_EQ(rig.device.CloseIn(), 0);
    EXPECT_EQ(std::pair(rig.pDriver->IsOpen(), rig.wave.AnySlotInUse()), std::pair(true, 0));
    rig.pDriver->m_bFailClose = false;
    EXPECT_EQ(rig.device.CloseIn(), 1);
    EXPECT_EQ(std::pair(rig.pDriver->IsOpen(), rig.pDriver->m_nOpens), std::pair(false, 2));
    rig.pDriver->m_bFailAddBuffer = false;
    ASSERT_EQ(rig.wave.Start(0), 1);
    // A block reports its end however far past; stopped, the last block back closes the input.
    rig.wave.m_bRunning = 0;
    rig.pDriver->SetPosition(740);
    WaveHeader *pFirst = rig.pDriver->QueuedAt(0);
    rig.pDriver->CompleteNext();
    EXPECT_EQ(rig.wave.m_dwLastPos, 500u);
    rig.pDriver->SetPosition(1000);
    rig.pDriver->CompleteNext();
    EXPECT_EQ(std::tuple(rig.device.m_nInQueued, rig.pDriver->IsOpen(), rig.wave.m_dwLastPos),
              std::tuple(0, false, 1000u));
    // A late notice after the close changes nothing.
    rig.device.m_nInQueued = 3;
    rig.device.OnWaveInData(pFirst);
    EXPECT_EQ(std::pair(rig.device.m_nInQueued, rig.wave.AnySlotInUse()), std::pair(0, 0));
}
