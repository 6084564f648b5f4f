#include "audio/input/WavFileWaveInDriver.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
constexpr uint16_t kTagPcm = 0x0001;
constexpr uint16_t kTagFloat = 0x0003;
constexpr uint16_t kTagExtensible = 0xFFFE;
// Larger files are refused rather than read whole into memory.
constexpr qint64 kMaxFileBytes = qint64(1) << 30;
// Output frames converted per Deliver call.
constexpr uint32_t kChunkFrames = 4096;

uint16_t Le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

int16_t FromReal(double x)
{
    if (std::isnan(x))
        return 0;
    const double v = std::clamp(std::nearbyint(x * 32768.0), -32768.0, 32767.0);
    return static_cast<int16_t>(v);
}

// Nearest integer, halves away from zero; the value lies in the 16-bit range.
int RoundToInt(double x)
{
    return static_cast<int>(std::lround(x));
}
} // namespace

int16_t WavClip::Sample(uint32_t nFrame, int nChannel) const
{
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.constData()) + nDataOffset +
                    qsizetype(nFrame) * nBlockAlign + qsizetype(nChannel) * nSampleBytes;
    switch (encoding) {
    case Encoding::Unsigned8:
        return static_cast<int16_t>((p[0] - 128) * 256);
    case Encoding::Signed16:
        return static_cast<int16_t>(Le16(p));
    case Encoding::Signed24:
        return static_cast<int16_t>(Le16(p + 1));
    case Encoding::Signed32:
        return static_cast<int16_t>(Le16(p + 2));
    case Encoding::Float32: {
        const uint32_t bits = Le32(p);
        float x;
        std::memcpy(&x, &bits, sizeof x);
        return FromReal(x);
    }
    case Encoding::Float64: {
        const uint64_t bits = Le32(p) | (uint64_t(Le32(p + 4)) << 32);
        double x;
        std::memcpy(&x, &bits, sizeof x);
        return FromReal(x);
    }
    }
    return 0;
}

WavFileWaveInDriver::WavFileWaveInDriver(QString strPath) : m_strPath(std::move(strPath))
{
    m_timer.setTimerType(Qt::CoarseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { PollSource(); });
}

WavFileWaveInDriver::WavFileWaveInDriver(QByteArray wavBytes, QString strName)
    : WavFileWaveInDriver(std::move(strName))
{
    m_wavBytes = std::move(wavBytes);
}

WavFileWaveInDriver::~WavFileWaveInDriver()
{
    CloseQuietly();
}

bool WavFileWaveInDriver::IsFormatSupported(const WaveFormat &format)
{
    return IsPlainPcmFormat(format);
}

bool WavFileWaveInDriver::LoadWav(const QString &strPath, WavClip *pClip, std::string *pError)
{
    const std::string name = strPath.toStdString();
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *pError = name + ": cannot open (" + file.errorString().toStdString() + ")";
        return false;
    }
    if (file.size() > kMaxFileBytes) {
        *pError = name + ": too large to play (over 1 GiB)";
        return false;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *pError = name + ": cannot read (" + file.errorString().toStdString() + ")";
        return false;
    }
    return ParseWav(std::move(bytes), name, pClip, pError);
}

bool WavFileWaveInDriver::ParseWav(QByteArray bytes, const std::string &strName, WavClip *pClip,
                                   std::string *pError)
{
    auto fail = [&](const std::string &why) {
        *pError = strName + ": " + why;
        return false;
    };
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.constData());
    const qsizetype size = bytes.size();
    if (size < 12 || std::memcmp(p, "RIFF", 4) != 0)
        return fail("not a WAV file (no RIFF header)");
    if (std::memcmp(p + 8, "WAVE", 4) != 0)
        return fail("not a WAV file (the RIFF form is not WAVE)");

    // The RIFF size field is often wrong in files written while streaming;
    // the chunks are walked up to the real end of the file instead.
    const uint8_t *pFmt = nullptr;
    uint32_t fmtSize = 0;
    qsizetype dataOffset = -1;
    qsizetype dataBytes = 0;
    qsizetype offset = 12;
    while (offset + 8 <= size) {
        const uint32_t chunkSize = Le32(p + offset + 4);
        const qsizetype body = offset + 8;
        const qsizetype available = std::min<qsizetype>(chunkSize, size - body);
        if (std::memcmp(p + offset, "fmt ", 4) == 0 && !pFmt) {
            if (available < chunkSize)
                return fail("truncated fmt chunk");
            if (chunkSize < 16)
                return fail("fmt chunk too short (" + std::to_string(chunkSize) + " bytes)");
            pFmt = p + body;
            fmtSize = chunkSize;
        } else if (std::memcmp(p + offset, "data", 4) == 0 && dataOffset < 0) {
            dataOffset = body;
            dataBytes = available;
        }
        // Chunks are padded to an even length.
        offset = body + qsizetype(chunkSize) + (chunkSize & 1);
    }
    if (!pFmt)
        return fail("no fmt chunk");
    if (dataOffset < 0)
        return fail("no data chunk");

    uint16_t tag = Le16(pFmt);
    const uint16_t channels = Le16(pFmt + 2);
    const uint32_t rate = Le32(pFmt + 4);
    const uint16_t blockAlign = Le16(pFmt + 12);
    const uint16_t bits = Le16(pFmt + 14);
    if (tag == kTagExtensible) {
        // Sub-format GUID xxxxxxxx-0000-0010-8000-00aa00389b71, where the
        // first field is the plain format tag.
        static const uint8_t kGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                              0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        if (fmtSize < 40)
            return fail("extensible fmt chunk too short (" + std::to_string(fmtSize) + " bytes)");
        const uint32_t subTag = Le32(pFmt + 24);
        if (std::memcmp(pFmt + 28, kGuidTail, sizeof kGuidTail) != 0 || subTag > 0xFFFF)
            return fail("unsupported sample format (unknown extensible sub-format)");
        tag = static_cast<uint16_t>(subTag);
    }

    WavClip clip;
    if (tag == kTagPcm && bits == 8)
        clip.encoding = WavClip::Encoding::Unsigned8;
    else if (tag == kTagPcm && bits == 16)
        clip.encoding = WavClip::Encoding::Signed16;
    else if (tag == kTagPcm && bits == 24)
        clip.encoding = WavClip::Encoding::Signed24;
    else if (tag == kTagPcm && bits == 32)
        clip.encoding = WavClip::Encoding::Signed32;
    else if (tag == kTagFloat && bits == 32)
        clip.encoding = WavClip::Encoding::Float32;
    else if (tag == kTagFloat && bits == 64)
        clip.encoding = WavClip::Encoding::Float64;
    else if (tag == kTagPcm || tag == kTagFloat)
        return fail("unsupported sample format (" + std::to_string(bits) +
                    (tag == kTagPcm ? "-bit integer)" : "-bit float)"));
    else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04X", unsigned(tag));
        return fail(std::string("unsupported sample format (format tag ") + hex + ")");
    }
    if (channels == 0)
        return fail("no channels");
    if (rate == 0)
        return fail("sample rate 0");
    const uint16_t sampleBytes = bits / 8;
    if (blockAlign != uint32_t(channels) * sampleBytes)
        return fail("inconsistent fmt chunk (block alignment " + std::to_string(blockAlign) +
                    " for " + std::to_string(channels) + " channels of " + std::to_string(bits) +
                    " bits)");
    const qsizetype frames = dataBytes / blockAlign;
    if (frames == 0)
        return fail("no samples in the data chunk");

    clip.nDataOffset = dataOffset;
    clip.nFrames = static_cast<uint32_t>(std::min<qsizetype>(frames, UINT32_MAX));
    clip.nRate = rate;
    clip.nFileChannels = channels;
    clip.nBlockAlign = blockAlign;
    clip.nSampleBytes = sampleBytes;
    clip.bytes = std::move(bytes);
    *pClip = std::move(clip);
    return true;
}

bool WavFileWaveInDriver::OpenSource(const WaveFormat &format)
{
    std::string error;
    const bool bLoaded = m_wavBytes.isEmpty()
                             ? LoadWav(m_strPath, &m_clip, &error)
                             : ParseWav(m_wavBytes, m_strPath.toStdString(), &m_clip, &error);
    if (!bLoaded) {
        SetLastError(error);
        return false;
    }
    m_nDueBase = 0;
    m_nProduced = 0;
    m_nSrcFrame = 0;
    m_nSrcRemainder = 0;
    m_scratch.assign(size_t(kChunkFrames) * format.nBlockAlign, 0);
    return true;
}

void WavFileWaveInDriver::CloseSource()
{
    m_timer.stop();
    m_clip = WavClip();
    m_scratch = {};
}

bool WavFileWaveInDriver::StartSource()
{
    m_nDueBase = m_nProduced;
    m_clock.start();
    m_timer.start(kTickMs);
    return true;
}

void WavFileWaveInDriver::StopSource()
{
    m_timer.stop();
}

void WavFileWaveInDriver::PollSource()
{
    if (!IsRunning())
        return;
    const uint64_t rate = Format().nSamplesPerSec;
    const uint64_t ns = static_cast<uint64_t>(m_clock.nsecsElapsed());
    // Split so that the product cannot overflow.
    const uint64_t due = m_nDueBase + ns / 1000000000 * rate + ns % 1000000000 * rate / 1000000000;
    if (due <= m_nProduced)
        return;
    uint64_t n = due - m_nProduced;
    // After a long stall of this thread, only the last second is delivered;
    // the rest is skipped as a real device would have lost it.
    if (n > rate) {
        Skip(n - rate);
        m_nProduced += n - rate;
        n = rate;
    }
    Produce(n);
    m_nProduced += n;
}

void WavFileWaveInDriver::Produce(uint64_t nFrames)
{
    const WaveFormat &format = Format();
    const uint64_t outRate = format.nSamplesPerSec;
    const uint64_t inRate = m_clip.nRate;
    const int inChannels = m_clip.Channels();
    const bool bStereoOut = format.nChannels == 2;
    const bool b8BitOut = format.wBitsPerSample == 8;
    while (nFrames > 0) {
        const auto nChunk = static_cast<uint32_t>(std::min<uint64_t>(nFrames, kChunkFrames));
        uint8_t *pOut = m_scratch.data();
        for (uint32_t i = 0; i < nChunk; ++i) {
            // On a file frame (always, when the file's rate is a multiple of
            // the output's) the interpolation gives that frame's own whole
            // values: no neighbour to read and nothing to round.
            const bool bOnFrame = m_nSrcRemainder == 0;
            double value[2];
            if (bOnFrame) {
                for (int c = 0; c < inChannels; ++c)
                    value[c] = m_clip.Sample(m_nSrcFrame, c);
            } else {
                const uint32_t next = m_nSrcFrame + 1 < m_clip.nFrames ? m_nSrcFrame + 1 : 0;
                const double frac = double(m_nSrcRemainder) / double(outRate);
                for (int c = 0; c < inChannels; ++c) {
                    const double a = m_clip.Sample(m_nSrcFrame, c);
                    const double b = m_clip.Sample(next, c);
                    value[c] = a + (b - a) * frac;
                }
            }
            if (inChannels == 1)
                value[1] = value[0];
            int out[2];
            if (bStereoOut && bOnFrame) {
                out[0] = int(value[0]);
                out[1] = int(value[1]);
            } else if (bStereoOut) {
                out[0] = RoundToInt(value[0]);
                out[1] = RoundToInt(value[1]);
            } else {
                out[0] = RoundToInt((value[0] + value[1]) / 2);
            }
            for (int c = 0; c < format.nChannels; ++c) {
                if (b8BitOut) {
                    *pOut++ = static_cast<uint8_t>((out[c] >> 8) + 128);
                } else {
                    const auto s = static_cast<int16_t>(out[c]);
                    std::memcpy(pOut, &s, sizeof s);
                    pOut += sizeof s;
                }
            }
            // The next output frame lies inRate / outRate file frames on.
            m_nSrcRemainder += inRate;
            if (m_nSrcRemainder >= outRate) {
                m_nSrcFrame = static_cast<uint32_t>((m_nSrcFrame + m_nSrcRemainder / outRate) %
                                                    m_clip.nFrames);
                m_nSrcRemainder %= outRate;
            }
        }
        Deliver(m_scratch.data(), nChunk);
        nFrames -= nChunk;
    }
}

void WavFileWaveInDriver::Skip(uint64_t nFrames)
{
    const uint64_t outRate = Format().nSamplesPerSec;
    const uint64_t inRate = m_clip.nRate;
    // Whole seconds of output move the file position on by inRate frames each;
    // the rest is at most one second, so the products stay small.
    const uint64_t seconds = nFrames / outRate;
    const uint64_t rest = nFrames % outRate;
    uint64_t frame =
        (m_nSrcFrame + seconds % m_clip.nFrames * (inRate % m_clip.nFrames)) % m_clip.nFrames;
    const uint64_t remainder = m_nSrcRemainder + rest * inRate;
    frame = (frame + remainder / outRate % m_clip.nFrames) % m_clip.nFrames;
    m_nSrcFrame = static_cast<uint32_t>(frame);
    m_nSrcRemainder = remainder % outRate;
}
