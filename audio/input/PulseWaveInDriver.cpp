#include "audio/input/PulseWaveInDriver.h"

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

PulseWaveInDriver::PulseWaveInDriver() = default;

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
    m_bTimedOut = false;
    m_bConnected = false;

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

    m_pMainloop = pa_threaded_mainloop_new();
    if (!m_pMainloop)
        return fail("cannot create the PulseAudio mainloop");
    m_pContext = pa_context_new(pa_threaded_mainloop_get_api(m_pMainloop), "Vexlor");
    if (!m_pContext)
        return fail("cannot create a PulseAudio context");
    pa_context_set_state_callback(m_pContext, &PulseWaveInDriver::OnContextState, this);
    // Never start a server of our own: without one, opening fails.
    if (pa_context_connect(m_pContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return fail("cannot connect to the sound server: " + ContextError());
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
        if (why.empty())
            why = ConnectStream(format);
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

std::string PulseWaveInDriver::ConnectStream(const WaveFormat &format)
{
    pa_sample_spec sampleFormat;
    sampleFormat.format = SampleFormatFor(format);
    sampleFormat.rate = format.nSamplesPerSec;
    sampleFormat.channels = static_cast<uint8_t>(format.nChannels);
    // No channel map: the default one for the channel count (left and right
    // for two), to which the server maps the source's channels.
    m_pStream = pa_stream_new(m_pContext, "Vexlor capture", &sampleFormat, nullptr);
    if (!m_pStream)
        return "cannot create a record stream: " + ContextError();
    pa_stream_set_state_callback(m_pStream, &PulseWaveInDriver::OnStreamState, this);
    pa_stream_set_read_callback(m_pStream, &PulseWaveInDriver::OnStreamRead, this);

    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize =
        static_cast<uint32_t>(pa_usec_to_bytes(kFragmentMs * PA_USEC_PER_MSEC, &sampleFormat));
    // The device name null is the server's default source. Corked until
    // Start, as a wave input records only once started.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
    if (pa_stream_connect_record(m_pStream, nullptr, &attr, flags) < 0)
        return "cannot record from the default source: " + ContextError();

    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(m_pStream);
        if (state == PA_STREAM_READY)
            return {};
        if (!PA_STREAM_IS_GOOD(state))
            return "cannot record from the default source: " + ContextError();
        if (m_bTimedOut)
            return "timed out opening a record stream on the sound server";
        pa_threaded_mainloop_wait(m_pMainloop);
    }
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
        if (m_pStream) {
            pa_stream_set_state_callback(m_pStream, nullptr, nullptr);
            pa_stream_set_read_callback(m_pStream, nullptr, nullptr);
            if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_pStream)))
                pa_stream_disconnect(m_pStream);
            pa_stream_unref(m_pStream);
            m_pStream = nullptr;
        }
        if (m_pContext) {
            pa_context_set_state_callback(m_pContext, nullptr, nullptr);
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
