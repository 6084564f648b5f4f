#include "audio/input/WavFileWaveInDriver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <utility>
#include <vector>

namespace {
// Little-endian values of nBytes bytes each, for building WAV files byte by byte.
QByteArray Le(std::initializer_list<int64_t> values, int nBytes)
{
    QByteArray b;
    for (int64_t v : values)
        for (int i = 0; i < nBytes; ++i)
            b.append(char((uint64_t(v) >> (8 * i)) & 0xFF));
    return b;
}
QByteArray Samples16(std::initializer_list<int64_t> values)
{
    return Le(values, 2);
}
// IEEE floats of 4 or 8 bytes.
template <typename Float> QByteArray Floats(std::initializer_list<Float> values)
{
    QByteArray b;
    for (Float x : values)
        b.append(reinterpret_cast<const char *>(&x), sizeof x);
    return b;
}

struct WavLayout
{
    uint16_t tag = 1;
    uint16_t channels = 1;
    uint32_t rate = 8000;
    uint16_t bits = 16;
    bool bExtensible = false; // tag then goes into the sub-format GUID
    bool bBadGuid = false;
    QByteArray extraChunk{};       // a whole chunk put before "fmt "
    int64_t dataSizeOverride = -1; // the size written into the data chunk header
};

QByteArray MakeWav(const WavLayout &layout, const QByteArray &samples)
{
    const uint16_t blockAlign = uint16_t(layout.channels * layout.bits / 8);
    QByteArray fmt = Le({layout.bExtensible ? 0xFFFE : layout.tag, layout.channels}, 2) +
                     Le({layout.rate, layout.rate * blockAlign}, 4) +
                     Le({blockAlign, layout.bits}, 2);
    if (layout.bExtensible) {
        fmt += Le({22, layout.bits}, 2) + Le({layout.channels == 1 ? 0x4 : 0x3, layout.tag}, 4);
        fmt += QByteArray("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B", 11);
        fmt += char(layout.bBadGuid ? 0x72 : 0x71);
    }
    QByteArray body =
        "WAVE" + layout.extraChunk + "fmt " + Le({fmt.size()}, 4) + fmt + "data" +
        Le({layout.dataSizeOverride >= 0 ? layout.dataSizeOverride : samples.size()}, 4) + samples;
    if (samples.size() % 2)
        body.append('\0');
    return "RIFF" + Le({body.size()}, 4) + body;
}

WaveFormat Format(uint32_t rate, uint16_t bits, uint16_t channels)
{
    const uint16_t align = uint16_t(bits * channels / 8);
    return {1, channels, rate, rate * align, align, bits};
}

class RecordingClient : public IWaveInClient
{
public:
    void OnWaveInData(WaveHeader *pHdr) override { m_returned.push_back(pHdr); }
    std::vector<WaveHeader *> m_returned;
};

// The samples of a block: bytes for 8-bit output, else 16-bit values.
std::vector<int> SamplesOf(const std::vector<uint8_t> &block, int nBits)
{
    if (nBits == 8)
        return std::vector<int>(block.begin(), block.end());
    std::vector<int> out(block.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = int16_t(block[2 * i] | block[2 * i + 1] << 8);
    return out;
}

class WavFileTest : public ::testing::Test
{
protected:
    QString Write(const QByteArray &bytes, const QString &name = "clip.wav")
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        return path;
    }

    // Opens the driver with one block of nFrames frames of the given format
    // queued (memory prefilled with 0x5A) and starts it.
    void Begin(WavFileWaveInDriver &driver, const WaveFormat &format, uint32_t nFrames)
    {
        m_memory.assign(size_t(nFrames) * format.nBlockAlign, 0x5A);
        m_hdr = WaveHeader();
        m_hdr.lpData = m_memory.data();
        m_hdr.dwBufferLength = uint32_t(m_memory.size());
        m_client.m_returned.clear();
        ASSERT_TRUE(driver.Open(format, &m_client)) << driver.LastError();
        ASSERT_TRUE(driver.PrepareHeader(&m_hdr));
        ASSERT_TRUE(driver.AddBuffer(&m_hdr));
        ASSERT_TRUE(driver.Start());
    }

    // Plays into one block and returns its samples once the driver has
    // handed it back; the driver is closed again afterwards.
    std::vector<int> Record(WavFileWaveInDriver &driver, const WaveFormat &format, uint32_t nFrames)
    {
        Begin(driver, format, nFrames);
        QElapsedTimer clock;
        clock.start();
        while (m_client.m_returned.empty() && clock.elapsed() < 10000)
            QTest::qWait(5);
        EXPECT_EQ(m_client.m_returned.size(), 1u);
        EXPECT_TRUE(m_hdr.dwFlags & WHDR_DONE);
        driver.Close();
        return SamplesOf(m_memory, format.wBitsPerSample);
    }
    std::vector<int> Record(const QByteArray &wav, const WaveFormat &format, uint32_t nFrames)
    {
        WavFileWaveInDriver driver(Write(wav));
        return Record(driver, format, nFrames);
    }

    std::string OpenError(const QByteArray &bytes)
    {
        const QString path = Write(bytes, "bad.wav");
        WavFileWaveInDriver driver(path);
        EXPECT_FALSE(driver.Open(Format(22050, 16, 2), &m_client));
        EXPECT_FALSE(driver.IsOpen());
        const std::string error = driver.LastError();
        EXPECT_EQ(error.rfind(path.toStdString() + ": ", 0), 0u) << error;
        return error;
    }

    QTemporaryDir m_dir;
    RecordingClient m_client;
    std::vector<uint8_t> m_memory;
    WaveHeader m_hdr;
};
} // namespace

// Each file format, converted to the opened format: 16-bit values, or bytes
// for 8-bit output.
TEST_F(WavFileTest, SamplesAreConvertedToTheOpenedFormat)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const QByteArray list = QByteArray("LIST", 4) + Le({3}, 4) + "abc" + QByteArray(1, '\0');
    struct Case
    {
        const char *name;
        WavLayout layout;
        QByteArray samples;
        WaveFormat format;
        uint32_t nFrames;
        std::vector<int> expected;
    };
    const WaveFormat mono = Format(8000, 16, 1), stereo = Format(8000, 16, 2);
    // clang-format off
    const Case cases[] = {
        {"16-bit stereo, unchanged", {.channels = 2},
         Samples16({0, 1, -1, 32767, -32768, 1234, -4321, 77}), stereo, 4,
         {0, 1, -1, 32767, -32768, 1234, -4321, 77}},
        // (u - 128) * 256, doubled into both channels.
        {"8-bit mono", {.bits = 8}, QByteArray("\x00\x01\x7F\x80\x81\xFF", 6), stereo, 6,
         {-32768, -32768, -32512, -32512, -256, -256, 0, 0, 256, 256, 32512, 32512}},
        // The top sixteen bits, rounding down, not towards zero.
        {"24-bit", {.bits = 24},
         Le({0x7FFFFF, -0x800000, 0x100, 0xFF, -1, 0x123456, -0x123456, -256}, 3), mono, 8,
         {32767, -32768, 1, 0, -1, 0x1234, -0x1235, -1}},
        {"32-bit", {.bits = 32}, Le({2147483647, -2147483648LL, 65536, 65535, -1, 0x12345678}, 4),
         mono, 6, {32767, -32768, 1, 0, -1, 0x1234}},
        // x * 32768 to the nearest integer, into -32768..32767; -0.7 * 32768 = -22937.6.
        {"float", {.tag = 3, .bits = 32},
         Floats<float>({0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 2.0f, -3.0f, -0.7f, 0.25f, nan}), mono, 10,
         {0, 16384, -16384, 32767, -32768, 32767, -32768, -22938, 8192, 0}},
        // 0.9999 * 32768 = 32764.7232; -0.00001 * 32768 = -0.32768.
        {"double", {.tag = 3, .channels = 2, .bits = 64},
         Floats<double>({0.125, -0.125, 0.9999, -0.00001}), stereo, 2, {4096, -4096, 32765, 0}},
        // Extensible formats name their samples in the sub-format.
        {"extensible PCM", {.channels = 2, .bExtensible = true}, Samples16({300, -300, 5, 6}),
         stereo, 2, {300, -300, 5, 6}},
        {"extensible float", {.tag = 3, .bits = 32, .bExtensible = true},
         Floats<float>({0.75f, -0.0625f}), mono, 2, {24576, -2048}},
        // Of more channels the first two are played.
        {"4 channels", {.channels = 4}, Samples16({1, 2, 3, 4, -5, -6, -7, -8}), stereo, 2,
         {1, 2, -5, -6}},
        // The mean to the nearest integer, halves away from zero.
        {"stereo to mono", {.channels = 2},
         Samples16({3, 4, -3, -4, 1000, -1000, 32767, 32767, -32768, -32767}), mono, 5,
         {4, -4, 0, 32767, -32768}},
        // The top byte offset by 128.
        {"8-bit output", {}, Samples16({0, -1, 255, 256, -256, -257, 32767, -32768}),
         Format(8000, 8, 1), 8, {128, 127, 128, 129, 127, 126, 255, 0}},
        {"an odd unknown chunk skipped", {.extraChunk = list}, Samples16({11, -22, 33}), mono, 3,
         {11, -22, 33}},
        // The file loops for ever.
        {"looped", {}, Samples16({10, 20, 30, 40, 50}), mono, 12,
         {10, 20, 30, 40, 50, 10, 20, 30, 40, 50, 10, 20}},
        // Claims 1000 frames, holds 3: those play.
        {"data cut short", {.dataSizeOverride = 2000}, Samples16({7, 8, 9}), mono, 7,
         {7, 8, 9, 7, 8, 9, 7}},
        // Output frame n lies at file frame n / 2, halfway between; the last
        // file frame leads back to the first.
        {"rate doubled", {.rate = 11025}, Samples16({0, 1000, -2000, 4000}), Format(22050, 16, 1),
         10, {0, 500, 1000, -500, -2000, 1000, 4000, 2000, 0, 500}},
        // Every second frame of 12, looping.
        {"rate halved", {.channels = 2, .rate = 44100},
         Samples16({0, 0, 100, -100, 200, -200, 300, -300, 400, -400, 500, -500, 600, -600, 700,
                    -700, 800, -800, 900, -900, 1000, -1000, 1100, -1100}),
         Format(22050, 16, 2), 9,
         {0, 0, 200, -200, 400, -400, 600, -600, 800, -800, 1000, -1000, 0, 0, 200, -200, 400,
          -400}},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Record(MakeWav(c.layout, c.samples), c.format, c.nFrames), c.expected);
    }
}

TEST_F(WavFileTest, AnUnrelatedRateInterpolatesLinearly)
{
    std::vector<int> values;
    QByteArray samples;
    for (int i = 0; i < 37; ++i) {
        values.push_back(int(20000 * std::sin(0.37 * i * i)));
        samples += Samples16({values.back()});
    }
    const int n = 300;
    const std::vector<int> out = Record(MakeWav({}, samples), Format(11025, 16, 1), n);
    for (int k = 0; k < n; ++k) {
        const double pos = double(k) * 8000.0 / 11025.0;
        const int i = int(std::floor(pos));
        const double a = values[i % 37], b = values[(i + 1) % 37];
        // Within one step for the rounding of a value that lands on a half.
        EXPECT_NEAR(out[k], a + (b - a) * (pos - i), 0.5 + 1e-6) << "frame " << k;
    }
}

TEST_F(WavFileTest, FramesArriveInRealTimeStoppedTimeDoesNotCountAndReopeningStartsAgain)
{
    QByteArray samples;
    for (int i = 0; i < 8000; ++i)
        samples += Samples16({i - 4000});
    WavFileWaveInDriver driver(Write(MakeWav({}, samples)));
    const auto position = [&driver] {
        uint64_t frames = 0;
        EXPECT_TRUE(driver.GetPosition(&frames));
        return frames;
    };
    QElapsedTimer clock;
    clock.start();
    Begin(driver, Format(8000, 16, 1), 8000);
    QTest::qWait(300);
    ASSERT_TRUE(driver.Stop());
    const uint64_t stopped = position();
    // The driver's clock started after ours and was read before ours was:
    // it can only have produced fewer frames than our elapsed time allows.
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    EXPECT_LE(double(stopped), 8000 * seconds + 1);
    EXPECT_GE(double(stopped), 8000 * seconds * 0.9 - 200);
    EXPECT_EQ(m_hdr.dwBytesRecorded, stopped * 2);
    QTest::qWait(60);
    EXPECT_EQ(position(), stopped);
    ASSERT_TRUE(driver.Start());
    QTest::qWait(60);
    const uint64_t resumed = position();
    ASSERT_GT(resumed, stopped);
    ASSERT_LT(resumed, 8000u);
    // No gap in the file where the pause was.
    const std::vector<int> out = SamplesOf(m_memory, 16);
    for (uint64_t i = 0; i < resumed; ++i)
        ASSERT_EQ(out[i], int(i) - 4000) << "frame " << i;
    driver.Close();
    EXPECT_FALSE(driver.IsOpen());

    const std::vector<int> again = Record(driver, Format(8000, 16, 1), 30);
    EXPECT_EQ(again, std::vector<int>(out.begin(), out.begin() + 30));
}

TEST_F(WavFileTest, FilesThatAreNotPlayableWAVsFailWithAReason)
{
    const QByteArray samples = Samples16({1, 2, 3});
    const QByteArray good = MakeWav({}, samples);
    const auto patched = [&good](qsizetype at, const QByteArray &bytes) {
        QByteArray b = good;
        return b.replace(at, bytes.size(), bytes);
    };
    const std::pair<QByteArray, const char *> cases[] = {
        {"hello, world, this is text", "not a WAV file (no RIFF header)"},
        {QByteArray(), "no RIFF header"},
        {patched(8, "AVI "), "not a WAV file (the RIFF form is not WAVE)"},
        {MakeWav({.tag = 2, .bits = 4}, samples), "unsupported sample format (format tag 0x0002)"},
        {MakeWav({.bits = 12}, samples), "unsupported sample format (12-bit integer)"},
        {MakeWav({.channels = 0}, samples), "no channels"},
        {MakeWav({.rate = 0}, samples), "sample rate 0"},
        {MakeWav({.bExtensible = true, .bBadGuid = true}, samples),
         "unknown extensible sub-format"},
        // Block alignment 4 for one 16-bit channel.
        {patched(12 + 8 + 12, QByteArray(1, 4)), "inconsistent fmt chunk"},
        {MakeWav({}, QByteArray()), "no samples"},
        {patched(36, "junk"), "no data chunk"},
        {patched(12, "fmtx"), "no fmt chunk"},
        {patched(16, QByteArray(1, 14)), "fmt chunk too short"},
    };
    for (const auto &[bytes, reason] : cases)
        EXPECT_NE(OpenError(bytes).find(reason), std::string::npos) << reason;

    WavFileWaveInDriver missing(m_dir.filePath("absent.wav"));
    EXPECT_FALSE(missing.Open(Format(22050, 16, 2), &m_client));
    EXPECT_NE(missing.LastError().find("absent.wav: cannot open"), std::string::npos);
}

TEST_F(WavFileTest, EveryTruncationFailsCleanlyUntilAFrameIsThere)
{
    const QByteArray whole =
        MakeWav({.channels = 2, .bits = 24}, Le({1 << 8, 2 << 8, 3 << 8, 4 << 8}, 3));
    const int headerBytes = 12 + 8 + 16 + 8; // RIFF, fmt chunk, data chunk header
    ASSERT_EQ(whole.size(), headerBytes + 12);
    for (int length = 0; length <= whole.size(); ++length) {
        WavClip clip;
        std::string error;
        const bool ok = WavFileWaveInDriver::ParseWav(whole.left(length), "t.wav", &clip, &error);
        // One whole frame is six bytes.
        EXPECT_EQ(ok, length >= headerBytes + 6) << "length " << length << ": " << error;
        if (ok) {
            EXPECT_EQ(clip.nFrames, uint32_t((length - headerBytes) / 6));
            EXPECT_EQ(clip.Sample(0, 1), 2);
        } else {
            EXPECT_EQ(error.rfind("t.wav: ", 0), 0u);
        }
    }
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
    const QByteArray samples = Samples16({1, 2, 3});
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
        {"mu-law, 600 MiB", MakeWav({.tag = 7, .bits = 8, .dataSizeOverride = 600 * kMiB}, {}),
         600 * kMiB, "format tag 0x0007"},
        {"cut inside the fmt chunk", good.left(30), 0, "truncated fmt chunk"},
        {"cut before the data chunk", good.left(38), 0, "no data chunk"},
        {"rate 0", MakeWav({.rate = 0}, samples), 0, "sample rate 0"},
        {"rate too low", MakeWav({.rate = 7999}, samples), 0, "sample rate 7999 Hz"},
        {"rate too high", MakeWav({.rate = 384001}, samples), 0, "sample rate 384001 Hz"},
        {"9 channels", MakeWav({.channels = 9}, Samples16({1, 2, 3, 4, 5, 6, 7, 8, 9})), 0,
         "9 channels"},
        {"no fmt chunk", QByteArray(good).replace(12, 4, "fmtx"), 0, "no fmt chunk"},
        // A valid header whose data chunk is 2 GiB of holes.
        {"2 GiB of data", MakeWav({.dataSizeOverride = 2048 * kMiB}, {}), 2048 * kMiB + 44,
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
        EXPECT_FALSE(driver.Open(Format(22050, 16, 2), &m_client));
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
        EXPECT_FALSE(driver.Open(Format(22050, 16, 2), &m_client));
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
        EXPECT_TRUE(driver.Open(Format(22050, 16, 2), &m_client)) << driver.LastError();
    }

    // Four frames of data, then 300 MiB of a chunk nobody plays.
    QByteArray bytes = MakeWav({}, Samples16({5, -6, 7, -8})) + "junk" + Le({300 << 20}, 4);
    const QString path = Write(bytes);
    ASSERT_TRUE(QFile::resize(path, bytes.size() + (qint64(300) << 20)));
    const uint64_t nBefore = BytesReadSoFar();
    EXPECT_EQ(CheckWavFile(path).toStdString(), "");
    WavFileWaveInDriver driver(path);
    EXPECT_EQ(Record(driver, Format(8000, 16, 1), 5), (std::vector<int>{5, -6, 7, -8, 5}));
    EXPECT_LT(BytesReadSoFar() - nBefore, uint64_t(1) << 20);
}
