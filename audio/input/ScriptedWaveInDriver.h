#pragma once

#include "audio/input/WaveInDriver.h"

#include <cstddef>
#include <deque>

// A wave-input driver whose every move the test decides: which calls fail,
// what the recording position is, and when a queued block comes back. Notices
// are delivered synchronously from the test's own calls (CompleteNext,
// Record), standing in for the event loop.
class ScriptedWaveInDriver : public IWaveInDriver
{
public:
    // What the test wants to go wrong.
    bool m_bFailOpen = false;
    bool m_bFailPrepare = false;
    bool m_bFailAddBuffer = false;
    bool m_bFailStart = false;
    bool m_bFailClose = false;
    bool m_bFailPosition = false;
    bool m_bFormatSupported = true;

    // What happened, for the test to check.
    int m_nOpens = 0;
    int m_nStarts = 0;
    int m_nStops = 0;
    int m_nResets = 0;
    int m_nCloses = 0;
    int m_nPrepared = 0;
    int m_nUnprepared = 0;
    WaveFormat m_format;

    bool IsFormatSupported(const WaveFormat &format) override;
    bool Open(const WaveFormat &format, IWaveInClient *pClient) override;
    bool IsOpen() const override { return m_bOpen; }
    bool PrepareHeader(WaveHeader *pHdr) override;
    bool UnprepareHeader(WaveHeader *pHdr) override;
    bool AddBuffer(WaveHeader *pHdr) override;
    bool Start() override;
    bool Stop() override;
    bool Reset() override;
    bool Close() override;
    bool GetPosition(uint64_t *pFrames) override;

    // Sets the position the driver reports (frames since open).
    void SetPosition(uint64_t dwFrames) { m_dwPosition = dwFrames; }
    uint64_t Position() const { return m_dwPosition; }
    bool IsRunning() const { return m_bRunning; }
    size_t QueuedCount() const { return m_queue.size(); }
    WaveHeader *QueuedAt(size_t i) const { return m_queue[i]; }

    // Hands the oldest queued block back to the client, as if it were full.
    // Returns the header, or null when nothing was queued.
    WaveHeader *CompleteNext();
    // Records bytes into the queued blocks in order, advancing the position
    // and handing back each block that fills up.
    void Record(const void *pBytes, size_t nBytes);
    // The stream breaks, as when the sound server goes away.
    void FailStream();

private:
    IWaveInClient *m_pClient = nullptr;
    std::deque<WaveHeader *> m_queue;
    uint64_t m_dwPosition = 0;
    bool m_bOpen = false;
    bool m_bRunning = false;
};
