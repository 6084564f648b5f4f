// libFuzzer target: arbitrary bytes as a WAV file to play. Every file the
// reader accepts has each sample of each of its channels read; the sanitizers
// catch any read outside the bytes, and the checks below catch a reader that
// describes frames it does not have or refuses without a reason. The same
// bytes are also read as the start of a file 3 GiB long (a hole after them),
// through the header reader the driver uses on files: it must agree with the
// memory reader, ask only for bytes inside the file, and read a few hundred
// bytes whatever the file's size.
#include "audio/input/WavFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void Check(bool bCondition)
{
    if (!bCondition)
        __builtin_trap();
}

// The bytes a header read may ask for: the RIFF header, a header of each
// chunk walked (at most 1000) and the fmt chunk's first 40 bytes.
constexpr uint64_t kMaxHeaderReadBytes = 12 + 1000 * 8 + 40;

// Reads the header of a file of nFileSize bytes that begins with pData[0,
// nSize) and holds zeros after them.
std::string ReadFromFile(const uint8_t *pData, size_t nSize, uint64_t nFileSize, WavFormat *pFormat)
{
    uint64_t nAsked = 0;
    const auto read = [&](uint64_t nOffset, uint8_t *pOut, size_t nBytes) -> size_t {
        Check(nOffset + nBytes <= nFileSize);
        nAsked += nBytes;
        for (size_t i = 0; i < nBytes; ++i)
            pOut[i] = nOffset + i < nSize ? pData[nOffset + i] : 0;
        return nBytes;
    };
    const std::string why = ReadWavHeader(read, nFileSize, pFormat);
    Check(nAsked <= kMaxHeaderReadBytes);
    return why;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    WavFormat format;
    format.nRate = 12345; // untouched by a refusal
    const std::string why = ParseWavFormat(pData, nSize, &format);

    // As a file of the same size, and as the head of a 3 GiB one.
    WavFormat fromFile;
    Check(ReadFromFile(pData, nSize, nSize, &fromFile) == why);
    Check(!why.empty() || (fromFile.nDataOffset == format.nDataOffset &&
                           fromFile.nFrames == format.nFrames && fromFile.nRate == format.nRate));
    WavFormat fromLong;
    fromLong.nRate = 12345;
    const std::string whyLong = ReadFromFile(pData, nSize, uint64_t(3) << 30, &fromLong);
    Check(!whyLong.empty() ||
          uint64_t(fromLong.nFrames) * fromLong.nBlockAlign <= kMaxWavDataBytes);
    Check(whyLong.empty() || fromLong.nRate == 12345);

    if (!why.empty()) {
        Check(format.nRate == 12345 && format.nFrames == 0);
        return 0;
    }

    Check(format.nFrames > 0 && format.nFileChannels > 0 &&
          format.nFileChannels <= kMaxWavChannels);
    Check(format.nRate >= kMinWavRate && format.nRate <= kMaxWavRate);
    Check(format.nSampleBytes == 1 || format.nSampleBytes == 2 || format.nSampleBytes == 3 ||
          format.nSampleBytes == 4 || format.nSampleBytes == 8);
    Check(format.nBlockAlign == format.nFileChannels * format.nSampleBytes);
    Check(format.nDataOffset >= 12 + 8); // RIFF header, one chunk header
    Check(format.nDataOffset + uint64_t(format.nFrames) * format.nBlockAlign <= nSize);
    Check(format.Channels() == (format.nFileChannels > 1 ? 2 : 1));

    int64_t nSum = 0;
    for (uint32_t nFrame = 0; nFrame < format.nFrames; ++nFrame) {
        for (int nChannel = 0; nChannel < format.nFileChannels; ++nChannel) {
            const int16_t nSample = WavSample(pData, format, nFrame, nChannel);
            if (format.encoding == WavEncoding::Unsigned8)
                Check(nSample % 256 == 0);
            nSum += nSample;
        }
    }
    // Keeps the reads from being optimised away.
    Check(nSum >= -32768 * int64_t(nSize) && nSum <= 32767 * int64_t(nSize));
    return 0;
}
