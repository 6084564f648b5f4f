#pragma once

#include "audio/input/BlockQueueWaveInDriver.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;
struct pa_mainloop_api;
struct timeval;

// Records from the sound server's default source through libpulse (a monitor
// source made the default records what is playing). The server is the one
// libpulse finds on its own (PULSE_SERVER, the user's runtime directory); it
// is never spawned.
//
// Threads: PulseAudio's mainloop thread only copies each fragment into a
// preallocated FIFO and asks for a poll; everything else (the copy into the
// caller's blocks, the position, the notices) runs on the user-interface
// thread. The mainloop thread never waits for the user-interface thread; the
// user-interface thread holds the mainloop lock only for short libpulse calls
// and waits for the server at most kConnectTimeoutMs, in Open.
//
// When the server goes away after a successful Open, the client gets one
// OnWaveInFailed and nothing more is recorded; Close then still works.
class PulseWaveInDriver : public BlockQueueWaveInDriver
{
public:
    // The longest Open waits for the server and the stream, in milliseconds.
    static constexpr int kConnectTimeoutMs = 2500;
    // The fragment size asked of the server, in milliseconds of audio.
    static constexpr int kFragmentMs = 20;
    // The FIFO between the two threads holds this many milliseconds; when the
    // user-interface thread falls further behind, the oldest frames are lost.
    static constexpr int kFifoMs = 2000;

    PulseWaveInDriver();
    ~PulseWaveInDriver() override;

    // A format check only: PCM, 8 or 16 bits, one or two channels, a rate
    // from 1000 to 192000 Hz. The server resamples to it.
    bool IsFormatSupported(const WaveFormat &format) override;

protected:
    bool OpenSource(const WaveFormat &format) override;
    void CloseSource() override;
    bool StartSource() override;
    void StopSource() override;
    void PollSource() override;

private:
    // libpulse callbacks; they run on the mainloop thread.
    static void OnContextState(pa_context *pContext, void *pUser);
    static void OnStreamState(pa_stream *pStream, void *pUser);
    static void OnStreamRead(pa_stream *pStream, size_t nBytes, void *pUser);
    static void OnTimeout(pa_mainloop_api *pApi, pa_time_event *pEvent, const timeval *pTime,
                          void *pUser);

    // Steps of OpenSource, with the mainloop lock held. Each waits for the
    // server until the time limit and returns the reason of a failure, or
    // nothing.
    std::string WaitForContext();
    std::string ConnectStream(const WaveFormat &format);
    // Mainloop thread: appends to the FIFO, dropping the oldest bytes when full.
    void PushFifo(const uint8_t *pData, size_t nBytes);
    // Mainloop thread, with the mainloop lock held: the stream or the context
    // ended after the open.
    void MarkBroken();
    bool Cork(bool bCork);
    // Frees the stream, the context and the mainloop, in that order. Safe to
    // call on a partly built connection and when the server is gone.
    void TearDown();
    // The context's last error in words. Not from the mainloop thread.
    std::string ContextError() const;

    pa_threaded_mainloop *m_pMainloop = nullptr; // owned, freed by TearDown
    pa_context *m_pContext = nullptr;            // owned, freed by TearDown
    pa_stream *m_pStream = nullptr;              // owned, freed by TearDown
    pa_time_event *m_pTimeout = nullptr;         // owned by the mainloop; only during Open
    bool m_bTimedOut = false;                    // guarded by the mainloop lock
    bool m_bConnected = false;                   // guarded by the mainloop lock
    // Set on the mainloop thread when the connection broke after the open.
    std::atomic<bool> m_bBroken{false};

    // The FIFO: a ring of whole bytes; m_nFifoUsed bytes start at m_nFifoRead.
    std::mutex m_fifoMutex;
    std::unique_ptr<uint8_t[]> m_pFifo; // guarded by m_fifoMutex
    size_t m_nFifoSize = 0;
    size_t m_nFifoRead = 0; // guarded by m_fifoMutex
    size_t m_nFifoUsed = 0; // guarded by m_fifoMutex
    // User-interface thread: frames taken out of the FIFO before Deliver.
    std::unique_ptr<uint8_t[]> m_pScratch;
    size_t m_nScratchSize = 0;
};
