#pragma once

// How the samples of a WAV file lie in its bytes, read without Qt so that the
// fuzzer can build it alone.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum class WavEncoding
{
    Unsigned8,
    Signed16,
    Signed24,
    Signed32,
    Float32,
    Float64
};

struct WavFormat
{
    using Encoding = WavEncoding;

    size_t nDataOffset = 0; // offset of frame 0 in bytes
    uint32_t nFrames = 0;
    uint32_t nRate = 0;         // frames per second
    uint16_t nFileChannels = 0; // channels per frame in the file
    uint16_t nBlockAlign = 0;   // bytes per frame in the file
    uint16_t nSampleBytes = 0;  // bytes per sample in the file
    Encoding encoding = Encoding::Signed16;

    // One or two: of a file with more channels only the first two are used.
    int Channels() const { return nFileChannels > 1 ? 2 : 1; }
};

// What is played at most: the file is held in memory while it plays.
constexpr uint64_t kMaxWavDataBytes = uint64_t(1) << 30;
// The channel counts and rates that play.
constexpr int kMaxWavChannels = 8;
constexpr uint32_t kMinWavRate = 8000;
constexpr uint32_t kMaxWavRate = 384000;

// Copies up to nBytes of the file from nOffset on into pOut and returns how
// many it copied: fewer only at the end of the file or on a read error.
using WavByteReader = std::function<size_t(uint64_t nOffset, uint8_t *pOut, size_t nBytes)>;

// Reads the header of a WAV file of nFileSize bytes through read, which is
// asked only for chunk headers and the fmt chunk's first 40 bytes: a few
// hundred bytes for any file. Plays PCM with 8, 16, 24 or 32 bits and IEEE
// float with 32 or 64 bits, also in the extensible form; 1 to kMaxWavChannels
// channels; kMinWavRate to kMaxWavRate frames per second; at most
// kMaxWavDataBytes of data. Unknown chunks are skipped (up to 1000 of them);
// a data chunk cut short by the end of the file gives the whole frames that
// are there, and frames beyond 2^32 - 1 are dropped. Returns an empty string
// and fills *pFormat, or returns why the file cannot be played ("no fmt
// chunk") and leaves *pFormat alone. Every frame it describes lies inside the
// file.
std::string ReadWavHeader(const WavByteReader &read, uint64_t nFileSize, WavFormat *pFormat);

// ReadWavHeader of a file held whole in pData[0, nSize).
std::string ParseWavFormat(const uint8_t *pData, size_t nSize, WavFormat *pFormat);

// Sample of channel nChannel (below format.nFileChannels) of frame nFrame
// (below format.nFrames) of the bytes format was read from, as a 16-bit
// value: 8-bit u gives (u - 128) * 256; 24- and 32-bit integers keep their
// top 16 bits (rounding down); a float x gives x * 32768 to the nearest
// integer, clamped to the 16-bit range (NaN gives 0).
int16_t WavSample(const uint8_t *pData, const WavFormat &format, uint32_t nFrame, int nChannel);
