#include "graphics/Dib.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Le(std::initializer_list<uint32_t> values, int nBytes = 4)
{
    Bytes v;
    for (uint32_t x : values)
        for (int i = 0; i < nBytes; ++i)
            v.push_back(uint8_t(x >> (8 * i)));
    return v;
}

Bytes Bmp(const Bytes &block, const char *pMagic = "BM")
{
    return Bytes{uint8_t(pMagic[0]), uint8_t(pMagic[1])} + Bytes(12, 0) + block;
}

Bytes Info(int32_t w, int32_t h, uint16_t nBits, uint32_t nCompression = 0, uint32_t nUsed = 0,
           uint32_t nSize = 40, std::initializer_list<uint32_t> masks = {})
{
    Bytes v = Le({nSize, uint32_t(w), uint32_t(h)}) + Le({1, nBits}, 2) +
              Le({nCompression, 0, 2835, 2835, nUsed, 0}) + Le(masks);
    v.resize(std::max<size_t>(v.size(), nSize), 0);
    return v;
}

// Colour-table entry i as a pixel: distinct for every index (7i + 1 is, 7 being odd).
const auto Entry = [](int i) {
    return 0xFF000000u | (7u * i + 1) % 256 << 16 | (255u - i) << 8 | i / 2u;
};
Bytes Table(int n, bool bCore = false)
{
    Bytes v;
    for (int i = 0; i < n; ++i)
        v = v + Le({Entry(i) & 0xFFFFFF}, bCore ? 3 : 4);
    return v;
}

// From a copy (its capacity is its size), so that the sanitizer build sees any read past the end.
const auto Read = [](Bytes copy) { return ReadDibBytes(copy.data(), copy.size()); };

// 3 x 2, 24 bits: top row red, green, blue; bottom row white, grey, dark yellow.
const std::vector<uint32_t> kPic24 = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF,
                                      0xFFFFFFFF, 0xFF808080, 0xFF646400};
Bytes Pic24(bool bTopDown = false)
{
    const Bytes top{0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0};
    const Bytes bottom{255, 255, 255, 128, 128, 128, 0, 100, 100, 0, 0, 0};
    return Bmp(Info(3, bTopDown ? -2 : 2, 24) + (bTopDown ? top + bottom : bottom + top));
}

// Read through a pipe, which has no length to seek to.
HDIB ReadPiped(const Bytes &file, bool *pbError = nullptr)
{
    int fds[2];
    if (pipe(fds) != 0 || write(fds[1], file.data(), file.size()) != ssize_t(file.size()))
        return nullptr;
    close(fds[1]);
    std::FILE *f = fdopen(fds[0], "rb");
    const HDIB h = ReadDibFile(f, pbError);
    std::fclose(f);
    return h;
}

} // namespace

// Every supported kind, written byte by byte: measures, pixels (top row first), palette.
TEST(DibTest, EachKindDecodesToTheColoursOfItsBytes)
{
    // clang-format off
    // nBitsAt: the pixels' offset in the block; with a table, pixels are entry indices.
    struct Case { Bytes file; int w, h, nColors, nBitsAt; std::vector<uint32_t> pixels; };
    const Case cases[] = {
        // 1 bit, 10 pixels a row in two bytes and two of padding; bits past the width ignored.
        {Bmp(Info(10, 2, 1) + Table(2) + Bytes{0xB0, 0x7F, 0xEE, 0xEE, 0x01, 0xBF, 0xEE, 0xEE}),
         10, 2, 2, 48, {0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 1}},
        {Bmp(Info(3, 2, 4) + Table(16) + Bytes{0x5F, 0x9F, 0, 0, 0x09, 0x5A, 0, 0}), 3, 2, 16, 104,
         {0, 9, 5, 5, 15, 9}},
        // 8 bits with 3 and 0 (all 256) colours used; index 200 of 3 is black.
        {Bmp(Info(3, 1, 8, 0, 3) + Table(3) + Bytes{2, 0, 200, 0x77}), 3, 1, 3, 52, {2, 0, 200}},
        {Bmp(Info(3, 1, 8) + Table(256) + Bytes{0, 255, 128, 0}), 3, 1, 256, 1064, {0, 255, 128}},
        // 300 entries of which 8 bits reach the first 256.
        {Bmp(Info(2, 1, 8, 0, 300) + Table(300) + Bytes{255, 1, 0, 0}), 2, 1, 300, 1240, {255, 1}},
        // x-R-G-B 5-5-5: 16 of 31 is 16 * 255 / 31 = 131.6, to the nearest 132 (0x84).
        {Bmp(Info(5, 1, 16) + Le({0x7C00, 0x03E0, 0x001F, 0x4210, 0x801F, 0}, 2)), 5, 1, 0, 40,
         {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF848484, 0xFF0000FF}},
        // 5-6-5 masks after a 40-byte header; green's 32 of 63 is 129.5, to 130 (0x82).
        {Bmp(Info(3, 1, 16, 3) + Le({0xF800, 0x07E0, 0x001F}) + Le({0xF800, 0x07E0, 0x0400, 0}, 2)),
         3, 1, 0, 52, {0xFFFF0000, 0xFF00FF00, 0xFF008200}},
        // A 124-byte header holds its masks (red the low byte here); without masks, 8-8-8.
        {Bmp(Info(1, 1, 32, 3, 0, 124, {0xFF, 0xFF00, 0xFF0000}) + Bytes{0x11, 0x22, 0x33, 0x44}),
         1, 1, 0, 124, {0xFF112233}},
        {Bmp(Info(2, 1, 32) + Bytes{0x10, 0x20, 0x30, 0xAA, 1, 2, 3, 0}), 2, 1, 0, 40,
         {0xFF302010, 0xFF030201}},
        {Pic24(), 3, 2, 0, 40, kPic24}, {Pic24(true), 3, 2, 0, 40, kPic24},
        {Bmp(Le({12}) + Le({3, 2, 1, 1}, 2) + Table(2, true) + Bytes{0xA0, 0, 0, 0, 0x40, 0, 0, 0}),
         3, 2, 2, 18, {0, 1, 0, 1, 0, 1}},
    };
    // clang-format on
    for (const Case &c : cases) {
        const HDIB h = Read(c.file);
        ASSERT_TRUE(h);
        EXPECT_EQ(std::vector<int>({DibWidth(*h), DibHeight(*h), DibColorCount(*h),
                                    int(DibBits(h->Lock()) - h->Lock())}),
                  std::vector<int>({c.w, c.h, c.nColors, c.nBitsAt}));
        std::vector<uint32_t> expected;
        for (uint32_t v : c.pixels)
            expected.push_back(!c.nColors ? v : int(v) < c.nColors ? Entry(int(v)) : 0xFF000000u);
        EXPECT_EQ(std::vector<uint32_t>(h->Pixels(), h->Pixels() + c.w * c.h), expected);
        CPalette pal;
        ASSERT_EQ(CreateDibPalette(h, &pal), c.nColors > 0);
        ASSERT_EQ(pal.GetEntryCount(), c.nColors);
        for (int i = 0; i < c.nColors; ++i)
            ASSERT_EQ(pal.GetEntry(i), (PALETTEENTRY{uint8_t(Entry(i) >> 16),
                                                     uint8_t(Entry(i) >> 8), uint8_t(Entry(i))}));
    }
}

TEST(DibTest, FilesThatLieOrAreCutShortOrOfAnUnsupportedKindAreNoPicture)
{
    const Bytes good = Pic24(), rows(24, 0), row{0, 1, 2, 3}, four = Table(4), all = Table(256);
    // clang-format off
    std::vector<Bytes> bad = {
        Bmp(Info(3, 2, 24) + rows, "MB"), Bmp(Info(3, 2, 24) + rows, "BA"),
        Bmp(Info(4, 1, 8) + four + row), Bmp(Info(4, 1, 8, 0, 5) + four + row), // 256, 5 used of 4
        Bmp(Info(4, 1, 8, 0, 0x40000000) + four + row), // 2^32 bytes of table
        Bmp(Info(4, 1, 8, 0, 0x10000) + Bytes(0x40000, 0) + row), // the count is 16-bit
        Bmp(Info(1, 1, 24, 4) + row), Bmp(Info(1, 1, 32, 3, 0, 48) + row + row), // JPEG; cut masks
    };
    // Sizes the rows do not fill or that are no size (the last two wrap in 32 bits); bad bits.
    const int32_t sizes[][3] = {{3, 3, 24}, {5, 2, 24}, {0, 2, 24}, {-3, 2, 24}, {3, 0, 24},
        {3, INT32_MIN, 24}, {0x10000, 0x10000, 1}, {0x7FFFFFFF, -0x7FFFFFFF, 32},
        {1, 1, 2}, {1, 1, 0}, {1, 1, 33}};
    // clang-format on
    for (const auto &s : sizes)
        bad.push_back(Bmp(Info(s[0], s[1], uint16_t(s[2])) + rows));
    for (const uint32_t w : {3, 0}) // core headers
        bad.push_back(Bmp(Le({12}) + Le({w, 3 - w, 1, 24}, 2) + rows));
    for (const uint32_t compression : {1, 2, 3}) // run-length 8 and 4, masks on 8 bits
        bad.push_back(Bmp(Info(1, 1, 8, compression) + all + row));
    for (size_t n : {1, 13, 14, 17, 34, 53, 54, 65}) // 66 bytes make the file
        bad.emplace_back(good.begin(), good.begin() + long(n));
    for (uint32_t nSize : {4u, 11u, 13u, 39u, 200u, 0xFFFFFFFFu}) // header sizes
        bad.push_back(Bmp(Le({nSize}) + Bytes(good.begin() + 18, good.end())));
    // 10000 x 10000 at one bit (rows of 1252 bytes) is the limit; one column more is not.
    EXPECT_TRUE(Read(Bmp(Info(10000, 10000, 1) + Table(2) + Bytes(12520000, 0))));
    bad.push_back(Bmp(Info(10001, 10000, 1) + Table(2) + Bytes(12520000, 0)));
    for (size_t i = 0; i < bad.size(); ++i)
        EXPECT_FALSE(Read(bad[i])) << i;
}

// A pipe is read to its end; "BM" text (an environment block) or an endless device is no picture.
TEST(DibFileTest, StreamsAreReadToTheirEndUpToTheCapAndOnlyRegularFilesOpen)
{
    bool bError = true;
    const HDIB h = ReadPiped(Pic24(true), &bError);
    ASSERT_TRUE(h);
    EXPECT_EQ(std::vector<uint32_t>(h->Pixels(), h->Pixels() + 6), kPic24);
    EXPECT_FALSE(ReadPiped({'B', 'M', 'X', '=', '1', 0}, &bError));
    EXPECT_FALSE(bError);
    size_t nReads = 0;
    const auto endless = [](void *pCookie, char *p, size_t n) {
        std::memset(p, 0, n);
        if ((*static_cast<size_t *>(pCookie))++ == 0)
            std::memcpy(p, "BM", 2);
        return ssize_t(n);
    };
    std::FILE *f = fopencookie(&nReads, "rb", {endless, nullptr, nullptr, nullptr});
    EXPECT_FALSE(ReadDibFile(f));
    std::fclose(f);
    // Only regular files open: a FIFO without a writer would hold an ordinary open for ever.
    QTemporaryDir dir;
    const std::string strDir = dir.path().toStdString(), strPicture = strDir + "/p.bmp";
    std::ofstream{strPicture}; // an empty regular file
    ASSERT_EQ(mkfifo((strDir + "/fifo.bmp").c_str(), 0600), 0);
    for (const std::string &strPath : {strPicture, strDir + "/fifo.bmp", strDir,
                                       std::string("/dev/null"), strDir + "/missing.bmp"}) {
        std::FILE *pFile = OpenDibFile(strPath.c_str());
        EXPECT_EQ(pFile != nullptr, strPath == strPicture) << strPath;
        if (pFile)
            std::fclose(pFile);
    }
}
