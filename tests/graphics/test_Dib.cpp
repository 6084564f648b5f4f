#include "graphics/Dib.h"

#include "platform/CDC.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <unistd.h>
#include <vector>

// Every picture here is written byte by byte as a bitmap file stores it:
// little-endian fields, colour-table entries blue-green-red(-reserved),
// pixel rows padded to four bytes, bottom row first unless the height is
// negative. The expected colours come from those bytes, not from the reader.

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes &v, uint32_t x)
{
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

void Put32(Bytes &v, uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(uint8_t(x >> (8 * i)));
}

// The 14-byte file header. The reader looks only at "BM"; the rest is zero.
Bytes FileHeader(char c0 = 'B', char c1 = 'M')
{
    Bytes v{uint8_t(c0), uint8_t(c1)};
    v.resize(14, 0);
    return v;
}

// A 40-byte information header, zero-padded to nSize bytes for the larger
// forms; the three masks go at bytes 40..51 when nSize leaves room for them.
Bytes InfoHeader(int32_t nWidth, int32_t nHeight, uint16_t nBits, uint32_t nCompression = 0,
                 uint32_t nUsed = 0, uint32_t nSize = 40, std::vector<uint32_t> masks = {})
{
    Bytes v;
    Put32(v, nSize);
    Put32(v, uint32_t(nWidth));
    Put32(v, uint32_t(nHeight));
    Put16(v, 1); // planes
    Put16(v, nBits);
    Put32(v, nCompression);
    Put32(v, 0); // image size
    Put32(v, 2835);
    Put32(v, 2835);
    Put32(v, nUsed);
    Put32(v, 0); // colours important
    for (uint32_t m : masks)
        Put32(v, m);
    if (v.size() < nSize)
        v.resize(nSize, 0);
    return v;
}

Bytes CoreHeader(uint16_t nWidth, uint16_t nHeight, uint16_t nBits)
{
    Bytes v;
    Put32(v, 12);
    Put16(v, nWidth);
    Put16(v, nHeight);
    Put16(v, 1);
    Put16(v, nBits);
    return v;
}

Bytes Rgbq(uint8_t r, uint8_t g, uint8_t b)
{
    return {b, g, r, 0};
}

Bytes Rgbt(uint8_t r, uint8_t g, uint8_t b)
{
    return {b, g, r};
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes v;
    for (const Bytes &p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

// Reads from an exact-size heap copy, so that the sanitizer build reports any
// read past the end of the file.
HDIB Read(const Bytes &file)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[file.size()]);
    std::copy(file.begin(), file.end(), copy.get());
    return ReadDibBytes(copy.get(), file.size());
}

constexpr uint32_t Argb(uint32_t r, uint32_t g, uint32_t b)
{
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

uint32_t Px(const HDIB &h, int x, int y)
{
    return h->Pixels()[y * DibWidth(*h) + x];
}

// 3 x 2, 24 bits. Top row: red, green, blue; bottom row: white, grey, dark
// yellow.
const uint32_t kPic24[2][3] = {
    {Argb(255, 0, 0), Argb(0, 255, 0), Argb(0, 0, 255)},
    {Argb(255, 255, 255), Argb(128, 128, 128), Argb(100, 100, 0)},
};

Bytes Pic24Rows(bool bBottomFirst)
{
    const Bytes top{0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0};
    const Bytes bottom{255, 255, 255, 128, 128, 128, 0, 100, 100, 0, 0, 0};
    return bBottomFirst ? Join({bottom, top}) : Join({top, bottom});
}

HDIB Pic24(bool bTopDown = false)
{
    return Read(Join({FileHeader(), InfoHeader(3, bTopDown ? -2 : 2, 24), Pic24Rows(!bTopDown)}));
}

} // namespace

TEST(DibTest, OneBitPerPixel)
{
    // 10 pixels a row: two bytes of bits, two of padding. Bits past the
    // width and the padding are set to show that they are ignored.
    const Bytes file = Join({FileHeader(),
                             InfoHeader(10, 2, 1),
                             Rgbq(10, 20, 30),
                             Rgbq(200, 100, 50),
                             {0b10110000, 0b01111111, 0xEE, 0xEE},   // bottom row
                             {0b00000001, 0b10111111, 0xEE, 0xEE}}); // top row
    const HDIB h = Read(file);
    ASSERT_TRUE(h);
    EXPECT_EQ(DibWidth(*h), 10);
    EXPECT_EQ(DibHeight(*h), 2);
    EXPECT_EQ(DibColorCount(*h), 2);
    EXPECT_EQ(DibPaletteBytes(*h), 8);
    const uint32_t c0 = Argb(10, 20, 30), c1 = Argb(200, 100, 50);
    const uint32_t top[10] = {c0, c0, c0, c0, c0, c0, c0, c1, c1, c0};
    const uint32_t bottom[10] = {c1, c0, c1, c1, c0, c0, c0, c0, c0, c1};
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(Px(h, x, 0), top[x]) << "x " << x;
        EXPECT_EQ(Px(h, x, 1), bottom[x]) << "x " << x;
    }
}

TEST(DibTest, FourBitsPerPixel)
{
    Bytes table;
    for (int i = 0; i < 16; ++i)
        table = Join({table, Rgbq(1, 2, 3)});
    const Bytes c5 = Rgbq(50, 0, 0), c9 = Rgbq(0, 90, 0), c15 = Rgbq(0, 0, 150);
    std::copy(c5.begin(), c5.end(), table.begin() + 5 * 4);
    std::copy(c9.begin(), c9.end(), table.begin() + 9 * 4);
    std::copy(c15.begin(), c15.end(), table.begin() + 15 * 4);
    // Three pixels: indices in the high nibble first; the fourth nibble is unused.
    const HDIB h = Read(Join({FileHeader(),
                              InfoHeader(3, 2, 4),
                              table,
                              {0x5F, 0x9F, 0, 0},    // bottom: 5, 15, 9
                              {0x09, 0x5A, 0, 0}})); // top: 0, 9, 5
    ASSERT_TRUE(h);
    EXPECT_EQ(DibColorCount(*h), 16);
    EXPECT_EQ(Px(h, 0, 0), Argb(1, 2, 3));
    EXPECT_EQ(Px(h, 1, 0), Argb(0, 90, 0));
    EXPECT_EQ(Px(h, 2, 0), Argb(50, 0, 0));
    EXPECT_EQ(Px(h, 0, 1), Argb(50, 0, 0));
    EXPECT_EQ(Px(h, 1, 1), Argb(0, 0, 150));
    EXPECT_EQ(Px(h, 2, 1), Argb(0, 90, 0));
}

TEST(DibTest, EightBitsWithShortTableAndIndexPastIt)
{
    const HDIB h = Read(Join({FileHeader(),
                              InfoHeader(3, 1, 8, 0, 3),
                              Rgbq(11, 12, 13),
                              Rgbq(21, 22, 23),
                              Rgbq(31, 32, 33),
                              {2, 0, 200, 0x77}}));
    ASSERT_TRUE(h);
    EXPECT_EQ(DibColorCount(*h), 3);
    EXPECT_EQ(DibPaletteBytes(*h), 12);
    EXPECT_EQ(DibBits(h->Lock()) - h->Lock(), 40 + 12);
    EXPECT_EQ(Px(h, 0, 0), Argb(31, 32, 33));
    EXPECT_EQ(Px(h, 1, 0), Argb(11, 12, 13));
    EXPECT_EQ(Px(h, 2, 0), Argb(0, 0, 0)); // index 200 has no entry: black
}

TEST(DibTest, EightBitsColorsUsedZeroGivesFullPalette)
{
    Bytes table;
    for (int i = 0; i < 256; ++i)
        table = Join({table, Rgbq(uint8_t(i), uint8_t(255 - i), uint8_t(i / 2))});
    const HDIB h = Read(Join({FileHeader(), InfoHeader(3, 1, 8), table, {0, 255, 128, 0}}));
    ASSERT_TRUE(h);
    EXPECT_EQ(DibColorCount(*h), 256);
    EXPECT_EQ(DibPaletteBytes(*h), 1024);
    EXPECT_EQ(Px(h, 0, 0), Argb(0, 255, 0));
    EXPECT_EQ(Px(h, 1, 0), Argb(255, 0, 127));
    EXPECT_EQ(Px(h, 2, 0), Argb(128, 127, 64));

    CPalette pal;
    ASSERT_TRUE(CreateDibPalette(h, &pal));
    EXPECT_EQ(pal.GetVersion(), 0x300);
    ASSERT_EQ(pal.GetEntryCount(), 256);
    EXPECT_EQ(pal.GetEntry(0), (PALETTEENTRY{0, 255, 0, 0}));
    EXPECT_EQ(pal.GetEntry(1), (PALETTEENTRY{1, 254, 0, 0}));
    EXPECT_EQ(pal.GetEntry(255), (PALETTEENTRY{255, 0, 127, 0}));
}

TEST(DibTest, EightBitsColorsUsedTwentyGivesTwentyEntries)
{
    Bytes table;
    for (int i = 0; i < 20; ++i)
        table = Join({table, Rgbq(uint8_t(i * 10), uint8_t(i), uint8_t(200 - i))});
    // The pixel array follows the 20 entries directly; a reader assuming 256
    // entries would find the file too short.
    const HDIB h = Read(Join({FileHeader(), InfoHeader(2, 1, 8, 0, 20), table, {19, 20, 0, 0}}));
    ASSERT_TRUE(h);
    EXPECT_EQ(DibColorCount(*h), 20);
    EXPECT_EQ(DibPaletteBytes(*h), 80);
    EXPECT_EQ(Px(h, 0, 0), Argb(190, 19, 181));
    EXPECT_EQ(Px(h, 1, 0), Argb(0, 0, 0));

    CPalette pal;
    ASSERT_TRUE(CreateDibPalette(h, &pal));
    EXPECT_EQ(pal.GetVersion(), 0x300);
    ASSERT_EQ(pal.GetEntryCount(), 20);
    EXPECT_EQ(pal.GetEntry(0), (PALETTEENTRY{0, 0, 200, 0}));
    EXPECT_EQ(pal.GetEntry(19), (PALETTEENTRY{190, 19, 181, 0}));
}

TEST(DibTest, SixteenBitsFiveFiveFive)
{
    // x-R-G-B, five bits each; a field's 31 is 255, 16 is 16 * 255 / 31 = 131.61,
    // to the nearest 132.
    Bytes row;
    for (uint32_t v : {0x7C00u, 0x03E0u, 0x001Fu, 0x4210u, 0x801Fu})
        Put16(row, v);
    row.resize(12, 0); // 10 bytes padded to 12
    const HDIB h = Read(Join({FileHeader(), InfoHeader(5, 1, 16), row}));
    ASSERT_TRUE(h);
    EXPECT_EQ(DibColorCount(*h), 0);
    EXPECT_EQ(Px(h, 0, 0), Argb(255, 0, 0));
    EXPECT_EQ(Px(h, 1, 0), Argb(0, 255, 0));
    EXPECT_EQ(Px(h, 2, 0), Argb(0, 0, 255));
    EXPECT_EQ(Px(h, 3, 0), Argb(132, 132, 132));
    EXPECT_EQ(Px(h, 4, 0), Argb(0, 0, 255)); // the top bit is unused
}

TEST(DibTest, SixteenBitsWithMasksAfterHeader)
{
    // 5-6-5: the masks follow a 40-byte header; green's 32 of 63 is
    // 32 * 255 / 63 = 129.52, to the nearest 130.
    Bytes masks;
    for (uint32_t m : {0xF800u, 0x07E0u, 0x001Fu})
        Put32(masks, m);
    Bytes row;
    for (uint32_t v : {0xF800u, 0x07E0u, 0x0400u})
        Put16(row, v);
    row.resize(8, 0);
    const HDIB h = Read(Join({FileHeader(), InfoHeader(3, 1, 16, 3), masks, row}));
    ASSERT_TRUE(h);
    EXPECT_EQ(DibBits(h->Lock()) - h->Lock(), 52);
    EXPECT_EQ(Px(h, 0, 0), Argb(255, 0, 0));
    EXPECT_EQ(Px(h, 1, 0), Argb(0, 255, 0));
    EXPECT_EQ(Px(h, 2, 0), Argb(0, 130, 0));
}

TEST(DibTest, ThirtyTwoBitsWithMasksInLargeHeader)
{
    // A 124-byte header holds its masks; here red is the low byte, the
    // reverse of the uncompressed layout.
    const HDIB h = Read(Join({FileHeader(),
                              InfoHeader(1, 1, 32, 3, 0, 124, {0xFFu, 0xFF00u, 0xFF0000u}),
                              {0x11, 0x22, 0x33, 0x44}}));
    ASSERT_TRUE(h);
    EXPECT_EQ(DibBits(h->Lock()) - h->Lock(), 124);
    EXPECT_EQ(Px(h, 0, 0), Argb(0x11, 0x22, 0x33));
}

TEST(DibTest, ThirtyTwoBitsUncompressedIgnoresFourthByte)
{
    const HDIB h =
        Read(Join({FileHeader(), InfoHeader(2, 1, 32), {0x10, 0x20, 0x30, 0xAA, 1, 2, 3, 0}}));
    ASSERT_TRUE(h);
    EXPECT_EQ(Px(h, 0, 0), Argb(0x30, 0x20, 0x10));
    EXPECT_EQ(Px(h, 1, 0), Argb(3, 2, 1));
}

TEST(DibTest, TwentyFourBitsBottomUpHasNoPalette)
{
    const HDIB h = Pic24();
    ASSERT_TRUE(h);
    EXPECT_EQ(DibWidth(*h), 3);
    EXPECT_EQ(DibHeight(*h), 2);
    EXPECT_FALSE(DibIsTopDown(h->Lock()));
    EXPECT_EQ(DibColorCount(*h), 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(Px(h, x, y), kPic24[y][x]) << x << "," << y;

    CPalette pal;
    EXPECT_FALSE(CreateDibPalette(h, &pal));
    EXPECT_TRUE(pal.IsNull());
}

TEST(DibTest, TopDownRowsComeFirstInFile)
{
    const HDIB h = Pic24(true);
    ASSERT_TRUE(h);
    EXPECT_TRUE(DibIsTopDown(h->Lock()));
    EXPECT_EQ(DibHeight(*h), 2); // a size, not the stored -2
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(Px(h, x, y), kPic24[y][x]) << x << "," << y;
}

TEST(DibTest, CoreHeaderWithThreeByteEntries)
{
    const HDIB h = Read(Join({FileHeader(),
                              CoreHeader(3, 2, 1),
                              Rgbt(1, 2, 3),
                              Rgbt(250, 251, 252),
                              {0b10100000, 0, 0, 0},
                              {0b01000000, 0, 0, 0}}));
    ASSERT_TRUE(h);
    EXPECT_EQ(DibWidth(*h), 3);
    EXPECT_EQ(DibHeight(*h), 2);
    EXPECT_EQ(DibColorCount(*h), 2);
    EXPECT_EQ(DibPaletteBytes(*h), 6);
    EXPECT_EQ(DibBits(h->Lock()) - h->Lock(), 12 + 6);
    const uint32_t c0 = Argb(1, 2, 3), c1 = Argb(250, 251, 252);
    EXPECT_EQ(Px(h, 0, 0), c0);
    EXPECT_EQ(Px(h, 1, 0), c1);
    EXPECT_EQ(Px(h, 2, 0), c0);
    EXPECT_EQ(Px(h, 0, 1), c1);
    EXPECT_EQ(Px(h, 1, 1), c0);
    EXPECT_EQ(Px(h, 2, 1), c1);

    CPalette pal;
    ASSERT_TRUE(CreateDibPalette(h, &pal));
    ASSERT_EQ(pal.GetEntryCount(), 2);
    EXPECT_EQ(pal.GetEntry(0), (PALETTEENTRY{1, 2, 3, 0}));
    EXPECT_EQ(pal.GetEntry(1), (PALETTEENTRY{250, 251, 252, 0}));
}

TEST(DibTest, CreateDibPaletteWithoutPicture)
{
    CPalette pal;
    EXPECT_FALSE(CreateDibPalette(HDIB(), &pal));
    EXPECT_TRUE(pal.IsNull());
    const PALETTEENTRY e{1, 2, 3, 0};
    EXPECT_FALSE(pal.CreatePalette(0x200, &e, 1));
    EXPECT_TRUE(pal.IsNull());
}

TEST(DibTest, NotBmIsNoPicture)
{
    const Bytes body = Join({InfoHeader(3, 2, 24), Pic24Rows(true)});
    EXPECT_TRUE(Read(Join({FileHeader('B', 'M'), body})));
    EXPECT_FALSE(Read(Join({FileHeader('M', 'B'), body})));
    EXPECT_FALSE(Read(Join({FileHeader('B', 'A'), body})));
}

TEST(DibTest, ShortFilesAreNoPicture)
{
    const Bytes good = Join({FileHeader(), InfoHeader(3, 2, 24), Pic24Rows(true)});
    ASSERT_TRUE(Read(good));
    for (size_t n : {size_t(0), size_t(1), size_t(13), size_t(14), size_t(17), size_t(14 + 20),
                     size_t(14 + 35), size_t(14 + 39), size_t(14 + 40), good.size() - 1})
        EXPECT_FALSE(Read(Bytes(good.begin(), good.begin() + long(n)))) << n << " bytes";
}

TEST(DibTest, HeaderSizesThatDoNotFitAreNoPicture)
{
    const Bytes rows = Pic24Rows(true);
    for (uint32_t nSize : {0u, 4u, 11u, 13u, 20u, 39u, 200u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes header = InfoHeader(3, 2, 24);
        header[0] = uint8_t(nSize);
        header[1] = uint8_t(nSize >> 8);
        header[2] = uint8_t(nSize >> 16);
        header[3] = uint8_t(nSize >> 24);
        EXPECT_FALSE(Read(Join({FileHeader(), header, rows}))) << "header size " << nSize;
    }
}

TEST(DibTest, ColorTablePastTheEndIsNoPicture)
{
    Bytes table;
    for (int i = 0; i < 4; ++i)
        table = Join({table, Rgbq(1, 1, 1)});
    const Bytes row{0, 1, 2, 3};
    ASSERT_TRUE(Read(Join({FileHeader(), InfoHeader(4, 1, 8, 0, 4), table, row})));
    // 0x40000000 entries of 4 bytes are 2^32 bytes: zero in 32-bit arithmetic.
    for (uint32_t nUsed : {5u, 1000u, 0x10000u, 0x40000000u, 0xFFFFFFFFu})
        EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(4, 1, 8, 0, nUsed), table, row})))
            << "colours used " << nUsed;
    // Eight bits with colours-used 0 needs all 256 entries.
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(4, 1, 8), table, row})));
    // The colour count is a 16-bit number: 65536 entries are refused even
    // when they are all there.
    Bytes huge = Join({FileHeader(), InfoHeader(4, 1, 8, 0, 0x10000)});
    huge.resize(huge.size() + 0x10000 * 4, 0);
    EXPECT_FALSE(Read(Join({huge, row})));
}

TEST(DibTest, PixelRowsPastTheEndAreNoPicture)
{
    const Bytes rows = Pic24Rows(true); // two rows of 12 bytes
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(3, 3, 24), rows})));
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(3, -3, 24), rows})));
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(5, 2, 24), rows})));
    EXPECT_FALSE(Read(Join({FileHeader(), CoreHeader(3, 3, 24), rows})));
    EXPECT_FALSE(Read(Join({FileHeader(), CoreHeader(0xFFFF, 0xFFFF, 24), rows})));
}

TEST(DibTest, BadDimensionsAreNoPicture)
{
    const Bytes rows = Pic24Rows(true);
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(0, 2, 24), rows})));
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(-3, 2, 24), rows})));
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(3, 0, 24), rows})));
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(3, INT32_MIN, 24), rows})));
    EXPECT_FALSE(Read(Join({FileHeader(), CoreHeader(0, 2, 24), rows})));
    EXPECT_FALSE(Read(Join({FileHeader(), CoreHeader(3, 0, 24), rows})));
    // Products that wrap in 32 bits: 65536 x 65536 pixels is 2^32, and a
    // row of 2^27 pixels of 32 bits is 2^32 bits.
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(0x10000, 0x10000, 1), rows})));
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(0x8000000, 1, 32), rows})));
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(0x7FFFFFFF, -0x7FFFFFFF, 32), rows})));
}

TEST(DibTest, PixelCountLimit)
{
    // 10000 x 10000 at one bit: rows of 1252 bytes. Exactly the limit is
    // accepted; one column more is refused although every byte is there.
    Bytes file =
        Join({FileHeader(), InfoHeader(10000, 10000, 1), Rgbq(0, 0, 0), Rgbq(255, 255, 255)});
    file.resize(file.size() + size_t(1252) * 10000, 0);
    EXPECT_TRUE(Read(file));
    Bytes wider =
        Join({FileHeader(), InfoHeader(10001, 10000, 1), Rgbq(0, 0, 0), Rgbq(255, 255, 255)});
    wider.resize(wider.size() + size_t(1252) * 10000, 0);
    EXPECT_FALSE(Read(wider));
}

TEST(DibTest, UnsupportedKindsAreNoPicture)
{
    Bytes table;
    for (int i = 0; i < 256; ++i)
        table = Join({table, Rgbq(1, 1, 1)});
    const Bytes row{0, 0, 0, 0};
    ASSERT_TRUE(Read(Join({FileHeader(), InfoHeader(1, 1, 8), table, row})));
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(1, 1, 8, 1), table, row}))); // run-length 8
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(1, 1, 8, 2), table, row}))); // run-length 4
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(1, 1, 8, 3), table, row}))); // masks on 8
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(1, 1, 24, 4), row})));       // JPEG
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(1, 1, 2), table, row})));
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(1, 1, 0), table, row})));
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(1, 1, 33), table, row})));
    // A 48-byte header would end in the middle of its masks.
    EXPECT_FALSE(Read(Join({FileHeader(), InfoHeader(1, 1, 32, 3, 0, 48), row, row})));
}

TEST(DibTest, ReadDibFileFromSeekableFile)
{
    const Bytes good = Join({FileHeader(), InfoHeader(3, 2, 24), Pic24Rows(true)});
    std::FILE *f = std::tmpfile();
    ASSERT_TRUE(f);
    ASSERT_EQ(std::fwrite(good.data(), 1, good.size(), f), good.size());
    std::rewind(f);
    bool bError = true;
    const HDIB h = ReadDibFile(f, &bError);
    ASSERT_TRUE(h);
    EXPECT_FALSE(bError);
    EXPECT_EQ(Px(h, 2, 1), kPic24[1][2]);
    EXPECT_EQ(Px(h, 0, 0), kPic24[0][0]);
    std::fclose(f);

    // One byte short of the last row.
    f = std::tmpfile();
    ASSERT_TRUE(f);
    ASSERT_EQ(std::fwrite(good.data(), 1, good.size() - 1, f), good.size() - 1);
    std::rewind(f);
    EXPECT_FALSE(ReadDibFile(f, &bError));
    EXPECT_FALSE(bError);
    std::fclose(f);
}

TEST(DibTest, ReadDibFileFromPipe)
{
    const Bytes good = Join({FileHeader(), InfoHeader(3, -2, 24), Pic24Rows(false)});
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], good.data(), good.size()), ssize_t(good.size()));
    close(fds[1]);
    std::FILE *f = fdopen(fds[0], "rb");
    ASSERT_TRUE(f);
    const HDIB h = ReadDibFile(f);
    std::fclose(f);
    ASSERT_TRUE(h);
    EXPECT_EQ(Px(h, 1, 0), kPic24[0][1]);
    EXPECT_EQ(Px(h, 1, 1), kPic24[1][1]);
}

TEST(DibTest, ReadDibFileReportsStreamError)
{
    // Reading from a stream opened for writing only fails in the stream.
    std::FILE *f = std::fopen("/dev/null", "wb");
    ASSERT_TRUE(f);
    bool bError = false;
    EXPECT_FALSE(ReadDibFile(f, &bError));
    EXPECT_TRUE(bError);
    std::fclose(f);
    EXPECT_FALSE(ReadDibFile(nullptr, &bError));
}

// Drawing: an 8 x 6 canvas filled with a guard colour that every pixel
// outside the destination must keep.
namespace {

constexpr uint32_t kGuard = 0xFF123456u;

struct Canvas
{
    QImage image{8, 6, QImage::Format_RGB32};
    Canvas() { image.fill(kGuard); }
    uint32_t At(int x, int y) const { return image.pixel(x, y); }
};

} // namespace

TEST(DibTest, PaintDibNullHandleDrawsNothing)
{
    Canvas c;
    {
        CDC dc(&c.image);
        EXPECT_FALSE(PaintDib(&dc, RECT{0, 0, 8, 6}, HDIB(), RECT{0, 0, 3, 2}, nullptr));
    }
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(c.At(x, y), kGuard);
}

TEST(DibTest, PaintDibSameSizeCopiesExactly)
{
    for (bool bTopDown : {false, true}) {
        const HDIB h = Pic24(bTopDown);
        ASSERT_TRUE(h);
        Canvas c;
        {
            CDC dc(&c.image);
            EXPECT_TRUE(PaintDib(&dc, RECT{2, 1, 5, 3}, h, RECT{0, 0, 3, 2}, nullptr));
        }
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) {
                const bool bInside = x >= 2 && x < 5 && y >= 1 && y < 3;
                EXPECT_EQ(c.At(x, y), bInside ? kPic24[y - 1][x - 2] : kGuard)
                    << x << "," << y << (bTopDown ? " top-down" : "");
            }
    }
}

TEST(DibTest, PaintDibDoubleSizeRepeatsRowsAndColumns)
{
    // 2 x 2, eight bits, drawn with its palette object into 4 x 4.
    const HDIB h = Read(Join({FileHeader(),
                              InfoHeader(2, 2, 8, 0, 4),
                              Rgbq(255, 0, 0),
                              Rgbq(0, 255, 0),
                              Rgbq(0, 0, 255),
                              Rgbq(255, 255, 0),
                              {2, 3, 0, 0},    // bottom: blue, yellow
                              {0, 1, 0, 0}})); // top: red, green
    ASSERT_TRUE(h);
    CPalette pal;
    ASSERT_TRUE(CreateDibPalette(h, &pal));
    const uint32_t pic[2][2] = {{Argb(255, 0, 0), Argb(0, 255, 0)},
                                {Argb(0, 0, 255), Argb(255, 255, 0)}};
    Canvas c;
    {
        CDC dc(&c.image);
        EXPECT_TRUE(PaintDib(&dc, RECT{1, 1, 5, 5}, h, RECT{0, 0, 2, 2}, &pal));
    }
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool bInside = x >= 1 && x < 5 && y >= 1 && y < 5;
            EXPECT_EQ(c.At(x, y), bInside ? pic[(y - 1) / 2][(x - 1) / 2] : kGuard)
                << x << "," << y;
        }
}

TEST(DibTest, PaintDibShrinkDropsRows)
{
    // 2 x 4, every pixel its own colour, drawn into 2 x 2: the columns stay,
    // each destination row is one whole source row, unblended, and the two
    // rows keep their order.
    const uint8_t v[4][2] = {{10, 20}, {30, 40}, {50, 60}, {70, 80}}; // top row first
    Bytes rows;
    for (int y = 3; y >= 0; --y)
        rows = Join({rows, {v[y][0], 0, 0, v[y][1], 0, 0, 0, 0}});
    const HDIB h = Read(Join({FileHeader(), InfoHeader(2, 4, 24), rows}));
    ASSERT_TRUE(h);
    Canvas c;
    {
        CDC dc(&c.image);
        EXPECT_TRUE(PaintDib(&dc, RECT{3, 2, 5, 4}, h, RECT{0, 0, 2, 4}, nullptr));
    }
    int nSourceRow[2] = {-1, -1};
    for (int y = 0; y < 2; ++y) {
        for (int r = 0; r < 4; ++r)
            if (c.At(3, 2 + y) == Argb(0, 0, v[r][0]) && c.At(4, 2 + y) == Argb(0, 0, v[r][1]))
                nSourceRow[y] = r;
        EXPECT_GE(nSourceRow[y], 0) << "destination row " << y << " is no source row";
    }
    EXPECT_LT(nSourceRow[0], nSourceRow[1]);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            if (!(x >= 3 && x < 5 && y >= 2 && y < 4)) {
                EXPECT_EQ(c.At(x, y), kGuard) << x << "," << y;
            }
}
