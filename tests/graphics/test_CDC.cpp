#include "graphics/CDC.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <vector>

namespace {

constexpr QRgb kBlack = 0xFF000000u;

struct Canvas
{
    QImage image{20, 12, QImage::Format_RGB32};
    CDC dc{&image};
    Canvas() { image.fill(kBlack); }
    int Count(QRgb c) const
    {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixel(x, y) == c;
        return n;
    }
};

const QRgb kRed = qRgb(255, 0, 0);

} // namespace

TEST(CDCLines, LeaveOutTheirEndPixelInEveryDirection)
{
    struct Case
    {
        POINT from, to;
        int nPixels;
    };
    // Horizontal, vertical, both ways, a diagonal and a shallow slope.
    for (const Case c :
         {Case{{2, 3}, {9, 3}, 7}, Case{{9, 3}, {2, 3}, 7}, Case{{4, 1}, {4, 8}, 7},
          Case{{4, 8}, {4, 1}, 7}, Case{{1, 1}, {6, 6}, 5}, Case{{0, 0}, {10, 3}, 10}}) {
        Canvas cv;
        const CPen pen(RGB(255, 0, 0));
        cv.dc.SelectPen(&pen);
        cv.dc.MoveTo(c.from);
        cv.dc.LineTo(c.to);
        EXPECT_EQ(cv.Count(kRed), c.nPixels);
        EXPECT_EQ(cv.image.pixel(c.from.x, c.from.y), kRed);
        EXPECT_EQ(cv.image.pixel(c.to.x, c.to.y), kBlack);
        EXPECT_EQ(cv.dc.GetCurrentPosition(), c.to);
        // An empty pen draws nothing but still moves.
        const CPen empty;
        cv.dc.SelectPen(&empty);
        cv.dc.LineTo(c.from);
        EXPECT_EQ(cv.Count(kRed), c.nPixels);
        EXPECT_EQ(cv.dc.GetCurrentPosition(), c.from);
    }
}

TEST(CDCLines, XorDrawnTwiceRestoresThePicture)
{
    Canvas cv;
    cv.dc.FillSolidRect(RECT{0, 0, 10, 12}, RGB(0, 0, 255));
    const CPen white(RGB(255, 255, 255));
    cv.dc.SelectPen(&white);
    cv.dc.SetROP2(CDC::R2_XORPEN);
    cv.dc.MoveTo(0, 5);
    cv.dc.LineTo(19, 5);
    EXPECT_EQ(cv.image.pixel(3, 5), qRgb(255, 255, 0));    // blue ^ white
    EXPECT_EQ(cv.image.pixel(15, 5), qRgb(255, 255, 255)); // black ^ white
    cv.dc.MoveTo(0, 5);
    cv.dc.LineTo(19, 5);
    EXPECT_EQ(cv.image.pixel(3, 5), qRgb(0, 0, 255));
    EXPECT_EQ(cv.image.pixel(15, 5), kBlack);
}

TEST(CDCFill, RectanglesCoverLeftToRightMinusOneAndAreClipped)
{
    Canvas cv;
    cv.dc.FillSolidRect(RECT{2, 3, 6, 5}, RGB(255, 0, 0));
    EXPECT_EQ(cv.Count(kRed), 4 * 2);
    EXPECT_EQ(cv.image.pixel(5, 4), kRed);
    EXPECT_EQ(cv.image.pixel(6, 4), kBlack);
    // Given upside down, and partly outside the image.
    Canvas cv2;
    cv2.dc.FillSolidRect(RECT{25, 14, 18, 10}, RGB(255, 0, 0));
    EXPECT_EQ(cv2.Count(kRed), 2 * 2);
    // Inside a clip rectangle only.
    Canvas cv3;
    cv3.dc.SetClipRect(RECT{4, 4, 8, 8});
    cv3.dc.FillSolidRect(RECT{0, 0, 20, 12}, RGB(255, 0, 0));
    EXPECT_EQ(cv3.Count(kRed), 16);
    const CPen pen(RGB(255, 0, 0));
    cv3.dc.SelectPen(&pen);
    cv3.dc.MoveTo(0, 10);
    cv3.dc.LineTo(19, 10);
    EXPECT_EQ(cv3.Count(kRed), 16);
}

TEST(CDCText, AlignmentPlacesTheTextAroundItsReferencePoint)
{
    QImage image(200, 60, QImage::Format_RGB32);
    image.fill(kBlack);
    CDC dc(&image);
    QFont font;
    font.setPixelSize(20);
    dc.SelectFont(&font);
    dc.SetBkMode(CDC::TRANSPARENT);
    dc.SetTextColor(RGB(255, 255, 255));
    dc.SetTextAlign(CDC::TA_RIGHT | CDC::TA_BOTTOM);
    dc.TextOut(100, 40, QStringLiteral("88"));
    QRect inked;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 200; ++x)
            if (image.pixel(x, y) != kBlack)
                inked |= QRect(x, y, 1, 1);
    ASSERT_FALSE(inked.isEmpty());
    EXPECT_LT(inked.right(), 100); // ends left of the reference point
    EXPECT_LT(inked.bottom(), 40); // sits above it
    EXPECT_GT(inked.left(), 100 - dc.GetTextExtent(QStringLiteral("88")).cx - 2);
}

TEST(CDCDirty, ChangesGatherByColumnAndStayApart)
{
    Canvas cv;
    cv.dc.FillSolidRect(RECT{1, 1, 3, 2}, RGB(255, 0, 0));
    cv.dc.FillSolidRect(RECT{1, 5, 3, 6}, RGB(255, 0, 0));   // same column: joins
    cv.dc.FillSolidRect(RECT{10, 1, 12, 2}, RGB(255, 0, 0)); // another column
    ASSERT_EQ(cv.dc.DirtyCount(), 2);
    EXPECT_EQ(cv.dc.DirtyAt(0), QRect(QPoint(1, 1), QPoint(2, 5)));
    EXPECT_EQ(cv.dc.DirtyAt(1), QRect(QPoint(10, 1), QPoint(11, 1)));
    // A fill of the whole image is the one dirty rectangle until cleared.
    const CPen red(RGB(255, 0, 0));
    cv.dc.SelectPen(&red);
    cv.dc.FillSolidRect(RECT{0, 0, 20, 12}, RGB(0, 0, 0));
    cv.dc.MoveTo(15, 1);
    cv.dc.LineTo(15, 6);
    ASSERT_EQ(cv.dc.DirtyCount(), 1);
    EXPECT_EQ(cv.dc.DirtyAt(0), cv.image.rect());
    cv.dc.ClearDirty();
    EXPECT_EQ(cv.dc.DirtyCount(), 0);
    cv.dc.MoveTo(15, 1);
    cv.dc.LineTo(15, 6);
    ASSERT_EQ(cv.dc.DirtyCount(), 1);
    EXPECT_EQ(cv.dc.DirtyAt(0), QRect(QPoint(15, 1), QPoint(15, 5)));
}

TEST(CDCDirty, TheRegionIsTheUnionOfWhatWasDrawn)
{
    // Random fills in a larger image: overlapping, abutting and nested
    // rectangles, in columns that join and in columns apart. The region must
    // hold exactly the pixels the entries cover, and must be a valid region
    // (the union with itself changes nothing).
    QImage image(300, 200, QImage::Format_RGB32);
    CDC dc(&image);
    uint32_t nSeed = 12345;
    auto next = [&](int n) {
        nSeed = nSeed * 1103515245u + 12345u;
        return int((nSeed >> 16) % uint32_t(n));
    };
    for (int nRound = 0; nRound < 200; ++nRound) {
        dc.ClearDirty();
        const int nFills = 1 + next(60);
        for (int i = 0; i < nFills; ++i) {
            const int x = next(280), y = next(180);
            dc.FillSolidRect(RECT{x, y, x + 1 + next(40), y + 1 + next(40)}, RGB(1, 2, 3));
        }
        QRegion expected;
        for (int i = 0; i < dc.DirtyCount(); ++i)
            expected += dc.DirtyAt(i);
        const QRegion region = dc.DirtyRegion();
        ASSERT_EQ(region, expected) << "round " << nRound;
        ASSERT_EQ(region.united(region), expected);
        ASSERT_EQ(region.boundingRect(), dc.DirtyBounds());
    }
}

TEST(CDCDirty, RowsDrawnAreThoseTouchedNotThoseBetween)
{
    Canvas cv;
    // Two chips of one column, two rows apart: one dirty entry, but the rows
    // between them were never drawn.
    cv.dc.FillSolidRect(RECT{1, 2, 5, 4}, RGB(255, 0, 0)); // rows 2, 3
    cv.dc.FillSolidRect(RECT{1, 6, 5, 7}, RGB(255, 0, 0)); // row 6
    ASSERT_EQ(cv.dc.DirtyCount(), 1);
    const uint8_t *pRows = cv.dc.RowsDrawn();
    const std::vector<int> rows(pRows, pRows + cv.image.height());
    EXPECT_EQ(rows, (std::vector<int>{0, 0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0}));
    // A line reaching past the image flags only the image's rows.
    cv.dc.ClearRowsDrawn();
    CPen pen{RGB(0, 255, 0)};
    cv.dc.SelectPen(&pen);
    cv.dc.MoveTo(15, 9);
    cv.dc.LineTo(15, 40);
    const std::vector<int> after(pRows, pRows + cv.image.height());
    EXPECT_EQ(after, (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1}));
    // ClearDirty leaves the rows for the copy to the screen.
    cv.dc.ClearDirty();
    EXPECT_EQ(pRows[10], 1);
    // A full repaint flags every row.
    cv.dc.ClearRowsDrawn();
    cv.dc.FillSolidRect(RECT{0, 0, 20, 12}, RGB(1, 1, 1));
    EXPECT_EQ(std::count(pRows, pRows + 12, 1), 12);
}

TEST(CDCFill, EveryWidthAndOffsetSetsExactlyItsPixels)
{
    // Runs from 0 to 40 pixels at four offsets: short runs, whole 16-byte
    // stores and every length of the last partial store.
    QImage image(48, 3, QImage::Format_RGB32);
    CDC dc(&image);
    for (int nLeft = 0; nLeft < 4; ++nLeft) {
        for (int nWidth = 0; nWidth <= 40; ++nWidth) {
            image.fill(kBlack);
            dc.FillSolidRect(RECT{nLeft, 1, nLeft + nWidth, 2}, RGB(255, 0, 0));
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 48; ++x) {
                    const bool bInside = y == 1 && x >= nLeft && x < nLeft + nWidth;
                    ASSERT_EQ(image.pixel(x, y), bInside ? kRed : kBlack)
                        << "left " << nLeft << " width " << nWidth << " at " << x << "," << y;
                }
        }
    }
}

TEST(CDCLines, LongVerticalLinesCopyOrXorEveryRowOfTheirClip)
{
    // Longer than the rows fetched ahead, and clipped at both ends.
    QImage image(8, 200, QImage::Format_RGB32);
    CDC dc(&image);
    image.fill(kBlack);
    const CPen red(RGB(255, 0, 0));
    dc.SelectPen(&red);
    dc.SetClipRect(RECT{0, 10, 8, 190});
    dc.MoveTo(3, 0);
    dc.LineTo(3, 200);
    for (int y = 0; y < 200; ++y)
        ASSERT_EQ(image.pixel(3, y), y >= 10 && y < 190 ? kRed : kBlack) << y;
    dc.SetROP2(CDC::R2_XORPEN);
    dc.MoveTo(3, 0);
    dc.LineTo(3, 200);
    for (int y = 0; y < 200; ++y)
        ASSERT_EQ(image.pixel(3, y), kBlack) << y;
}
