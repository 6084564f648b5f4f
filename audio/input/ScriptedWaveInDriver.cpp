#include "audio/input/ScriptedWaveInDriver.h"

#include <algorithm>
#include <cstring>

bool ScriptedWaveInDriver::IsFormatSupported(const WaveFormat &)
{
    return m_bFormatSupported;
}

bool ScriptedWaveInDriver::Open(const WaveFormat &format, IWaveInClient *pClient)
{
    if (m_bFailOpen || m_bOpen)
        return false;
    ++m_nOpens;
    m_format = format;
    m_pClient = pClient;
    m_dwPosition = 0;
    m_bOpen = true;
    return true;
}

bool ScriptedWaveInDriver::PrepareHeader(WaveHeader *pHdr)
{
    if (m_bFailPrepare)
        return false;
    ++m_nPrepared;
    pHdr->dwFlags |= WHDR_PREPARED;
    return true;
}

bool ScriptedWaveInDriver::UnprepareHeader(WaveHeader *pHdr)
{
    ++m_nUnprepared;
    pHdr->dwFlags &= ~WHDR_PREPARED;
    return true;
}

bool ScriptedWaveInDriver::AddBuffer(WaveHeader *pHdr)
{
    if (m_bFailAddBuffer || !m_bOpen)
        return false;
    pHdr->dwFlags = (pHdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    pHdr->dwBytesRecorded = 0;
    m_queue.push_back(pHdr);
    return true;
}

bool ScriptedWaveInDriver::Start()
{
    if (m_bFailStart || !m_bOpen)
        return false;
    ++m_nStarts;
    m_bRunning = true;
    return true;
}

bool ScriptedWaveInDriver::Stop()
{
    ++m_nStops;
    m_bRunning = false;
    return m_bOpen;
}

bool ScriptedWaveInDriver::Reset()
{
    ++m_nResets;
    m_bRunning = false;
    for (WaveHeader *pHdr : m_queue)
        pHdr->dwFlags = (pHdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    m_queue.clear();
    return m_bOpen;
}

bool ScriptedWaveInDriver::Close()
{
    if (m_bFailClose)
        return false;
    ++m_nCloses;
    m_bOpen = false;
    m_bRunning = false;
    m_queue.clear();
    m_pClient = nullptr;
    return true;
}

bool ScriptedWaveInDriver::GetPosition(uint64_t *pFrames)
{
    if (m_bFailPosition || !m_bOpen)
        return false;
    *pFrames = m_dwPosition;
    return true;
}

WaveHeader *ScriptedWaveInDriver::CompleteNext()
{
    if (m_queue.empty() || !m_pClient)
        return nullptr;
    WaveHeader *pHdr = m_queue.front();
    m_queue.pop_front();
    pHdr->dwBytesRecorded = pHdr->dwBufferLength;
    pHdr->dwFlags = (pHdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    m_pClient->OnWaveInData(pHdr);
    return pHdr;
}

void ScriptedWaveInDriver::Record(const void *pBytes, size_t nBytes)
{
    const auto *p = static_cast<const uint8_t *>(pBytes);
    const uint32_t nFrameBytes = std::max<uint32_t>(1, m_format.nBlockAlign);
    while (nBytes > 0 && m_bRunning && !m_queue.empty()) {
        WaveHeader *pHdr = m_queue.front();
        const size_t nRoom = pHdr->dwBufferLength - pHdr->dwBytesRecorded;
        const size_t n = std::min(nRoom, nBytes);
        std::memcpy(pHdr->lpData + pHdr->dwBytesRecorded, p, n);
        pHdr->dwBytesRecorded += static_cast<uint32_t>(n);
        m_dwPosition += n / nFrameBytes;
        p += n;
        nBytes -= n;
        if (pHdr->dwBytesRecorded == pHdr->dwBufferLength)
            CompleteNext();
    }
}

void ScriptedWaveInDriver::FailStream()
{
    m_bRunning = false;
    if (m_pClient)
        m_pClient->OnWaveInFailed();
}
