#include "audio/input/WavFileWaveInDriver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <initializer_list>
#include <limits>
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
        std::vector<int> out;
        for (size_t i = 0; i < nFrames * format.nChannels; ++i)
            out.push_back(format.wBitsPerSample == 8
                              ? m_memory[i]
                              : int16_t(m_memory[2 * i] | m_memory[2 * i + 1] << 8));
        return out;
    }

    // Writes bytes to a file of the test's own folder.
    QString Write(const QByteArray &bytes, const char *pszName = "t.wav")
    {
        const QString path = m_dir.filePath(QString::fromLatin1(pszName));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return path;
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
    const WaveFormat mono = kMono, stereo = kStereo;
    // clang-format off
    const std::tuple<WavLayout, QByteArray, WaveFormat, std::vector<int>> cases[] = {
        {{.channels = 2}, Le({0, 1, -1, 32767, -32768, 77}), stereo, {0, 1, -1, 32767, -32768, 77}},
        // (u - 128) * 256, doubled into both channels.
        {{.bits = 8}, QByteArray("\x00\x01\x80\xFF", 4), stereo, {-32768, -32768, -32512, -32512, 0, 0, 32512, 32512}},
        // The top sixteen bits, rounding down, not towards zero.
        {{.bits = 24}, Le({0x7FFFFF, -0x800000, 0x100, 0xFF, -1, -0x123456}, 3), mono, {32767, -32768, 1, 0, -1, -0x1235}},
        {{.bits = 32}, Le({2147483647, -2147483648LL, 65536, 65535, -1}, 4), mono, {32767, -32768, 1, 0, -1}},
        // x * 32768 to the nearest integer, into -32768..32767; -0.7 * 32768 = -22937.6.
        {{.tag = 3, .bits = 32}, Floats<float>({0.5f, -1.0f, 2.0f, -3.0f, -0.7f, nan}), mono,
         {16384, -32768, 32767, -32768, -22938, 0}},
        // 0.9999 * 32768 = 32764.7; -0.00001 * 32768 = -0.33.
        {{.tag = 3, .channels = 2, .bits = 64}, Floats<double>({0.125, -0.125, 0.9999, -0.00001}), stereo,
         {4096, -4096, 32765, 0}},
        {{.channels = 2, .bExtensible = true}, Le({300, -300}), stereo, {300, -300}},
        {{.channels = 4}, Le({1, 2, 3, 4, -5, -6, -7, -8}), stereo, {1, 2, -5, -6}},
        // The mean to the nearest integer, halves away from zero.
        {{.channels = 2}, Le({3, 4, -3, -4, 32767, 32767, -32768, -32767}), mono, {4, -4, 32767, -32768}},
        {{}, Le({0, -1, 255, 256, -257, 32767, -32768}), WaveFormat{1, 1, 8000, 8000, 1, 8}, {128, 127, 128, 129, 126, 255, 0}},
        // An odd unknown chunk skipped; the file loops for ever.
        {{.extraChunk = list}, Le({11, -22, 33}), mono, {11, -22, 33, 11, -22, 33, 11}},
        // Claims 1000 frames, holds 3: those play.
        {{.dataSize = 2000}, Le({7, 8, 9}), mono, {7, 8, 9, 7}},
        // Output frame n lies at file frame n / 2; the last file frame leads back to the first.
        {{.rate = 11025}, Le({0, 1000, -2000, 4000}), WaveFormat{1, 1, 22050, 44100, 2, 16}, {0, 500, 1000, -500, -2000, 1000, 4000, 2000, 0}},
        // Every second frame of six, looping.
        {{.channels = 2, .rate = 44100}, Le({0, 0, 100, -100, 200, -200, 300, -300, 400, -400, 500, -500}),
         WaveFormat{1, 2, 22050, 88200, 4, 16}, {0, 0, 200, -200, 400, -400, 0, 0}},
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

TEST_F(WavFileTest, FilesThatAreNotPlayableWAVsFailWithAReason)
{
    const QByteArray samples = Le({1, 2, 3}), good = MakeWav({}, samples);
    // clang-format off
    const auto patched = [&good](qsizetype at, const QByteArray &b) { return QByteArray(good).replace(at, b.size(), b); };
    const std::pair<QByteArray, const char *> cases[] = {
        {"hello, world, this is text", "not a WAV file (no RIFF header)"}, {QByteArray(), "no RIFF header"},
        {patched(8, "AVI "), "not a WAV file (the RIFF form is not WAVE)"},
        {MakeWav({.tag = 2, .bits = 4}, samples), "unsupported sample format (format tag 0x0002)"},
        {MakeWav({.bits = 12}, samples), "unsupported sample format (12-bit integer)"},
        {MakeWav({.tag = 3, .bits = 16}, samples), "unsupported sample format (16-bit float)"},
        {MakeWav({.channels = 0}, samples), "no channels"}, {MakeWav({.rate = 0}, samples), "sample rate 0"},
        {QByteArray(MakeWav({.bExtensible = true}, samples)).replace(59, 1, "\x72"), "unknown extensible sub-format"},
        {patched(12 + 8 + 12, QByteArray(1, 4)), "inconsistent fmt chunk"}, // block alignment 4, one 16-bit channel
        {MakeWav({}, QByteArray()), "no samples"}, {patched(36, "junk"), "no data chunk"},
        {patched(12, "fmtx"), "no fmt chunk"}, {patched(16, QByteArray(1, 14)), "fmt chunk too short"},
        {good.left(12 + 8 + 15), "truncated fmt chunk"}, {good.left(12 + 8 + 16 + 8 + 1), "no samples"},
    };
    // clang-format on
    for (const auto &[bytes, reason] : cases) {
        WavClip clip;
        std::string error;
        EXPECT_FALSE(WavFileWaveInDriver::ParseWav(bytes, "t.wav", &clip, &error));
        EXPECT_TRUE(error.rfind("t.wav: ", 0) == 0 && error.find(reason) != std::string::npos)
            << error;
    }
    WavFileWaveInDriver missing(QTemporaryDir().filePath("absent.wav")); // the reason too
    EXPECT_FALSE(missing.Open(WaveFormat{1, 2, 22050, 88200, 4, 16}, this) || missing.IsOpen());
    EXPECT_NE(missing.LastError().find("absent.wav: cannot open"), std::string::npos);
}

namespace {
// Bytes this process has read through read() and the like so far.
uint64_t BytesReadSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : io.readAll().split('\n'))
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toULongLong();
    return 0;
}
} // namespace

// A file that cannot be played is refused with its reason at start-up and by
// the driver, after reading no more than its first chunks, whatever its size.
TEST_F(WavFileTest, UnplayableFilesAreRefusedFromTheirHeaderAlone)
{
    const QByteArray samples = Le({1, 2, 3});
    const QByteArray good = MakeWav({}, samples);
    constexpr qint64 kMiB = qint64(1) << 20;
    struct Case
    {
        const char *name;
        QByteArray bytes;
        qint64 nSparseSize; // the file is extended to this size with a hole; 0: as written
        const char *reason;
    };
    const Case cases[] = {
        {"mu-law", MakeWav({.tag = 7, .bits = 8}, "\x01\x02"), 0, "format tag 0x0007"},
        {"mu-law, 600 MiB", MakeWav({.tag = 7, .bits = 8, .dataSize = 600 * kMiB}, {}), 600 * kMiB,
         "format tag 0x0007"},
        {"cut inside the fmt chunk", good.left(30), 0, "truncated fmt chunk"},
        {"cut before the data chunk", good.left(38), 0, "no data chunk"},
        {"rate 0", MakeWav({.rate = 0}, samples), 0, "sample rate 0"},
        {"rate too low", MakeWav({.rate = 7999}, samples), 0, "sample rate 7999 Hz"},
        {"rate too high", MakeWav({.rate = 384001}, samples), 0, "sample rate 384001 Hz"},
        {"9 channels", MakeWav({.channels = 9}, Le({1, 2, 3, 4, 5, 6, 7, 8, 9})), 0, "9 channels"},
        {"no fmt chunk", QByteArray(good).replace(12, 4, "fmtx"), 0, "no fmt chunk"},
        // A valid header whose data chunk is 2 GiB of holes.
        {"2 GiB of data", MakeWav({.dataSize = 2048 * kMiB}, {}), 2048 * kMiB + 44,
         "2147483648 bytes"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = Write(c.bytes, "bad.wav");
        if (c.nSparseSize) {
            ASSERT_TRUE(QFile::resize(path, c.nSparseSize));
        }
        const uint64_t nBefore = BytesReadSoFar();
        const QString strWhy = CheckWavFile(path);
        EXPECT_TRUE(strWhy.contains(QLatin1String(c.reason))) << strWhy.toStdString();
        WavFileWaveInDriver driver(path);
        EXPECT_FALSE(driver.Open(kStereo22k, this));
        EXPECT_NE(driver.LastError().find(c.reason), std::string::npos) << driver.LastError();
        EXPECT_LT(BytesReadSoFar() - nBefore, uint64_t(kMiB));
    }

    // What is not a regular file is refused before it is opened for reading,
    // so a FIFO without a writer cannot hang the start.
    const QString fifo = m_dir.filePath("fifo.wav");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString &path : {m_dir.path(), fifo}) {
        EXPECT_EQ(CheckWavFile(path).toStdString(), "not a regular file");
        WavFileWaveInDriver driver(path);
        EXPECT_FALSE(driver.Open(kStereo22k, this));
        EXPECT_NE(driver.LastError().find("not a regular file"), std::string::npos);
    }
    EXPECT_TRUE(CheckWavFile(m_dir.filePath("absent.wav")).startsWith("cannot open"));
}

// Every sample format, channel count and rate that plays passes the start-up
// check and opens; a large chunk after the data is not read.
TEST_F(WavFileTest, PlayableFormatsPassTheStartUpCheck)
{
    const QByteArray list = QByteArray("LIST", 4) + Le({2}, 4) + "ab";
    const WavLayout layouts[] = {
        {.bits = 8},
        {.bits = 16},
        {.channels = 2, .bits = 24},
        {.bits = 32},
        {.tag = 3, .bits = 32},
        {.tag = 3, .channels = 2, .bits = 32, .bExtensible = true},
        {.channels = 2, .bits = 24, .bExtensible = true},
        {.channels = 8, .rate = 384000},
        {.channels = 6, .rate = 8000, .bits = 32, .extraChunk = list},
    };
    for (const WavLayout &layout : layouts) {
        SCOPED_TRACE(testing::Message() << layout.bits << " bits, " << layout.channels
                                        << " channels at " << layout.rate);
        const int nBytes = 4 * layout.channels * layout.bits / 8;
        const QString path = Write(MakeWav(layout, QByteArray(nBytes, '\x40')));
        EXPECT_EQ(CheckWavFile(path).toStdString(), "");
        WavFileWaveInDriver driver(path);
        EXPECT_TRUE(driver.Open(kStereo22k, this)) << driver.LastError();
    }

    // Four frames of data, then 300 MiB of a chunk nobody plays.
    QByteArray bytes = MakeWav({}, Le({5, -6, 7, -8})) + "junk" + Le({300 << 20}, 4);
    const QString path = Write(bytes);
    ASSERT_TRUE(QFile::resize(path, bytes.size() + (qint64(300) << 20)));
    const uint64_t nBefore = BytesReadSoFar();
    EXPECT_EQ(CheckWavFile(path).toStdString(), "");
    WavFileWaveInDriver driver(path);
    EXPECT_EQ(Play(driver, kMono, 5), (std::vector<int>{5, -6, 7, -8, 5}));
    EXPECT_LT(BytesReadSoFar() - nBefore, uint64_t(1) << 20);
}
