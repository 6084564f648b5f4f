#pragma once

#include "audio/CWaveDevice.h"
#include "audio/IWaveBlockOwner.h"
#include "audio/input/WaveInDriver.h"
#include "settings/SettingValues.h"

#include <cstdint>
#include <cstring>
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
    // GetSampleInt(dwFrame, CHANNEL_LEFT) for scans over thousands of frames:
    // the format is looked at once a scan, and a 16-bit frame inside the
    // buffer is read where it lies.
    class LeftSampleReader;
    LeftSampleReader LeftSamples() const;

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
    // 16-bit samples: 10000 / 32768, so that full scale reads as +-10000.
    static constexpr double k16BitScale = 0.30517578125;
    // 8-bit samples: 10000 / 128.
    static constexpr double k8BitScale = 78.125;
    uint32_t HalfFrames() const { return m_dwFrames / 2; }
    int RawSample(uint32_t dwSampleIndex) const;
};

// Read for every sample the analysis takes, so inline.

inline uint32_t CWave::WrapIndex(uint32_t dwIndex) const
{
    if (dwIndex < m_dwFrames || m_dwFrames == 0)
        return m_dwFrames == 0 ? 0 : dwIndex;
    if (!m_bWrapped)
        return m_dwFrames - 1;
    return dwIndex % m_dwFrames;
}

// One sample by its index among all interleaved samples, widened to the
// 16-bit range (an 8-bit sample repeats its byte in both halves).
inline int CWave::RawSample(uint32_t dwSampleIndex) const
{
    if (m_format.wBitsPerSample == 16) {
        int16_t v;
        std::memcpy(&v, m_hMem.get() + size_t(dwSampleIndex) * 2, sizeof v);
        return v;
    }
    const int r = int(m_hMem[dwSampleIndex]) - 128;
    return (r * 256) | (r & 0xFF);
}

class CWave::LeftSampleReader
{
public:
    explicit LeftSampleReader(const CWave &wave)
        : m_wave(wave),
          m_p16(wave.m_hMem && wave.m_format.wBitsPerSample == 16 ? wave.m_hMem.get() : nullptr),
          m_nStep(size_t(wave.m_format.nChannels) * 2)
    {}
    int operator()(uint32_t dwFrame) const
    {
        if (!m_p16 || dwFrame >= m_wave.m_dwFrames)
            return m_wave.GetSampleInt(dwFrame, CHANNEL_LEFT);
        int16_t v;
        std::memcpy(&v, m_p16 + size_t(dwFrame) * m_nStep, sizeof v);
        return v;
    }

private:
    const CWave &m_wave;
    const uint8_t *m_p16;
    size_t m_nStep;
};

inline CWave::LeftSampleReader CWave::LeftSamples() const
{
    return LeftSampleReader(*this);
}

inline int CWave::GetSampleInt(uint32_t dwFrame, int nChannel) const
{
    if (!m_hMem || nChannel < CHANNEL_LEFT || nChannel > CHANNEL_MEAN)
        return 0;
    const uint32_t s = WrapIndex(dwFrame) * m_format.nChannels;
    const bool bStereo = m_format.nChannels >= 2;
    switch (nChannel) {
    case CHANNEL_LEFT:
        return RawSample(s);
    case CHANNEL_RIGHT:
        // A one-channel buffer has no right sample; its only channel stands in
        // rather than reading past the frame.
        return RawSample(bStereo ? s + 1 : s);
    default:
        if (!bStereo)
            return RawSample(s);
        return (RawSample(s) + RawSample(s + 1)) / 2;
    }
}

inline double CWave::GetSampleFloat(uint32_t dwFrame, int nChannel) const
{
    if (!m_hMem || nChannel < CHANNEL_LEFT || nChannel > CHANNEL_MEAN)
        return 0.0;
    const uint32_t s = WrapIndex(dwFrame) * m_format.nChannels;
    const bool bStereo = m_format.nChannels >= 2;
    const uint8_t *p = m_hMem.get();
    auto scaled = [&](uint32_t i) {
        if (m_format.wBitsPerSample == 16) {
            int16_t v;
            std::memcpy(&v, p + size_t(i) * 2, sizeof v);
            return v * k16BitScale;
        }
        return (int(p[i]) - 128) * k8BitScale;
    };
    switch (nChannel) {
    case CHANNEL_LEFT:
        return scaled(s);
    case CHANNEL_RIGHT:
        return scaled(bStereo ? s + 1 : s);
    default:
        if (!bStereo)
            return scaled(s);
        if (m_format.wBitsPerSample == 16) {
            int16_t a, b;
            std::memcpy(&a, p + size_t(s) * 2, sizeof a);
            std::memcpy(&b, p + size_t(s + 1) * 2, sizeof b);
            return (a + b) * 0.5 * k16BitScale;
        }
        return (scaled(s) + scaled(s + 1)) * 0.5;
    }
}
