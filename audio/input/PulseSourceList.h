#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_source_info;
struct pa_time_event;
struct pa_mainloop_api;
struct timeval;

// One source of the sound server, as the user may choose it.
struct PulseSourceInfo
{
    std::string strName;        // what InputSource and --source hold
    std::string strDescription; // what people read ("Monitor of Speakers")

    bool operator==(const PulseSourceInfo &) const = default;
};

// One question to the sound server: which sources does it have? On a
// connection and mainloop thread of its own, so that asking never blocks the
// user-interface thread unless Wait is called. The server is never spawned.
//
// The mainloop thread only collects the answer and hands it over; the
// answer is read on the thread that made the query, once it is in.
class PulseSourceList
{
public:
    // The longest the server may take to answer, in milliseconds.
    static constexpr int kTimeoutMs = 2500;

    PulseSourceList();
    // Stops at once, answered or not; fnDone is not called afterwards.
    ~PulseSourceList();
    PulseSourceList(const PulseSourceList &) = delete;
    PulseSourceList &operator=(const PulseSourceList &) = delete;

    // Starts asking. fnDone, when given, runs once on this thread through
    // its Qt event loop when the answer or a failure is in. False when the
    // question could not be asked at all (Error says why; fnDone never runs).
    bool Start(std::function<void()> fnDone = {});
    // Waits on this thread, without an event loop, until the answer or a
    // failure is in. Returns Answered().
    bool Wait();

    bool IsDone() const { return m_bDone; }
    // The server answered; Sources() holds its sources in its own order.
    bool Answered() const { return m_bDone && m_strError.empty(); }
    const std::vector<PulseSourceInfo> &Sources() const { return m_sources; }
    // Why there is no answer, in words.
    const std::string &Error() const { return m_strError; }

private:
    class Receiver;

    static void OnContextState(pa_context *pContext, void *pUser);
    static void OnSourceInfo(pa_context *pContext, const pa_source_info *pInfo, int nEol,
                             void *pUser);
    static void OnTimeout(pa_mainloop_api *pApi, pa_time_event *pEvent, const timeval *pTime,
                          void *pUser);
    // Mainloop thread, lock held: the answer or a failure is in.
    void Finish(std::string strWhy);
    // Stops the mainloop thread and frees the connection.
    void TearDown();
    // The caller's thread: the answer is in.
    void Deliver();

    pa_threaded_mainloop *m_pMainloop = nullptr; // owned, freed by TearDown
    pa_context *m_pContext = nullptr;            // owned, freed by TearDown
    pa_time_event *m_pTimeout = nullptr;         // owned by the mainloop
    // Written by the mainloop thread with its lock held until m_bDone; read
    // by the caller's thread after that.
    std::vector<PulseSourceInfo> m_sources;
    std::string m_strError;
    bool m_bDone = false;
    bool m_bNotify = false;
    std::function<void()> m_fnDone;
    // Receives the "answer is in" event on the caller's thread.
    std::unique_ptr<Receiver> m_pReceiver;
};
