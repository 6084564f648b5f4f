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
struct pa_operation;
struct pa_time_event;
struct pa_mainloop_api;
struct pa_server_info;
struct pa_sink_info;
struct timeval;

// Records from the sound server through libpulse. The server is the one
// libpulse finds on its own (PULSE_SERVER, the user's runtime directory); it
// is never spawned.
//
// What it records is the InputSource text: empty records what is playing,
// the monitor of the server's default sink, and follows the default sink
// when the user switches the output (the server's events say so; the stream
// is reconnected to the new sink's monitor); kInputDefaultSource records the
// server's default source; any other text names one source, and the stream
// breaks (a device error, retried) when that source goes away.
//
// Threads: PulseAudio's mainloop thread only copies each fragment into a
// preallocated FIFO and asks for a poll; everything else (the copy into the
// caller's blocks, the position, the notices) runs on the user-interface
// thread. Following the default sink, the mainloop thread only asks the
// server which sink is now the default and hands the monitor's name over;
// the user-interface thread reconnects the stream. The mainloop thread never
// waits for the user-interface thread; the
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

    // strSource: the InputSource text (see the class comment).
    explicit PulseWaveInDriver(std::string strSource = {});
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
    static void OnSubscription(pa_context *pContext, int nEvent, uint32_t nIndex, void *pUser);
    static void OnServerInfo(pa_context *pContext, const pa_server_info *pInfo, void *pUser);
    static void OnSinkInfo(pa_context *pContext, const pa_sink_info *pInfo, int nEol, void *pUser);

    // Steps of OpenSource, with the mainloop lock held. Each waits for the
    // server until the time limit and returns the reason of a failure, or
    // nothing.
    std::string WaitForContext();
    // Waits for a question to the server to be answered (pOp is released).
    std::string WaitForOperation(pa_operation *pOp, const char *pszWhat);
    // Finds the default sink's monitor and asks to hear of a new default sink.
    std::string FindMonitor();
    std::string ConnectStream();
    // Makes m_pStream record from the device (null: the default source),
    // corked or not as m_bCorked says; does not wait. False when libpulse
    // refused.
    bool NewStream(const char *pszDevice);
    // Disconnects and frees m_pStream without telling anyone.
    void DropStream();
    // User-interface thread: records from m_strMonitor from now on.
    void FollowMonitor();
    // The device the stream records from, for messages.
    std::string SourceWords() const;
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
    bool m_bCorked = true;                       // guarded by the mainloop lock

    enum class Choice
    {
        Playing,       // the default sink's monitor, followed
        DefaultSource, // the server's default source
        Named,         // one source by name
    };
    const std::string m_strSource;
    const Choice m_eChoice;
    // Following the default sink, all guarded by the mainloop lock: the sink
    // the stream hears, the one the server last named as its default, and
    // the monitor of the newest default sink.
    std::string m_strFollowedSink;
    std::string m_strDefaultSink;
    std::string m_strMonitor;
    // Handed over from the mainloop thread: a new monitor to record from;
    // the server has no default sink any more.
    std::atomic<bool> m_bFollowWanted{false};
    std::atomic<bool> m_bNoOutput{false};
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
