#pragma once

#include "audio/IWaveBlockOwner.h"
#include "audio/input/WaveInDriver.h"

#include <cstdint>
#include <functional>
#include <memory>

class CWave;

// Owns the wave-input driver. Keeps a table of 64 slots, each describing one
// block of an owner's memory (a CWave) queued to the driver and the driver
// position at which that block starts; with it, the driver's running frame
// count is turned back into a frame index of the buffer. The driver's notices
// reach OnWaveInData on the user-interface thread.
//
// Driver positions are 64 bits wide here (the driver's count of frames since
// open), so the mapping never runs out after 2^32 frames.
class CWaveDevice : public IWaveInClient
{
public:
    static constexpr int kSlots = 64;

    // With no driver given, CreateDeviceWindow takes one from the
    // process-wide factory.
    explicit CWaveDevice(std::unique_ptr<IWaveInDriver> pDriver = nullptr);
    ~CWaveDevice() override;
    CWaveDevice(const CWaveDevice &) = delete;
    CWaveDevice &operator=(const CWaveDevice &) = delete;

    int CreateDeviceWindow();
    int OpenIn(const WaveFormat &format);
    int QueueInput(IWaveBlockOwner *pOwner, uint32_t dwFirst, uint32_t dwCount);
    // The same for a CWave (defined with CWave, which the device does not know).
    int QueueInput(CWave *pWave, uint32_t dwFirst, uint32_t dwCount);
    int CloseIn();
    uint64_t GetInPosition(uint32_t *pOut, int *pSlot);
    int FindFreeSlot() const;
    int PrepareSlot(IWaveBlockOwner *pOwner, uint32_t dwFirst, uint32_t dwCount);
    int PrepareSlot(CWave *pWave, uint32_t dwFirst, uint32_t dwCount);
    void ReleaseSlot(int nSlot);
    int MapPosition(uint64_t dwPos, uint32_t *pOut, int *pSlot) const;
    uint64_t DevicePosition();
    bool IsInputOpen() const;

    // IWaveInClient
    void OnWaveInData(WaveHeader *pHdr) override;
    void OnWaveInFailed() override;

    // Set when the driver reported a broken stream; cleared by the next open.
    int m_bStreamFailed = 0;

    // Per slot: the header of the queued block, null while the slot is free.
    // Headers live in m_hdrStore, so queueing a block never allocates.
    WaveHeader *m_pHdr[kSlots] = {};
    IWaveBlockOwner *m_pOwner[kSlots] = {}; // not owned
    int m_nKind[kSlots] = {};
    int m_nInQueued = 0;
    int m_bCreated = 0;
    uint64_t m_dwTotal = 0;
    uint64_t m_dwStreamPos[kSlots] = {};
    uint32_t m_dwStart[kSlots] = {};
    uint32_t m_dwCount[kSlots] = {};

    std::unique_ptr<IWaveInDriver> m_pDriver;

private:
    WaveHeader m_hdrStore[kSlots];
};

// The driver every new device uses when it was given none. The program sets
// this once at start-up; without a factory a device cannot be created.
void SetWaveInDriverFactory(std::function<std::unique_ptr<IWaveInDriver>()> factory);
std::unique_ptr<IWaveInDriver> CreateWaveInDriver();
