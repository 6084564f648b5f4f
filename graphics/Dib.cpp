#include "graphics/Dib.h"

#include "platform/RegularFile.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <new>

#include <unistd.h>

// No Qt in this file: the fuzz build compiles it alone.

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
// The smallest extended header that carries the colour masks itself (at
// bytes 40..51); a 40-byte header with BI_BITFIELDS is followed by them.
constexpr uint32_t kMaskHeaderSize = 52;
constexpr uint32_t kMaskBytes = 12;
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t kBlack = 0xFF000000u;

uint16_t Le16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t Le32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint32_t HeaderSize(const uint8_t *pDib)
{
    return Le32(pDib);
}

bool IsInfoForm(const uint8_t *pDib)
{
    return HeaderSize(pDib) >= kInfoHeaderSize;
}

uint32_t Compression(const uint8_t *pDib)
{
    return IsInfoForm(pDib) ? Le32(pDib + 16) : BI_RGB;
}

// Bytes of colour masks between the header and the colour table.
uint32_t MaskBytes(const uint8_t *pDib)
{
    return HeaderSize(pDib) < kMaskHeaderSize && Compression(pDib) == BI_BITFIELDS ? kMaskBytes : 0;
}

uint32_t ColorsByBitCount(int nBits)
{
    switch (nBits) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

// Bytes of one row of the pixel array: rows are padded to whole 32-bit words.
uint64_t RowStride(uint64_t nWidth, int nBits)
{
    return (nWidth * uint64_t(nBits) + 31) / 32 * 4;
}

// Whether the header, masks, colour table and every row of the pixel array
// lie inside the n bytes of the block, and the picture is of a supported
// kind. All arithmetic is in 64 bits on values below 2^32, so no product
// can wrap.
bool CheckBlock(const uint8_t *p, size_t n)
{
    if (n < 4)
        return false;
    const uint32_t nHeader = HeaderSize(p);
    uint64_t nWidth = 0;
    uint64_t nHeight = 0;
    int nBits = 0;
    uint64_t nColors = 0;
    uint64_t nEntryBytes = 0;
    uint64_t nMaskBytes = 0;

    if (nHeader == kCoreHeaderSize) {
        if (n < nHeader)
            return false;
        nWidth = Le16(p + 4);
        nHeight = Le16(p + 6);
        nBits = Le16(p + 10);
        if (nBits != 1 && nBits != 4 && nBits != 8 && nBits != 24)
            return false;
        nColors = ColorsByBitCount(nBits);
        nEntryBytes = 3;
    } else if (nHeader >= kInfoHeaderSize) {
        if (nHeader > n)
            return false;
        const int32_t nW = int32_t(Le32(p + 4));
        const int32_t nH = int32_t(Le32(p + 8));
        if (nW <= 0 || nH == 0 || nH == INT32_MIN)
            return false;
        nWidth = uint64_t(nW);
        nHeight = nH < 0 ? uint64_t(-int64_t(nH)) : uint64_t(nH);
        nBits = Le16(p + 14);
        if (nBits != 1 && nBits != 4 && nBits != 8 && nBits != 16 && nBits != 24 && nBits != 32)
            return false;
        const uint32_t nCompression = Le32(p + 16);
        if (nCompression == BI_BITFIELDS) {
            if (nBits != 16 && nBits != 32)
                return false;
            if (nHeader < kMaskHeaderSize) {
                if (nHeader != kInfoHeaderSize)
                    return false; // a header cut in the middle of its masks
                nMaskBytes = kMaskBytes;
            }
        } else if (nCompression != BI_RGB) {
            return false; // run-length and embedded JPEG/PNG pictures are not drawn
        }
        const uint32_t nUsed = Le32(p + 32);
        nColors = nUsed != 0 ? nUsed : ColorsByBitCount(nBits);
        nEntryBytes = 4;
    } else {
        return false;
    }

    if (nWidth == 0 || nHeight == 0 || nWidth * nHeight > kMaxDibPixels)
        return false;
    if (nColors > 0xFFFF)
        return false; // the colour count is a 16-bit number
    const uint64_t nBitsOffset = nHeader + nMaskBytes + nColors * nEntryBytes;
    if (nBitsOffset > n)
        return false;
    return RowStride(nWidth, nBits) * nHeight <= n - nBitsOffset;
}

// One colour field of a 16- or 32-bit pixel, scaled so that the field's
// largest value gives 255: value x 255 / largest, to the nearest integer
// (a 5-bit 16 gives 132, a 6-bit 32 gives 130).
struct Channel
{
    uint32_t dwMask = 0;
    int nShift = 0;
    uint32_t dwMax = 0;

    explicit Channel(uint32_t dwMaskIn) : dwMask(dwMaskIn)
    {
        if (dwMask != 0) {
            nShift = std::countr_zero(dwMask);
            dwMax = dwMask >> nShift;
        }
    }
    uint32_t operator()(uint32_t dwPixel) const
    {
        if (dwMax == 0)
            return 0;
        return uint32_t((uint64_t((dwPixel & dwMask) >> nShift) * 255 + dwMax / 2) / dwMax);
    }
};

} // namespace

bool CPalette::CreatePalette(uint16_t wVersion, const PALETTEENTRY *pEntries, int nCount)
{
    if (wVersion != kVersion || !pEntries || nCount <= 0 || nCount > 0xFFFF)
        return false;
    try {
        m_entries.assign(pEntries, pEntries + nCount);
    } catch (const std::bad_alloc &) {
        return false;
    }
    m_wVersion = wVersion;
    return true;
}

void CPalette::DeleteObject()
{
    m_entries.clear();
    m_wVersion = 0;
}

int DibWidth(const uint8_t *pDib)
{
    return IsInfoForm(pDib) ? int32_t(Le32(pDib + 4)) : Le16(pDib + 4);
}

int DibHeight(const uint8_t *pDib)
{
    if (!IsInfoForm(pDib))
        return Le16(pDib + 6);
    // INT32_MIN never passes the reader, so the negation cannot overflow.
    const int32_t nHeight = int32_t(Le32(pDib + 8));
    return nHeight < 0 ? -nHeight : nHeight;
}

bool DibIsTopDown(const uint8_t *pDib)
{
    return IsInfoForm(pDib) && int32_t(Le32(pDib + 8)) < 0;
}

int DibBitCount(const uint8_t *pDib)
{
    return Le16(pDib + (IsInfoForm(pDib) ? 14 : 10));
}

int DibColorCount(const uint8_t *pDib)
{
    if (IsInfoForm(pDib)) {
        const uint32_t nUsed = Le32(pDib + 32);
        if (nUsed != 0)
            return int(nUsed);
    }
    return int(ColorsByBitCount(DibBitCount(pDib)));
}

int DibPaletteBytes(const uint8_t *pDib)
{
    return DibColorCount(pDib) * (IsInfoForm(pDib) ? 4 : 3);
}

const uint8_t *DibBits(const uint8_t *pDib)
{
    return pDib + HeaderSize(pDib) + MaskBytes(pDib) + DibPaletteBytes(pDib);
}

const uint32_t *CDib::Pixels() const
{
    if (m_pixels.empty() && !Decode())
        return nullptr;
    return m_pixels.data();
}

bool CDib::Decode() const
{
    const uint8_t *p = Lock();
    const int nWidth = DibWidth(p);
    const int nHeight = DibHeight(p);
    const int nBits = DibBitCount(p);
    try {
        m_pixels.assign(size_t(nWidth) * size_t(nHeight), kBlack);
    } catch (const std::bad_alloc &) {
        m_pixels.clear();
        return false;
    }

    // Indexed pictures: the colour table as pixels; an index past the
    // table's end is black.
    uint32_t lut[256];
    std::fill(std::begin(lut), std::end(lut), kBlack);
    if (nBits <= 8) {
        const int nEntryBytes = IsInfoForm(p) ? 4 : 3;
        const uint8_t *pTable = p + HeaderSize(p) + MaskBytes(p);
        const int nColors = std::min(DibColorCount(p), 256);
        for (int i = 0; i < nColors; ++i) {
            const uint8_t *e = pTable + i * nEntryBytes;
            lut[i] = kBlack | (uint32_t(e[2]) << 16) | (uint32_t(e[1]) << 8) | e[0];
        }
    }

    // Direct colours of 16 and 32 bits: the file's masks, or the fixed
    // 5-5-5 and 8-8-8 layouts of uncompressed pictures.
    uint32_t masks[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};
    if (nBits == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    }
    if (Compression(p) == BI_BITFIELDS) {
        for (int i = 0; i < 3; ++i)
            masks[i] = Le32(p + kInfoHeaderSize + 4 * i);
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]);

    const uint8_t *pBits = DibBits(p);
    const size_t nStride = size_t(RowStride(uint64_t(nWidth), nBits));
    const bool bTopDown = DibIsTopDown(p);
    for (int nRow = 0; nRow < nHeight; ++nRow) {
        const uint8_t *s = pBits + size_t(nRow) * nStride;
        const int y = bTopDown ? nRow : nHeight - 1 - nRow;
        uint32_t *d = m_pixels.data() + size_t(y) * size_t(nWidth);
        for (int x = 0; x < nWidth; ++x) {
            switch (nBits) {
            case 1:
                d[x] = lut[(s[x >> 3] >> (7 - (x & 7))) & 1];
                break;
            case 4:
                d[x] = lut[(s[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF];
                break;
            case 8:
                d[x] = lut[s[x]];
                break;
            case 24: {
                const uint8_t *q = s + 3 * x;
                d[x] = kBlack | (uint32_t(q[2]) << 16) | (uint32_t(q[1]) << 8) | q[0];
                break;
            }
            case 16:
            case 32: {
                const uint32_t v = nBits == 16 ? Le16(s + 2 * x) : Le32(s + 4 * x);
                d[x] = kBlack | (red(v) << 16) | (green(v) << 8) | blue(v);
                break;
            }
            default:
                break; // refused by the reader
            }
        }
    }
    return true;
}

HDIB ReadDibBytes(const uint8_t *pData, size_t nSize)
{
    // The file header: "BM" (0x4D42 little-endian); none of its other
    // fields is used.
    if (!pData || nSize < kFileHeaderSize || pData[0] != 'B' || pData[1] != 'M')
        return nullptr;
    const uint8_t *pBlock = pData + kFileHeaderSize;
    const size_t nBlock = nSize - kFileHeaderSize;
    if (!CheckBlock(pBlock, nBlock))
        return nullptr;
    try {
        return HDIB(new CDib(std::vector<uint8_t>(pBlock, pBlock + nBlock)));
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

HDIB ReadDibFile(std::FILE *pFile, bool *pbFileError)
{
    if (pbFileError)
        *pbFileError = false;
    if (!pFile)
        return nullptr;
    auto fail = [&]() -> HDIB {
        if (pbFileError)
            *pbFileError = std::ferror(pFile) != 0;
        return nullptr;
    };

    // Read to the end rather than trust a length found by seeking: a device
    // or a file under /proc seeks to an end at 0 and still has bytes to give.
    constexpr size_t kChunk = 64 * 1024;
    std::vector<uint8_t> bytes;
    try {
        for (;;) {
            const size_t nHave = bytes.size();
            if (nHave > kMaxDibFileBytes)
                return fail();
            // Grown by doubling but never past one byte over the limit, so
            // that a stream without end costs no more than the limit.
            const size_t nWant = std::min(nHave + kChunk, kMaxDibFileBytes + 1);
            if (nWant > bytes.capacity())
                bytes.reserve(
                    std::min(std::max(nWant, 2 * bytes.capacity()), kMaxDibFileBytes + 1));
            bytes.resize(nWant);
            const size_t nRoom = nWant - nHave;
            const size_t nGot = std::fread(bytes.data() + nHave, 1, nRoom, pFile);
            bytes.resize(nHave + nGot);
            // Whatever does not start with "BM" is not read any further.
            if (bytes.size() >= 2 && (bytes[0] != 'B' || bytes[1] != 'M'))
                return fail();
            if (nGot < nRoom)
                break;
        }
    } catch (const std::bad_alloc &) {
        return fail();
    }
    if (std::ferror(pFile))
        return fail();
    return ReadDibBytes(bytes.data(), bytes.size());
}

std::FILE *OpenDibFile(const char *pszPath)
{
    if (!pszPath)
        return nullptr;
    bool bNotRegular = false;
    const int fd = OpenRegularFile(pszPath, &bNotRegular);
    if (fd < 0)
        return nullptr;
    std::FILE *pFile = ::fdopen(fd, "rb");
    if (!pFile)
        ::close(fd);
    return pFile;
}

bool CreateDibPalette(const HDIB &hDib, CPalette *pPalette)
{
    if (!hDib || !pPalette)
        return false;
    const uint8_t *p = hDib->Lock();
    const int nCount = DibColorCount(p);
    if (nCount == 0)
        return false;
    const int nEntryBytes = IsInfoForm(p) ? 4 : 3;
    const uint8_t *pTable = p + HeaderSize(p) + MaskBytes(p);
    std::vector<PALETTEENTRY> entries;
    try {
        entries.resize(size_t(nCount));
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (int i = 0; i < nCount; ++i) {
        const uint8_t *e = pTable + size_t(i) * size_t(nEntryBytes);
        entries[size_t(i)] = {e[2], e[1], e[0], 0};
    }
    return pPalette->CreatePalette(CPalette::kVersion, entries.data(), nCount);
}
