#include "platform/WavFileWaveInDriver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {
// Little-endian writers for building WAV files byte by byte.
void Put16(QByteArray &b, uint16_t v)
{
    b.append(char(v & 0xFF)).append(char(v >> 8));
}
void Put32(QByteArray &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}
void Put24(QByteArray &b, int32_t v)
{
    for (int i = 0; i < 3; ++i)
        b.append(char((uint32_t(v) >> (8 * i)) & 0xFF));
}
void PutF32(QByteArray &b, float x)
{
    uint32_t bits;
    std::memcpy(&bits, &x, 4);
    Put32(b, bits);
}
void PutF64(QByteArray &b, double x)
{
    uint64_t bits;
    std::memcpy(&bits, &x, 8);
    Put32(b, uint32_t(bits));
    Put32(b, uint32_t(bits >> 32));
}
QByteArray Samples16(const std::vector<int> &values)
{
    QByteArray b;
    for (int v : values)
        Put16(b, uint16_t(int16_t(v)));
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
    QByteArray extraChunk;         // a whole chunk put before "fmt "
    int64_t dataSizeOverride = -1; // the size written into the data chunk header
};

QByteArray MakeWav(const WavLayout &layout, const QByteArray &samples)
{
    const uint16_t blockAlign = uint16_t(layout.channels * layout.bits / 8);
    QByteArray fmt;
    Put16(fmt, layout.bExtensible ? 0xFFFE : layout.tag);
    Put16(fmt, layout.channels);
    Put32(fmt, layout.rate);
    Put32(fmt, layout.rate * blockAlign);
    Put16(fmt, blockAlign);
    Put16(fmt, layout.bits);
    if (layout.bExtensible) {
        Put16(fmt, 22);
        Put16(fmt, layout.bits); // valid bits
        Put32(fmt, layout.channels == 1 ? 0x4 : 0x3);
        Put32(fmt, layout.tag);
        const uint8_t tail[12] = {
            0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
            0x00, 0xAA, 0x00, 0x38, 0x9B, layout.bBadGuid ? uint8_t(0x72) : uint8_t(0x71)};
        fmt.append(reinterpret_cast<const char *>(tail), 12);
    }
    QByteArray body = "WAVE";
    body += layout.extraChunk;
    body += "fmt ";
    Put32(body, uint32_t(fmt.size()));
    body += fmt;
    body += "data";
    Put32(body, layout.dataSizeOverride >= 0 ? uint32_t(layout.dataSizeOverride)
                                             : uint32_t(samples.size()));
    body += samples;
    if (samples.size() % 2)
        body.append('\0');
    QByteArray file = "RIFF";
    Put32(file, uint32_t(body.size()));
    return file + body;
}

WaveFormat Format(uint32_t rate, uint16_t bits, uint16_t channels)
{
    WaveFormat f;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = uint16_t(bits * channels / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

class RecordingClient : public IWaveInClient
{
public:
    void OnWaveInData(WaveHeader *pHdr) override { m_returned.push_back(pHdr); }
    std::vector<WaveHeader *> m_returned;
};

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

    // Plays the file into one block of nFrames frames of the given format and
    // returns the block once the driver has handed it back.
    std::vector<uint8_t> Record(const QString &path, const WaveFormat &format, uint32_t nFrames)
    {
        WavFileWaveInDriver driver(path);
        return Record(driver, format, nFrames);
    }
    // The same with a given driver, which is closed again afterwards.
    std::vector<uint8_t> Record(WavFileWaveInDriver &driver, const WaveFormat &format,
                                uint32_t nFrames)
    {
        RecordingClient client;
        std::vector<uint8_t> memory(size_t(nFrames) * format.nBlockAlign, 0x5A);
        WaveHeader hdr;
        hdr.lpData = memory.data();
        hdr.dwBufferLength = uint32_t(memory.size());
        EXPECT_TRUE(driver.Open(format, &client)) << driver.LastError();
        EXPECT_TRUE(driver.PrepareHeader(&hdr));
        EXPECT_TRUE(driver.AddBuffer(&hdr));
        EXPECT_TRUE(driver.Start());
        QElapsedTimer clock;
        clock.start();
        while (client.m_returned.empty() && clock.elapsed() < 10000)
            QTest::qWait(5);
        EXPECT_EQ(client.m_returned.size(), 1u);
        EXPECT_TRUE(hdr.dwFlags & WHDR_DONE);
        driver.Close();
        return memory;
    }

    static std::vector<int> Samples16Of(const std::vector<uint8_t> &block)
    {
        std::vector<int> out(block.size() / 2);
        for (size_t i = 0; i < out.size(); ++i) {
            int16_t s;
            std::memcpy(&s, block.data() + 2 * i, 2);
            out[i] = s;
        }
        return out;
    }

    std::string OpenError(const QByteArray &bytes)
    {
        const QString path = Write(bytes, "bad.wav");
        WavFileWaveInDriver driver(path);
        RecordingClient client;
        EXPECT_FALSE(driver.Open(Format(22050, 16, 2), &client));
        EXPECT_FALSE(driver.IsOpen());
        const std::string error = driver.LastError();
        EXPECT_EQ(error.rfind(path.toStdString() + ": ", 0), 0u) << error;
        return error;
    }

    QTemporaryDir m_dir;
};
} // namespace

TEST_F(WavFileTest, SixteenBitStereoAtTheSameRatePassesThroughUnchanged)
{
    WavLayout layout;
    layout.channels = 2;
    const std::vector<int> values = {0, 1, -1, 32767, -32768, 1234, -4321, 77};
    const auto out =
        Samples16Of(Record(Write(MakeWav(layout, Samples16(values))), Format(8000, 16, 2), 4));
    EXPECT_EQ(out, values);
}

TEST_F(WavFileTest, EightBitMonoIsWidenedAndDoubledIntoBothChannels)
{
    WavLayout layout;
    layout.bits = 8;
    const QByteArray samples("\x00\x01\x7F\x80\x81\xFF", 6);
    // (u - 128) * 256 for u = 0, 1, 127, 128, 129, 255.
    const std::vector<int> expected = {-32768, -32768, -32512, -32512, -256,  -256,
                                       0,      0,      256,    256,    32512, 32512};
    EXPECT_EQ(Samples16Of(Record(Write(MakeWav(layout, samples)), Format(8000, 16, 2), 6)),
              expected);
}

TEST_F(WavFileTest, TwentyFourBitSamplesKeepTheirTopSixteenBits)
{
    WavLayout layout;
    layout.bits = 24;
    const std::vector<int32_t> values = {0x7FFFFF, -0x800000, 0x000100,  0x0000FF,
                                         -1,       0x123456,  -0x123456, -256};
    QByteArray samples;
    for (int32_t v : values)
        Put24(samples, v);
    std::vector<int> expected;
    for (int32_t v : values)
        expected.push_back(int(std::floor(v / 256.0)));
    EXPECT_EQ(expected[4], -1); // rounding down, not towards zero
    EXPECT_EQ(Samples16Of(Record(Write(MakeWav(layout, samples)), Format(8000, 16, 1), 8)),
              expected);
}

TEST_F(WavFileTest, ThirtyTwoBitIntegersKeepTheirTopSixteenBits)
{
    WavLayout layout;
    layout.bits = 32;
    const std::vector<int64_t> values = {2147483647, -2147483648LL, 65536, 65535, -1, 0x12345678};
    QByteArray samples;
    for (int64_t v : values)
        Put32(samples, uint32_t(int32_t(v)));
    std::vector<int> expected;
    for (int64_t v : values)
        expected.push_back(int(std::floor(double(v) / 65536.0)));
    EXPECT_EQ(Samples16Of(Record(Write(MakeWav(layout, samples)), Format(8000, 16, 1), 6)),
              expected);
}

TEST_F(WavFileTest, FloatSamplesAreScaledRoundedAndClamped)
{
    WavLayout layout;
    layout.tag = 3;
    layout.bits = 32;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> values = {0.0f, 0.5f,  -0.5f, 1.0f,  -1.0f,
                                       2.0f, -3.0f, -0.7f, 0.25f, nan};
    QByteArray samples;
    for (float x : values)
        PutF32(samples, x);
    // x * 32768 to the nearest integer, into -32768..32767; -0.7 * 32768 = -22937.6.
    const std::vector<int> expected = {0,     16384,  -16384, 32767, -32768,
                                       32767, -32768, -22938, 8192,  0};
    EXPECT_EQ(Samples16Of(Record(Write(MakeWav(layout, samples)), Format(8000, 16, 1), 10)),
              expected);
}

TEST_F(WavFileTest, DoubleFloatSamplesAreRead)
{
    WavLayout layout;
    layout.tag = 3;
    layout.bits = 64;
    layout.channels = 2;
    QByteArray samples;
    for (double x : {0.125, -0.125, 0.9999, -0.00001})
        PutF64(samples, x);
    // 0.9999 * 32768 = 32764.7232; -0.00001 * 32768 = -0.32768.
    const std::vector<int> expected = {4096, -4096, 32765, 0};
    EXPECT_EQ(Samples16Of(Record(Write(MakeWav(layout, samples)), Format(8000, 16, 2), 2)),
              expected);
}

TEST_F(WavFileTest, ExtensibleFormatsNameTheirSamplesInTheSubFormat)
{
    WavLayout pcm;
    pcm.bExtensible = true;
    pcm.channels = 2;
    const std::vector<int> values = {300, -300, 5, 6};
    EXPECT_EQ(Samples16Of(Record(Write(MakeWav(pcm, Samples16(values))), Format(8000, 16, 2), 2)),
              values);

    WavLayout real;
    real.bExtensible = true;
    real.tag = 3;
    real.bits = 32;
    QByteArray samples;
    PutF32(samples, 0.75f);
    PutF32(samples, -0.0625f);
    EXPECT_EQ(Samples16Of(Record(Write(MakeWav(real, samples), "f.wav"), Format(8000, 16, 1), 2)),
              (std::vector<int>{24576, -2048}));

    WavLayout unknown = pcm;
    unknown.bBadGuid = true;
    EXPECT_NE(OpenError(MakeWav(unknown, Samples16(values))).find("unknown extensible sub-format"),
              std::string::npos);
}

TEST_F(WavFileTest, OfMoreThanTwoChannelsTheFirstTwoArePlayed)
{
    WavLayout layout;
    layout.channels = 4;
    const std::vector<int> values = {1, 2, 3, 4, -5, -6, -7, -8};
    EXPECT_EQ(
        Samples16Of(Record(Write(MakeWav(layout, Samples16(values))), Format(8000, 16, 2), 2)),
        (std::vector<int>{1, 2, -5, -6}));
}

TEST_F(WavFileTest, StereoIsAveragedForAMonoInput)
{
    WavLayout layout;
    layout.channels = 2;
    const std::vector<int> values = {3, 4, -3, -4, 1000, -1000, 32767, 32767, -32768, -32767};
    // The mean to the nearest integer, halves away from zero.
    const std::vector<int> expected = {4, -4, 0, 32767, -32768};
    EXPECT_EQ(
        Samples16Of(Record(Write(MakeWav(layout, Samples16(values))), Format(8000, 16, 1), 5)),
        expected);
}

TEST_F(WavFileTest, EightBitOutputIsTheTopByteOffsetBy128)
{
    WavLayout layout;
    const std::vector<int> values = {0, -1, 255, 256, -256, -257, 32767, -32768};
    const auto out = Record(Write(MakeWav(layout, Samples16(values))), Format(8000, 8, 1), 8);
    ASSERT_EQ(out.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(int(out[i]), int(std::floor(values[i] / 256.0)) + 128) << "sample " << values[i];
}

TEST_F(WavFileTest, UnknownChunksOfOddLengthAreSkipped)
{
    WavLayout layout;
    layout.extraChunk =
        QByteArray("LIST", 4) + QByteArray("\x03\x00\x00\x00", 4) + "abc" + QByteArray(1, '\0');
    const std::vector<int> values = {11, -22, 33};
    EXPECT_EQ(
        Samples16Of(Record(Write(MakeWav(layout, Samples16(values))), Format(8000, 16, 1), 3)),
        values);
}

TEST_F(WavFileTest, TheFileLoopsForEver)
{
    WavLayout layout;
    const std::vector<int> values = {10, 20, 30, 40, 50};
    const auto out =
        Samples16Of(Record(Write(MakeWav(layout, Samples16(values))), Format(8000, 16, 1), 23));
    ASSERT_EQ(out.size(), 23u);
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i], values[i % 5]) << "frame " << i;
}

TEST_F(WavFileTest, DoublingTheRateInterpolatesHalfwayAndAcrossTheLoop)
{
    WavLayout layout;
    layout.rate = 11025;
    const std::vector<int> values = {0, 1000, -2000, 4000};
    const auto out =
        Samples16Of(Record(Write(MakeWav(layout, Samples16(values))), Format(22050, 16, 1), 10));
    // Output frame n lies at file frame n / 2; the last file frame leads back to the first.
    const std::vector<int> expected = {0, 500, 1000, -500, -2000, 1000, 4000, 2000, 0, 500};
    EXPECT_EQ(out, expected);
}

TEST_F(WavFileTest, HalvingTheRateTakesEverySecondFrame)
{
    WavLayout layout;
    layout.rate = 44100;
    layout.channels = 2;
    std::vector<int> values;
    for (int i = 0; i < 12; ++i) {
        values.push_back(i * 100);
        values.push_back(-i * 100);
    }
    const auto out =
        Samples16Of(Record(Write(MakeWav(layout, Samples16(values))), Format(22050, 16, 2), 9));
    for (int k = 0; k < 9; ++k) {
        const int frame = (2 * k) % 12;
        EXPECT_EQ(out[2 * k], frame * 100) << "frame " << k;
        EXPECT_EQ(out[2 * k + 1], -frame * 100) << "frame " << k;
    }
}

TEST_F(WavFileTest, AnUnrelatedRateInterpolatesLinearly)
{
    WavLayout layout;
    layout.rate = 8000;
    std::vector<int> values;
    for (int i = 0; i < 37; ++i)
        values.push_back(int(20000 * std::sin(0.37 * i * i)));
    const int n = 300;
    const auto out =
        Samples16Of(Record(Write(MakeWav(layout, Samples16(values))), Format(11025, 16, 1), n));
    for (int k = 0; k < n; ++k) {
        const double pos = double(k) * 8000.0 / 11025.0;
        const int i = int(std::floor(pos));
        const double frac = pos - i;
        const double a = values[i % 37], b = values[(i + 1) % 37];
        // Within one step for the rounding of a value that lands on a half.
        EXPECT_NEAR(out[k], a + (b - a) * frac, 0.5 + 1e-6) << "frame " << k;
    }
}

TEST_F(WavFileTest, ADataChunkCutShortPlaysTheFramesThatAreThere)
{
    WavLayout layout;
    layout.dataSizeOverride = 2000; // claims 1000 frames, the file holds 3
    const std::vector<int> values = {7, 8, 9};
    EXPECT_EQ(
        Samples16Of(Record(Write(MakeWav(layout, Samples16(values))), Format(8000, 16, 1), 7)),
        (std::vector<int>{7, 8, 9, 7, 8, 9, 7}));
}

TEST_F(WavFileTest, StoppedTimeDoesNotCountAndPlayGoesOnWhereItStopped)
{
    WavLayout layout;
    std::vector<int> values;
    for (int i = 0; i < 8000; ++i)
        values.push_back(i - 4000);
    WavFileWaveInDriver driver(Write(MakeWav(layout, Samples16(values))));
    RecordingClient client;
    std::vector<uint8_t> memory(size_t(8000) * 2);
    WaveHeader hdr;
    hdr.lpData = memory.data();
    hdr.dwBufferLength = uint32_t(memory.size());
    ASSERT_TRUE(driver.Open(Format(8000, 16, 1), &client));
    ASSERT_TRUE(driver.PrepareHeader(&hdr));
    ASSERT_TRUE(driver.AddBuffer(&hdr));
    ASSERT_TRUE(driver.Start());
    QTest::qWait(60);
    ASSERT_TRUE(driver.Stop());
    uint64_t stopped = 0;
    ASSERT_TRUE(driver.GetPosition(&stopped));
    EXPECT_GT(stopped, 0u);
    QTest::qWait(60);
    uint64_t later = 0;
    ASSERT_TRUE(driver.GetPosition(&later));
    EXPECT_EQ(later, stopped);
    ASSERT_TRUE(driver.Start());
    QTest::qWait(60);
    uint64_t resumed = 0;
    ASSERT_TRUE(driver.GetPosition(&resumed));
    ASSERT_GT(resumed, stopped);
    ASSERT_LT(resumed, 8000u);
    // No gap in the file where the pause was.
    const auto out = Samples16Of(memory);
    for (uint64_t i = 0; i < resumed; ++i)
        ASSERT_EQ(out[i], int(i) - 4000) << "frame " << i;
    driver.Close();
}

TEST_F(WavFileTest, FramesArriveAtTheRequestedRate)
{
    WavLayout layout;
    layout.rate = 48000;
    layout.channels = 2;
    const QString path = Write(MakeWav(layout, Samples16(std::vector<int>(96, 100))));
    WavFileWaveInDriver driver(path);
    RecordingClient client;
    const uint32_t rate = 11025;
    std::vector<uint8_t> memory(size_t(rate) * 10 * 4);
    WaveHeader hdr;
    hdr.lpData = memory.data();
    hdr.dwBufferLength = uint32_t(memory.size());
    ASSERT_TRUE(driver.Open(Format(rate, 16, 2), &client));
    ASSERT_TRUE(driver.PrepareHeader(&hdr));
    ASSERT_TRUE(driver.AddBuffer(&hdr));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(driver.Start());
    QTest::qWait(400);
    uint64_t frames = 0;
    ASSERT_TRUE(driver.GetPosition(&frames));
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    // The driver's clock started after ours and was read before ours was: it
    // can only have produced fewer frames than our elapsed time allows.
    EXPECT_LE(double(frames), rate * seconds + 1);
    EXPECT_GE(double(frames), rate * seconds * 0.9 - 200);
    EXPECT_EQ(hdr.dwBytesRecorded, frames * 4);
    driver.Close();
}

TEST_F(WavFileTest, ReopeningStartsAgainAtTheBeginning)
{
    WavLayout layout;
    std::vector<int> values;
    for (int i = 0; i < 100; ++i)
        values.push_back(i);
    WavFileWaveInDriver driver(Write(MakeWav(layout, Samples16(values))));
    const auto first = Samples16Of(Record(driver, Format(8000, 16, 1), 30));
    EXPECT_FALSE(driver.IsOpen());
    const auto second = Samples16Of(Record(driver, Format(8000, 16, 1), 30));
    EXPECT_EQ(first, std::vector<int>(values.begin(), values.begin() + 30));
    EXPECT_EQ(second, first);
}

TEST_F(WavFileTest, FilesThatAreNotPlayableWAVsFailWithAReason)
{
    WavLayout good;
    const QByteArray samples = Samples16({1, 2, 3});

    EXPECT_NE(OpenError("hello, world, this is text").find("not a WAV file (no RIFF header)"),
              std::string::npos);
    EXPECT_NE(OpenError(QByteArray()).find("no RIFF header"), std::string::npos);
    QByteArray avi = MakeWav(good, samples);
    avi.replace(8, 4, "AVI ");
    EXPECT_NE(OpenError(avi).find("not a WAV file (the RIFF form is not WAVE)"), std::string::npos);

    WavLayout adpcm;
    adpcm.tag = 2;
    adpcm.bits = 4;
    EXPECT_NE(
        OpenError(MakeWav(adpcm, samples)).find("unsupported sample format (format tag 0x0002)"),
        std::string::npos);
    WavLayout twelve;
    twelve.bits = 12;
    EXPECT_NE(
        OpenError(MakeWav(twelve, samples)).find("unsupported sample format (12-bit integer)"),
        std::string::npos);
    WavLayout noChannels;
    noChannels.channels = 0;
    EXPECT_NE(OpenError(MakeWav(noChannels, samples)).find("no channels"), std::string::npos);
    WavLayout noRate;
    noRate.rate = 0;
    EXPECT_NE(OpenError(MakeWav(noRate, samples)).find("sample rate 0"), std::string::npos);

    QByteArray misaligned = MakeWav(good, samples);
    misaligned[12 + 8 + 12] = 4; // block alignment 4 for one 16-bit channel
    EXPECT_NE(OpenError(misaligned).find("inconsistent fmt chunk"), std::string::npos);

    EXPECT_NE(OpenError(MakeWav(good, QByteArray())).find("no samples"), std::string::npos);
    QByteArray noData = MakeWav(good, samples);
    noData.replace(36, 4, "junk");
    EXPECT_NE(OpenError(noData).find("no data chunk"), std::string::npos);
    QByteArray noFmt = MakeWav(good, samples);
    noFmt.replace(12, 4, "fmtx");
    EXPECT_NE(OpenError(noFmt).find("no fmt chunk"), std::string::npos);
    QByteArray shortFmt = MakeWav(good, samples);
    shortFmt[16] = 14;
    EXPECT_NE(OpenError(shortFmt).find("fmt chunk too short"), std::string::npos);

    WavFileWaveInDriver missing(m_dir.filePath("absent.wav"));
    RecordingClient client;
    EXPECT_FALSE(missing.Open(Format(22050, 16, 2), &client));
    EXPECT_NE(missing.LastError().find("absent.wav: cannot open"), std::string::npos);
}

TEST_F(WavFileTest, EveryTruncationFailsCleanlyUntilAFrameIsThere)
{
    WavLayout layout;
    layout.channels = 2;
    layout.bits = 24;
    QByteArray samples;
    for (int v : {1, 2, 3, 4})
        Put24(samples, v << 8);
    const QByteArray whole = MakeWav(layout, samples);
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
