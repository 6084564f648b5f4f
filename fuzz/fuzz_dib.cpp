// libFuzzer target: arbitrary bytes as a background bitmap file. Every file
// the reader accepts is measured, decoded pixel by pixel and given its
// palette; the sanitizers catch any read outside the block, and the checks
// below catch a reader that accepts what it cannot describe. The stream
// reader is fed the same bytes three ways: from memory (fmemopen), from a
// memfd opened by its /proc/self/fd path (a file that tells its size) and,
// when they fit a pipe's buffer, from a pipe (a stream whose size cannot be
// known before its end).
#include "graphics/Dib.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

void Check(bool bCondition)
{
    if (!bCondition)
        __builtin_trap();
}

// The stream reader must agree with the memory reader on every input.
void CheckStream(std::FILE *pFile, const HDIB &hDib)
{
    if (!pFile)
        return;
    bool bError = true;
    const HDIB hFromFile = ReadDibFile(pFile, &bError);
    std::fclose(pFile);
    Check(!bError);
    Check(bool(hFromFile) == bool(hDib));
    Check(!hFromFile || hFromFile->Size() == hDib->Size());
}

bool WriteAll(int fd, const uint8_t *pData, size_t nSize)
{
    while (nSize > 0) {
        const ssize_t n = write(fd, pData, nSize);
        if (n <= 0)
            return false;
        pData += n;
        nSize -= size_t(n);
    }
    return true;
}

std::FILE *FromMemfd(const uint8_t *pData, size_t nSize)
{
    const int fd = memfd_create("dib", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::FILE *pFile = nullptr;
    if (WriteAll(fd, pData, nSize)) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        pFile = std::fopen(path.c_str(), "rb");
    }
    close(fd);
    return pFile;
}

// Null when the bytes do not fit the pipe's buffer: nothing else would read
// the pipe while this thread writes it.
std::FILE *FromPipe(const uint8_t *pData, size_t nSize)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return nullptr;
    const int nCapacity = fcntl(fds[1], F_GETPIPE_SZ);
    std::FILE *pFile = nullptr;
    if (nCapacity > 0 && nSize <= size_t(nCapacity) && WriteAll(fds[1], pData, nSize))
        pFile = fdopen(fds[0], "rb");
    close(fds[1]);
    if (!pFile)
        close(fds[0]);
    return pFile;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    const HDIB hDib = ReadDibBytes(pData, nSize);

    if (nSize > 0)
        CheckStream(fmemopen(const_cast<uint8_t *>(pData), nSize, "rb"), hDib);
    CheckStream(FromMemfd(pData, nSize), hDib);
    CheckStream(FromPipe(pData, nSize), hDib);
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
