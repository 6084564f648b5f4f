#pragma once

#include "graphics/GdiTypes.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

class CDC;

// The background picture: a Windows bitmap file held in memory as a packed
// device-independent bitmap (information header, colour table, pixel array,
// exactly as they follow the 14-byte file header in the file), its logical
// palette, and the routines that read, measure and draw it.
//
// Everything here except PaintDib is free of Qt (PaintDib lives in
// DibPaint.cpp), so that the file reader can be fuzzed on its own.
// User-interface thread only.

// One entry of a logical palette.
struct PALETTEENTRY
{
    uint8_t peRed = 0;
    uint8_t peGreen = 0;
    uint8_t peBlue = 0;
    uint8_t peFlags = 0;
    friend bool operator==(const PALETTEENTRY &, const PALETTEENTRY &) = default;
};

// A logical palette object. Empty (IsNull) until CreatePalette succeeds.
class CPalette
{
public:
    static constexpr uint16_t kVersion = 0x300;

    // Replaces the palette. Fails, leaving the object as it was, for a version
    // other than 0x300 or an entry count outside 1..65535.
    bool CreatePalette(uint16_t wVersion, const PALETTEENTRY *pEntries, int nCount);
    void DeleteObject();

    bool IsNull() const { return m_entries.empty(); }
    uint16_t GetVersion() const { return m_wVersion; }
    int GetEntryCount() const { return int(m_entries.size()); }
    // i must be in 0..GetEntryCount()-1.
    const PALETTEENTRY &GetEntry(int i) const { return m_entries[size_t(i)]; }

private:
    uint16_t m_wVersion = 0;
    std::vector<PALETTEENTRY> m_entries;
};

// A packed DIB whose header, colour table and pixel array have been checked
// against the bytes present: every CDib can be measured and decoded without
// reading outside its block. Only ReadDibBytes / ReadDibFile make one.
class CDib
{
public:
    CDib(const CDib &) = delete;
    CDib &operator=(const CDib &) = delete;

    // The packed block (starts with the information header's size field).
    const uint8_t *Lock() const { return m_block.data(); }
    size_t Size() const { return m_block.size(); }

    // The picture as DibWidth x DibHeight pixels 0xFFRRGGBB, top row first,
    // whatever the row order in the file; decoded on the first call and kept.
    // Null when the memory for it cannot be had.
    const uint32_t *Pixels() const;

private:
    friend std::shared_ptr<CDib> ReadDibBytes(const uint8_t *pData, size_t nSize);
    explicit CDib(std::vector<uint8_t> block) : m_block(std::move(block)) {}
    bool Decode() const;

    std::vector<uint8_t> m_block;
    mutable std::vector<uint32_t> m_pixels; // empty until decoded
};

// The handle of a loaded picture; null means no picture.
using HDIB = std::shared_ptr<CDib>;

// Largest picture accepted, in pixels: far above any screen, small enough
// that the decoded copy (4 bytes a pixel) stays affordable. A file is read
// only up to kMaxDibFileBytes, which bounds the deeper pictures more tightly.
constexpr uint64_t kMaxDibPixels = 100'000'000;

// Reads a whole bitmap file (file header included) from memory. Null unless
// it starts with "BM" and its header, colour table and pixel array are all
// present and of a supported kind:
//  - header of 12 bytes (core form) or 40 bytes and more (larger ones are
//    read as their first 40 bytes);
//  - 1, 4, 8 or 24 bits per pixel, and in the 40-byte form also 16 (5-5-5)
//    and 32, uncompressed or, for 16 and 32, with colour masks
//    (BI_BITFIELDS);
//  - width 1.., height non-zero (negative: top row first, 40-byte form only),
//    width x height at most kMaxDibPixels.
// The file header's offset field is not consulted: the pixel array starts
// right after the header and the colour table (and the masks of a 40-byte
// header with BI_BITFIELDS).
HDIB ReadDibBytes(const uint8_t *pData, size_t nSize);

// Longest picture file read: a stream that goes on beyond it is no picture.
constexpr size_t kMaxDibFileBytes = size_t(256) * 1024 * 1024;

// Reads a bitmap file from the stream's current position to its end (at
// most kMaxDibFileBytes), then as ReadDibBytes. The stream is read until it
// ends, whatever seeking says its length is. When pbFileError is given it
// is set to whether the stream reported an error, as opposed to holding no
// valid picture.
HDIB ReadDibFile(std::FILE *pFile, bool *pbFileError = nullptr);

// Opens a picture file for ReadDibFile. Null when it cannot be opened or is
// no regular file: a FIFO, a device or a folder is no picture (and opening a
// FIFO would wait for a writer).
std::FILE *OpenDibFile(const char *pszPath);

// Builds a logical palette (version 0x300, one entry per colour-table entry,
// flags 0) into pPalette. False, leaving pPalette alone, for a null handle,
// a null palette object or a picture without a colour table.
bool CreateDibPalette(const HDIB &hDib, CPalette *pPalette);

// Draws the src rectangle of the picture (picture pixels, top row 0) into
// the dst rectangle of the device: an exact copy when both have the same
// size, otherwise stretched with rows and columns dropped or repeated, never
// blended. The palette is accepted for the callers' sake; the colour table
// is already applied when the picture is decoded, as every device here is
// true colour. False, drawing nothing, for a null handle.
bool PaintDib(CDC *pDC, const RECT &dst, const HDIB &hDib, const RECT &src,
              const CPalette *pPalette);

// Measures of a packed block accepted by ReadDibBytes (pDib = CDib::Lock()).
// DibHeight is the number of rows whatever their order: the 40-byte form
// stores a top-down picture's height negated, and every caller wants a size.
int DibWidth(const uint8_t *pDib);
int DibHeight(const uint8_t *pDib);
bool DibIsTopDown(const uint8_t *pDib);
int DibBitCount(const uint8_t *pDib);
// Colour-table entries: the 40-byte form's colours-used field when non-zero,
// else 2, 16 or 256 for 1, 4 or 8 bits per pixel, else 0.
int DibColorCount(const uint8_t *pDib);
// Colour-table size in bytes: 4 a colour in the 40-byte form, 3 in the core form.
int DibPaletteBytes(const uint8_t *pDib);
// The pixel array.
const uint8_t *DibBits(const uint8_t *pDib);

inline int DibWidth(const CDib &dib)
{
    return DibWidth(dib.Lock());
}
inline int DibHeight(const CDib &dib)
{
    return DibHeight(dib.Lock());
}
inline int DibColorCount(const CDib &dib)
{
    return DibColorCount(dib.Lock());
}
inline int DibPaletteBytes(const CDib &dib)
{
    return DibPaletteBytes(dib.Lock());
}
