#include "audio/input/WavFileWaveInDriver.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
// Larger files are refused rather than read whole into memory.
constexpr qint64 kMaxFileBytes = qint64(1) << 30;
// Output frames converted per Deliver call.
constexpr uint32_t kChunkFrames = 4096;

// Nearest integer, halves away from zero; the value lies in the 16-bit range.
int RoundToInt(double x)
{
    return static_cast<int>(std::lround(x));
}
} // namespace

int16_t WavClip::Sample(uint32_t nFrame, int nChannel) const
{
    return WavSample(reinterpret_cast<const uint8_t *>(bytes.constData()), *this, nFrame, nChannel);
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
