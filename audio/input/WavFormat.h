#pragma once

// How the samples of a WAV file lie in its bytes, read without Qt so that the
// fuzzer can build it alone.

#include <cstddef>
#include <cstdint>
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

// Reads the chunks of a WAV file held in pData[0, nSize): PCM with 8, 16, 24
// or 32 bits, IEEE float with 32 or 64 bits, also in the extensible form, any
// channel count and rate. Unknown chunks are skipped; a data chunk cut short
// by the end of the bytes gives the whole frames that are there, and frames
// beyond 2^32 - 1 are dropped. Returns an empty string and fills *pFormat, or
// returns why the bytes cannot be played ("no fmt chunk") and leaves
// *pFormat alone. Every frame it describes lies inside the bytes.
std::string ParseWavFormat(const uint8_t *pData, size_t nSize, WavFormat *pFormat);

// Sample of channel nChannel (below format.nFileChannels) of frame nFrame
// (below format.nFrames) of the bytes format was read from, as a 16-bit
// value: 8-bit u gives (u - 128) * 256; 24- and 32-bit integers keep their
// top 16 bits (rounding down); a float x gives x * 32768 to the nearest
// integer, clamped to the 16-bit range (NaN gives 0).
int16_t WavSample(const uint8_t *pData, const WavFormat &format, uint32_t nFrame, int nChannel);
