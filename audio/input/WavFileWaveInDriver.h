#pragma once

#include "audio/input/BlockQueueWaveInDriver.h"
#include "audio/input/WavFormat.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The samples of a WAV file as they lie in the file; read one at a time.
struct WavClip : WavFormat
{
    QByteArray bytes; // what nDataOffset counts in: the frames read, or a WAV in memory

    // Sample of channel nChannel (0 or 1, below Channels()) of a frame, as a
    // 16-bit value (WavSample).
    int16_t Sample(uint32_t nFrame, int nChannel) const;
};

// A WAV file played in real time as the wave input, looped for ever. It is
// converted to the format the input is opened with: linear interpolation
// between neighbouring file frames for the rate (the last frame leads into
// the first, so the loop is seamless), a mono file doubled into both
// channels, a stereo file averaged for a mono input, and 8-bit output as
// the top byte of the 16-bit value plus 128.
//
// Time runs on the user-interface thread: at every GetPosition, and when the
// oldest queued block is due to be full (a timer set for that moment only),
// the frames due since Start are delivered. No threads. A file is read as it
// plays, kCacheFrames frames at a time; only the built-in signal lies whole
// in memory.
class WavFileReader;
class WavFileWaveInDriver : public BlockQueueWaveInDriver
{
public:
    static constexpr uint32_t kCacheFrames = 8192;

    // The file is read at Open, its header first and then, if it plays, its
    // frames; a file that cannot be played makes Open fail with the reason in
    // LastError ("<path>: not a WAV file (no RIFF header)").
    explicit WavFileWaveInDriver(QString strPath);
    // Plays WAV data held in memory (the built-in demo signal); strName names
    // it in messages.
    WavFileWaveInDriver(QByteArray wavBytes, QString strName);
    ~WavFileWaveInDriver() override;

    bool IsFormatSupported(const WaveFormat &format) override;
    bool AddBuffer(WaveHeader *pHdr) override;
    const QString &Path() const { return m_strPath; }

    // Reads a WAV file (ParseWavFormat). On failure *pError reads
    // "<strName>: <reason>".
    static bool ParseWav(QByteArray bytes, const std::string &strName, WavClip *pClip,
                         std::string *pError);
    // Reads a WAV file's header, then its frames (LoadWav's clip holds only
    // those). Anything but a regular file is refused unopened.
    static bool LoadWav(const QString &strPath, WavClip *pClip, std::string *pError);

protected:
    bool OpenSource(const WaveFormat &format) override;
    void CloseSource() override;
    bool StartSource() override;
    void StopSource() override;
    void PollSource() override;

private:
    // Converts the next nFrames output frames into the opened format and
    // delivers them.
    void Produce(uint64_t nFrames);
    // Moves the play position on by nFrames output frames without output.
    void Skip(uint64_t nFrames);
    // Sample of channel nChannel of file frame nFrame, from the frames read
    // last or, when it lies outside them, from the next ones read.
    int16_t SourceSample(uint32_t nFrame, int nChannel);
    // Wakes the driver when the oldest queued block is due to be full.
    void ArmTimer();

    QString m_strPath;
    QByteArray m_wavBytes; // in-memory WAV data; empty: read m_strPath at Open
    WavClip m_clip;        // the file's frames m_nCacheFirst on, or the whole in-memory WAV
    std::unique_ptr<WavFileReader> m_pFile; // the file being played; null for in-memory data
    uint64_t m_nFileDataOffset = 0;         // where the file's frames start
    uint32_t m_nCacheFirst = 0;
    uint32_t m_nCacheCount = 0;
    QTimer m_timer;           // single shot: when the oldest block is due
    QElapsedTimer m_clock;    // running since the last Start
    uint64_t m_nDueBase = 0;  // output frames produced before the last Start
    uint64_t m_nProduced = 0; // output frames produced since Open
    // The play position in the file: frame m_nSrcFrame plus
    // m_nSrcRemainder / (output rate) of the way to the next frame.
    uint32_t m_nSrcFrame = 0;
    uint64_t m_nSrcRemainder = 0;
    std::vector<uint8_t> m_scratch; // one chunk of output frames
};

// Whether the WAV file at strPath can be played, from a read of its header
// alone (a few hundred bytes, however large the file): an empty string, or
// why not ("not a regular file", "cannot open (Permission denied)",
// "unsupported sample format (format tag 0x0007)").
QString CheckWavFile(const QString &strPath);
