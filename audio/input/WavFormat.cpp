#include "audio/input/WavFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
constexpr uint16_t kTagPcm = 0x0001;
constexpr uint16_t kTagFloat = 0x0003;
constexpr uint16_t kTagExtensible = 0xFFFE;
// Chunks walked at most in search of fmt and data: a file of countless tiny
// chunks costs no more than this many reads.
constexpr int kMaxChunks = 1000;

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
} // namespace

std::string ReadWavHeader(const WavByteReader &read, uint64_t size, WavFormat *pFormat)
{
    uint8_t riff[12];
    if (size < 12 || read(0, riff, 12) != 12 || std::memcmp(riff, "RIFF", 4) != 0)
        return "not a WAV file (no RIFF header)";
    if (std::memcmp(riff + 8, "WAVE", 4) != 0)
        return "not a WAV file (the RIFF form is not WAVE)";

    // The RIFF size field is often wrong in files written while streaming;
    // the chunks are walked up to the real end of the file instead, until
    // both the fmt and the data chunk are found.
    uint8_t fmtBytes[40] = {};
    const uint8_t *pFmt = nullptr;
    uint32_t fmtSize = 0;
    bool bData = false;
    uint64_t dataOffset = 0;
    uint64_t dataBytes = 0;
    uint64_t offset = 12;
    int chunks = 0;
    while (offset + 8 <= size && !(pFmt && bData)) {
        if (++chunks > kMaxChunks)
            return "more than " + std::to_string(kMaxChunks) + " chunks before the samples";
        uint8_t header[8];
        if (read(offset, header, 8) != 8)
            return "cannot read the file at byte " + std::to_string(offset);
        const uint32_t chunkSize = Le32(header + 4);
        const uint64_t body = offset + 8;
        const uint64_t available = std::min<uint64_t>(chunkSize, size - body);
        if (std::memcmp(header, "fmt ", 4) == 0 && !pFmt) {
            if (available < chunkSize)
                return "truncated fmt chunk";
            if (chunkSize < 16)
                return "fmt chunk too short (" + std::to_string(chunkSize) + " bytes)";
            const size_t n = std::min<size_t>(chunkSize, sizeof fmtBytes);
            if (read(body, fmtBytes, n) != n)
                return "cannot read the file at byte " + std::to_string(body);
            pFmt = fmtBytes;
            fmtSize = chunkSize;
        } else if (std::memcmp(header, "data", 4) == 0 && !bData) {
            bData = true;
            dataOffset = body;
            dataBytes = available;
        }
        // Chunks are padded to an even length.
        offset = body + uint64_t(chunkSize) + (chunkSize & 1);
    }
    if (!pFmt)
        return "no fmt chunk";
    if (!bData)
        return "no data chunk";

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
            return "extensible fmt chunk too short (" + std::to_string(fmtSize) + " bytes)";
        const uint32_t subTag = Le32(pFmt + 24);
        if (std::memcmp(pFmt + 28, kGuidTail, sizeof kGuidTail) != 0 || subTag > 0xFFFF)
            return "unsupported sample format (unknown extensible sub-format)";
        tag = static_cast<uint16_t>(subTag);
    }

    WavFormat format;
    if (tag == kTagPcm && bits == 8)
        format.encoding = WavEncoding::Unsigned8;
    else if (tag == kTagPcm && bits == 16)
        format.encoding = WavEncoding::Signed16;
    else if (tag == kTagPcm && bits == 24)
        format.encoding = WavEncoding::Signed24;
    else if (tag == kTagPcm && bits == 32)
        format.encoding = WavEncoding::Signed32;
    else if (tag == kTagFloat && bits == 32)
        format.encoding = WavEncoding::Float32;
    else if (tag == kTagFloat && bits == 64)
        format.encoding = WavEncoding::Float64;
    else if (tag == kTagPcm || tag == kTagFloat)
        return "unsupported sample format (" + std::to_string(bits) +
               (tag == kTagPcm ? "-bit integer)" : "-bit float)");
    else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04X", unsigned(tag));
        return std::string("unsupported sample format (format tag ") + hex + ")";
    }
    if (channels == 0)
        return "no channels";
    if (channels > kMaxWavChannels)
        return std::to_string(channels) + " channels (at most " + std::to_string(kMaxWavChannels) +
               " are played)";
    if (rate == 0)
        return "sample rate 0";
    if (rate < kMinWavRate || rate > kMaxWavRate)
        return "sample rate " + std::to_string(rate) + " Hz (" + std::to_string(kMinWavRate) +
               " to " + std::to_string(kMaxWavRate) + " Hz are played)";
    const uint16_t sampleBytes = bits / 8;
    if (blockAlign != uint32_t(channels) * sampleBytes)
        return "inconsistent fmt chunk (block alignment " + std::to_string(blockAlign) + " for " +
               std::to_string(channels) + " channels of " + std::to_string(bits) + " bits)";
    const uint64_t frames = dataBytes / blockAlign;
    if (frames == 0)
        return "no samples in the data chunk";
    if (dataBytes > kMaxWavDataBytes)
        return "data chunk of " + std::to_string(dataBytes) + " bytes (at most 1 GiB is played)";

    format.nDataOffset = static_cast<size_t>(dataOffset);
    format.nFrames = static_cast<uint32_t>(std::min<uint64_t>(frames, UINT32_MAX));
    format.nRate = rate;
    format.nFileChannels = channels;
    format.nBlockAlign = blockAlign;
    format.nSampleBytes = sampleBytes;
    *pFormat = format;
    return {};
}

std::string ParseWavFormat(const uint8_t *p, size_t size, WavFormat *pFormat)
{
    const auto read = [p, size](uint64_t offset, uint8_t *pOut, size_t n) -> size_t {
        if (offset >= size)
            return 0;
        n = std::min<size_t>(n, size - size_t(offset));
        std::memcpy(pOut, p + offset, n);
        return n;
    };
    return ReadWavHeader(read, size, pFormat);
}

int16_t WavSample(const uint8_t *pData, const WavFormat &format, uint32_t nFrame, int nChannel)
{
    const uint8_t *p = pData + format.nDataOffset + size_t(nFrame) * format.nBlockAlign +
                       size_t(nChannel) * format.nSampleBytes;
    switch (format.encoding) {
    case WavEncoding::Unsigned8:
        return static_cast<int16_t>((p[0] - 128) * 256);
    case WavEncoding::Signed16:
        return static_cast<int16_t>(Le16(p));
    case WavEncoding::Signed24:
        return static_cast<int16_t>(Le16(p + 1));
    case WavEncoding::Signed32:
        return static_cast<int16_t>(Le16(p + 2));
    case WavEncoding::Float32: {
        const uint32_t bits = Le32(p);
        float x;
        std::memcpy(&x, &bits, sizeof x);
        return FromReal(x);
    }
    case WavEncoding::Float64: {
        const uint64_t bits = Le32(p) | (uint64_t(Le32(p + 4)) << 32);
        double x;
        std::memcpy(&x, &bits, sizeof x);
        return FromReal(x);
    }
    }
    return 0;
}
