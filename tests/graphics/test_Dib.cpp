#include "graphics/Dib.h"

#include "graphics/CDC.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

// Every picture here is written byte by byte as a bitmap file stores it:
// little-endian fields, colour-table entries blue-green-red(-reserved),
// pixel rows padded to four bytes, bottom row first unless the height is
// negative. The expected colours come from those bytes, not from the reader.

namespace {

using Bytes = std::vector<uint8_t>;
using Rgb = std::array<uint8_t, 3>;
using Colours = std::function<Rgb(int)>;

// Little-endian fields of nBytes bytes each.
Bytes Le(std::initializer_list<uint32_t> values, int nBytes = 4)
{
    Bytes v;
    for (uint32_t x : values)
        for (int i = 0; i < nBytes; ++i)
            v.push_back(uint8_t(x >> (8 * i)));
    return v;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes v;
    for (const Bytes &p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

// A whole file: the 14-byte file header, of which the reader looks only at
// "BM" (the rest is zero), then the parts.
Bytes Bmp(std::initializer_list<Bytes> parts, const char *pMagic = "BM")
{
    return Join({{uint8_t(pMagic[0]), uint8_t(pMagic[1])}, Bytes(12, 0), Join(parts)});
}

// A 40-byte information header (planes 1, image size 0, 2835 pixels a metre,
// colours important 0), zero-padded to nSize bytes for the larger forms; the
// masks follow at byte 40.
Bytes InfoHeader(int32_t nWidth, int32_t nHeight, uint16_t nBits, uint32_t nCompression = 0,
                 uint32_t nUsed = 0, uint32_t nSize = 40,
                 std::initializer_list<uint32_t> masks = {})
{
    Bytes v = Join({Le({nSize, uint32_t(nWidth), uint32_t(nHeight)}), Le({1, nBits}, 2),
                    Le({nCompression, 0, 2835, 2835, nUsed, 0}), Le(masks)});
    v.resize(std::max<size_t>(v.size(), nSize), 0);
    return v;
}

Bytes CoreHeader(uint16_t nWidth, uint16_t nHeight, uint16_t nBits)
{
    return Join({Le({12}), Le({nWidth, nHeight, 1, nBits}, 2)});
}

// A colour table of n entries, entry i the colour f(i): blue, green, red and
// a reserved zero, or without it in the core form.
Bytes Table(int n, const Colours &f, bool bCore = false)
{
    Bytes v;
    for (int i = 0; i < n; ++i) {
        const Rgb c = f(i);
        v.insert(v.end(), {c[2], c[1], c[0]});
        if (!bCore)
            v.push_back(0);
    }
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

constexpr uint32_t Argb(Rgb c)
{
    return 0xFF000000u | uint32_t(c[0] << 16) | uint32_t(c[1] << 8) | c[2];
}

uint32_t Px(const HDIB &h, int x, int y)
{
    return h->Pixels()[y * DibWidth(*h) + x];
}

// 3 x 2, 24 bits. Top row: red, green, blue; bottom row: white, grey, dark
// yellow.
const std::vector<uint32_t> kPic24 = {Argb({255, 0, 0}),     Argb({0, 255, 0}),
                                      Argb({0, 0, 255}),     Argb({255, 255, 255}),
                                      Argb({128, 128, 128}), Argb({100, 100, 0})};

Bytes Pic24Rows(bool bBottomFirst)
{
    const Bytes top{0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0};
    const Bytes bottom{255, 255, 255, 128, 128, 128, 0, 100, 100, 0, 0, 0};
    return bBottomFirst ? Join({bottom, top}) : Join({top, bottom});
}

Bytes Pic24(bool bTopDown = false)
{
    return Bmp({InfoHeader(3, bTopDown ? -2 : 2, 24), Pic24Rows(!bTopDown)});
}

} // namespace

// Every supported kind: the measures, the pixels (top row first) and the
// palette built from the colour table.
TEST(DibTest, EachKindDecodesToTheColoursOfItsBytes)
{
    const auto list = [](std::vector<Rgb> v) { return [v](int i) { return v[size_t(i)]; }; };
    const Colours two = list({{10, 20, 30}, {200, 100, 50}});
    const Colours three = list({{11, 12, 13}, {21, 22, 23}, {31, 32, 33}});
    const Colours core = list({{1, 2, 3}, {250, 251, 252}});
    const Colours sixteen = [](int i) { return Rgb{uint8_t(17 * i), uint8_t(255 - 17 * i), 7}; };
    const Colours ramp = [](int i) { return Rgb{uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)}; };
    const Colours twenty = [](int i) { return Rgb{uint8_t(i * 10), uint8_t(i), uint8_t(200 - i)}; };
    struct Case
    {
        const char *name;
        Bytes file;
        int w, h, nColors, nPaletteBytes;
        long nBitsAt; // the pixel array's offset in the packed block
        Colours table;
        std::vector<uint32_t> pixels; // with a table, entry indices (past it: black)
    };
    // clang-format off
    const Case cases[] = {
        // 10 pixels a row: two bytes of bits, two of padding. Bits past the
        // width and the padding are set to show that they are ignored.
        {"1 bit", Bmp({InfoHeader(10, 2, 1), Table(2, two), {0b10110000, 0b01111111, 0xEE, 0xEE},
                       {0b00000001, 0b10111111, 0xEE, 0xEE}}),
         10, 2, 2, 8, 48, two, {0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 1}},
        // Indices in the high nibble first; the fourth nibble is unused.
        {"4 bits", Bmp({InfoHeader(3, 2, 4), Table(16, sixteen), {0x5F, 0x9F, 0, 0},
                        {0x09, 0x5A, 0, 0}}),
         3, 2, 16, 64, 104, sixteen, {0, 9, 5, 5, 15, 9}},
        // A short table; index 200 has no entry: black.
        {"8 bits, 3 used", Bmp({InfoHeader(3, 1, 8, 0, 3), Table(3, three), {2, 0, 200, 0x77}}),
         3, 1, 3, 12, 52, three, {2, 0, 200}},
        {"8 bits, 0 used", Bmp({InfoHeader(3, 1, 8), Table(256, ramp), {0, 255, 128, 0}}),
         3, 1, 256, 1024, 1064, ramp, {0, 255, 128}},
        // The pixels follow the 20 entries: a reader assuming 256 would find
        // the file short.
        {"8 bits, 20 used", Bmp({InfoHeader(2, 1, 8, 0, 20), Table(20, twenty), {19, 20, 0, 0}}),
         2, 1, 20, 80, 120, twenty, {19, 20}},
        // x-R-G-B, five bits each; a field's 16 is 16 * 255 / 31 = 131.61, to
        // the nearest 132 (0x84); the top bit is unused. 10 bytes padded to 12.
        {"16 bits", Bmp({InfoHeader(5, 1, 16), Le({0x7C00, 0x03E0, 0x001F, 0x4210, 0x801F, 0}, 2)}),
         5, 1, 0, 0, 40, nullptr, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF848484, 0xFF0000FF}},
        // 5-6-5 with the masks after a 40-byte header; green's 32 of 63 is
        // 129.52, to the nearest 130 (0x82).
        {"16 bits, masks", Bmp({InfoHeader(3, 1, 16, 3), Le({0xF800, 0x07E0, 0x001F}),
                                Le({0xF800, 0x07E0, 0x0400, 0}, 2)}),
         3, 1, 0, 0, 52, nullptr, {0xFFFF0000, 0xFF00FF00, 0xFF008200}},
        // A 124-byte header holds its masks; red is the low byte here.
        {"32 bits, masks", Bmp({InfoHeader(1, 1, 32, 3, 0, 124, {0xFF, 0xFF00, 0xFF0000}),
                                {0x11, 0x22, 0x33, 0x44}}),
         1, 1, 0, 0, 124, nullptr, {0xFF112233}},
        // Uncompressed, the fourth byte is ignored.
        {"32 bits", Bmp({InfoHeader(2, 1, 32), {0x10, 0x20, 0x30, 0xAA, 1, 2, 3, 0}}),
         2, 1, 0, 0, 40, nullptr, {0xFF302010, 0xFF030201}},
        {"24 bits", Pic24(), 3, 2, 0, 0, 40, nullptr, kPic24},
        // The height is a size, not the stored -2.
        {"24 bits, top down", Pic24(true), 3, 2, 0, 0, 40, nullptr, kPic24},
        // Three-byte entries.
        {"core", Bmp({CoreHeader(3, 2, 1), Table(2, core, true), {0b10100000, 0, 0, 0},
                      {0b01000000, 0, 0, 0}}),
         3, 2, 2, 6, 18, core, {0, 1, 0, 1, 0, 1}},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const HDIB h = Read(c.file);
        ASSERT_TRUE(h);
        EXPECT_EQ(DibWidth(*h), c.w);
        EXPECT_EQ(DibHeight(*h), c.h);
        EXPECT_EQ(DibColorCount(*h), c.nColors);
        EXPECT_EQ(DibPaletteBytes(*h), c.nPaletteBytes);
        EXPECT_EQ(DibBits(h->Lock()) - h->Lock(), c.nBitsAt);
        for (int i = 0; i < c.w * c.h; ++i) {
            const uint32_t v = c.pixels[size_t(i)];
            EXPECT_EQ(Px(h, i % c.w, i / c.w), !c.table             ? v
                                               : int(v) < c.nColors ? Argb(c.table(int(v)))
                                                                    : Argb({0, 0, 0}))
                << i % c.w << "," << i / c.w;
        }

        CPalette pal;
        ASSERT_EQ(CreateDibPalette(h, &pal), bool(c.table));
        EXPECT_EQ(pal.IsNull(), !c.table);
        if (!c.table)
            continue;
        EXPECT_EQ(pal.GetVersion(), 0x300);
        ASSERT_EQ(pal.GetEntryCount(), c.nColors);
        for (int i = 0; i < c.nColors; ++i) {
            const Rgb e = c.table(i);
            EXPECT_EQ(pal.GetEntry(i), (PALETTEENTRY{e[0], e[1], e[2], 0})) << i;
        }
    }

    EXPECT_TRUE(DibIsTopDown(Read(Pic24(true))->Lock()));
    EXPECT_FALSE(DibIsTopDown(Read(Pic24())->Lock()));

    // No palette without a picture, nor of another version.
    CPalette pal;
    EXPECT_FALSE(CreateDibPalette(HDIB(), &pal));
    const PALETTEENTRY e{1, 2, 3, 0};
    EXPECT_FALSE(pal.CreatePalette(0x200, &e, 1));
    EXPECT_TRUE(pal.IsNull());
}

TEST(DibTest, FilesThatLieOrAreCutShortOrOfAnUnsupportedKindAreNoPicture)
{
    const Bytes rows = Pic24Rows(true); // two rows of 12 bytes
    const Bytes good = Pic24();
    const Colours black = [](int) { return Rgb{0, 0, 0}; };
    const Bytes four = Table(4, black), all = Table(256, black);
    const Bytes row{0, 1, 2, 3};
    // What the cases below change is all that is wrong with them.
    ASSERT_TRUE(Read(good));
    ASSERT_TRUE(Read(Bmp({InfoHeader(4, 1, 8, 0, 4), four, row})));
    ASSERT_TRUE(Read(Bmp({InfoHeader(1, 1, 8), all, row})));

    std::vector<std::pair<std::string, Bytes>> bad = {
        {"MB", Bmp({InfoHeader(3, 2, 24), rows}, "MB")},
        {"BA", Bmp({InfoHeader(3, 2, 24), rows}, "BA")},
        // Eight bits with colours-used 0 needs all 256 entries.
        {"8 bits, 4 of 256 entries", Bmp({InfoHeader(4, 1, 8), four, row})},
        {"JPEG", Bmp({InfoHeader(1, 1, 24, 4), row})},
        // A 48-byte header would end in the middle of its masks.
        {"48-byte header, masks", Bmp({InfoHeader(1, 1, 32, 3, 0, 48), row, row})},
        // The colour count is a 16-bit number: 65536 entries are refused even
        // when they are all there; 0x40000000 entries of 4 bytes are 2^32 bytes.
        {"65536 entries", Bmp({InfoHeader(4, 1, 8, 0, 0x10000), Bytes(0x10000 * 4, 0), row})},
        {"5 of 4 colours used", Bmp({InfoHeader(4, 1, 8, 0, 5), four, row})},
        {"2^30 colours used", Bmp({InfoHeader(4, 1, 8, 0, 0x40000000), four, row})},
    };
    // Sizes the two rows of 24-bit pixels do not fill or that are no size;
    // the last three wrap in 32 bits (2^32 pixels, a row of 2^32 bits).
    const std::tuple<int32_t, int32_t, uint16_t> sizes[] = {
        {3, 3, 24},         {3, -3, 24},
        {5, 2, 24},         {0, 2, 24},
        {-3, 2, 24},        {3, 0, 24},
        {3, INT32_MIN, 24}, {0x10000, 0x10000, 1},
        {0x8000000, 1, 32}, {0x7FFFFFFF, -0x7FFFFFFF, 32}};
    for (const auto &[w, h, bits] : sizes)
        bad.emplace_back(std::to_string(w) + " x " + std::to_string(h) + " x " +
                             std::to_string(bits),
                         Bmp({InfoHeader(w, h, bits), rows}));
    for (const auto &[w, h] : {std::pair{3, 3}, {0xFFFF, 0xFFFF}, {0, 2}, {3, 0}})
        bad.emplace_back("core " + std::to_string(w) + " x " + std::to_string(h),
                         Bmp({CoreHeader(uint16_t(w), uint16_t(h), 24), rows}));
    // Run-length 8 and 4, masks on 8 bits; 2, 0 and 33 bits.
    for (const auto &[bits, compression] :
         {std::pair{8, 1}, {8, 2}, {8, 3}, {2, 0}, {0, 0}, {33, 0}})
        bad.emplace_back("bits " + std::to_string(bits) + " compression " +
                             std::to_string(compression),
                         Bmp({InfoHeader(1, 1, uint16_t(bits), uint32_t(compression)), all, row}));
    for (size_t n : {size_t(1), size_t(13), size_t(14), size_t(17), size_t(14 + 20),
                     size_t(14 + 39), size_t(14 + 40), good.size() - 1})
        bad.emplace_back(std::to_string(n) + " bytes", Bytes(good.begin(), good.begin() + long(n)));
    for (uint32_t nSize : {4u, 11u, 13u, 39u, 200u, 0xFFFFFFFFu}) {
        Bytes file = good;
        std::copy_n(Le({nSize}).begin(), 4, file.begin() + 14);
        bad.emplace_back("header size " + std::to_string(nSize), file);
    }
    // 10000 x 10000 at one bit: rows of 1252 bytes. Exactly the limit is
    // accepted; one column more is refused although every byte is there.
    const Bytes pixels(size_t(1252) * 10000, 0);
    EXPECT_TRUE(Read(Bmp({InfoHeader(10000, 10000, 1), Table(2, black), pixels})));
    bad.emplace_back("10001 x 10000", Bmp({InfoHeader(10001, 10000, 1), Table(2, black), pixels}));
    for (const auto &[name, file] : bad)
        EXPECT_FALSE(Read(file)) << name;
}

TEST(DibTest, ReadDibFileReadsToTheEndOfSeekableFilesAndPipes)
{
    const Bytes good = Pic24();
    const auto readTemp = [](const Bytes &bytes, bool *pbError) {
        std::FILE *f = std::tmpfile();
        EXPECT_TRUE(f);
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::rewind(f);
        HDIB h = ReadDibFile(f, pbError);
        std::fclose(f);
        return h;
    };
    bool bError = true;
    HDIB h = readTemp(good, &bError);
    ASSERT_TRUE(h);
    EXPECT_FALSE(bError);
    EXPECT_EQ(Px(h, 2, 1), kPic24[5]);
    // One byte short of the last row: no picture, but no stream error either.
    EXPECT_FALSE(readTemp(Bytes(good.begin(), good.end() - 1), &bError));
    EXPECT_FALSE(bError);

    const Bytes topDown = Pic24(true);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], topDown.data(), topDown.size()), ssize_t(topDown.size()));
    close(fds[1]);
    std::FILE *f = fdopen(fds[0], "rb");
    ASSERT_TRUE(f);
    h = ReadDibFile(f);
    std::fclose(f);
    ASSERT_TRUE(h);
    EXPECT_EQ(Px(h, 1, 0), kPic24[1]);
    EXPECT_EQ(Px(h, 1, 1), kPic24[4]);

    // Reading from a stream opened for writing only fails in the stream.
    f = std::fopen("/dev/null", "wb");
    ASSERT_TRUE(f);
    bError = false;
    EXPECT_FALSE(ReadDibFile(f, &bError));
    EXPECT_TRUE(bError);
    std::fclose(f);
    EXPECT_FALSE(ReadDibFile(nullptr, &bError));
}

// Drawing into an 8 x 6 canvas filled with a guard colour, which every pixel
// outside the destination must keep; the result is the destination's pixels,
// top row first.
namespace {

constexpr uint32_t kGuard = 0xFF123456u;

std::vector<uint32_t> Paint(const HDIB &h, RECT dst, RECT src, const CPalette *pPal = nullptr)
{
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(kGuard);
    {
        CDC dc(&image);
        EXPECT_EQ(PaintDib(&dc, dst, h, src, pPal), bool(h));
    }
    std::vector<uint32_t> inside;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            if (h && x >= dst.left && x < dst.right && y >= dst.top && y < dst.bottom)
                inside.push_back(image.pixel(x, y));
            else
                EXPECT_EQ(image.pixel(x, y), kGuard) << x << "," << y;
        }
    return inside;
}

} // namespace

TEST(DibTest, PaintDibCopiesExactlyOrStretchesWithoutBlending)
{
    EXPECT_TRUE(Paint(HDIB(), RECT{0, 0, 8, 6}, RECT{0, 0, 3, 2}).empty());

    // Same size, either row order: an exact copy.
    for (bool bTopDown : {false, true})
        EXPECT_EQ(Paint(Read(Pic24(bTopDown)), RECT{2, 1, 5, 3}, RECT{0, 0, 3, 2}), kPic24)
            << bTopDown;

    // 2 x 2, eight bits, drawn with its palette object into 4 x 4: rows and
    // columns repeated.
    static constexpr Rgb kRgby[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    const HDIB h = Read(Bmp({InfoHeader(2, 2, 8, 0, 4),
                             Table(4, [](int i) { return kRgby[i]; }),
                             {2, 3, 0, 0},    // bottom: blue, yellow
                             {0, 1, 0, 0}})); // top: red, green
    ASSERT_TRUE(h);
    CPalette pal;
    ASSERT_TRUE(CreateDibPalette(h, &pal));
    const uint32_t r = Argb({255, 0, 0}), g = Argb({0, 255, 0}), b = Argb({0, 0, 255}),
                   y = Argb({255, 255, 0});
    EXPECT_EQ(Paint(h, RECT{1, 1, 5, 5}, RECT{0, 0, 2, 2}, &pal),
              (std::vector<uint32_t>{r, r, g, g, r, r, g, g, b, b, y, y, b, b, y, y}));

    // 2 x 4, every pixel its own colour, drawn into 2 x 2: the columns stay,
    // each destination row is one whole source row, unblended, and the two
    // rows keep their order.
    const uint8_t v[4][2] = {{10, 20}, {30, 40}, {50, 60}, {70, 80}}; // top row first
    Bytes rows;
    for (int i = 3; i >= 0; --i)
        rows = Join({rows, {v[i][0], 0, 0, v[i][1], 0, 0, 0, 0}});
    const std::vector<uint32_t> out =
        Paint(Read(Bmp({InfoHeader(2, 4, 24), rows})), RECT{3, 2, 5, 4}, RECT{0, 0, 2, 4});
    int nSourceRow[2] = {-1, -1};
    for (int i = 0; i < 2; ++i) {
        for (int s = 0; s < 4; ++s)
            if (out[2 * i] == Argb({0, 0, v[s][0]}) && out[2 * i + 1] == Argb({0, 0, v[s][1]}))
                nSourceRow[i] = s;
        EXPECT_GE(nSourceRow[i], 0) << "destination row " << i << " is no source row";
    }
    EXPECT_LT(nSourceRow[0], nSourceRow[1]);
}
