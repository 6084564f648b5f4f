#include "audio/input/DemoSignal.h"
#include "audio/input/WavFileWaveInDriver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <complex>
#include <initializer_list>
#include <limits>
#include <numbers>
#include <vector>

namespace {
// Little-endian values of nBytes bytes each, for building WAV files byte by byte.
QByteArray Le(std::initializer_list<int64_t> values, int nBytes = 2)
{
    QByteArray b;
    for (int64_t v : values)
        for (int i = 0; i < nBytes; ++i)
            b.append(char((uint64_t(v) >> (8 * i)) & 0xFF));
    return b;
}
template <typename Float> QByteArray Floats(std::initializer_list<Float> values)
{
    return QByteArray(reinterpret_cast<const char *>(values.begin()),
                      int(values.size() * sizeof(Float)));
}

struct WavLayout
{
    uint16_t tag = 1, channels = 1;
    uint32_t rate = 8000;
    uint16_t bits = 16;
    bool bExtensible = false; // the tag then goes into the sub-format GUID
    QByteArray extraChunk{};  // a whole chunk put before "fmt "
    int64_t dataSize = -1;    // the size written into the data chunk header
};

QByteArray MakeWav(const WavLayout &l, const QByteArray &samples)
{
    const uint16_t blockAlign = uint16_t(l.channels * l.bits / 8);
    QByteArray fmt = Le({l.bExtensible ? 0xFFFE : l.tag, l.channels}) +
                     Le({l.rate, l.rate * blockAlign}, 4) + Le({blockAlign, l.bits});
    if (l.bExtensible)
        fmt += Le({22, l.bits}) + Le({3, l.tag}, 4) +
               QByteArray("\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 12);
    QByteArray body = "WAVE" + l.extraChunk + "fmt " + Le({fmt.size()}, 4) + fmt + "data" +
                      Le({l.dataSize >= 0 ? l.dataSize : samples.size()}, 4) + samples;
    return "RIFF" + Le({body.size() + samples.size() % 2}, 4) + body +
           QByteArray(samples.size() % 2, '\0');
}

// Bytes this process has read through read() and the like so far.
uint64_t BytesReadSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    for (const QByteArray &line :
         io.open(QIODevice::ReadOnly) ? io.readAll().split('\n') : QList<QByteArray>())
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toULongLong();
    return 0;
}

const WaveFormat kMono = {1, 1, 8000, 16000, 2, 16}, kStereo = {1, 2, 8000, 32000, 4, 16},
                 kStereo22k = {1, 2, 22050, 88200, 4, 16};

class WavFileTest : public ::testing::Test, public IWaveInClient
{
protected:
    void OnWaveInData(WaveHeader *) override { ++m_nReturned; }
    // Opens, queues one block of nFrames frames (prefilled with 0x5A) and starts; unless told
    // not to wait, plays until the block comes back: its 16-bit samples, or bytes for 8-bit output.
    std::vector<int> Play(WavFileWaveInDriver &driver, const WaveFormat &format, uint32_t nFrames,
                          bool bWait = true)
    {
        m_memory.assign(size_t(nFrames) * format.nBlockAlign, 0x5A);
        m_hdr = WaveHeader{m_memory.data(), uint32_t(m_memory.size())};
        EXPECT_TRUE(driver.Open(format, this) && driver.PrepareHeader(&m_hdr) &&
                    driver.AddBuffer(&m_hdr) && driver.Start());
        if (!bWait || !QTest::qWaitFor([this] { return m_nReturned > 0; }, 10000))
            return {};
        m_nReturned = 0;
        driver.Close();
        if (format.wBitsPerSample == 8)
            return std::vector<int>(m_memory.begin(), m_memory.end());
        const auto *p = reinterpret_cast<const int16_t *>(m_memory.data());
        return std::vector<int>(p, p + m_memory.size() / 2);
    }

    int m_nReturned = 0;
    std::vector<uint8_t> m_memory;
    WaveHeader m_hdr;
    QTemporaryDir m_dir;
};
} // namespace

// Each file format, converted to the opened format: 16-bit values, or bytes for 8-bit output.
TEST_F(WavFileTest, SamplesAreConvertedToTheOpenedFormat)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const QByteArray list = QByteArray("LIST", 4) + Le({3}, 4) + "abc" + QByteArray(1, '\0');
    // clang-format off
    const std::tuple<WavLayout, QByteArray, WaveFormat, std::vector<int>> cases[] = {
        {{.channels = 2}, Le({0, 1, -1, 32767, -32768, 77}), kStereo, {0, 1, -1, 32767, -32768, 77}},
        // (u - 128) * 256, doubled into both channels.
        {{.bits = 8}, QByteArray("\x00\x01\x80\xFF", 4), kStereo, {-32768, -32768, -32512, -32512, 0, 0, 32512, 32512}},
        // The top sixteen bits, rounding down, not towards zero.
        {{.bits = 24}, Le({0x7FFFFF, -0x800000, 0x100, 0xFF, -1, -0x123456}, 3), kMono, {32767, -32768, 1, 0, -1, -0x1235}},
        {{.bits = 32}, Le({2147483647, -2147483648LL, 65536, 65535, -1}, 4), kMono, {32767, -32768, 1, 0, -1}},
        // x * 32768 to the nearest integer, into -32768..32767; -0.7 * 32768 = -22937.6.
        {{.tag = 3, .bits = 32}, Floats<float>({0.5f, -1.0f, 2.0f, -3.0f, -0.7f, nan}), kMono,
         {16384, -32768, 32767, -32768, -22938, 0}},
        // 0.9999 * 32768 = 32764.7; -0.00001 * 32768 = -0.33.
        {{.tag = 3, .channels = 2, .bits = 64}, Floats<double>({0.125, -0.125, 0.9999, -0.00001}), kStereo,
         {4096, -4096, 32765, 0}},
        {{.channels = 2, .bExtensible = true}, Le({300, -300}), kStereo, {300, -300}},
        {{.channels = 4}, Le({1, 2, 3, 4, -5, -6, -7, -8}), kStereo, {1, 2, -5, -6}},
        // The mean to the nearest integer, halves away from zero.
        {{.channels = 2}, Le({3, 4, -3, -4, 32767, 32767, -32768, -32767}), kMono, {4, -4, 32767, -32768}},
        {{}, Le({0, -1, 255, 256, -257, 32767, -32768}), WaveFormat{1, 1, 8000, 8000, 1, 8}, {128, 127, 128, 129, 126, 255, 0}},
        // An odd unknown chunk skipped; the file loops for ever.
        {{.extraChunk = list}, Le({11, -22, 33}), kMono, {11, -22, 33, 11, -22, 33, 11}},
        // Claims 1000 frames, holds 3: those play.
        {{.dataSize = 2000}, Le({7, 8, 9}), kMono, {7, 8, 9, 7}},
        // Output frame n lies at file frame n / 2; the last file frame leads back to the first.
        {{.rate = 11025}, Le({0, 1000, -2000, 4000}), WaveFormat{1, 1, 22050, 44100, 2, 16}, {0, 500, 1000, -500, -2000, 1000, 4000, 2000, 0}},
        // Every second frame of six, looping.
        {{.channels = 2, .rate = 44100}, Le({0, 0, 100, -100, 200, -200, 300, -300, 400, -400, 500, -500}),
         WaveFormat{1, 2, 22050, 88200, 4, 16}, {0, 0, 200, -200, 400, -400, 0, 0}},
        // Every second frame's mean (halves away from zero), and the first two of four channels.
        {{.channels = 2, .rate = 44100}, Le({3, 4, 100, 100, -3, -4, 100, 100}), WaveFormat{1, 1, 22050, 44100, 2, 16},
         {4, -4, 4}},
        {{.channels = 4, .rate = 44100}, Le({1, 2, 3, 4, 9, 9, 9, 9, -5, -6, -7, -8, 9, 9, 9, 9}),
         WaveFormat{1, 2, 22050, 88200, 4, 16}, {1, 2, -5, -6, 1, 2}},
    };
    // clang-format on
    for (const auto &[layout, samples, format, expected] : cases) {
        WavFileWaveInDriver driver(MakeWav(layout, samples), "clip.wav");
        EXPECT_EQ(Play(driver, format, uint32_t(expected.size() / format.nChannels)), expected)
            << layout.bits << " bits " << layout.channels << " channels";
    }
}

// Frames arrive in real time; stopped time does not count.
TEST_F(WavFileTest, FramesArriveInRealTime)
{
    WavFileWaveInDriver driver(MakeWav({}, Le({5})), "one.wav");
    uint64_t stopped = 0, resumed = 0;
    QElapsedTimer clock;
    clock.start();
    Play(driver, kMono, 8000, false);
    QTest::qWait(300);
    ASSERT_TRUE(driver.Stop() && driver.GetPosition(&stopped));
    const double seconds = double(clock.nsecsElapsed()) / 1e9; // the driver's clock is not ahead
    EXPECT_TRUE(stopped <= 8000 * seconds + 1 && stopped >= 8000 * seconds * 0.9 - 200) << stopped;
    QTest::qWait(60);
    ASSERT_TRUE(driver.GetPosition(&resumed) && resumed == stopped && driver.Start());
    QTest::qWait(60);
    ASSERT_TRUE(driver.GetPosition(&resumed) && resumed > stopped && resumed < 8000u);
    EXPECT_EQ(m_hdr.dwBytesRecorded, resumed * 2);
}

// Each file is checked at start-up, opened by the driver and parsed in memory: it plays (reason
// "") or is refused with its reason, after reading no more than its first chunks whatever its size.
TEST_F(WavFileTest, FilesPlayOrAreRefusedWithAReasonFromTheirHeaderAlone)
{
    const QByteArray s = Le({1, 2, 3}), good = MakeWav({}, s),
                     list = QByteArray("LIST", 4) + Le({2}, 4) + "ab";
    const auto patched = [&good](qsizetype at, const QByteArray &b) {
        return QByteArray(good).replace(at, b.size(), b);
    };
    const auto play = [](const WavLayout &l) {
        return MakeWav(l, QByteArray(4 * l.channels * l.bits / 8, '\x40'));
    };
    constexpr qint64 kMiB = qint64(1) << 20;
    const QByteArray junk = MakeWav({}, Le({5, -6, 7, -8})) + "junk" + Le({300 * kMiB}, 4);
    // The bytes, a size the file is extended to with a hole (0: as written), the reason.
    // clang-format off
    const std::tuple<QByteArray, qint64, const char *> cases[] = {
        {"hello, world, this is text", 0, "not a WAV file (no RIFF header)"}, {QByteArray(), 0, "no RIFF header"},
        {patched(8, "AVI "), 0, "not a WAV file (the RIFF form is not WAVE)"}, {MakeWav({.channels = 0}, s), 0, "no channels"},
        {MakeWav({.tag = 2, .bits = 4}, s), 0, "unsupported sample format (format tag 0x0002)"},
        {MakeWav({.bits = 12}, s), 0, "(12-bit integer)"}, {MakeWav({.tag = 3, .bits = 16}, s), 0, "(16-bit float)"},
        {MakeWav({.channels = 9}, Le({1, 2, 3, 4, 5, 6, 7, 8, 9})), 0, "9 channels"}, {MakeWav({.rate = 0}, s), 0, "sample rate 0"},
        {MakeWav({.rate = 7999}, s), 0, "sample rate 7999 Hz"}, {MakeWav({.rate = 384001}, s), 0, "sample rate 384001 Hz"},
        {QByteArray(MakeWav({.bExtensible = true}, s)).replace(59, 1, "\x72"), 0, "unknown extensible sub-format"},
        {patched(32, QByteArray(1, 4)), 0, "inconsistent fmt chunk"}, // block alignment 4, one 16-bit channel
        {MakeWav({}, QByteArray()), 0, "no samples"}, {patched(36, "junk"), 0, "no data chunk"}, {patched(12, "fmtx"), 0, "no fmt chunk"},
        {patched(16, QByteArray(1, 14)), 0, "fmt chunk too short"}, {good.left(35), 0, "truncated fmt chunk"},
        {good.left(38), 0, "no data chunk"}, {good.left(45), 0, "no samples"},
        {MakeWav({.tag = 7, .bits = 8, .dataSize = 600 * kMiB}, {}), 600 * kMiB, "format tag 0x0007"},
        {MakeWav({.dataSize = 2048 * kMiB}, {}), 2048 * kMiB + 44, "2147483648 bytes"},
        {play({.bits = 8}), 0, ""}, {play({.channels = 2, .bits = 24}), 0, ""}, {play({.bits = 32}), 0, ""}, {play({.tag = 3, .bits = 32}), 0, ""},
        {play({.tag = 3, .channels = 2, .bits = 32, .bExtensible = true}), 0, ""}, {play({.channels = 2, .bits = 24, .bExtensible = true}), 0, ""},
        {play({.channels = 8, .rate = 384000}), 0, ""}, {play({.channels = 6, .bits = 32, .extraChunk = list}), 0, ""},
        {junk, junk.size() + 300 * kMiB, ""}, // four frames, then 300 MiB of a chunk nobody plays: last
    };
    // clang-format on
    for (const auto &[bytes, nSparseSize, reason] : cases) {
        SCOPED_TRACE(reason);
        const QString path = m_dir.filePath("t.wav");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        ASSERT_TRUE(!nSparseSize || QFile::resize(path, nSparseSize));
        const uint64_t nBefore = BytesReadSoFar();
        const std::string strWhy = CheckWavFile(path).toStdString();
        WavFileWaveInDriver driver(path);
        EXPECT_EQ(driver.Open(kStereo22k, this), !*reason) << driver.LastError();
        EXPECT_TRUE(strWhy.find(reason) != std::string::npos && strWhy.empty() == !*reason &&
                    driver.LastError().find(reason) != std::string::npos)
            << strWhy;
        EXPECT_LT(BytesReadSoFar() - nBefore, uint64_t(kMiB));
    }
    WavFileWaveInDriver junkFile(m_dir.filePath("t.wav"));
    EXPECT_EQ(Play(junkFile, kMono, 5), (std::vector<int>{5, -6, 7, -8, 5}));
    // A file longer than the frames read at a time plays whole, then from its start again.
    constexpr uint32_t kLong = 3 * WavFileWaveInDriver::kCacheFrames + 5;
    QByteArray samples;
    std::vector<int> expected;
    for (uint32_t i = 0; i < kLong + 9; ++i) {
        expected.push_back(int(i % kLong) % 20011 - 10000);
        if (i < kLong)
            samples += Le({expected.back()});
    }
    QFile longFile(m_dir.filePath("long.wav"));
    ASSERT_TRUE(longFile.open(QIODevice::WriteOnly) &&
                longFile.write(MakeWav({.rate = 192000}, samples)) > 0);
    longFile.close();
    WavFileWaveInDriver longDriver(longFile.fileName()), doubled(longFile.fileName());
    EXPECT_TRUE(Play(longDriver, WaveFormat{1, 1, 192000, 384000, 2, 16}, kLong + 9) == expected);
    std::vector<int> both; // as it lies, then converted: the mono file doubled into two channels
    for (int v : expected)
        both.insert(both.end(), {v, v});
    EXPECT_TRUE(Play(doubled, WaveFormat{1, 2, 192000, 768000, 4, 16}, kLong + 9) == both);
    // At half the rate: every second frame, across the reads and round the loop.
    WavFileWaveInDriver halved(longFile.fileName());
    std::vector<int> everyOther;
    for (uint32_t i = 0; i < kLong; ++i)
        everyOther.push_back(int((2 * i) % kLong) % 20011 - 10000);
    EXPECT_TRUE(Play(halved, WaveFormat{1, 1, 96000, 192000, 2, 16}, kLong) == everyOther);
    // Not a regular file: refused before it is opened, so a FIFO without a writer cannot hang.
    const QString fifo = m_dir.filePath("fifo.wav"), absent = m_dir.filePath("absent.wav");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const auto &[path, reason] : {std::pair(m_dir.path(), "not a regular file"),
                                       {fifo, "not a regular file"},
                                       {absent, "cannot open"}}) {
        WavFileWaveInDriver driver(path);
        EXPECT_FALSE(driver.Open(kStereo22k, this) || driver.IsOpen());
        EXPECT_TRUE(CheckWavFile(path).startsWith(QLatin1String(reason)) &&
                    driver.LastError().find(reason) != std::string::npos)
            << driver.LastError();
    }
}

// The demo signal is a 16-bit stereo WAV of music: its first half bar (0.75 s, 165 cycles of 220
// Hz) holds the A minor chord, whose root sounds at 0.08 of 20000 on the left and 0.06 on the
// right.
TEST(DemoSignal, IsAPlayableStereoWavOfMusic)
{
    WavClip clip;
    std::string error;
    ASSERT_TRUE(WavFileWaveInDriver::ParseWav(SynthesizeDemoWav(2, 22050), "demo", &clip, &error))
        << error;
    EXPECT_EQ(std::tuple(clip.nRate, clip.nFileChannels, clip.nSampleBytes, clip.nFrames),
              std::tuple(22050u, 2, 2, 44100u));
    for (int c : {0, 1}) {
        std::complex<double> sum;
        for (uint32_t i = 0; i < 16537; ++i)
            sum += double(clip.Sample(i, c)) *
                   std::polar(1.0, -2 * std::numbers::pi * 220 * i / 22050);
        EXPECT_NEAR(2 * std::abs(sum) / 16537, c ? 1200 : 1600, 80) << c;
    }
}
