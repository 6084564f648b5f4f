#pragma once

#include "audio/input/WaveInDriver.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

// What every wave-input driver of ours shares: the queue of caller-supplied
// blocks, the copy of recorded frames into them in queue order, the count of
// frames recorded since open, and the notices to the client.
//
// A derived driver only produces frames, already in the format it was opened
// with, and hands them to Deliver on the user-interface thread. Notices go
// through the Qt event loop, so the client is never called from inside a call
// into the driver. Reset and Close cancel notices that were posted but not yet
// delivered: each notice carries the generation it was posted in, and both
// start a new generation.
//
// Destroying an open driver closes it without writing to the headers still
// queued (the caller may have freed them first).
//
// The driver must be constructed, used and destroyed on the user-interface
// thread (the thread whose event loop delivers the notices). The only
// exception is RequestPoll, which any thread may call.
class BlockQueueWaveInDriver : public IWaveInDriver
{
public:
    BlockQueueWaveInDriver();
    ~BlockQueueWaveInDriver() override;
    BlockQueueWaveInDriver(const BlockQueueWaveInDriver &) = delete;
    BlockQueueWaveInDriver &operator=(const BlockQueueWaveInDriver &) = delete;

    bool Open(const WaveFormat &format, IWaveInClient *pClient) override;
    bool IsOpen() const override { return m_bOpen; }
    bool PrepareHeader(WaveHeader *pHdr) override;
    bool UnprepareHeader(WaveHeader *pHdr) override;
    bool AddBuffer(WaveHeader *pHdr) override;
    // Starting a running driver is harmless.
    bool Start() override;
    // Stops recording; the queued blocks stay queued (a partly filled block
    // keeps what it holds and is filled on after the next Start).
    bool Stop() override;
    // Gives back every queued block (flags WHDR_DONE, the bytes recorded so
    // far kept) without notices, and cancels notices not yet delivered.
    bool Reset() override;
    // Resets, then closes. Closing a driver that is not open succeeds.
    bool Close() override;
    // Frames written into blocks since Open; frames that arrived while no
    // block was queued are not counted. Polls the source first, so the
    // position includes the freshest data.
    bool GetPosition(uint64_t *pFrames) override;
    std::string LastError() const override { return m_strError; }

    bool IsRunning() const { return m_bRunning; }
    bool HasFailed() const { return m_bFailed; }
    int QueuedBlocks() const { return static_cast<int>(m_queue.size()); }

    // The format check shared by our drivers: PCM, 8 or 16 bits, one or two
    // channels, 1000 to 192000 frames per second, block alignment matching.
    // On refusal the reason goes to *pWhy when given.
    static bool IsPlainPcmFormat(const WaveFormat &format, std::string *pWhy = nullptr);

protected:
    // Opens the source for the stored format. On failure returns false after
    // SetLastError; the base then stays closed.
    virtual bool OpenSource(const WaveFormat &format) = 0;
    // Releases the source. Called only while open; must not fail.
    virtual void CloseSource() = 0;
    virtual bool StartSource() = 0;
    virtual void StopSource() = 0;
    // Hands everything the source has produced so far to Deliver. Called on
    // the user-interface thread from GetPosition, Stop and after RequestPoll.
    virtual void PollSource() = 0;

    // Copies whole frames in the opened format into the queued blocks, in
    // queue order; a full block is flagged WHDR_DONE and its notice posted.
    // Frames beyond the queued space, or arriving while stopped, are dropped.
    // User-interface thread only. Returns the number of frames stored.
    uint32_t Deliver(const uint8_t *pFrames, uint32_t nFrames);
    // For destructors of derived drivers: closes like Close, but forgets the
    // queued blocks without writing to their headers, which the caller may
    // already have freed.
    void CloseQuietly();
    // The stream broke: stop recording for good and post OnWaveInFailed once.
    // User-interface thread only.
    void ReportFailure(const std::string &strWhy);
    // Asks for one PollSource call on the user-interface thread. Thread-safe;
    // calls made while one is already pending are merged into it.
    void RequestPoll();
    void SetLastError(std::string strError) { m_strError = std::move(strError); }
    const WaveFormat &Format() const { return m_format; }
    // Bytes per frame of the opened format.
    uint32_t FrameBytes() const { return m_format.nBlockAlign; }
    // Frames still missing from the oldest queued block; 0 with none queued.
    uint32_t FramesToFillFront() const;

private:
    class Notifier;
    struct NoticeEvent;
    enum class Notice
    {
        Data,
        Failed,
        Poll
    };

    // Posts a notice to the user-interface thread. Thread-safe.
    void Post(Notice kind, WaveHeader *pHdr = nullptr);
    // Runs a notice on the user-interface thread.
    void Dispatch(const NoticeEvent &notice);
    void GiveBackQueue();
    bool OnUiThread() const;

    // Lives on the user-interface thread; the notices are posted to it, so
    // destroying the driver discards any still pending.
    std::unique_ptr<Notifier> m_pNotifier;
    WaveFormat m_format;
    IWaveInClient *m_pClient = nullptr; // not owned
    std::deque<WaveHeader *> m_queue;   // the caller's headers, oldest first
    uint64_t m_nPosition = 0;
    uint64_t m_nGeneration = 0;
    bool m_bOpen = false;
    bool m_bRunning = false;
    bool m_bFailed = false;
    std::atomic<bool> m_bPollPending{false};
    std::string m_strError;
};
