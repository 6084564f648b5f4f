// libFuzzer target: arbitrary bytes as a background bitmap file. Every file
// the reader accepts is measured, decoded pixel by pixel and given its
// palette; the sanitizers catch any read outside the block, and the checks
// below catch a reader that accepts what it cannot describe.
#include "graphics/Dib.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

void Check(bool bCondition)
{
    if (!bCondition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    const HDIB hDib = ReadDibBytes(pData, nSize);

    // The stream reader must agree with the memory reader on every input.
    if (nSize > 0) {
        std::FILE *pFile = fmemopen(const_cast<uint8_t *>(pData), nSize, "rb");
        if (pFile) {
            bool bError = true;
            const HDIB hFromFile = ReadDibFile(pFile, &bError);
            std::fclose(pFile);
            Check(!bError);
            Check(bool(hFromFile) == bool(hDib));
            Check(!hFromFile || hFromFile->Size() == hDib->Size());
        }
    }
    if (!hDib)
        return 0;

    const uint8_t *pDib = hDib->Lock();
    const int nWidth = DibWidth(pDib);
    const int nHeight = DibHeight(pDib);
    Check(nWidth > 0 && nHeight > 0);
    Check(uint64_t(nWidth) * uint64_t(nHeight) <= kMaxDibPixels);
    const uint8_t *pBits = DibBits(pDib);
    Check(pBits > pDib && pBits <= pDib + hDib->Size());

    const uint32_t *pPixels = hDib->Pixels();
    if (!pPixels)
        return 0; // out of memory is a refusal, not a fault
    uint32_t dwAll = 0xFFFFFFFFu;
    for (size_t i = 0; i < size_t(nWidth) * size_t(nHeight); ++i)
        dwAll &= pPixels[i];
    Check((dwAll >> 24) == 0xFF);     // every pixel opaque
    Check(hDib->Pixels() == pPixels); // decoded once

    CPalette palette;
    const int nColors = DibColorCount(pDib);
    Check(CreateDibPalette(hDib, &palette) == (nColors > 0));
    Check(palette.GetEntryCount() == nColors);
    Check(palette.IsNull() || palette.GetVersion() == 0x300);
    return 0;
}
