#include "audio/input/BlockQueueWaveInDriver.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {
using Frames = std::vector<uint8_t>;

// Frames come from the test: Push delivers at once, m_pending at the next poll.
class ScriptedDriver : public BlockQueueWaveInDriver
{
public:
    ~ScriptedDriver() override { CloseQuietly(); }
    bool IsFormatSupported(const WaveFormat &format) override { return IsPlainPcmFormat(format); }
    uint32_t Push(const Frames &f) { return Deliver(f.data(), uint32_t(f.size() / FrameBytes())); }
    using BlockQueueWaveInDriver::ReportFailure, BlockQueueWaveInDriver::RequestPoll;
    uint64_t Position() { return GetPosition(&m_nPosition) ? m_nPosition : ~uint64_t(0); }
    int m_nCloses = 0, m_nStarts = 0, m_nStops = 0, m_nPolls = 0;
    uint64_t m_nPosition = 0;
    Frames m_pending;

protected:
    bool OpenSource(const WaveFormat &) override { return true; }
    void CloseSource() override { ++m_nCloses; }
    bool StartSource() override { return ++m_nStarts, true; }
    void StopSource() override { ++m_nStops; }
    void PollSource() override { ++m_nPolls, Push(std::exchange(m_pending, {})); }
};

const WaveFormat kStereo = {1, 2, 8000, 32000, 4, 16};

// 16-bit stereo frames: frame i is left base + i, right -(base + i); then 0x5A up to nBytes.
Frames StereoFrames(int base, int count, size_t nBytes = 0)
{
    Frames bytes;
    for (int v = base; v < base + count; ++v)
        bytes.insert(bytes.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(-v), uint8_t(-v >> 8)});
    bytes.resize(std::max(bytes.size(), nBytes), 0x5A);
    return bytes;
}

// A caller's block, its memory pre-filled with 0x5A so that untouched bytes show.
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
    static void Notices() { QCoreApplication::sendPostedEvents(); }
    void SetUp() override { Notices(); }
    // Opens, queues new blocks of these sizes (they outlive the driver) and starts.
    std::vector<Block *> Begin(std::vector<uint32_t> sizes, ScriptedDriver &d)
    {
        EXPECT_TRUE(d.Open(kStereo, this));
        std::vector<Block *> blocks;
        for (uint32_t bytes : sizes) {
            blocks.push_back(&m_blocks.emplace_back(bytes));
            EXPECT_TRUE(d.PrepareHeader(&blocks.back()->hdr) && d.AddBuffer(&blocks.back()->hdr));
        }
        EXPECT_TRUE(d.Start());
        return blocks;
    }

    std::vector<WaveHeader *> m_returned;
    int m_nFailed = 0;
    std::deque<Block> m_blocks;
    ScriptedDriver m_driver;
};
} // namespace

// Polled by GetPosition, Stop and once per burst of requests from any thread; notices posted.
TEST_F(BlockQueueTest, FillsWholeFramesInQueueOrderDropsTheRestAndNotifiesThroughTheEventLoop)
{
    const auto b = Begin({16, 10, 16}, m_driver); // four frames; two and two spare bytes; four
    m_driver.m_pending = StereoFrames(100, 3);
    EXPECT_EQ(m_driver.Position(), 3u);
    m_driver.m_pending = StereoFrames(103, 2);
    ASSERT_TRUE(m_driver.Stop() && m_driver.Start() && m_driver.Start() && m_driver.m_nStarts == 2);
    EXPECT_TRUE(m_returned.empty()); // not from inside a driver call
    m_driver.m_pending = StereoFrames(105, 4);
    const int nPolls = m_driver.m_nPolls;
    m_driver.RequestPoll();
    std::thread([this] { m_driver.RequestPoll(); }).join();
    Notices();
    EXPECT_EQ(m_driver.m_nPolls, nPolls + 1);
    EXPECT_EQ(std::tuple(b[0]->memory, b[1]->memory, b[2]->memory), // the spare bytes untouched
              std::tuple(StereoFrames(100, 4), StereoFrames(104, 2, 10), StereoFrames(106, 3, 16)));
    EXPECT_EQ(std::tuple(b[1]->hdr.dwBytesRecorded, b[1]->hdr.dwFlags, b[2]->hdr.dwFlags),
              std::tuple(8u, WHDR_PREPARED | WHDR_DONE, WHDR_PREPARED | WHDR_INQUEUE));
    // Frames past the queued space, or while stopped, are dropped and not counted.
    EXPECT_EQ(m_driver.Push(StereoFrames(109, 3)), 1u);
    ASSERT_TRUE(m_driver.Stop());
    EXPECT_EQ(std::pair(m_driver.Push(StereoFrames(120, 1)), m_driver.Position()),
              std::pair(0u, uint64_t(10)));
    Notices();
    EXPECT_EQ(m_returned, (std::vector<WaveHeader *>{&b[0]->hdr, &b[1]->hdr, &b[2]->hdr}));
}

// Reset, Close and destruction cancel undelivered notices; a failure stops recording.
TEST_F(BlockQueueTest, ResetCloseDestructionAndFailure)
{
    for (const char how : {'r', 'c', 'd', 'f'}) {
        auto p = std::make_unique<ScriptedDriver>();
        Block &b = *Begin({8, 16}, *p)[1];
        p->Push(StereoFrames(0, 3)); // the first full, its notice posted; b holds one frame
        if (how != 'r') {
            p->ReportFailure("gone");  // its notice is cancelled too, unless delivered
            p->ReportFailure("again"); // reported once
            EXPECT_EQ(
                std::tuple(p->LastError(), p->m_nStops, p->Start(), p->AddBuffer(&m_blocks[0].hdr)),
                std::tuple(std::string("gone"), 1, false, false));
        }
        if (how == 'd')
            p.reset();
        else
            ASSERT_TRUE(how == 'f' || (how == 'r' ? p->Reset() : p->Close()));
        Notices();
        EXPECT_EQ(std::tuple(m_returned.size(), m_nFailed, b.hdr.dwBytesRecorded, b.hdr.dwFlags),
                  std::tuple(size_t(how == 'f'), how == 'f', 4u,
                             WHDR_PREPARED | (how == 'r' || how == 'c' ? WHDR_DONE : WHDR_INQUEUE)))
            << how;
        if (how == 'd' || how == 'f')
            continue;
        EXPECT_FALSE(p->IsRunning() || (p->Start() && p->Push(StereoFrames(90, 4))));
        EXPECT_TRUE(p->Close() && p->Close() && p->m_nCloses == 1); // again is harmless
        EXPECT_FALSE(p->AddBuffer(&b.hdr));                         // prepared, but closed
        ASSERT_TRUE(p->Open(kStereo, this));
        EXPECT_EQ(p->Position(), 0u); // reopened: counts from zero
    }
}

TEST_F(BlockQueueTest, OpenHeaderAndFormatRules)
{
    Block &a = m_blocks.emplace_back(16), &tiny = m_blocks.emplace_back(3); // tiny: < 1 frame
    EXPECT_FALSE(m_driver.PrepareHeader(&a.hdr) || m_driver.Start() || m_driver.Stop()); // not open
    EXPECT_EQ(m_driver.Position(), ~uint64_t(0));
    EXPECT_FALSE(m_driver.Open({1, 2, 8000, 48000, 6, 24}, this));
    EXPECT_EQ(m_driver.LastError().rfind("unsupported wave format: ", 0), 0u);
    ASSERT_TRUE(m_driver.Open(kStereo, this) && m_driver.LastError().empty());
    EXPECT_FALSE(m_driver.Open(kStereo, this) || m_driver.AddBuffer(&a.hdr)); // open; not prepared
    ASSERT_TRUE(m_driver.PrepareHeader(&a.hdr) && m_driver.AddBuffer(&a.hdr));
    EXPECT_FALSE(m_driver.AddBuffer(&a.hdr) || m_driver.UnprepareHeader(&a.hdr) ||
                 m_driver.PrepareHeader(&a.hdr)); // already queued
    ASSERT_TRUE(m_driver.Reset() && m_driver.UnprepareHeader(&a.hdr));
    EXPECT_EQ(a.hdr.dwFlags, WHDR_DONE);
    EXPECT_FALSE(m_driver.PrepareHeader(&tiny.hdr) && m_driver.AddBuffer(&tiny.hdr));
    a.hdr.dwBytesRecorded = 12; // queueing again clears the old recording
    ASSERT_TRUE(m_driver.PrepareHeader(&a.hdr) && m_driver.AddBuffer(&a.hdr));
    EXPECT_EQ(std::pair(a.hdr.dwBytesRecorded, a.hdr.dwFlags),
              std::pair(0u, WHDR_PREPARED | WHDR_INQUEUE));
    // PCM, 8 or 16 bits, one or two channels, 1000 to 192000 Hz, the block alignment matching.
    // clang-format off
    const std::pair<WaveFormat, bool> cases[] = {
        {{1, 2, 1000, 0, 2, 8}, true}, {{1, 1, 192000, 0, 2, 16}, true}, {{1, 2, 999, 0, 4, 16}, false},
        {{1, 2, 192001, 0, 4, 16}, false}, {{1, 3, 22050, 0, 6, 16}, false}, {{1, 0, 22050, 0, 0, 16}, false},
        {{1, 2, 22050, 0, 8, 32}, false}, {{1, 2, 22050, 0, 2, 16}, false}, {{2, 2, 22050, 0, 4, 16}, false}};
    // clang-format on
    for (const auto &[format, bAccepted] : cases) {
        std::string why;
        const bool bOk = BlockQueueWaveInDriver::IsPlainPcmFormat(format, &why);
        EXPECT_TRUE(bOk == bAccepted && why.empty() == bAccepted) << format.nSamplesPerSec;
    }
}
