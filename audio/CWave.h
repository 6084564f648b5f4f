#pragma once

#include "audio/CWaveDevice.h"
#include "audio/IWaveBlockOwner.h"
#include "audio/input/WaveInDriver.h"

#include <cstdint>
#include <memory>

// The ten-second ring of recorded frames from which the display takes its
// data. Its two halves are both queued to the device, and each half is queued
// again the moment the device hands it back, so recording never stops. The
// display never waits for a block: it asks for the recording position and
// reads just behind it. All calls come from the user-interface thread.
//
// The device it records through knows it only as an IWaveBlockOwner; the
// device's table of queued blocks is the one record of them, the ring only
// counts how many of its blocks are out.
class CWave : public IWaveBlockOwner
{
public:
    CWave();
    ~CWave() override;
    CWave(const CWave &) = delete;
    CWave &operator=(const CWave &) = delete;

    void SetFormat(uint32_t nSamplesPerSec, uint16_t nBitsPerSample, uint16_t nChannels);
    int Allocate(uint32_t dwFrames);
    void Free();
    void SetDevice(CWaveDevice *pDevice) { m_pDevice = pDevice; }
    int Start(int nFillMode);
    int Stop();
    void Fill(int nPart);

    // Called by the device when a block of this buffer came back, or when
    // recording stopped at this frame index.
    void OnInputDone(uint32_t dwPosition) override;
    // The device queued a block of this buffer in a slot, or took it back.
    void MarkSlot(int nSlot) override;
    void ClearSlot(int nSlot) override;
    int AnySlotInUse() const;

    // The address of a frame; the memory stays "locked" (the address valid)
    // until Unlock or Free. Null without memory.
    uint8_t *GetData(uint32_t dwFrame) override;
    void Unlock() { m_pData = nullptr; }

    uint32_t GetPosition();
    uint32_t MsToFrames(uint32_t dwMs) const;
    uint32_t WrapIndex(uint32_t dwIndex) const;
    // Channel codes: 0 none, 1 left (or the only channel), 2 right, 3 mean of both.
    int GetSampleInt(uint32_t dwFrame, int nChannel) const;
    // The same sample scaled so that full scale is +-10000.
    double GetSampleFloat(uint32_t dwFrame, int nChannel) const;
    int GetStereoSample(uint32_t dwFrame, int16_t *pLeft, int16_t *pRight, int bDifference) const;

    const WaveFormat &Format() const { return m_format; }
    const WaveFormat &BlockFormat() const override { return m_format; }
    uint32_t FrameCount() const override { return m_dwFrames; }

    WaveFormat m_format;
    uint32_t m_dwBytes = 0;
    uint32_t m_dwFrames = 0;
    CWaveDevice *m_pDevice = nullptr; // not owned
    uint32_t m_dwLastPos = 0;
    int m_nFillMode = 0;
    int m_nHalfDone = 0;
    std::unique_ptr<uint8_t[]> m_hMem; // the sample memory
    uint8_t *m_pData = nullptr;        // set while "locked"
    int m_nBlocksQueued = 0;           // blocks of this buffer the device holds
    int m_bRunning = 0;
    int m_bWrapped = 0;

private:
    uint32_t HalfFrames() const { return m_dwFrames / 2; }
    int RawSample(uint32_t dwSampleIndex) const;
};
