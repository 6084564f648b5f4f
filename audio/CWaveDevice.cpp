#include "audio/CWaveDevice.h"

#include <limits>
#include <utility>

namespace {
std::function<std::unique_ptr<IWaveInDriver>()> &DriverFactory()
{
    static std::function<std::unique_ptr<IWaveInDriver>()> factory;
    return factory;
}

constexpr int kInputBlock = 1;
} // namespace

void SetWaveInDriverFactory(std::function<std::unique_ptr<IWaveInDriver>()> factory)
{
    DriverFactory() = std::move(factory);
}

std::unique_ptr<IWaveInDriver> CreateWaveInDriver()
{
    return DriverFactory() ? DriverFactory()() : nullptr;
}

CWaveDevice::CWaveDevice(std::unique_ptr<IWaveInDriver> pDriver) : m_pDriver(std::move(pDriver)) {}

CWaveDevice::~CWaveDevice()
{
    CloseIn();
}

int CWaveDevice::CreateDeviceWindow()
{
    if (m_bCreated)
        return 1;
    // The driver delivers its notices on the user-interface thread itself, so
    // creating the device only means getting a driver.
    if (!m_pDriver)
        m_pDriver = CreateWaveInDriver();
    if (!m_pDriver)
        return 0;
    m_bCreated = 1;
    return 1;
}

bool CWaveDevice::IsInputOpen() const
{
    return m_pDriver && m_pDriver->IsOpen();
}

int CWaveDevice::OpenIn(const WaveFormat &format)
{
    if (!m_pDriver)
        return 0;
    if (m_pDriver->IsOpen())
        return m_pDriver->IsFormatSupported(format) ? 1 : 0;
    m_dwTotal = 0;
    m_bStreamFailed = 0;
    return m_pDriver->Open(format, this) ? 1 : 0;
}

int CWaveDevice::FindFreeSlot() const
{
    for (int i = 0; i < kSlots; ++i) {
        if (!m_pHdr[i])
            return i;
    }
    return -1;
}

int CWaveDevice::PrepareSlot(IWaveBlockOwner *pOwner, uint32_t dwFirst, uint32_t dwCount)
{
    const int nSlot = FindFreeSlot();
    if (nSlot < 0)
        return -1;
    const uint32_t dwFrames = pOwner->FrameCount();
    if (dwFirst >= dwFrames)
        return -1;
    if (dwCount == 0 || uint64_t(dwFirst) + dwCount > dwFrames)
        dwCount = dwFrames - dwFirst;

    WaveHeader *pHdr = &m_hdrStore[nSlot];
    *pHdr = WaveHeader{};
    pHdr->lpData = pOwner->GetData(dwFirst);
    pHdr->dwBufferLength = dwCount * pOwner->BlockFormat().nBlockAlign;
    pHdr->dwUser = static_cast<uintptr_t>(nSlot);
    if (!m_pDriver->PrepareHeader(pHdr))
        return -1;

    pOwner->MarkSlot(nSlot);
    m_pHdr[nSlot] = pHdr;
    m_pOwner[nSlot] = pOwner;
    m_nKind[nSlot] = kInputBlock;
    m_dwStreamPos[nSlot] = m_dwTotal;
    m_dwStart[nSlot] = dwFirst;
    m_dwCount[nSlot] = dwCount;
    m_dwTotal += dwCount;
    return nSlot;
}

int CWaveDevice::QueueInput(IWaveBlockOwner *pOwner, uint32_t dwFirst, uint32_t dwCount)
{
    if (!OpenIn(pOwner->BlockFormat()))
        return 0;
    const int nSlot = PrepareSlot(pOwner, dwFirst, dwCount);
    if (nSlot < 0)
        return 0;
    if (m_pDriver->AddBuffer(m_pHdr[nSlot]) && m_pDriver->Start()) {
        ++m_nInQueued;
        return 1;
    }
    ReleaseSlot(nSlot);
    if (m_nInQueued == 0)
        CloseIn();
    return 0;
}

void CWaveDevice::ReleaseSlot(int nSlot)
{
    if (nSlot < 0 || nSlot >= kSlots || !m_pHdr[nSlot])
        return;
    if (IsInputOpen())
        m_pDriver->UnprepareHeader(m_pHdr[nSlot]);
    m_pHdr[nSlot] = nullptr;
    if (m_pOwner[nSlot])
        m_pOwner[nSlot]->ClearSlot(nSlot);
    m_pOwner[nSlot] = nullptr;
    m_nKind[nSlot] = 0;
    m_dwStreamPos[nSlot] = 0;
    m_dwStart[nSlot] = 0;
    m_dwCount[nSlot] = 0;
}

uint64_t CWaveDevice::DevicePosition()
{
    if (!IsInputOpen())
        return m_dwTotal;
    uint64_t pos = 0;
    return m_pDriver->GetPosition(&pos) ? pos : 0;
}

int CWaveDevice::MapPosition(uint64_t dwPos, uint32_t *pOut, int *pSlot) const
{
    // Where no block holds the position, the raw position stands in; one
    // beyond 32 bits reads as "past every buffer".
    const uint32_t dwRaw = dwPos > std::numeric_limits<uint32_t>::max()
                               ? std::numeric_limits<uint32_t>::max()
                               : static_cast<uint32_t>(dwPos);
    *pOut = dwRaw;

    if (*pSlot >= 0) {
        const int i = *pSlot;
        if (i >= kSlots || !m_pHdr[i] || m_nKind[i] != kInputBlock)
            return 0;
        const uint64_t b = m_dwStreamPos[i];
        if (dwPos < b) {
            *pOut = 0;
            return 0;
        }
        if (dwPos - b <= m_dwCount[i]) {
            *pOut = m_dwStart[i] + static_cast<uint32_t>(dwPos - b);
            return 1;
        }
        *pOut = m_dwStart[i] + m_dwCount[i];
        return 0;
    }

    // A position at the end of one block and the start of the next belongs
    // to the next: a block that holds it strictly wins over one it ends.
    int nFound = -1;
    for (int i = 0; i < kSlots; ++i) {
        if (!m_pHdr[i] || m_nKind[i] != kInputBlock || m_dwStreamPos[i] > dwPos)
            continue;
        const uint64_t e = m_dwStreamPos[i] + m_dwCount[i];
        if (dwPos < e) {
            nFound = i;
            break;
        }
        if (dwPos == e)
            nFound = i;
    }
    if (nFound < 0) {
        *pSlot = kSlots;
        return 0;
    }
    *pSlot = nFound;
    *pOut = m_dwStart[nFound] + static_cast<uint32_t>(dwPos - m_dwStreamPos[nFound]);
    return 1;
}

uint64_t CWaveDevice::GetInPosition(uint32_t *pOut, int *pSlot)
{
    const uint64_t pos = DevicePosition();
    MapPosition(pos, pOut, pSlot);
    return pos;
}

void CWaveDevice::OnWaveInData(WaveHeader *pHdr)
{
    if (!IsInputOpen()) {
        // A late notice after CloseIn.
        m_nInQueued = 0;
        return;
    }
    if (m_nInQueued == 0) {
        CloseIn();
        return;
    }
    int nSlot = static_cast<int>(pHdr->dwUser);
    // A header this table no longer holds (its slot was released while the
    // driver still had it) belongs to nobody: ignore its notice.
    if (nSlot < 0 || nSlot >= kSlots || m_pHdr[nSlot] != pHdr)
        return;
    IWaveBlockOwner *pOwner = m_pOwner[nSlot];

    // The driver is already past the returned block, so this is the block's end.
    uint32_t dwPos = 0;
    GetInPosition(&dwPos, &nSlot);
    const uint32_t dwEnd = m_dwStart[nSlot] + m_dwCount[nSlot];
    if (dwPos > dwEnd)
        dwPos = dwEnd;

    ReleaseSlot(nSlot);
    if (--m_nInQueued == 0)
        CloseIn();
    if (pOwner)
        pOwner->OnInputDone(dwPos);
}

void CWaveDevice::OnWaveInFailed()
{
    m_bStreamFailed = 1;
}

int CWaveDevice::CloseIn()
{
    if (!IsInputOpen())
        return 1;

    m_pDriver->Stop();
    uint32_t dwPos = 0;
    int nSlot = -1;
    GetInPosition(&dwPos, &nSlot);
    if (nSlot >= 0 && nSlot < kSlots && m_pOwner[nSlot])
        m_pOwner[nSlot]->OnInputDone(dwPos);

    // The driver gives back every queued block; it sends no notices for them.
    m_pDriver->Reset();
    for (int i = 0; i < kSlots; ++i) {
        if (m_nKind[i] == kInputBlock)
            ReleaseSlot(i);
    }
    m_nInQueued = 0;

    if (!m_pDriver->Close())
        return 0;
    return 1;
}
