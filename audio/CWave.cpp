#include "audio/CWave.h"

#include "settings/SettingValues.h"

#include <cstring>
#include <limits>
#include <new>

namespace {
constexpr uint8_t kMarkerByte = 0x22;
} // namespace

CWave::CWave() = default;

CWave::~CWave()
{
    Free();
}

void CWave::SetFormat(uint32_t nSamplesPerSec, uint16_t nBitsPerSample, uint16_t nChannels)
{
    if (m_hMem)
        Free();
    m_format.nChannels = nChannels;
    m_format.wBitsPerSample = nBitsPerSample;
    m_format.nSamplesPerSec = nSamplesPerSec;
    m_format.nBlockAlign = static_cast<uint16_t>(nBitsPerSample * nChannels / 8);
    m_format.nAvgBytesPerSec = nSamplesPerSec * m_format.nBlockAlign;
    m_bWrapped = 0;
}

int CWave::Allocate(uint32_t dwFrames)
{
    m_bWrapped = 0;
    if (m_hMem)
        Free();

    const uint64_t bytes = uint64_t(m_format.wBitsPerSample / 8) * m_format.nChannels * dwFrames;
    // The size is a 32-bit quantity everywhere the device deals with it, and an
    // empty ring has nothing to record into.
    if (bytes == 0 || bytes > std::numeric_limits<uint32_t>::max())
        return 0;
    m_hMem.reset(new (std::nothrow) uint8_t[bytes]);
    if (!m_hMem)
        return 0;
    // 16-bit silence is 0; 8-bit samples are unsigned with 0x80 as zero.
    std::memset(m_hMem.get(), m_format.wBitsPerSample == 16 ? 0x00 : 0x80, bytes);

    m_dwBytes = static_cast<uint32_t>(bytes);
    m_dwFrames = dwFrames;
    return 1;
}

void CWave::Free()
{
    m_nFillMode = 0;
    m_nHalfDone = 0;
    // The device's queued blocks point into this memory: take them back first.
    if (AnySlotInUse() && m_pDevice)
        m_pDevice->CloseIn();
    m_pData = nullptr;
    m_hMem.reset();
    m_dwBytes = 0;
    m_dwFrames = 0;
    m_bWrapped = 0;
}

int CWave::Start(int nFillMode)
{
    m_bRunning = 1;
    if (!m_pDevice)
        return 0;
    m_nFillMode = nFillMode;
    if (nFillMode != FILL_NONE)
        Fill(0);
    m_bWrapped = 0;

    const uint32_t h = HalfFrames();
    if (!m_pDevice->QueueInput(this, 0, h))
        return 0;
    return m_pDevice->QueueInput(this, h, m_dwFrames - h);
}

int CWave::Stop()
{
    if (!m_pDevice)
        return 0;
    if (AnySlotInUse()) {
        // Cleared first, so that the stop position reported by CloseIn queues nothing.
        m_bRunning = 0;
        m_pDevice->CloseIn();
        m_nFillMode = 0;
        m_nHalfDone = 0;
    }
    return 1;
}

void CWave::Fill(int nPart)
{
    if (m_nFillMode == FILL_NONE || m_dwFrames == 0 || !m_hMem)
        return;

    const uint32_t h = HalfFrames();
    uint32_t first = 0;
    uint32_t count = m_dwFrames;
    if (nPart == 1) {
        count = h;
    } else if (nPart == 2) {
        // With an odd frame count the last frame belongs to no half's fill.
        first = h;
        count = h;
    }

    uint8_t fill = kMarkerByte;
    if (m_nFillMode == FILL_SILENCE)
        fill = m_format.wBitsPerSample == 8 ? 0x80 : 0x00;
    std::memset(GetData(first), fill, size_t(count) * m_format.nBlockAlign);
    Unlock();
}

void CWave::OnInputDone(uint32_t dwPosition)
{
    m_dwLastPos = dwPosition;
    if (!m_bRunning)
        return;

    const uint32_t h = HalfFrames();
    if (dwPosition == m_dwFrames) {
        if (m_nFillMode != FILL_NONE)
            m_nHalfDone = 2;
        m_pDevice->QueueInput(this, h, m_dwFrames - h);
        m_bWrapped = 1;
    } else {
        if (m_nFillMode != FILL_NONE)
            m_nHalfDone = 1;
        m_pDevice->QueueInput(this, 0, h);
    }
}

void CWave::MarkSlot(int nSlot)
{
    if (nSlot >= 0 && nSlot < CWaveDevice::kSlots)
        ++m_nBlocksQueued;
}

void CWave::ClearSlot(int nSlot)
{
    if (nSlot >= 0 && nSlot < CWaveDevice::kSlots && m_nBlocksQueued > 0)
        --m_nBlocksQueued;
}

int CWave::AnySlotInUse() const
{
    return m_nBlocksQueued > 0 ? 1 : 0;
}

// The device's entry points that name the ring itself; it works on owners.
int CWaveDevice::QueueInput(CWave *pWave, uint32_t dwFirst, uint32_t dwCount)
{
    return QueueInput(static_cast<IWaveBlockOwner *>(pWave), dwFirst, dwCount);
}

int CWaveDevice::PrepareSlot(CWave *pWave, uint32_t dwFirst, uint32_t dwCount)
{
    return PrepareSlot(static_cast<IWaveBlockOwner *>(pWave), dwFirst, dwCount);
}

uint8_t *CWave::GetData(uint32_t dwFrame)
{
    if (!m_hMem)
        return nullptr;
    m_pData = m_hMem.get();
    return m_pData + size_t(dwFrame) * m_format.nBlockAlign;
}

uint32_t CWave::GetPosition()
{
    if (!m_pDevice)
        return 0;
    if (!AnySlotInUse())
        return m_dwLastPos;
    uint32_t dwMapped = 0;
    int nSlot = -1;
    m_pDevice->GetInPosition(&dwMapped, &nSlot);
    return dwMapped < m_dwFrames ? dwMapped : m_dwLastPos;
}

uint32_t CWave::MsToFrames(uint32_t dwMs) const
{
    // The product wraps in 32 bits before the division, as callers expect.
    return uint32_t(dwMs * m_format.nSamplesPerSec) / 1000;
}

int CWave::GetStereoSample(uint32_t dwFrame, int16_t *pLeft, int16_t *pRight, int bDifference) const
{
    const int left = GetSampleInt(dwFrame, CHANNEL_LEFT);
    const int right = m_format.nChannels >= 2 ? GetSampleInt(dwFrame, CHANNEL_RIGHT) : left;
    *pLeft = static_cast<int16_t>(left);
    *pRight = static_cast<int16_t>(right);
    return bDifference ? (left - right) / 2 : (left + right) / 2;
}
