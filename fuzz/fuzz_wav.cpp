// libFuzzer target: arbitrary bytes as a WAV file to play. Every file the
// reader accepts has each sample of each of its channels read; the sanitizers
// catch any read outside the bytes, and the checks below catch a reader that
// describes frames it does not have or refuses without a reason.
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    WavFormat format;
    format.nRate = 12345; // untouched by a refusal
    const std::string why = ParseWavFormat(pData, nSize, &format);
    if (!why.empty()) {
        Check(format.nRate == 12345 && format.nFrames == 0);
        return 0;
    }

    Check(format.nFrames > 0 && format.nRate > 0 && format.nFileChannels > 0);
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
