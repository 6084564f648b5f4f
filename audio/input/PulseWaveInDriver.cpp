#include "audio/input/PulseWaveInDriver.h"

#include "audio/input/PulseConnect.h"

#include "settings/SettingValues.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

namespace {
// Holds the mainloop lock for one scope; the user-interface thread takes it
// only around libpulse calls that return at once.
class MainloopLock
{
public:
    explicit MainloopLock(pa_threaded_mainloop *pMainloop) : m_pMainloop(pMainloop)
    {
        pa_threaded_mainloop_lock(m_pMainloop);
    }
    ~MainloopLock() { pa_threaded_mainloop_unlock(m_pMainloop); }
    MainloopLock(const MainloopLock &) = delete;
    MainloopLock &operator=(const MainloopLock &) = delete;

private:
    pa_threaded_mainloop *m_pMainloop;
};

pa_sample_format_t SampleFormatFor(const WaveFormat &format)
{
    // The caller reads 16-bit samples in the machine's own byte order.
    return format.wBitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16NE;
}
} // namespace

PulseWaveInDriver::PulseWaveInDriver(std::string strSource)
    : m_strSource(std::move(strSource)),
      m_eChoice(m_strSource.empty()                  ? Choice::Playing
                : m_strSource == kInputDefaultSource ? Choice::DefaultSource
                                                     : Choice::Named)
{}

PulseWaveInDriver::~PulseWaveInDriver()
{
    CloseQuietly();
    TearDown();
}

bool PulseWaveInDriver::IsFormatSupported(const WaveFormat &format)
{
    return IsPlainPcmFormat(format);
}

bool PulseWaveInDriver::OpenSource(const WaveFormat &format)
{
    m_bBroken.store(false);
    m_bFollowWanted.store(false);
    m_bNoOutput.store(false);
    m_bTimedOut = false;
    m_bConnected = false;
    m_bCorked = true;
    m_strFollowedSink.clear();
    m_strDefaultSink.clear();
    m_strMonitor.clear();

    const size_t frameBytes = format.nBlockAlign;
    m_nFifoSize =
        std::max<size_t>(1, uint64_t(format.nSamplesPerSec) * kFifoMs / 1000) * frameBytes;
    m_pFifo = std::make_unique<uint8_t[]>(m_nFifoSize);
    m_nFifoRead = m_nFifoUsed = 0;
    m_nScratchSize = std::max<size_t>(1, format.nSamplesPerSec / 10) * frameBytes;
    m_pScratch = std::make_unique<uint8_t[]>(m_nScratchSize);

    auto fail = [this](const std::string &why) {
        TearDown();
        SetLastError(why);
        return false;
    };

    if (std::string why = BeginPulseConnection(&m_pMainloop, &m_pContext,
                                               &PulseWaveInDriver::OnContextState, this);
        !why.empty())
        return fail(why);
    if (pa_threaded_mainloop_start(m_pMainloop) < 0)
        return fail("cannot start the PulseAudio mainloop thread");

    std::string why;
    {
        MainloopLock lock(m_pMainloop);
        m_pTimeout = pa_context_rttime_new(m_pContext,
                                           pa_rtclock_now() + kConnectTimeoutMs * PA_USEC_PER_MSEC,
                                           &PulseWaveInDriver::OnTimeout, this);
        if (!m_pTimeout)
            why = "cannot set a time limit on connecting to the sound server";
        if (why.empty())
            why = WaitForContext();
        if (why.empty() && m_eChoice == Choice::Playing)
            why = FindMonitor();
        if (why.empty())
            why = ConnectStream();
        if (m_pTimeout) {
            pa_threaded_mainloop_get_api(m_pMainloop)->time_free(m_pTimeout);
            m_pTimeout = nullptr;
        }
        if (why.empty())
            m_bConnected = true;
    }
    if (!why.empty())
        return fail(why);
    return true;
}

std::string PulseWaveInDriver::WaitForContext()
{
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(m_pContext);
        if (state == PA_CONTEXT_READY)
            return {};
        if (!PA_CONTEXT_IS_GOOD(state))
            return "cannot connect to the sound server: " + ContextError();
        if (m_bTimedOut)
            return "timed out connecting to the sound server";
        pa_threaded_mainloop_wait(m_pMainloop);
    }
}

std::string PulseWaveInDriver::WaitForOperation(pa_operation *pOp, const char *pszWhat)
{
    if (!pOp)
        return std::string("cannot ask the sound server for ") + pszWhat + ": " + ContextError();
    std::string why;
    while (pa_operation_get_state(pOp) == PA_OPERATION_RUNNING) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(m_pContext))) {
            why = "cannot connect to the sound server: " + ContextError();
            break;
        }
        if (m_bTimedOut) {
            why = std::string("timed out asking the sound server for ") + pszWhat;
            break;
        }
        pa_threaded_mainloop_wait(m_pMainloop);
    }
    pa_operation_unref(pOp);
    return why;
}

std::string PulseWaveInDriver::FindMonitor()
{
    // Events first, so that a switch right after the question is not missed.
    pa_context_set_subscribe_callback(
        m_pContext,
        [](pa_context *pContext, pa_subscription_event_type_t eEvent, uint32_t nIndex,
           void *pUser) { OnSubscription(pContext, int(eEvent), nIndex, pUser); },
        this);
    if (pa_operation *pOp =
            pa_context_subscribe(m_pContext,
                                 static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                                     PA_SUBSCRIPTION_MASK_SINK),
                                 nullptr, nullptr))
        pa_operation_unref(pOp);
    std::string why = WaitForOperation(
        pa_context_get_server_info(m_pContext, &PulseWaveInDriver::OnServerInfo, this),
        "its default output");
    if (why.empty() && m_strDefaultSink.empty())
        why = "the sound server has no output whose sound could be recorded";
    m_strFollowedSink = m_strDefaultSink;
    if (why.empty())
        why =
            WaitForOperation(pa_context_get_sink_info_by_name(m_pContext, m_strFollowedSink.c_str(),
                                                              &PulseWaveInDriver::OnSinkInfo, this),
                             "the monitor of its default output");
    if (why.empty() && m_strMonitor.empty())
        why = "the output " + m_strFollowedSink + " has no monitor to record from";
    return why;
}

bool PulseWaveInDriver::NewStream(const char *pszDevice)
{
    const WaveFormat &format = Format();
    pa_sample_spec sampleFormat;
    sampleFormat.format = SampleFormatFor(format);
    sampleFormat.rate = format.nSamplesPerSec;
    sampleFormat.channels = static_cast<uint8_t>(format.nChannels);
    // No channel map: the default one for the channel count (left and right
    // for two), to which the server maps the source's channels.
    m_pStream = pa_stream_new(m_pContext, "Vexlor capture", &sampleFormat, nullptr);
    if (!m_pStream)
        return false;
    pa_stream_set_state_callback(m_pStream, &PulseWaveInDriver::OnStreamState, this);
    pa_stream_set_read_callback(m_pStream, &PulseWaveInDriver::OnStreamRead, this);

    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize =
        static_cast<uint32_t>(pa_usec_to_bytes(kFragmentMs * PA_USEC_PER_MSEC, &sampleFormat));
    // Corked until Start, as a wave input records only once started. A
    // source chosen by name is kept: when it goes, the stream breaks rather
    // than move to another source.
    int nFlags = PA_STREAM_ADJUST_LATENCY;
    if (m_bCorked)
        nFlags |= PA_STREAM_START_CORKED;
    if (m_eChoice == Choice::Named)
        nFlags |= PA_STREAM_DONT_MOVE;
    return pa_stream_connect_record(m_pStream, pszDevice, &attr,
                                    static_cast<pa_stream_flags_t>(nFlags)) >= 0;
}

void PulseWaveInDriver::DropStream()
{
    if (!m_pStream)
        return;
    pa_stream_set_state_callback(m_pStream, nullptr, nullptr);
    pa_stream_set_read_callback(m_pStream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_pStream)))
        pa_stream_disconnect(m_pStream);
    pa_stream_unref(m_pStream);
    m_pStream = nullptr;
}

std::string PulseWaveInDriver::SourceWords() const
{
    switch (m_eChoice) {
    case Choice::Playing:
        return "the monitor " + m_strMonitor;
    case Choice::DefaultSource:
        return "the default source";
    case Choice::Named:
        break;
    }
    return "the source " + m_strSource;
}

std::string PulseWaveInDriver::ConnectStream()
{
    // The device name null is the server's default source.
    const char *pszDevice = m_eChoice == Choice::Playing ? m_strMonitor.c_str()
                            : m_eChoice == Choice::Named ? m_strSource.c_str()
                                                         : nullptr;
    if (!NewStream(pszDevice))
        return "cannot record from " + SourceWords() + ": " + ContextError();

    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(m_pStream);
        if (state == PA_STREAM_READY)
            return {};
        if (!PA_STREAM_IS_GOOD(state))
            return "cannot record from " + SourceWords() + ": " + ContextError();
        if (m_bTimedOut)
            return "timed out opening a record stream on the sound server";
        pa_threaded_mainloop_wait(m_pMainloop);
    }
}

void PulseWaveInDriver::FollowMonitor()
{
    std::string why;
    {
        MainloopLock lock(m_pMainloop);
        if (!m_bConnected)
            return;
        // The old stream goes first; the new one fills the same FIFO, so the
        // display only sees a short gap.
        DropStream();
        if (!NewStream(m_strMonitor.c_str()))
            why = "cannot record from " + SourceWords() + ": " + ContextError();
    }
    if (!why.empty())
        ReportFailure(why);
}

void PulseWaveInDriver::CloseSource()
{
    TearDown();
    std::lock_guard<std::mutex> guard(m_fifoMutex);
    m_nFifoRead = m_nFifoUsed = 0;
}

bool PulseWaveInDriver::StartSource()
{
    if (!Cork(false)) {
        SetLastError("cannot start recording: " + ContextError());
        return false;
    }
    return true;
}

void PulseWaveInDriver::StopSource()
{
    Cork(true);
}

void PulseWaveInDriver::PollSource()
{
    const size_t frameBytes = FrameBytes();
    for (;;) {
        size_t n = 0;
        {
            std::lock_guard<std::mutex> guard(m_fifoMutex);
            n = std::min(m_nFifoUsed, m_nScratchSize);
            n -= n % frameBytes;
            if (n == 0)
                break;
            const size_t first = std::min(n, m_nFifoSize - m_nFifoRead);
            std::memcpy(m_pScratch.get(), m_pFifo.get() + m_nFifoRead, first);
            std::memcpy(m_pScratch.get() + first, m_pFifo.get(), n - first);
            m_nFifoRead = (m_nFifoRead + n) % m_nFifoSize;
            m_nFifoUsed -= n;
        }
        Deliver(m_pScratch.get(), static_cast<uint32_t>(n / frameBytes));
    }
    if (m_bNoOutput.exchange(false) && !HasFailed())
        ReportFailure("the sound server has no output whose sound could be recorded");
    if (m_bFollowWanted.exchange(false) && !HasFailed())
        FollowMonitor();
    if (m_bBroken.load() && !HasFailed())
        ReportFailure("the sound server connection broke: " + ContextError());
}

void PulseWaveInDriver::PushFifo(const uint8_t *pData, size_t nBytes)
{
    std::lock_guard<std::mutex> guard(m_fifoMutex);
    if (!m_pFifo || nBytes == 0)
        return;
    const size_t frameBytes = FrameBytes();
    if (nBytes > m_nFifoSize) {
        // Only the newest FIFO-full fits.
        pData += nBytes - m_nFifoSize;
        nBytes = m_nFifoSize;
    }
    const size_t freeBytes = m_nFifoSize - m_nFifoUsed;
    if (nBytes > freeBytes) {
        // Lose the oldest whole frames: the display wants the newest.
        size_t drop = nBytes - freeBytes;
        drop = std::min(m_nFifoUsed, (drop + frameBytes - 1) / frameBytes * frameBytes);
        m_nFifoRead = (m_nFifoRead + drop) % m_nFifoSize;
        m_nFifoUsed -= drop;
    }
    const size_t write = (m_nFifoRead + m_nFifoUsed) % m_nFifoSize;
    const size_t first = std::min(nBytes, m_nFifoSize - write);
    std::memcpy(m_pFifo.get() + write, pData, first);
    std::memcpy(m_pFifo.get(), pData + first, nBytes - first);
    m_nFifoUsed += nBytes;
}

void PulseWaveInDriver::MarkBroken()
{
    if (!m_bConnected || m_bBroken.exchange(true))
        return;
    RequestPoll();
}

bool PulseWaveInDriver::Cork(bool bCork)
{
    if (!m_pMainloop)
        return false;
    MainloopLock lock(m_pMainloop);
    m_bCorked = bCork;
    if (!m_pStream || pa_stream_get_state(m_pStream) != PA_STREAM_READY)
        return false;
    pa_operation *pOp = pa_stream_cork(m_pStream, bCork ? 1 : 0, nullptr, nullptr);
    if (!pOp)
        return false;
    pa_operation_unref(pOp);
    return true;
}

void PulseWaveInDriver::TearDown()
{
    if (!m_pMainloop)
        return;
    {
        MainloopLock lock(m_pMainloop);
        if (m_pTimeout) {
            pa_threaded_mainloop_get_api(m_pMainloop)->time_free(m_pTimeout);
            m_pTimeout = nullptr;
        }
        DropStream();
        if (m_pContext) {
            pa_context_set_state_callback(m_pContext, nullptr, nullptr);
            pa_context_set_subscribe_callback(m_pContext, nullptr, nullptr);
            if (PA_CONTEXT_IS_GOOD(pa_context_get_state(m_pContext)))
                pa_context_disconnect(m_pContext);
            pa_context_unref(m_pContext);
            m_pContext = nullptr;
        }
        m_bConnected = false;
    }
    // Joins the mainloop thread; it never waits for this thread, so this
    // returns promptly even when the server is gone.
    pa_threaded_mainloop_stop(m_pMainloop);
    pa_threaded_mainloop_free(m_pMainloop);
    m_pMainloop = nullptr;
}

std::string PulseWaveInDriver::ContextError() const
{
    if (!m_pContext)
        return "no connection";
    // The lock is recursive, so callers that hold it already may call this.
    MainloopLock lock(m_pMainloop);
    return pa_strerror(pa_context_errno(m_pContext));
}

void PulseWaveInDriver::OnContextState(pa_context *pContext, void *pUser)
{
    auto *pThis = static_cast<PulseWaveInDriver *>(pUser);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(pContext)))
        pThis->MarkBroken();
    pa_threaded_mainloop_signal(pThis->m_pMainloop, 0);
}

void PulseWaveInDriver::OnStreamState(pa_stream *pStream, void *pUser)
{
    auto *pThis = static_cast<PulseWaveInDriver *>(pUser);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(pStream)))
        pThis->MarkBroken();
    pa_threaded_mainloop_signal(pThis->m_pMainloop, 0);
}

void PulseWaveInDriver::OnStreamRead(pa_stream *pStream, size_t /*nBytes*/, void *pUser)
{
    auto *pThis = static_cast<PulseWaveInDriver *>(pUser);
    bool bAny = false;
    for (;;) {
        const void *pData = nullptr;
        size_t nBytes = 0;
        if (pa_stream_peek(pStream, &pData, &nBytes) < 0 || nBytes == 0)
            break;
        // A hole (no data but a length) is skipped: nothing was recorded there.
        if (pData) {
            pThis->PushFifo(static_cast<const uint8_t *>(pData), nBytes);
            bAny = true;
        }
        pa_stream_drop(pStream);
    }
    if (bAny)
        pThis->RequestPoll();
}

void PulseWaveInDriver::OnTimeout(pa_mainloop_api * /*pApi*/, pa_time_event * /*pEvent*/,
                                  const struct timeval * /*pTime*/, void *pUser)
{
    auto *pThis = static_cast<PulseWaveInDriver *>(pUser);
    pThis->m_bTimedOut = true;
    pa_threaded_mainloop_signal(pThis->m_pMainloop, 0);
}

void PulseWaveInDriver::OnSubscription(pa_context *pContext, int nEvent, uint32_t /*nIndex*/,
                                       void *pUser)
{
    // A new default sink shows as a change of the server; a sink that comes
    // or goes may make another one the default. Other changes of sinks
    // (volume, state) come often and change nothing here.
    const int nFacility = nEvent & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const int nType = nEvent & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (nFacility != PA_SUBSCRIPTION_EVENT_SERVER &&
        !(nFacility == PA_SUBSCRIPTION_EVENT_SINK && nType != PA_SUBSCRIPTION_EVENT_CHANGE))
        return;
    if (pa_operation *pOp =
            pa_context_get_server_info(pContext, &PulseWaveInDriver::OnServerInfo, pUser))
        pa_operation_unref(pOp);
}

void PulseWaveInDriver::OnServerInfo(pa_context *pContext, const pa_server_info *pInfo, void *pUser)
{
    auto *pThis = static_cast<PulseWaveInDriver *>(pUser);
    pThis->m_strDefaultSink =
        pInfo && pInfo->default_sink_name ? pInfo->default_sink_name : std::string();
    // After the open, a new default sink: find its monitor. No default sink
    // at all: nothing plays, which the user-interface thread shows as a
    // device error.
    if (pThis->m_bConnected && pThis->m_strDefaultSink != pThis->m_strFollowedSink) {
        pThis->m_strFollowedSink = pThis->m_strDefaultSink;
        if (pThis->m_strFollowedSink.empty()) {
            pThis->m_bNoOutput.store(true);
            pThis->RequestPoll();
        } else if (pa_operation *pOp =
                       pa_context_get_sink_info_by_name(pContext, pThis->m_strFollowedSink.c_str(),
                                                        &PulseWaveInDriver::OnSinkInfo, pUser)) {
            pa_operation_unref(pOp);
        }
    }
    pa_threaded_mainloop_signal(pThis->m_pMainloop, 0);
}

void PulseWaveInDriver::OnSinkInfo(pa_context * /*pContext*/, const pa_sink_info *pInfo,
                                   int /*nEol*/, void *pUser)
{
    auto *pThis = static_cast<PulseWaveInDriver *>(pUser);
    // A sink that went before the answer came: its successor's event follows.
    // A server without a chosen default names it "@DEFAULT_SINK@" and
    // answers with the sink it plays to.
    if (pInfo && pInfo->monitor_source_name && pInfo->name &&
        (pThis->m_strFollowedSink == pInfo->name || pThis->m_strFollowedSink.starts_with('@'))) {
        pThis->m_strMonitor = pInfo->monitor_source_name;
        if (pThis->m_bConnected) {
            pThis->m_bFollowWanted.store(true);
            pThis->RequestPoll();
        }
    }
    pa_threaded_mainloop_signal(pThis->m_pMainloop, 0);
}
