#include "audio/input/BlockQueueWaveInDriver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <cstring>

namespace {
QEvent::Type NoticeEventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
} // namespace

// One notice on its way to the user-interface thread, stamped with the
// generation it was posted in.
struct BlockQueueWaveInDriver::NoticeEvent : QEvent
{
    NoticeEvent(Notice kind_, uint64_t generation_, WaveHeader *pHdr_)
        : QEvent(NoticeEventType()), kind(kind_), generation(generation_), pHdr(pHdr_)
    {}
    Notice kind;
    uint64_t generation;
    WaveHeader *pHdr;
};

// Receives the notices on the thread it was created on.
class BlockQueueWaveInDriver::Notifier : public QObject
{
public:
    explicit Notifier(BlockQueueWaveInDriver *pDriver) : m_pDriver(pDriver) {}
    bool event(QEvent *pEvent) override
    {
        if (pEvent->type() != NoticeEventType())
            return QObject::event(pEvent);
        m_pDriver->Dispatch(*static_cast<NoticeEvent *>(pEvent));
        return true;
    }

private:
    BlockQueueWaveInDriver *m_pDriver; // the owner
};

BlockQueueWaveInDriver::BlockQueueWaveInDriver() : m_pNotifier(std::make_unique<Notifier>(this)) {}

// A derived driver closes its source in its own destructor; by now only the
// queue and the notices remain, and the notices die with m_pNotifier.
BlockQueueWaveInDriver::~BlockQueueWaveInDriver() = default;

bool BlockQueueWaveInDriver::IsPlainPcmFormat(const WaveFormat &format, std::string *pWhy)
{
    auto refuse = [pWhy](const char *why) {
        if (pWhy)
            *pWhy = why;
        return false;
    };
    if (format.wFormatTag != 1)
        return refuse("only PCM samples are supported");
    if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16)
        return refuse("only 8-bit or 16-bit samples are supported");
    if (format.nChannels != 1 && format.nChannels != 2)
        return refuse("only one or two channels are supported");
    if (format.nSamplesPerSec < 1000 || format.nSamplesPerSec > 192000)
        return refuse("the sample rate must lie between 1000 and 192000 Hz");
    if (format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8)
        return refuse("the block alignment does not match the channels and bits");
    return true;
}

bool BlockQueueWaveInDriver::Open(const WaveFormat &format, IWaveInClient *pClient)
{
    Q_ASSERT(OnUiThread());
    if (m_bOpen) {
        m_strError = "the wave input is already open";
        return false;
    }
    if (!IsFormatSupported(format)) {
        std::string why;
        IsPlainPcmFormat(format, &why);
        m_strError = "unsupported wave format" + (why.empty() ? std::string() : ": " + why);
        return false;
    }
    m_strError.clear();
    m_format = format;
    m_pClient = pClient;
    m_nPosition = 0;
    m_bRunning = false;
    m_bFailed = false;
    ++m_nGeneration;
    if (!OpenSource(format)) {
        if (m_strError.empty())
            m_strError = "the wave input could not be opened";
        m_pClient = nullptr;
        return false;
    }
    m_bOpen = true;
    return true;
}

bool BlockQueueWaveInDriver::PrepareHeader(WaveHeader *pHdr)
{
    if (!m_bOpen || !pHdr || !pHdr->lpData || (pHdr->dwFlags & WHDR_INQUEUE))
        return false;
    pHdr->dwFlags |= WHDR_PREPARED;
    return true;
}

bool BlockQueueWaveInDriver::UnprepareHeader(WaveHeader *pHdr)
{
    if (!m_bOpen || !pHdr || (pHdr->dwFlags & WHDR_INQUEUE))
        return false;
    pHdr->dwFlags &= ~WHDR_PREPARED;
    return true;
}

bool BlockQueueWaveInDriver::AddBuffer(WaveHeader *pHdr)
{
    Q_ASSERT(OnUiThread());
    if (!m_bOpen || !pHdr || !(pHdr->dwFlags & WHDR_PREPARED) || (pHdr->dwFlags & WHDR_INQUEUE))
        return false;
    if (m_bFailed)
        return false; // m_strError still says why the stream broke
    // A block that cannot hold one whole frame would never be filled.
    if (pHdr->dwBufferLength < FrameBytes()) {
        m_strError = "the block is smaller than one frame";
        return false;
    }
    pHdr->dwBytesRecorded = 0;
    pHdr->dwFlags = (pHdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    m_queue.push_back(pHdr);
    return true;
}

bool BlockQueueWaveInDriver::Start()
{
    Q_ASSERT(OnUiThread());
    if (!m_bOpen || m_bFailed)
        return false;
    if (m_bRunning)
        return true;
    if (!StartSource())
        return false;
    m_bRunning = true;
    return true;
}

bool BlockQueueWaveInDriver::Stop()
{
    Q_ASSERT(OnUiThread());
    if (!m_bOpen)
        return false;
    if (m_bRunning) {
        // What was recorded before the stop still belongs in the blocks.
        PollSource();
        m_bRunning = false;
        StopSource();
    }
    return true;
}

bool BlockQueueWaveInDriver::Reset()
{
    Q_ASSERT(OnUiThread());
    if (!m_bOpen)
        return false;
    Stop();
    GiveBackQueue();
    ++m_nGeneration;
    return true;
}

bool BlockQueueWaveInDriver::Close()
{
    Q_ASSERT(OnUiThread());
    if (!m_bOpen)
        return true;
    Reset();
    CloseSource();
    m_bOpen = false;
    m_bRunning = false;
    m_pClient = nullptr;
    ++m_nGeneration;
    return true;
}

void BlockQueueWaveInDriver::CloseQuietly()
{
    if (!m_bOpen)
        return;
    m_queue.clear();
    if (m_bRunning) {
        m_bRunning = false;
        StopSource();
    }
    CloseSource();
    m_bOpen = false;
    m_pClient = nullptr;
    ++m_nGeneration;
}

bool BlockQueueWaveInDriver::GetPosition(uint64_t *pFrames)
{
    Q_ASSERT(OnUiThread());
    if (!m_bOpen || !pFrames)
        return false;
    if (m_bRunning)
        PollSource();
    *pFrames = m_nPosition;
    return true;
}

uint32_t BlockQueueWaveInDriver::Deliver(const uint8_t *pFrames, uint32_t nFrames)
{
    Q_ASSERT(OnUiThread());
    if (!m_bOpen || !m_bRunning)
        return 0;
    const uint32_t frameBytes = FrameBytes();
    uint32_t nStored = 0;
    while (nStored < nFrames && !m_queue.empty()) {
        WaveHeader *pHdr = m_queue.front();
        // Only whole frames go into a block; a tail shorter than one frame
        // stays unused.
        const uint32_t capacity = pHdr->dwBufferLength / frameBytes;
        const uint32_t filled = pHdr->dwBytesRecorded / frameBytes;
        const uint32_t n = std::min(capacity - filled, nFrames - nStored);
        std::memcpy(pHdr->lpData + pHdr->dwBytesRecorded,
                    pFrames + static_cast<size_t>(nStored) * frameBytes,
                    static_cast<size_t>(n) * frameBytes);
        pHdr->dwBytesRecorded += n * frameBytes;
        nStored += n;
        m_nPosition += n;
        if (filled + n == capacity) {
            m_queue.pop_front();
            pHdr->dwFlags = (pHdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
            Post(Notice::Data, pHdr);
        }
    }
    return nStored;
}

uint32_t BlockQueueWaveInDriver::FramesToFillFront() const
{
    if (m_queue.empty())
        return 0;
    const WaveHeader *pHdr = m_queue.front();
    return pHdr->dwBufferLength / FrameBytes() - pHdr->dwBytesRecorded / FrameBytes();
}

void BlockQueueWaveInDriver::ReportFailure(const std::string &strWhy)
{
    Q_ASSERT(OnUiThread());
    if (!m_bOpen || m_bFailed)
        return;
    m_bFailed = true;
    m_strError = strWhy;
    if (m_bRunning) {
        m_bRunning = false;
        StopSource();
    }
    Post(Notice::Failed);
}

void BlockQueueWaveInDriver::RequestPoll()
{
    if (!m_bPollPending.exchange(true))
        Post(Notice::Poll);
}

void BlockQueueWaveInDriver::Post(Notice kind, WaveHeader *pHdr)
{
    // The generation is read only for user-interface notices; a poll request
    // from another thread carries none.
    const uint64_t generation = kind == Notice::Poll ? 0 : m_nGeneration;
    QCoreApplication::postEvent(m_pNotifier.get(), new NoticeEvent(kind, generation, pHdr));
}

void BlockQueueWaveInDriver::Dispatch(const NoticeEvent &notice)
{
    switch (notice.kind) {
    case Notice::Poll:
        // Cleared before polling, so that data arriving during the poll asks
        // for another one.
        m_bPollPending.store(false);
        if (m_bOpen)
            PollSource();
        break;
    case Notice::Data:
        if (notice.generation == m_nGeneration && m_pClient)
            m_pClient->OnWaveInData(notice.pHdr);
        break;
    case Notice::Failed:
        if (notice.generation == m_nGeneration && m_pClient)
            m_pClient->OnWaveInFailed();
        break;
    }
}

void BlockQueueWaveInDriver::GiveBackQueue()
{
    for (WaveHeader *pHdr : m_queue)
        pHdr->dwFlags = (pHdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    m_queue.clear();
}

bool BlockQueueWaveInDriver::OnUiThread() const
{
    return QThread::currentThread() == m_pNotifier->thread();
}
