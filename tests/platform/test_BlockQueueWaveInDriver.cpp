#include "platform/BlockQueueWaveInDriver.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <thread>
#include <vector>

namespace {
// A driver whose frames come from the test: Push hands frames to Deliver at
// once; Queue keeps them until the next PollSource.
class ScriptedDriver : public BlockQueueWaveInDriver
{
public:
    ~ScriptedDriver() override { CloseQuietly(); }
    bool IsFormatSupported(const WaveFormat &format) override { return IsPlainPcmFormat(format); }

    uint32_t Push(const std::vector<uint8_t> &frames)
    {
        return Deliver(frames.data(), static_cast<uint32_t>(frames.size() / FrameBytes()));
    }
    void Queue(const std::vector<uint8_t> &frames)
    {
        m_pending.insert(m_pending.end(), frames.begin(), frames.end());
    }
    void Fail(const std::string &why) { ReportFailure(why); }
    void AskForPoll() { RequestPoll(); }

    bool m_bFailOpen = false;
    int m_nOpens = 0, m_nCloses = 0, m_nStarts = 0, m_nStops = 0, m_nPolls = 0;

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
        if (!m_pending.empty()) {
            std::vector<uint8_t> frames;
            frames.swap(m_pending);
            Push(frames);
        }
    }

private:
    std::vector<uint8_t> m_pending;
};

class RecordingClient : public IWaveInClient
{
public:
    void OnWaveInData(WaveHeader *pHdr) override { m_returned.push_back(pHdr); }
    void OnWaveInFailed() override { ++m_nFailed; }
    std::vector<WaveHeader *> m_returned;
    int m_nFailed = 0;
};

WaveFormat Format(uint32_t rate, uint16_t bits, uint16_t channels)
{
    WaveFormat f;
    f.wFormatTag = 1;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<uint16_t>(bits * channels / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

// Frames of 16-bit stereo: frame i holds left = base + i, right = -(base + i).
std::vector<uint8_t> StereoFrames(int base, int count)
{
    std::vector<uint8_t> bytes(size_t(count) * 4);
    for (int i = 0; i < count; ++i) {
        const int16_t lr[2] = {static_cast<int16_t>(base + i), static_cast<int16_t>(-(base + i))};
        std::memcpy(bytes.data() + size_t(i) * 4, lr, 4);
    }
    return bytes;
}

int16_t SampleAt(const std::vector<uint8_t> &block, int frame, int channel)
{
    int16_t s;
    std::memcpy(&s, block.data() + size_t(frame) * 4 + size_t(channel) * 2, 2);
    return s;
}

// A caller-supplied block with its memory, pre-filled with 0x5A so that
// untouched bytes show.
struct Block
{
    explicit Block(uint32_t bytes) : memory(bytes, 0x5A)
    {
        hdr.lpData = memory.data();
        hdr.dwBufferLength = bytes;
    }
    std::vector<uint8_t> memory;
    WaveHeader hdr;
};

void DeliverPostedNotices()
{
    QCoreApplication::sendPostedEvents();
}

class BlockQueueTest : public ::testing::Test
{
protected:
    void SetUp() override { DeliverPostedNotices(); }
    void OpenStereo() { ASSERT_TRUE(m_driver.Open(Format(8000, 16, 2), &m_client)); }
    void Queue(Block &block)
    {
        ASSERT_TRUE(m_driver.PrepareHeader(&block.hdr));
        ASSERT_TRUE(m_driver.AddBuffer(&block.hdr));
    }
    uint64_t Position()
    {
        uint64_t pos = ~uint64_t(0);
        EXPECT_TRUE(m_driver.GetPosition(&pos));
        return pos;
    }

    // A block that outlives the driver, as the caller's blocks must while
    // they are queued.
    Block &NewBlock(uint32_t bytes) { return m_blocks.emplace_back(bytes); }

    RecordingClient m_client;
    std::deque<Block> m_blocks;
    ScriptedDriver m_driver;
};
} // namespace

TEST_F(BlockQueueTest, FillsBlocksInQueueOrderSplittingFramesAcrossThem)
{
    OpenStereo();
    Block &a = NewBlock(16);
    Block &b = NewBlock(16);
    Block &c = NewBlock(16); // four frames each
    Queue(a);
    Queue(b);
    Queue(c);
    ASSERT_TRUE(m_driver.Start());

    EXPECT_EQ(m_driver.Push(StereoFrames(100, 3)), 3u);
    EXPECT_EQ(m_driver.Push(StereoFrames(103, 7)), 7u);

    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(SampleAt(a.memory, i, 0), 100 + i);
        EXPECT_EQ(SampleAt(a.memory, i, 1), -(100 + i));
        EXPECT_EQ(SampleAt(b.memory, i, 0), 104 + i);
        EXPECT_EQ(SampleAt(b.memory, i, 1), -(104 + i));
    }
    EXPECT_EQ(SampleAt(c.memory, 0, 0), 108);
    EXPECT_EQ(SampleAt(c.memory, 1, 1), -109);
    EXPECT_EQ(c.memory[8], 0x5A); // the third frame of c is not written yet
    EXPECT_EQ(a.hdr.dwBytesRecorded, 16u);
    EXPECT_EQ(b.hdr.dwBytesRecorded, 16u);
    EXPECT_EQ(c.hdr.dwBytesRecorded, 8u);
    EXPECT_EQ(a.hdr.dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(b.hdr.dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(c.hdr.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
    EXPECT_EQ(Position(), 10u);
    EXPECT_EQ(m_driver.QueuedBlocks(), 1);
}

TEST_F(BlockQueueTest, NoticesArriveOnlyThroughTheEventLoopInOrder)
{
    OpenStereo();
    Block &a = NewBlock(16);
    Block &b = NewBlock(16);
    Queue(a);
    Queue(b);
    ASSERT_TRUE(m_driver.Start());
    m_driver.Push(StereoFrames(0, 8));
    uint64_t pos = 0;
    m_driver.GetPosition(&pos);
    EXPECT_TRUE(m_client.m_returned.empty()); // not from inside a driver call

    DeliverPostedNotices();
    ASSERT_EQ(m_client.m_returned.size(), 2u);
    EXPECT_EQ(m_client.m_returned[0], &a.hdr);
    EXPECT_EQ(m_client.m_returned[1], &b.hdr);
}

TEST_F(BlockQueueTest, ABlockHoldsOnlyWholeFrames)
{
    OpenStereo();
    Block &a = NewBlock(10); // two frames and two spare bytes
    Block &b = NewBlock(8);
    Queue(a);
    Queue(b);
    ASSERT_TRUE(m_driver.Start());
    m_driver.Push(StereoFrames(1, 3));
    EXPECT_EQ(a.hdr.dwBytesRecorded, 8u);
    EXPECT_TRUE(a.hdr.dwFlags & WHDR_DONE);
    EXPECT_EQ(a.memory[8], 0x5A);
    EXPECT_EQ(a.memory[9], 0x5A);
    EXPECT_EQ(SampleAt(b.memory, 0, 0), 3);
    EXPECT_EQ(Position(), 3u);
}

TEST_F(BlockQueueTest, EightBitMonoFramesAreSingleBytes)
{
    ASSERT_TRUE(m_driver.Open(Format(11025, 8, 1), &m_client));
    Block &a = NewBlock(3);
    Queue(a);
    ASSERT_TRUE(m_driver.Start());
    EXPECT_EQ(m_driver.Push({0x10, 0x80, 0xF0, 0x33}), 3u);
    EXPECT_EQ(a.memory, (std::vector<uint8_t>{0x10, 0x80, 0xF0}));
    EXPECT_EQ(Position(), 3u);
}

TEST_F(BlockQueueTest, FramesWithoutAQueuedBlockAreDroppedAndNotCounted)
{
    OpenStereo();
    ASSERT_TRUE(m_driver.Start());
    EXPECT_EQ(m_driver.Push(StereoFrames(0, 5)), 0u);
    EXPECT_EQ(Position(), 0u);

    Block &a = NewBlock(8);
    Queue(a);
    EXPECT_EQ(m_driver.Push(StereoFrames(50, 3)), 2u); // the third finds no block
    EXPECT_EQ(SampleAt(a.memory, 0, 0), 50);
    EXPECT_EQ(SampleAt(a.memory, 1, 0), 51);
    EXPECT_EQ(Position(), 2u);
}

TEST_F(BlockQueueTest, NothingIsRecordedBeforeStartOrAfterStop)
{
    OpenStereo();
    Block &a = NewBlock(16);
    Queue(a);
    EXPECT_EQ(m_driver.Push(StereoFrames(0, 2)), 0u);
    ASSERT_TRUE(m_driver.Start());
    ASSERT_TRUE(m_driver.Start()); // harmless when running
    EXPECT_EQ(m_driver.m_nStarts, 1);
    EXPECT_EQ(m_driver.Push(StereoFrames(10, 2)), 2u);
    ASSERT_TRUE(m_driver.Stop());
    EXPECT_EQ(m_driver.Push(StereoFrames(20, 1)), 0u);
    // Stopping keeps the block queued; recording goes on filling it.
    EXPECT_EQ(a.hdr.dwFlags & (WHDR_INQUEUE | WHDR_DONE), WHDR_INQUEUE);
    ASSERT_TRUE(m_driver.Start());
    m_driver.Push(StereoFrames(30, 2));
    EXPECT_EQ(SampleAt(a.memory, 0, 0), 10);
    EXPECT_EQ(SampleAt(a.memory, 1, 0), 11);
    EXPECT_EQ(SampleAt(a.memory, 2, 0), 30);
    EXPECT_EQ(SampleAt(a.memory, 3, 0), 31);
    EXPECT_EQ(Position(), 4u);
}

TEST_F(BlockQueueTest, StopHandsOverWhatTheSourceHeldFirst)
{
    OpenStereo();
    Block &a = NewBlock(16);
    Queue(a);
    ASSERT_TRUE(m_driver.Start());
    m_driver.Queue(StereoFrames(7, 2));
    ASSERT_TRUE(m_driver.Stop());
    EXPECT_EQ(a.hdr.dwBytesRecorded, 8u);
    EXPECT_EQ(SampleAt(a.memory, 1, 0), 8);
}

TEST_F(BlockQueueTest, GetPositionIncludesFramesTheSourceHasWaiting)
{
    OpenStereo();
    Block &a = NewBlock(400);
    Queue(a);
    ASSERT_TRUE(m_driver.Start());
    m_driver.Queue(StereoFrames(0, 30));
    EXPECT_EQ(Position(), 30u);
    m_driver.Queue(StereoFrames(30, 12));
    EXPECT_EQ(Position(), 42u);
    EXPECT_EQ(SampleAt(a.memory, 41, 0), 41);
}

TEST_F(BlockQueueTest, ResetGivesBackEveryBlockAndCancelsPendingNotices)
{
    OpenStereo();
    Block &a = NewBlock(8);
    Block &b = NewBlock(16);
    Block &c = NewBlock(16);
    Queue(a);
    Queue(b);
    Queue(c);
    ASSERT_TRUE(m_driver.Start());
    m_driver.Push(StereoFrames(0, 3)); // a full (its notice posted), b holds one frame

    ASSERT_TRUE(m_driver.Reset());
    EXPECT_EQ(m_driver.QueuedBlocks(), 0);
    EXPECT_FALSE(m_driver.IsRunning());
    EXPECT_EQ(b.hdr.dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(b.hdr.dwBytesRecorded, 4u);
    EXPECT_EQ(c.hdr.dwFlags, WHDR_PREPARED | WHDR_DONE);
    DeliverPostedNotices();
    EXPECT_TRUE(m_client.m_returned.empty());

    // The given-back blocks are never written again.
    const std::vector<uint8_t> before = b.memory;
    ASSERT_TRUE(m_driver.Start());
    EXPECT_EQ(m_driver.Push(StereoFrames(90, 4)), 0u);
    EXPECT_EQ(b.memory, before);
    // The position still counts from the open.
    EXPECT_EQ(Position(), 3u);

    // A block queued after the reset is filled and returned as usual.
    Block &d = NewBlock(4);
    Queue(d);
    m_driver.Push(StereoFrames(5, 1));
    DeliverPostedNotices();
    ASSERT_EQ(m_client.m_returned.size(), 1u);
    EXPECT_EQ(m_client.m_returned[0], &d.hdr);
}

TEST_F(BlockQueueTest, CloseCancelsPendingNoticesAndReopenCountsFromZero)
{
    OpenStereo();
    Block &a = NewBlock(4);
    Queue(a);
    ASSERT_TRUE(m_driver.Start());
    m_driver.Push(StereoFrames(0, 1));
    ASSERT_TRUE(m_driver.Close());
    EXPECT_FALSE(m_driver.IsOpen());
    EXPECT_EQ(m_driver.m_nCloses, 1);
    DeliverPostedNotices();
    EXPECT_TRUE(m_client.m_returned.empty());
    ASSERT_TRUE(m_driver.Close()); // closing again is harmless
    EXPECT_EQ(m_driver.m_nCloses, 1);

    OpenStereo();
    EXPECT_EQ(Position(), 0u);
}

TEST_F(BlockQueueTest, DestroyingTheDriverDiscardsItsPendingNotices)
{
    auto pDriver = std::make_unique<ScriptedDriver>();
    ASSERT_TRUE(pDriver->Open(Format(8000, 16, 2), &m_client));
    Block &a = NewBlock(4);
    ASSERT_TRUE(pDriver->PrepareHeader(&a.hdr));
    ASSERT_TRUE(pDriver->AddBuffer(&a.hdr));
    ASSERT_TRUE(pDriver->Start());
    pDriver->Push(StereoFrames(0, 1));
    Block &b = NewBlock(16);
    ASSERT_TRUE(pDriver->PrepareHeader(&b.hdr));
    ASSERT_TRUE(pDriver->AddBuffer(&b.hdr));
    pDriver->Fail("gone");
    pDriver.reset();
    DeliverPostedNotices();
    EXPECT_TRUE(m_client.m_returned.empty());
    EXPECT_EQ(m_client.m_nFailed, 0);
    // The destructor leaves the still queued header alone.
    EXPECT_EQ(b.hdr.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
}

TEST_F(BlockQueueTest, HeaderRulesFollowTheQueueState)
{
    Block &a = NewBlock(16);
    EXPECT_FALSE(m_driver.PrepareHeader(&a.hdr)); // not open
    EXPECT_FALSE(m_driver.AddBuffer(&a.hdr));
    OpenStereo();
    EXPECT_FALSE(m_driver.AddBuffer(&a.hdr)); // not prepared
    ASSERT_TRUE(m_driver.PrepareHeader(&a.hdr));
    EXPECT_EQ(a.hdr.dwFlags, WHDR_PREPARED);
    ASSERT_TRUE(m_driver.AddBuffer(&a.hdr));
    EXPECT_FALSE(m_driver.AddBuffer(&a.hdr));       // already queued
    EXPECT_FALSE(m_driver.UnprepareHeader(&a.hdr)); // still queued
    ASSERT_TRUE(m_driver.Reset());
    EXPECT_TRUE(m_driver.UnprepareHeader(&a.hdr));
    EXPECT_EQ(a.hdr.dwFlags, WHDR_DONE);

    Block &tiny = NewBlock(3); // less than one 4-byte frame
    ASSERT_TRUE(m_driver.PrepareHeader(&tiny.hdr));
    EXPECT_FALSE(m_driver.AddBuffer(&tiny.hdr));
    EXPECT_FALSE(m_driver.LastError().empty());

    // Queueing again clears the old recording.
    ASSERT_TRUE(m_driver.PrepareHeader(&a.hdr));
    a.hdr.dwBytesRecorded = 12;
    ASSERT_TRUE(m_driver.AddBuffer(&a.hdr));
    EXPECT_EQ(a.hdr.dwBytesRecorded, 0u);
    EXPECT_EQ(a.hdr.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
}

TEST_F(BlockQueueTest, OpenRefusesBadFormatsASecondOpenAndASourceFailure)
{
    EXPECT_FALSE(m_driver.Open(Format(8000, 24, 2), &m_client));
    EXPECT_NE(m_driver.LastError().find("8-bit or 16-bit"), std::string::npos);
    EXPECT_EQ(m_driver.m_nOpens, 0);

    m_driver.m_bFailOpen = true;
    EXPECT_FALSE(m_driver.Open(Format(8000, 16, 2), &m_client));
    EXPECT_FALSE(m_driver.IsOpen());
    EXPECT_EQ(m_driver.LastError(), "scripted open failure");
    uint64_t pos = 0;
    EXPECT_FALSE(m_driver.GetPosition(&pos));
    EXPECT_FALSE(m_driver.Start());

    m_driver.m_bFailOpen = false;
    OpenStereo();
    EXPECT_TRUE(m_driver.LastError().empty());
    EXPECT_FALSE(m_driver.Open(Format(8000, 16, 2), &m_client));
    EXPECT_TRUE(m_driver.IsOpen());
}

TEST(BlockQueueFormat, AcceptsPlainPcmOnly)
{
    struct Case
    {
        WaveFormat format;
        bool bAccepted;
    };
    WaveFormat misaligned = Format(22050, 16, 2);
    misaligned.nBlockAlign = 2;
    WaveFormat adpcm = Format(22050, 16, 2);
    adpcm.wFormatTag = 2;
    const Case cases[] = {
        {Format(11025, 16, 2), true},
        {Format(22050, 16, 2), true},
        {Format(44100, 16, 2), true},
        {Format(22050, 8, 1), true},
        {Format(1000, 8, 2), true},
        {Format(192000, 16, 1), true},
        {Format(999, 16, 2), false},
        {Format(192001, 16, 2), false},
        {Format(22050, 16, 3), false},
        {Format(22050, 16, 0), false},
        {Format(22050, 32, 2), false},
        {misaligned, false},
        {adpcm, false},
    };
    for (const Case &c : cases) {
        std::string why;
        EXPECT_EQ(BlockQueueWaveInDriver::IsPlainPcmFormat(c.format, &why), c.bAccepted)
            << c.format.nSamplesPerSec << " Hz, " << c.format.wBitsPerSample << " bits, "
            << c.format.nChannels << " channels";
        EXPECT_EQ(why.empty(), c.bAccepted);
    }
}

TEST_F(BlockQueueTest, AFailureStopsRecordingAndIsReportedOnce)
{
    OpenStereo();
    Block &a = NewBlock(16);
    Queue(a);
    ASSERT_TRUE(m_driver.Start());
    m_driver.Push(StereoFrames(0, 1));
    m_driver.Fail("the server went away");
    m_driver.Fail("again");
    EXPECT_EQ(m_client.m_nFailed, 0); // only through the event loop
    EXPECT_EQ(m_driver.LastError(), "the server went away");
    EXPECT_FALSE(m_driver.IsRunning());
    EXPECT_EQ(m_driver.m_nStops, 1);
    EXPECT_EQ(m_driver.Push(StereoFrames(1, 1)), 0u);
    EXPECT_FALSE(m_driver.Start());
    Block &b = NewBlock(16);
    ASSERT_TRUE(m_driver.PrepareHeader(&b.hdr));
    EXPECT_FALSE(m_driver.AddBuffer(&b.hdr));

    DeliverPostedNotices();
    EXPECT_EQ(m_client.m_nFailed, 1);
    EXPECT_TRUE(m_client.m_returned.empty());
    EXPECT_TRUE(m_driver.Close());
    EXPECT_FALSE(m_driver.IsOpen());
}

TEST_F(BlockQueueTest, AFailureNoticeIsCancelledByClose)
{
    OpenStereo();
    m_driver.Fail("gone");
    ASSERT_TRUE(m_driver.Close());
    DeliverPostedNotices();
    EXPECT_EQ(m_client.m_nFailed, 0);
}

TEST_F(BlockQueueTest, PollRequestsAreMergedUntilServed)
{
    OpenStereo();
    const int before = m_driver.m_nPolls;
    for (int i = 0; i < 5; ++i)
        m_driver.AskForPoll();
    std::thread other([this] {
        for (int i = 0; i < 5; ++i)
            m_driver.AskForPoll();
    });
    other.join();
    DeliverPostedNotices();
    EXPECT_EQ(m_driver.m_nPolls, before + 1);

    std::thread again([this] { m_driver.AskForPoll(); });
    again.join();
    DeliverPostedNotices();
    EXPECT_EQ(m_driver.m_nPolls, before + 2);
}
