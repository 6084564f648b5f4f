#include "audio/input/BlockQueueWaveInDriver.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {
using Frames = std::vector<uint8_t>;

// A driver whose frames come from the test: Push hands frames to Deliver at
// once; m_pending waits for the next PollSource.
class ScriptedDriver : public BlockQueueWaveInDriver
{
public:
    ~ScriptedDriver() override { CloseQuietly(); }
    bool IsFormatSupported(const WaveFormat &format) override { return IsPlainPcmFormat(format); }

    uint32_t Push(const Frames &f) { return Deliver(f.data(), uint32_t(f.size() / FrameBytes())); }
    void Fail(const std::string &why) { ReportFailure(why); }
    void AskForPoll() { RequestPoll(); }

    bool m_bFailOpen = false;
    int m_nOpens = 0, m_nCloses = 0, m_nStarts = 0, m_nStops = 0, m_nPolls = 0;
    Frames m_pending; // for the next poll

protected:
    bool OpenSource(const WaveFormat &) override
    {
        ++m_nOpens;
        if (m_bFailOpen)
            SetLastError("scripted open failure");
        return !m_bFailOpen;
    }
    void CloseSource() override { ++m_nCloses; }
    bool StartSource() override { return ++m_nStarts, true; }
    void StopSource() override { ++m_nStops; }
    void PollSource() override
    {
        ++m_nPolls;
        if (!m_pending.empty())
            Push(std::exchange(m_pending, {}));
    }
};

WaveFormat Format(uint32_t rate, uint16_t bits, uint16_t channels)
{
    const uint16_t align = uint16_t(bits * channels / 8);
    return {1, channels, rate, rate * align, align, bits};
}

// Frames of 16-bit stereo: frame i holds left = base + i, right = -(base + i);
// then 0x5A bytes, as in an untouched block, up to nBytes.
Frames StereoFrames(int base, int count, size_t nBytes = 0)
{
    Frames bytes;
    for (int v = base; v < base + count; ++v)
        for (int s : {v, -v})
            bytes.insert(bytes.end(), {uint8_t(s), uint8_t(s >> 8)});
    bytes.resize(std::max(bytes.size(), nBytes), 0x5A);
    return bytes;
}

// A caller-supplied block with its memory, pre-filled with 0x5A so that
// untouched bytes show.
struct Block
{
    explicit Block(uint32_t bytes) : memory(bytes, 0x5A), hdr{memory.data(), bytes} {}
    Frames memory;
    WaveHeader hdr;
};

// The fixture is the client: it records the notices it gets.
class BlockQueueTest : public ::testing::Test, public IWaveInClient
{
protected:
    void OnWaveInData(WaveHeader *pHdr) override { m_returned.push_back(pHdr); }
    void OnWaveInFailed() override { ++m_nFailed; }
    static void DeliverPostedNotices() { QCoreApplication::sendPostedEvents(); }
    void SetUp() override { DeliverPostedNotices(); }
    void OpenStereo() { ASSERT_TRUE(m_driver.Open(Format(8000, 16, 2), this)); }
    // Queues new blocks of the given sizes (they outlive the driver, as the
    // caller's blocks must while they are queued) and starts recording.
    std::vector<Block *> QueueAndStart(std::initializer_list<uint32_t> sizes,
                                       ScriptedDriver *pDriver = nullptr)
    {
        ScriptedDriver &driver = pDriver ? *pDriver : m_driver;
        std::vector<Block *> blocks;
        for (uint32_t bytes : sizes) {
            blocks.push_back(&m_blocks.emplace_back(bytes));
            EXPECT_TRUE(driver.PrepareHeader(&blocks.back()->hdr) &&
                        driver.AddBuffer(&blocks.back()->hdr));
        }
        EXPECT_TRUE(driver.Start());
        return blocks;
    }
    uint64_t Position(ScriptedDriver *pDriver = nullptr)
    {
        uint64_t pos = ~uint64_t(0);
        EXPECT_TRUE((pDriver ? pDriver : &m_driver)->GetPosition(&pos));
        return pos;
    }

    std::vector<WaveHeader *> m_returned;
    int m_nFailed = 0;
    std::deque<Block> m_blocks;
    ScriptedDriver m_driver;
};
} // namespace

TEST_F(BlockQueueTest, FillsWholeFramesIntoBlocksInQueueOrderWithNoticesThroughTheEventLoop)
{
    OpenStereo();
    // Four frames; two frames and two spare bytes; four frames.
    const auto blocks = QueueAndStart({16, 10, 16});
    const Block &a = *blocks[0], &b = *blocks[1], &c = *blocks[2];
    EXPECT_EQ(m_driver.Push(StereoFrames(100, 3)), 3u);
    EXPECT_EQ(m_driver.Push(StereoFrames(103, 6)), 6u); // split across a, b and c
    EXPECT_EQ(a.memory, StereoFrames(100, 4));
    EXPECT_EQ(b.memory, StereoFrames(104, 2, 10)); // the spare bytes untouched
    EXPECT_EQ(c.memory, StereoFrames(106, 3, 16)); // the fourth frame not yet
    EXPECT_EQ(b.hdr.dwBytesRecorded, 8u);
    EXPECT_EQ(c.hdr.dwBytesRecorded, 12u);
    EXPECT_EQ(a.hdr.dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(b.hdr.dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(c.hdr.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
    EXPECT_EQ(Position(), 9u);

    EXPECT_TRUE(m_returned.empty()); // not from inside a driver call
    DeliverPostedNotices();
    EXPECT_EQ(m_returned, (std::vector<WaveHeader *>{&blocks[0]->hdr, &blocks[1]->hdr}));

    // Eight-bit mono frames are single bytes.
    ASSERT_TRUE(m_driver.Close());
    ASSERT_TRUE(m_driver.Open(Format(11025, 8, 1), this));
    const Block &mono = *QueueAndStart({3})[0];
    EXPECT_EQ(m_driver.Push({0x10, 0x80, 0xF0, 0x33}), 3u);
    EXPECT_EQ(mono.memory, (Frames{0x10, 0x80, 0xF0}));
    EXPECT_EQ(Position(), 3u);
}

TEST_F(BlockQueueTest, FramesWithoutABlockOrWhileStoppedAreDroppedAndNotCounted)
{
    OpenStereo();
    const Block &a = *QueueAndStart({24})[0];
    ASSERT_TRUE(m_driver.Start()); // harmless when running
    EXPECT_EQ(m_driver.m_nStarts, 1);
    EXPECT_EQ(m_driver.Push(StereoFrames(10, 2)), 2u);
    ASSERT_TRUE(m_driver.Stop());
    EXPECT_EQ(m_driver.Push(StereoFrames(20, 1)), 0u);
    // Stopping keeps the block queued; recording goes on filling it.
    EXPECT_EQ(a.hdr.dwFlags & (WHDR_INQUEUE | WHDR_DONE), WHDR_INQUEUE);
    ASSERT_TRUE(m_driver.Start());
    EXPECT_EQ(m_driver.Push(StereoFrames(12, 5)), 4u); // the fifth finds no block
    EXPECT_EQ(a.memory, StereoFrames(10, 6));
    EXPECT_EQ(Position(), 6u);
}

// The source is polled by GetPosition, by Stop, and once for any number of
// requests, from any thread, made before the poll is served.
TEST_F(BlockQueueTest, TheSourceIsPolledByGetPositionStopAndMergedRequests)
{
    OpenStereo();
    const Block &a = *QueueAndStart({400})[0];
    m_driver.m_pending = StereoFrames(0, 30);
    EXPECT_EQ(Position(), 30u);
    m_driver.m_pending = StereoFrames(30, 2);
    const int nPolls = m_driver.m_nPolls;
    for (int i = 0; i < 5; ++i) { // from this thread and another
        m_driver.AskForPoll();
        std::thread([this] { m_driver.AskForPoll(); }).join();
    }
    DeliverPostedNotices();
    EXPECT_EQ(m_driver.m_nPolls, nPolls + 1);
    EXPECT_EQ(a.hdr.dwBytesRecorded, 32u * 4);
    std::thread again([this] { m_driver.AskForPoll(); });
    again.join();
    DeliverPostedNotices();
    EXPECT_EQ(m_driver.m_nPolls, nPolls + 2);
    m_driver.m_pending = StereoFrames(32, 2);
    ASSERT_TRUE(m_driver.Stop());
    EXPECT_EQ(a.memory, StereoFrames(0, 34, 400));
}

// Reset, Close and destroying the driver cancel notices posted but not yet
// delivered; Reset and Close give the queued blocks back (the bytes recorded
// kept), the destructor leaves them alone.
TEST_F(BlockQueueTest, ResetCloseAndDestructionCancelPendingNotices)
{
    for (const char *how : {"reset", "closed", "destroyed"}) {
        SCOPED_TRACE(how);
        const bool bReset = how[0] == 'r', bDestroy = how[0] == 'd';
        auto pDriver = std::make_unique<ScriptedDriver>();
        ASSERT_TRUE(pDriver->Open(Format(8000, 16, 2), this));
        Block &b = *QueueAndStart({8, 16}, pDriver.get())[1];
        pDriver->Push(StereoFrames(0, 3)); // the first full (its notice posted), b holds one frame
        if (!bReset)
            pDriver->Fail("gone"); // its notice is cancelled too
        if (bReset)
            ASSERT_TRUE(pDriver->Reset());
        else if (bDestroy)
            pDriver.reset();
        else
            ASSERT_TRUE(pDriver->Close());
        DeliverPostedNotices();
        EXPECT_TRUE(m_returned.empty());
        EXPECT_EQ(m_nFailed, 0);
        EXPECT_EQ(b.hdr.dwFlags, WHDR_PREPARED | (bDestroy ? WHDR_INQUEUE : WHDR_DONE));
        EXPECT_EQ(b.hdr.dwBytesRecorded, 4u);
        if (bDestroy)
            continue;
        EXPECT_FALSE(pDriver->IsRunning());
        if (!bReset) {
            EXPECT_FALSE(pDriver->IsOpen());
            ASSERT_TRUE(pDriver->Close()); // closing again is harmless
            EXPECT_EQ(pDriver->m_nCloses, 1);
            // Reopened, the position counts from zero.
            ASSERT_TRUE(pDriver->Open(Format(8000, 16, 2), this));
            EXPECT_EQ(Position(pDriver.get()), 0u);
            continue;
        }
        // The given-back blocks are never written again; the position still
        // counts from the open.
        const Frames before = b.memory;
        ASSERT_TRUE(pDriver->Start());
        EXPECT_EQ(pDriver->Push(StereoFrames(90, 4)), 0u);
        EXPECT_EQ(b.memory, before);
        EXPECT_EQ(Position(pDriver.get()), 3u);
        // A block queued after the reset is filled and returned as usual.
        Block &d = *QueueAndStart({4}, pDriver.get())[0];
        pDriver->Push(StereoFrames(5, 1));
        DeliverPostedNotices();
        EXPECT_EQ(m_returned, std::vector<WaveHeader *>{&d.hdr});
        m_returned.clear();
    }
}

TEST_F(BlockQueueTest, OpenHeaderAndFormatRules)
{
    Block &a = m_blocks.emplace_back(16), &tiny = m_blocks.emplace_back(3); // tiny: < 1 frame
    EXPECT_FALSE(m_driver.PrepareHeader(&a.hdr));                           // not open
    EXPECT_FALSE(m_driver.AddBuffer(&a.hdr));
    // Open refuses a bad format, and a failing source.
    EXPECT_FALSE(m_driver.Open(Format(8000, 24, 2), this));
    EXPECT_NE(m_driver.LastError().find("8-bit or 16-bit"), std::string::npos);
    EXPECT_EQ(m_driver.m_nOpens, 0);
    m_driver.m_bFailOpen = true;
    EXPECT_FALSE(m_driver.Open(Format(8000, 16, 2), this));
    EXPECT_EQ(m_driver.LastError(), "scripted open failure");
    uint64_t pos = 0;
    EXPECT_FALSE(m_driver.GetPosition(&pos)); // not open
    EXPECT_FALSE(m_driver.Start());
    EXPECT_FALSE(m_driver.Stop());
    m_driver.m_bFailOpen = false;
    OpenStereo();
    EXPECT_TRUE(m_driver.LastError().empty());
    EXPECT_FALSE(m_driver.Open(Format(8000, 16, 2), this)); // a second open
    EXPECT_TRUE(m_driver.IsOpen());

    EXPECT_FALSE(m_driver.AddBuffer(&a.hdr)); // not prepared
    ASSERT_TRUE(m_driver.PrepareHeader(&a.hdr));
    EXPECT_EQ(a.hdr.dwFlags, WHDR_PREPARED);
    ASSERT_TRUE(m_driver.AddBuffer(&a.hdr));
    EXPECT_FALSE(m_driver.AddBuffer(&a.hdr));       // already queued
    EXPECT_FALSE(m_driver.UnprepareHeader(&a.hdr)); // still queued
    ASSERT_TRUE(m_driver.Reset());
    EXPECT_TRUE(m_driver.UnprepareHeader(&a.hdr));
    EXPECT_EQ(a.hdr.dwFlags, WHDR_DONE);

    ASSERT_TRUE(m_driver.PrepareHeader(&tiny.hdr));
    EXPECT_FALSE(m_driver.AddBuffer(&tiny.hdr));
    EXPECT_FALSE(m_driver.LastError().empty());

    // Queueing again clears the old recording.
    ASSERT_TRUE(m_driver.PrepareHeader(&a.hdr));
    a.hdr.dwBytesRecorded = 12;
    ASSERT_TRUE(m_driver.AddBuffer(&a.hdr));
    EXPECT_EQ(a.hdr.dwBytesRecorded, 0u);
    EXPECT_EQ(a.hdr.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);

    // The format check: PCM, 8 or 16 bits, one or two channels, 1000 to
    // 192000 frames per second, the block alignment matching.
    WaveFormat misaligned = Format(22050, 16, 2), adpcm = Format(22050, 16, 2);
    misaligned.nBlockAlign = 2;
    adpcm.wFormatTag = 2;
    // clang-format off
    const std::pair<WaveFormat, bool> cases[] = {
        {Format(44100, 16, 2), true}, {Format(22050, 8, 1), true}, {Format(1000, 8, 2), true},
        {Format(192000, 16, 1), true}, {Format(999, 16, 2), false},
        {Format(192001, 16, 2), false}, {Format(22050, 16, 3), false},
        {Format(22050, 16, 0), false}, {Format(22050, 32, 2), false}, {misaligned, false},
        {adpcm, false},
    };
    // clang-format on
    for (const auto &[format, bAccepted] : cases) {
        std::string why;
        EXPECT_EQ(BlockQueueWaveInDriver::IsPlainPcmFormat(format, &why), bAccepted)
            << format.nSamplesPerSec << " Hz " << format.wBitsPerSample << " bits "
            << format.nChannels;
        EXPECT_EQ(why.empty(), bAccepted);
    }
}

TEST_F(BlockQueueTest, AFailureStopsRecordingAndIsReportedOnce)
{
    OpenStereo();
    QueueAndStart({16});
    m_driver.Push(StereoFrames(0, 1));
    m_driver.Fail("the server went away");
    m_driver.Fail("again");
    EXPECT_EQ(m_nFailed, 0); // only through the event loop
    EXPECT_EQ(m_driver.LastError(), "the server went away");
    EXPECT_EQ(m_driver.m_nStops, 1);
    EXPECT_EQ(m_driver.Push(StereoFrames(1, 1)), 0u);
    EXPECT_FALSE(m_driver.Start());
    Block &b = m_blocks.emplace_back(16);
    ASSERT_TRUE(m_driver.PrepareHeader(&b.hdr));
    EXPECT_FALSE(m_driver.AddBuffer(&b.hdr));

    DeliverPostedNotices();
    EXPECT_EQ(m_nFailed, 1);
    EXPECT_TRUE(m_returned.empty());
    EXPECT_TRUE(m_driver.Close());
}
