// The picture file as the operating system hands it over: files that are no
// regular files, and streams whose length cannot be had by seeking.
#include "graphics/Dib.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

namespace {

// A 1 x 1 24-bit picture, written out: "BM" and twelve zero bytes, the
// 40-byte header (width 1, height 1, one plane, 24 bits), one blue-green-red
// pixel padded to four bytes.
std::vector<uint8_t> OnePixelFile()
{
    std::vector<uint8_t> v = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const uint8_t header[40] = {40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0};
    v.insert(v.end(), header, header + 40);
    v.insert(v.end(), {0x30, 0x20, 0x10, 0});
    return v;
}

// A stream that says through seeking that it ends at 0, as a device or a
// file under /proc does, while reading gives the bytes of pData (nSize of
// them, or without end when bEndless: "BM" followed by zeros).
struct ZeroSizedSource
{
    const std::vector<uint8_t> *pData = nullptr;
    bool bEndless = false;
    size_t nPos = 0;
};

ssize_t ReadSource(void *pCookie, char *pBuffer, size_t nSize)
{
    auto *p = static_cast<ZeroSizedSource *>(pCookie);
    if (p->bEndless) {
        std::memset(pBuffer, 0, nSize);
        for (size_t i = 0; i < nSize; ++i)
            if (p->nPos + i < 2)
                pBuffer[i] = "BM"[p->nPos + i];
        p->nPos += nSize;
        return ssize_t(nSize);
    }
    const size_t n = std::min(nSize, p->pData->size() - p->nPos);
    std::memcpy(pBuffer, p->pData->data() + p->nPos, n);
    p->nPos += n;
    return ssize_t(n);
}

int SeekSource(void *pCookie, off64_t *pOffset, int nWhence)
{
    auto *p = static_cast<ZeroSizedSource *>(pCookie);
    if (nWhence == SEEK_END)
        *pOffset = 0; // the length the stream admits to
    else if (nWhence == SEEK_CUR)
        *pOffset = off64_t(p->nPos) + *pOffset;
    // Moving the position is accepted but changes nothing, as on a device.
    return 0;
}

HDIB ReadZeroSized(ZeroSizedSource source, bool *pbError)
{
    std::FILE *f = fopencookie(&source, "rb", {ReadSource, nullptr, SeekSource, nullptr});
    EXPECT_TRUE(f);
    if (!f)
        return nullptr;
    HDIB h = ReadDibFile(f, pbError);
    std::fclose(f);
    return h;
}

} // namespace

TEST(DibFileTest, ReadsByReadingWhateverSeekingSaysTheLengthIs)
{
    const std::vector<uint8_t> picture = OnePixelFile();
    const std::vector<uint8_t> bmOnly = {'B', 'M', 'X', '=', '1', 0, 'Y', '=', '2', 0};
    bool bError = true;
    const HDIB h = ReadZeroSized({&picture, false, 0}, &bError);
    ASSERT_TRUE(h);
    EXPECT_FALSE(bError);
    EXPECT_EQ(h->Pixels()[0], 0xFF102030u);
    // Text that happens to start with "BM" (an environment block) is no picture.
    EXPECT_FALSE(ReadZeroSized({&bmOnly, false, 0}, &bError));
    EXPECT_FALSE(bError);
    // A device that never ends: reading stops at the cap, no picture.
    EXPECT_FALSE(ReadZeroSized({nullptr, true, 0}, &bError));
}

TEST(DibFileTest, OnlyRegularFilesOpen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string strDir = dir.path().toStdString();
    const std::string strPicture = strDir + "/p.bmp";
    const std::string strFifo = strDir + "/fifo.bmp";
    std::FILE *f = std::fopen(strPicture.c_str(), "wb");
    ASSERT_TRUE(f);
    const std::vector<uint8_t> picture = OnePixelFile();
    std::fwrite(picture.data(), 1, picture.size(), f);
    std::fclose(f);
    ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);

    struct Case
    {
        std::string strPath;
        bool bOpens;
    };
    // A FIFO without a writer would hold an ordinary open for ever.
    const Case cases[] = {{strPicture, true},
                          {strFifo, false},
                          {strDir, false},
                          {"/dev/null", false},
                          {strDir + "/missing.bmp", false}};
    for (const Case &c : cases) {
        std::FILE *pFile = OpenDibFile(c.strPath.c_str());
        EXPECT_EQ(pFile != nullptr, c.bOpens) << c.strPath;
        if (pFile) {
            EXPECT_TRUE(ReadDibFile(pFile)) << c.strPath;
            std::fclose(pFile);
        }
    }
}
