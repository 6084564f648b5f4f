#include "audio/input/WavFileWaveInDriver.h"

#include "platform/RegularFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {
// Output frames converted per Deliver call.
constexpr uint32_t kChunkFrames = 4096;

// Nearest integer, halves away from zero; the value lies in the 16-bit range.
int RoundToInt(double x)
{
    return static_cast<int>(std::lround(x));
}
std::string SystemError(const char *pszWhat)
{
    return std::string(pszWhat) + " (" + std::strerror(errno) + ")";
}

} // namespace

// A WAV file open for reading, read by position.
class WavFileReader
{
public:
    WavFileReader() = default;
    WavFileReader(const WavFileReader &) = delete;
    WavFileReader &operator=(const WavFileReader &) = delete;
    ~WavFileReader()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // Opens a regular file and reads its header (ReadWavHeader): an empty
    // string, or why it cannot be played. The open does not wait, so a FIFO
    // without a writer is refused rather than hanging the caller.
    std::string OpenHeader(const QString &strPath, WavFormat *pFormat)
    {
        bool bNotRegular = false;
        m_fd = OpenRegularFile(QFile::encodeName(strPath).constData(), &bNotRegular);
        if (bNotRegular)
            return "not a regular file";
        if (m_fd < 0)
            return SystemError("cannot open");
        struct stat st = {};
        if (::fstat(m_fd, &st) != 0)
            return SystemError("cannot open");
        m_bError = false;
        std::string why =
            ReadWavHeader([this](uint64_t nOffset, uint8_t *pOut,
                                 size_t nBytes) { return ReadAt(nOffset, pOut, nBytes); },
                          uint64_t(st.st_size), pFormat);
        if (m_bError)
            return SystemError("cannot read");
        return why;
    }

    // Copies up to nBytes from nOffset on; fewer at the end of the file or
    // on an error (errno then tells which).
    size_t ReadAt(uint64_t nOffset, uint8_t *pOut, size_t nBytes)
    {
        size_t nDone = 0;
        while (nDone < nBytes) {
            const ssize_t n = ::pread(m_fd, pOut + nDone, nBytes - nDone, off_t(nOffset + nDone));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                m_bError = true;
            if (n <= 0)
                break;
            nDone += size_t(n);
        }
        return nDone;
    }

private:
    int m_fd = -1;
    bool m_bError = false;
};

int16_t WavClip::Sample(uint32_t nFrame, int nChannel) const
{
    return WavSample(reinterpret_cast<const uint8_t *>(bytes.constData()), *this, nFrame, nChannel);
}

WavFileWaveInDriver::WavFileWaveInDriver(QString strPath) : m_strPath(std::move(strPath))
{
    // Precise: a coarse timer may fire early, find the block not yet full
    // and need a second wake-up.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
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
    // Only the header is read until it says the file plays; then only the
    // frames, at most kMaxWavDataBytes of them.
    WavFileReader file;
    WavClip clip;
    std::string why = file.OpenHeader(strPath, &clip);
    if (why.empty()) {
        const size_t nBytes = size_t(clip.nFrames) * clip.nBlockAlign;
        clip.bytes = QByteArray(qsizetype(nBytes), Qt::Uninitialized);
        errno = 0;
        if (file.ReadAt(clip.nDataOffset, reinterpret_cast<uint8_t *>(clip.bytes.data()), nBytes) !=
            nBytes)
            why = errno ? SystemError("cannot read") : "cannot read (the file got shorter)";
        clip.nDataOffset = 0;
    }
    if (!why.empty()) {
        *pError = strPath.toStdString() + ": " + why;
        return false;
    }
    *pClip = std::move(clip);
    return true;
}

bool WavFileWaveInDriver::ParseWav(QByteArray bytes, const std::string &strName, WavClip *pClip,
                                   std::string *pError)
{
    WavClip clip;
    const std::string why = ParseWavFormat(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                           size_t(bytes.size()), &clip);
    if (!why.empty()) {
        *pError = strName + ": " + why;
        return false;
    }
    clip.bytes = std::move(bytes);
    *pClip = std::move(clip);
    return true;
}

bool WavFileWaveInDriver::AddBuffer(WaveHeader *pHdr)
{
    const bool bAdded = BlockQueueWaveInDriver::AddBuffer(pHdr);
    if (bAdded && IsRunning() && !m_timer.isActive())
        ArmTimer();
    return bAdded;
}

bool WavFileWaveInDriver::OpenSource(const WaveFormat &format)
{
    std::string error;
    bool bLoaded;
    if (m_wavBytes.isEmpty()) {
        // Only the header now; the frames as they play.
        auto pFile = std::make_unique<WavFileReader>();
        WavClip clip;
        const std::string why = pFile->OpenHeader(m_strPath, &clip);
        bLoaded = why.empty();
        if (bLoaded) {
            m_nFileDataOffset = clip.nDataOffset;
            clip.nDataOffset = 0;
            clip.bytes = QByteArray(qsizetype(kCacheFrames) * clip.nBlockAlign, Qt::Uninitialized);
            m_clip = std::move(clip);
            m_pFile = std::move(pFile);
            m_nCacheFirst = m_nCacheCount = 0;
        } else {
            error = m_strPath.toStdString() + ": " + why;
        }
    } else {
        bLoaded = ParseWav(m_wavBytes, m_strPath.toStdString(), &m_clip, &error);
    }
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
    m_pFile.reset();
    m_scratch = {};
}

bool WavFileWaveInDriver::StartSource()
{
    m_nDueBase = m_nProduced;
    m_clock.start();
    ArmTimer();
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
    ArmTimer();
}

void WavFileWaveInDriver::ArmTimer()
{
    const uint64_t nMissing = FramesToFillFront();
    if (nMissing == 0) {
        m_timer.stop();
        return;
    }
    const uint64_t rate = Format().nSamplesPerSec;
    const int nMs = int(std::min<uint64_t>((nMissing * 1000 + rate - 1) / rate, 1000));
    // The display polls every frame: a timer already due no later is left
    // running rather than registered anew (an allocation and two calls into
    // the event dispatcher a frame).
    if (m_timer.isActive() && m_timer.remainingTime() <= nMs)
        return;
    m_timer.start(nMs);
}

int16_t WavFileWaveInDriver::SourceSample(uint32_t nFrame, int nChannel)
{
    if (!m_pFile)
        return m_clip.Sample(nFrame, nChannel);
    if (nFrame - m_nCacheFirst >= m_nCacheCount) {
        // The next frames on from this one, up to the end of the data; what
        // cannot be read (the file got shorter) plays as silence.
        m_nCacheFirst = nFrame;
        m_nCacheCount = std::min(kCacheFrames, m_clip.nFrames - nFrame);
        const size_t nBytes = size_t(m_nCacheCount) * m_clip.nBlockAlign;
        auto *pCache = reinterpret_cast<uint8_t *>(m_clip.bytes.data());
        const size_t nRead = m_pFile->ReadAt(
            m_nFileDataOffset + uint64_t(nFrame) * m_clip.nBlockAlign, pCache, nBytes);
        if (nRead < nBytes) {
            std::memset(pCache + nRead, m_clip.encoding == WavEncoding::Unsigned8 ? 0x80 : 0,
                        nBytes - nRead);
        }
    }
    return m_clip.Sample(nFrame - m_nCacheFirst, nChannel);
}

void WavFileWaveInDriver::Produce(uint64_t nFrames)
{
    const WaveFormat &format = Format();
    const uint64_t outRate = format.nSamplesPerSec;
    const uint64_t inRate = m_clip.nRate;
    const int inChannels = m_clip.Channels();
    const bool bStereoOut = format.nChannels == 2;
    const bool b8BitOut = format.wBitsPerSample == 8;
    // A file already in the opened format (16-bit, same channels, same rate)
    // goes to the blocks as it lies, a run of its frames at a time.
    if (inRate == outRate && m_clip.encoding == WavEncoding::Signed16 && !b8BitOut &&
        m_clip.nFileChannels == format.nChannels) {
        while (nFrames > 0) {
            if (m_pFile)
                SourceSample(m_nSrcFrame, 0); // brings the frame into the cache
            const uint32_t nFirst = m_pFile ? m_nCacheFirst : 0;
            const uint32_t nEnd = m_pFile ? m_nCacheFirst + m_nCacheCount : m_clip.nFrames;
            const auto nRun =
                static_cast<uint32_t>(std::min<uint64_t>(nFrames, nEnd - m_nSrcFrame));
            const auto *pFrom = reinterpret_cast<const uint8_t *>(m_clip.bytes.constData()) +
                                m_clip.nDataOffset +
                                size_t(m_nSrcFrame - nFirst) * m_clip.nBlockAlign;
            Deliver(pFrom, nRun);
            m_nSrcFrame = (m_nSrcFrame + nRun) % m_clip.nFrames;
            nFrames -= nRun;
        }
        return;
    }
    // A 16-bit file at a whole multiple of the opened rate (44.1 kHz shown at
    // 22.05 kHz) takes every k-th frame as it lies: the general loop below
    // gives the same values, one sample at a time.
    if (inRate % outRate == 0 && m_nSrcRemainder == 0 && m_clip.encoding == WavEncoding::Signed16 &&
        !b8BitOut) {
        const auto nStep = static_cast<uint32_t>(inRate / outRate);
        while (nFrames > 0) {
            const auto nChunk = static_cast<uint32_t>(std::min<uint64_t>(nFrames, kChunkFrames));
            uint8_t *pOut = m_scratch.data();
            for (uint32_t i = 0; i < nChunk; ++i) {
                if (m_pFile && m_nSrcFrame - m_nCacheFirst >= m_nCacheCount)
                    SourceSample(m_nSrcFrame, 0); // brings the frame into the cache
                // Taken after the read: the cache is the clip's bytes.
                const uint8_t *p =
                    reinterpret_cast<const uint8_t *>(m_clip.bytes.constData()) +
                    m_clip.nDataOffset +
                    size_t(m_nSrcFrame - (m_pFile ? m_nCacheFirst : 0)) * m_clip.nBlockAlign;
                int16_t v[2];
                std::memcpy(&v[0], p, 2);
                if (inChannels == 2)
                    std::memcpy(&v[1], p + 2, 2);
                else
                    v[1] = v[0];
                if (bStereoOut) {
                    std::memcpy(pOut, v, 4);
                    pOut += 4;
                } else {
                    const auto s = static_cast<int16_t>(RoundToInt((double(v[0]) + v[1]) / 2));
                    std::memcpy(pOut, &s, 2);
                    pOut += 2;
                }
                m_nSrcFrame += nStep;
                if (m_nSrcFrame >= m_clip.nFrames)
                    m_nSrcFrame %= m_clip.nFrames;
            }
            Deliver(m_scratch.data(), nChunk);
            nFrames -= nChunk;
        }
        return;
    }
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
                    value[c] = SourceSample(m_nSrcFrame, c);
            } else {
                const uint32_t next = m_nSrcFrame + 1 < m_clip.nFrames ? m_nSrcFrame + 1 : 0;
                const double frac = double(m_nSrcRemainder) / double(outRate);
                for (int c = 0; c < inChannels; ++c) {
                    const double a = SourceSample(m_nSrcFrame, c);
                    const double b = SourceSample(next, c);
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

QString CheckWavFile(const QString &strPath)
{
    WavFileReader file;
    WavFormat format;
    return QString::fromStdString(file.OpenHeader(strPath, &format));
}
