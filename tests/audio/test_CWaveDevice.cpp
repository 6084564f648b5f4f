#include "audio/CWave.h"
#include "audio/CWaveDevice.h"
#include "audio/input/ScriptedWaveInDriver.h"

#include <gtest/gtest.h>

namespace {

struct DeviceRig
{
    ScriptedWaveInDriver *pDriver = new ScriptedWaveInDriver; // owned by the device
    CWaveDevice device{std::unique_ptr<IWaveInDriver>(pDriver)};
    CWave wave;

    explicit DeviceRig(uint32_t frames = 220500)
    {
        EXPECT_EQ(device.CreateDeviceWindow(), 1);
        wave.SetFormat(22050, 16, 2);
        EXPECT_EQ(wave.Allocate(frames), 1);
        wave.SetDevice(&device);
    }
};

} // namespace

TEST(CWaveDeviceCreate, NeedsADriverFromTheFactoryWhenGivenNone)
{
    SetWaveInDriverFactory(nullptr);
    CWaveDevice bare;
    EXPECT_EQ(bare.CreateDeviceWindow(), 0);
    EXPECT_EQ(bare.m_bCreated, 0);

    int made = 0;
    SetWaveInDriverFactory([&made] {
        ++made;
        return std::make_unique<ScriptedWaveInDriver>();
    });
    CWaveDevice device;
    EXPECT_EQ(device.CreateDeviceWindow(), 1);
    EXPECT_EQ(device.CreateDeviceWindow(), 1);
    EXPECT_EQ(made, 1);
    SetWaveInDriverFactory(nullptr);
}

TEST(CWaveDeviceMapping, HalvesOfATenSecondRing)
{
    DeviceRig rig;
    ASSERT_EQ(rig.wave.Start(0), 1);
    EXPECT_EQ(rig.device.m_dwStreamPos[0], 0u);
    EXPECT_EQ(rig.device.m_dwStreamPos[1], 110250u);
    EXPECT_EQ(rig.device.m_dwTotal, 220500u);

    uint32_t out = 0;
    int slot = -1;
    EXPECT_EQ(rig.device.MapPosition(150000, &out, &slot), 1);
    EXPECT_EQ(slot, 1);
    EXPECT_EQ(out, 150000u);

    // The first half comes back and is queued again into the lowest free slot,
    // starting at the full frame count.
    rig.pDriver->SetPosition(110250);
    rig.pDriver->CompleteNext();
    EXPECT_EQ(rig.device.m_dwStreamPos[0], 220500u);
    slot = -1;
    EXPECT_EQ(rig.device.MapPosition(230000, &out, &slot), 1);
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(out, 9500u);
}

TEST(CWaveDeviceMapping, ABoundaryBelongsToTheNextBlock)
{
    DeviceRig rig;
    ASSERT_EQ(rig.wave.Start(0), 1);
    uint32_t out = 0;
    int slot = -1;
    EXPECT_EQ(rig.device.MapPosition(110250, &out, &slot), 1);
    EXPECT_EQ(slot, 1);
    EXPECT_EQ(out, 110250u);
    // The very end of the last block is noted and used when nothing holds it.
    slot = -1;
    EXPECT_EQ(rig.device.MapPosition(220500, &out, &slot), 1);
    EXPECT_EQ(slot, 1);
    EXPECT_EQ(out, 220500u);
}

TEST(CWaveDeviceMapping, PositionsOutsideEveryBlock)
{
    DeviceRig rig;
    ASSERT_EQ(rig.wave.Start(0), 1);
    rig.pDriver->SetPosition(110250);
    rig.pDriver->CompleteNext(); // slot 0 now starts at 220500, slot 1 at 110250
    rig.pDriver->SetPosition(220500);
    rig.pDriver->CompleteNext(); // slot 1 now starts at 330750

    uint32_t out = 0;
    int slot = -1;
    EXPECT_EQ(rig.device.MapPosition(1000, &out, &slot), 0);
    EXPECT_EQ(slot, CWaveDevice::kSlots);
    EXPECT_EQ(out, 1000u);

    // A position beyond 32 bits must not alias a frame of the ring.
    slot = -1;
    EXPECT_EQ(rig.device.MapPosition((uint64_t(1) << 32) + 5, &out, &slot), 0);
    EXPECT_EQ(out, 0xFFFFFFFFu);
}

TEST(CWaveDeviceMapping, KnownSlotMode)
{
    DeviceRig rig;
    ASSERT_EQ(rig.wave.Start(0), 1);
    uint32_t out = 0;
    int slot = 1;
    EXPECT_EQ(rig.device.MapPosition(100, &out, &slot), 0); // before the block
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(rig.device.MapPosition(110250 + 20, &out, &slot), 1);
    EXPECT_EQ(out, 110270u);
    EXPECT_EQ(rig.device.MapPosition(220500, &out, &slot), 1); // its very end
    EXPECT_EQ(out, 220500u);
    EXPECT_EQ(rig.device.MapPosition(300000, &out, &slot), 0); // past: the block's end
    EXPECT_EQ(out, 220500u);
    slot = 5; // a free slot
    EXPECT_EQ(rig.device.MapPosition(300000, &out, &slot), 0);
    EXPECT_EQ(out, 300000u);
}

TEST(CWaveDeviceMapping, PositionsPast32BitsKeepMapping)
{
    // Twenty-seven hours at 44100 Hz run the driver count past 2^32; the ring
    // must keep finding its blocks.
    DeviceRig rig(1000);
    ASSERT_EQ(rig.wave.Start(0), 1);
    const uint64_t base = (uint64_t(1) << 32) - 300;
    rig.device.m_dwStreamPos[0] = base;
    rig.device.m_dwStreamPos[1] = base + 500;
    rig.device.m_dwTotal = base + 1000;
    rig.pDriver->SetPosition(base + 700); // past 2^32
    EXPECT_EQ(rig.wave.GetPosition(), 700u);
}

TEST(CWaveDeviceSlots, SixtyFifthSlotIsRefused)
{
    DeviceRig rig(1000);
    ASSERT_EQ(rig.device.OpenIn(rig.wave.m_format), 1);
    for (int i = 0; i < CWaveDevice::kSlots; ++i)
        ASSERT_EQ(rig.device.PrepareSlot(&rig.wave, 0, 10), i);
    EXPECT_EQ(rig.device.FindFreeSlot(), -1);
    EXPECT_EQ(rig.device.PrepareSlot(&rig.wave, 0, 10), -1);
    rig.device.ReleaseSlot(17);
    EXPECT_EQ(rig.device.FindFreeSlot(), 17);
    // The device's table is the record; the ring heard of the release.
    EXPECT_EQ(rig.device.m_pOwner[17], nullptr);
    EXPECT_EQ(rig.device.m_pOwner[18], &rig.wave);
    EXPECT_EQ(rig.wave.m_nBlocksQueued, CWaveDevice::kSlots - 1);
}

TEST(CWaveDeviceSlots, CountIsBoundedByTheBuffer)
{
    DeviceRig rig(1000);
    ASSERT_EQ(rig.device.OpenIn(rig.wave.m_format), 1);
    int slot = rig.device.PrepareSlot(&rig.wave, 900, 0);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(rig.device.m_dwCount[slot], 100u);
    slot = rig.device.PrepareSlot(&rig.wave, 800, 500);
    EXPECT_EQ(rig.device.m_dwCount[slot], 200u);
    EXPECT_EQ(rig.device.m_pHdr[slot]->dwBufferLength, 800u);
    EXPECT_EQ(rig.device.m_pHdr[slot]->dwUser, uintptr_t(slot));
    EXPECT_EQ(rig.device.PrepareSlot(&rig.wave, 1000, 1), -1);
    EXPECT_EQ(rig.device.m_dwTotal, 300u);
}

TEST(CWaveDeviceOpen, ReopeningKeepsTheRunningTotal)
{
    DeviceRig rig;
    ASSERT_EQ(rig.wave.Start(0), 1);
    EXPECT_EQ(rig.device.OpenIn(rig.wave.m_format), 1);
    EXPECT_EQ(rig.device.m_dwTotal, 220500u);
    EXPECT_EQ(rig.pDriver->m_nOpens, 1);
    rig.pDriver->m_bFormatSupported = false;
    EXPECT_EQ(rig.device.OpenIn(rig.wave.m_format), 0);
}

TEST(CWaveDeviceQueue, RefusedBufferOrStartReleasesTheSlotAndCloses)
{
    DeviceRig rig(1000);
    rig.pDriver->m_bFailStart = true;
    EXPECT_EQ(rig.device.QueueInput(&rig.wave, 0, 500), 0);
    EXPECT_EQ(rig.device.FindFreeSlot(), 0);
    EXPECT_EQ(rig.wave.AnySlotInUse(), 0);
    EXPECT_FALSE(rig.pDriver->IsOpen());

    rig.pDriver->m_bFailStart = false;
    rig.pDriver->m_bFailPrepare = true;
    EXPECT_EQ(rig.device.QueueInput(&rig.wave, 0, 500), 0);
    EXPECT_EQ(rig.wave.AnySlotInUse(), 0);
}

TEST(CWaveDeviceQueue, FailedSecondHalfLeavesTheFirstQueuedUntilStop)
{
    DeviceRig rig(1000);
    ASSERT_EQ(rig.device.QueueInput(&rig.wave, 0, 500), 1);
    rig.pDriver->m_bFailAddBuffer = true;
    EXPECT_EQ(rig.device.QueueInput(&rig.wave, 500, 500), 0);
    EXPECT_EQ(rig.device.m_nInQueued, 1);
    EXPECT_TRUE(rig.pDriver->IsOpen());
    EXPECT_EQ(rig.device.m_pOwner[0], &rig.wave);
    EXPECT_EQ(rig.device.m_pOwner[1], nullptr);
    EXPECT_EQ(rig.wave.m_nBlocksQueued, 1);
}

TEST(CWaveDeviceNotices, LateNoticeAfterCloseChangesNothing)
{
    DeviceRig rig(1000);
    ASSERT_EQ(rig.wave.Start(0), 1);
    WaveHeader *pFirst = rig.pDriver->QueuedAt(0);
    ASSERT_EQ(rig.wave.Stop(), 1);
    rig.device.m_nInQueued = 3;
    rig.device.OnWaveInData(pFirst);
    EXPECT_EQ(rig.device.m_nInQueued, 0);
    EXPECT_EQ(rig.wave.AnySlotInUse(), 0);
    EXPECT_EQ(rig.pDriver->m_nOpens, 1);
}

TEST(CWaveDeviceNotices, StrayHeaderIsIgnored)
{
    DeviceRig rig(1000);
    ASSERT_EQ(rig.wave.Start(0), 1);
    WaveHeader stray;
    stray.dwUser = 1; // claims slot 1, which holds another header
    rig.device.OnWaveInData(&stray);
    EXPECT_EQ(rig.device.m_nInQueued, 2);
    stray.dwUser = 4000;
    rig.device.OnWaveInData(&stray);
    EXPECT_EQ(rig.device.m_nInQueued, 2);
}

TEST(CWaveDeviceNotices, ReturnedBlockReportsItsEndEvenWhenTheDriverIsFarAhead)
{
    DeviceRig rig(1000);
    ASSERT_EQ(rig.wave.Start(0), 1);
    rig.pDriver->SetPosition(740); // well into the second half already
    rig.pDriver->CompleteNext();
    EXPECT_EQ(rig.wave.m_dwLastPos, 500u);
}

TEST(CWaveDeviceNotices, LastBlockBackWhileStoppedClosesTheDevice)
{
    DeviceRig rig(1000);
    ASSERT_EQ(rig.device.QueueInput(&rig.wave, 0, 500), 1);
    rig.wave.m_bRunning = 0; // nothing is queued again
    rig.pDriver->SetPosition(500);
    rig.pDriver->CompleteNext();
    EXPECT_EQ(rig.device.m_nInQueued, 0);
    EXPECT_FALSE(rig.pDriver->IsOpen());
    EXPECT_EQ(rig.wave.m_dwLastPos, 500u);
}

TEST(CWaveDeviceClose, RefusedCloseKeepsTheHandleForALaterTry)
{
    DeviceRig rig(1000);
    ASSERT_EQ(rig.wave.Start(0), 1);
    rig.pDriver->m_bFailClose = true;
    EXPECT_EQ(rig.device.CloseIn(), 0);
    EXPECT_TRUE(rig.pDriver->IsOpen());
    EXPECT_EQ(rig.wave.AnySlotInUse(), 0);
    rig.pDriver->m_bFailClose = false;
    EXPECT_EQ(rig.device.CloseIn(), 1);
    EXPECT_FALSE(rig.pDriver->IsOpen());
    EXPECT_EQ(rig.device.CloseIn(), 1); // already closed
}

TEST(CWaveDeviceClose, FailingPositionReadsAsZero)
{
    DeviceRig rig(1000);
    ASSERT_EQ(rig.wave.Start(0), 1);
    rig.pDriver->SetPosition(300);
    rig.pDriver->m_bFailPosition = true;
    EXPECT_EQ(rig.device.DevicePosition(), 0u);
    EXPECT_EQ(rig.wave.GetPosition(), 0u); // inside the first block, which starts at 0
}

TEST(CWaveDeviceFailure, BrokenStreamIsRecordedUntilTheNextOpen)
{
    DeviceRig rig(1000);
    ASSERT_EQ(rig.wave.Start(0), 1);
    rig.pDriver->FailStream();
    EXPECT_EQ(rig.device.m_bStreamFailed, 1);
    ASSERT_EQ(rig.wave.Stop(), 1);
    ASSERT_EQ(rig.wave.Start(0), 1);
    EXPECT_EQ(rig.device.m_bStreamFailed, 0);
    EXPECT_EQ(rig.pDriver->m_nOpens, 2);
}
