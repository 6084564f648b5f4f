#include "audio/CWave.h"
#include "audio/CWaveDevice.h"
#include "audio/input/ScriptedWaveInDriver.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

struct DeviceRig
{
    ScriptedWaveInDriver *pDriver = new ScriptedWaveInDriver; // owned by the device
    CWaveDevice device{std::unique_ptr<IWaveInDriver>(pDriver)};
    CWave wave;
    explicit DeviceRig(uint32_t nFrames = 220500)
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

} // namespace

// Halves: slot 0 from stream 0, slot 1 from 110250; a boundary belongs to the block it starts.
TEST(CWaveDevice, DriverPositionsMapToFramesOfTheRing)
{
    DeviceRig rig;
    ASSERT_EQ(rig.wave.Start(0), 1);
    EXPECT_EQ(rig.Map(150000), (Mapped{1, 150000, 1}));
    EXPECT_EQ(rig.Map(110250), (Mapped{1, 110250, 1}));
    EXPECT_EQ(rig.Map(220500), (Mapped{1, 220500, 1}));
    EXPECT_EQ(rig.Map(100, 1), (Mapped{0, 0, 1}));         // before a known block
    EXPECT_EQ(rig.Map(220500, 1), (Mapped{1, 220500, 1})); // its very end
    EXPECT_EQ(rig.Map(300000, 1), (Mapped{0, 220500, 1})); // past it: its end
    EXPECT_EQ(rig.Map(300000, 5), (Mapped{0, 300000, 5})); // a free slot
    // Both halves come back and are queued again, into the lowest free slot,
    // from the running total: slot 0 from 220500, slot 1 from 330750.
    rig.pDriver->SetPosition(110250);
    rig.pDriver->CompleteNext();
    EXPECT_EQ(rig.Map(230000), (Mapped{1, 9500, 0}));
    rig.pDriver->SetPosition(220500);
    rig.pDriver->CompleteNext();
    EXPECT_EQ(rig.Map(1000), (Mapped{0, 1000, CWaveDevice::kSlots}));
    EXPECT_EQ(rig.Map((uint64_t(1) << 32) + 5), (Mapped{0, 0xFFFFFFFF, CWaveDevice::kSlots}));
}

TEST(CWaveDevice, SlotsAreBoundedInNumberAndByTheBuffer)
{
    DeviceRig rig(1000);
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
    DeviceRig rig(1000);
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
    EXPECT_EQ(std::tuple(rig.device.m_nInQueued, rig.pDriver->IsOpen(), rig.wave.m_nBlocksQueued),
              std::tuple(1, true, 1));
    // A refused close keeps the input for a later try.
    rig.pDriver->m_bFailClose = true;
    EXPECT_EQ(rig.device.CloseIn(), 0);
    EXPECT_EQ(std::pair(rig.pDriver->IsOpen(), rig.wave.AnySlotInUse()), std::pair(true, 0));
    rig.pDriver->m_bFailClose = false;
    EXPECT_EQ(rig.device.CloseIn(), 1);
    EXPECT_EQ(std::pair(rig.pDriver->IsOpen(), rig.pDriver->m_nOpens), std::pair(false, 2));
    rig.pDriver->m_bFailAddBuffer = false;
    ASSERT_EQ(rig.wave.Start(0), 1);
    // A block reports its end even when the driver is far past it; stopped,
    // nothing is queued again and the last block back closes the input.
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
