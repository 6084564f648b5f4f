#include "graphics/CDC.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr QRgb kBlack = 0xFF000000u, kRed = 0xFFFF0000u;

struct Canvas
{
    explicit Canvas(int w = 20, int h = 12) : image(w, h, QImage::Format_RGB32)
    {
        image.fill(kBlack);
        dc.SelectPen(&red);
    }
    long Count(QRgb c) const
    {
        const auto *p = reinterpret_cast<const QRgb *>(image.constBits());
        return std::count(p, p + image.sizeInBytes() / 4, c);
    }
    void Line(POINT from, POINT to)
    {
        dc.MoveTo(from);
        dc.LineTo(to);
    }
    QImage image;
    CDC dc{&image};
    const CPen red{RGB(255, 0, 0)};
};

} // namespace

TEST(CDCDraw, LinesLeaveOutTheirEndPixelFillsAndClipsSetExactlyTheirPixels)
{
    // From, to, pixels: both ways along each axis, a diagonal, a shallow and a steep slope.
    const int cases[][5] = {{2, 3, 9, 3, 7}, {9, 3, 2, 3, 7},   {4, 1, 4, 8, 7}, {4, 8, 4, 1, 7},
                            {1, 1, 6, 6, 5}, {0, 0, 10, 3, 10}, {9, 10, 7, 1, 9}};
    for (const auto &c : cases) {
        Canvas cv;
        cv.Line({c[0], c[1]}, {c[2], c[3]});
        EXPECT_EQ(cv.Count(kRed), c[4]);
        EXPECT_EQ(cv.image.pixel(c[0], c[1]), kRed);
        const CPen empty; // draws nothing, still moves
        cv.dc.SelectPen(&empty);
        cv.dc.LineTo(c[0], c[1]);
        EXPECT_EQ(cv.dc.GetCurrentPosition(), (POINT{c[0], c[1]}));
        cv.dc.SelectPen(&cv.red);
        cv.dc.SetROP2(CDC::R2_XORPEN);
        cv.Line({c[0], c[1]}, {c[2], c[3]});
        EXPECT_EQ(cv.Count(kBlack), 240);
    }
    // Fills: every width, offset and orientation sets exactly its pixels.
    Canvas cv(40, 4); // short runs, whole and partial 16-byte stores, past either edge

    for (int nLeft = -3; nLeft < 4; ++nLeft)
        for (int nWidth = 0; nWidth <= 44; ++nWidth) {
            cv.image.fill(kBlack);
            const int nRight = nLeft + nWidth;
            cv.dc.FillSolidRect(nWidth % 2 ? RECT{nRight, 3, nLeft, 1} : RECT{nLeft, 1, nRight, 3},
                                RGB(255, 0, 0));
            for (int i = 0; i < 160; ++i)
                ASSERT_EQ(cv.image.pixel(i % 40, i / 40),
                          i / 40 % 3 && i % 40 >= nLeft && i % 40 < nRight ? kRed : kBlack)
                    << "left " << nLeft << " width " << nWidth << " at " << i;
        }
    // A clip (upside down) limits fills and lines longer than the rows fetched ahead.
    Canvas tall(8, 200);
    tall.dc.SetClipRect(RECT{2, 190, 6, 10});
    tall.dc.FillSolidRect(RECT{0, 0, 8, 200}, RGB(0, 0, 1));
    EXPECT_EQ(tall.Count(qRgb(0, 0, 1)), 4 * 180);
    tall.Line({3, 0}, {3, 200});
    tall.Line({0, 150}, {8, 150});
    EXPECT_EQ(tall.Count(kRed), 180 + 3);
    tall.dc.SetROP2(CDC::R2_XORPEN);
    tall.Line({3, 0}, {3, 200});
    EXPECT_EQ(tall.Count(kRed), 3);
    tall.dc.SetClipRect(RECT{});
    tall.Line({7, 200}, {7, 0}); // rows 199 up to 1
    EXPECT_EQ(tall.Count(kRed), 3 + 199);
}

TEST(CDCDirty, ChangesGatherByColumnAndTheRegionIsTheUnionOfWhatWasDrawn)
{
    Canvas cv;
    cv.dc.FillSolidRect(RECT{1, 2, 3, 4}, RGB(255, 0, 0));   // rows 2, 3
    cv.dc.FillSolidRect(RECT{1, 6, 3, 7}, RGB(255, 0, 0));   // same columns: joins
    cv.dc.FillSolidRect(RECT{10, 1, 12, 2}, RGB(255, 0, 0)); // other columns
    cv.Line({15, 9}, {15, 40});                              // flags only the image's rows
    ASSERT_EQ(cv.dc.DirtyCount(), 3);
    EXPECT_EQ(cv.dc.DirtyAt(0), QRect(QPoint(1, 2), QPoint(2, 6)));
    EXPECT_EQ(cv.dc.DirtyAt(1), QRect(QPoint(10, 1), QPoint(11, 1)));
    const uint8_t *pRows = cv.dc.RowsDrawn();
    EXPECT_EQ(std::vector<int>(pRows, pRows + 12),
              (std::vector<int>{0, 1, 1, 1, 0, 0, 1, 0, 0, 1, 1, 1}));
    cv.dc.ClearDirty(); // leaves the rows for the copy to the screen
    EXPECT_EQ(std::tuple(cv.dc.DirtyCount(), pRows[6]), std::tuple(0, 1));
    cv.dc.ClearRowsDrawn();
    cv.dc.FillSolidRect(RECT{0, 0, 20, 12}, RGB(0, 0, 0)); // the one entry until cleared
    cv.Line({15, 1}, {15, 6});
    ASSERT_EQ(cv.dc.DirtyCount(), 1);
    EXPECT_EQ(cv.dc.DirtyAt(0), cv.image.rect());
    EXPECT_EQ(std::vector<int>(pRows, pRows + 12), std::vector<int>(12, 1));
    // A band along any edge is no whole-image fill.
    for (const RECT &rc :
         {RECT{0, 0, 20, 5}, RECT{0, 5, 20, 12}, RECT{5, 0, 20, 12}, RECT{0, 0, 5, 12}}) {
        Canvas band;
        band.dc.FillSolidRect(rc, RGB(1, 1, 1));
        EXPECT_EQ(band.dc.DirtyAt(0),
                  QRect(QPoint(rc.left, rc.top), QPoint(rc.right - 1, rc.bottom - 1)));
    }
}

namespace {

// A frame of chip columns: per column a run of chips from one level to
// another (the bar moving) and one chip elsewhere (the peak), levels smooth
// across neighbouring columns as a spectrum's are.
struct ColumnFrame
{
    int nWidth, nHeight, nColumns, nThickness, nGap;
};

QRegion Union(const std::vector<QRect> &rects)
{
    QRegion region;
    for (const QRect &r : rects)
        region += r;
    return region;
}

int64_t Area(const QRegion &region)
{
    int64_t n = 0;
    for (const QRect &r : region)
        n += int64_t(r.width()) * r.height();
    return n;
}

} // namespace

TEST(CDCDirty, GatheredRectanglesCoverTheChangesInFewRectanglesAndBoundedArea)
{
    const ColumnFrame kCases[] = {
        {800, 300, 16, 2, 2},  {1920, 1080, 80, 2, 2}, {3840, 2160, 80, 2, 2},
        {1920, 1080, 8, 4, 2}, {640, 480, 40, 1, 1},   {300, 200, 1, 3, 2},
    };
    uint32_t nSeed = 12345;
    auto next = [&](int n) { return int(((nSeed = nSeed * 1103515245u + 12345u) >> 16) % n); };
    for (const ColumnFrame &c : kCases) {
        QImage image(c.nWidth, c.nHeight, QImage::Format_RGB32);
        CDC dc(&image);
        const int nPitch = c.nWidth / c.nColumns, nChipWidth = nPitch * 4 / 5;
        const int nChips = c.nHeight / (c.nThickness + c.nGap);
        for (int nRound = 0; nRound < 8; ++nRound) {
            dc.ClearDirty();
            std::vector<QRect> drawn;
            const int nPhase = next(360), nSpan = 1 + next(nChips / 3);
            for (int i = 0; i < c.nColumns; ++i) {
                const int nLevel = int((nChips - nSpan - 1) *
                                       (0.5 + 0.45 * std::sin((i * 7 + nPhase) * 0.0174533)));
                const int nFrom = std::clamp(nLevel + next(5) - 2, 0, nChips - nSpan - 1);
                const int nPeak = std::min(nChips - 1, nFrom + nSpan + next(nChips / 4 + 1));
                for (int k = nFrom; k <= nFrom + nSpan; ++k) {
                    const int nChip = k == nFrom + nSpan ? nPeak : k;
                    const int y = nChip * (c.nThickness + c.nGap);
                    const RECT rc{i * nPitch, y, i * nPitch + nChipWidth, y + c.nThickness};
                    dc.FillSolidRect(rc, RGB(0, 200, 0));
                    drawn.push_back(QRect(rc.left, rc.top, nChipWidth, c.nThickness));
                }
            }
            std::vector<QRect> entries;
            for (int i = 0; i < dc.DirtyCount(); ++i)
                entries.push_back(dc.DirtyAt(i));
            const std::vector<QRect> rects = dc.DirtyRects();
            const QRegion gathered = dc.DirtyRegion();
            const int64_t nChanged = Area(Union(entries));
            int64_t nHanded = 0;
            for (const QRect &r : rects)
                nHanded += int64_t(r.width()) * r.height();
            // Everything drawn is handed over, in the rectangles a region
            // keeps as they are, within the area limit of the entries' pixels.
            EXPECT_TRUE(Union(drawn).subtracted(gathered).isEmpty()) << c.nColumns;
            EXPECT_EQ(gathered.rectCount(), int(rects.size())) << c.nColumns;
            EXPECT_LE(double(nHanded), CDC::kMaxAreaRatio * double(nChanged)) << c.nColumns;
            // No entry takes in two columns' pixels.
            for (const QRect &e : entries)
                EXPECT_EQ(e.left() / nPitch, e.right() / nPitch) << c.nColumns;
            // Up to 16 columns, at most 100 rectangles.
            if (c.nColumns <= 16) {
                EXPECT_LE(rects.size(), size_t(CDC::kMaxRects)) << c.nColumns;
            }
        }
    }
    // Thousands of separate changes: an entry each, none lost.
    Canvas many(4000, 8);
    for (int x = 0; x < 4000; x += 2)
        many.dc.FillSolidRect(RECT{x, x % 8, x + 1, x % 8 + 1}, RGB(9, 9, 9));
    EXPECT_EQ(many.dc.DirtyCount(), 2000);
    EXPECT_EQ(Area(many.dc.DirtyRegion().intersected(QRect(0, 0, 4000, 8))) >= 2000, true);
}

// At a device-pixel ratio a logical edge e lands on device pixel edge round(e x ratio): fills
// cover exactly the device pixels between their edges, a line is one device pixel wide from its
// mapped start up to its mapped end, and the dirty rectangles are in device pixels.
TEST(CDCDraw, AtARatioFillsAndLinesLandOnDevicePixelEdges)
{
    struct Case
    {
        double dRatio;
        QRect fill;  // device pixels of the logical fill (2, 1) - (5, 3)
        QRect hLine; // of the line (1, 4) -> (6, 4)
        QRect vLine; // of the line (7, 5) -> (7, 1)
    };
    // clang-format off
    const Case cases[] = {
        // 2 -> 2, 5 -> 5; 1 -> 1, 3 -> 3; 6 -> 6 (end left out)
        {1.0,  QRect(QPoint(2, 1), QPoint(4, 2)),  QRect(QPoint(1, 4), QPoint(5, 4)),  QRect(QPoint(7, 2), QPoint(7, 5))},
        // 2.5 -> 3, 6.25 -> 6, 1.25 -> 1, 3.75 -> 4; 5 -> 5, 7.5 -> 8, 8.75 -> 9, 6.25 -> 6, 1.25 -> 1
        {1.25, QRect(QPoint(3, 1), QPoint(5, 3)),  QRect(QPoint(1, 5), QPoint(7, 5)),  QRect(QPoint(9, 2), QPoint(9, 6))},
        // 3, 7.5 -> 8, 1.5 -> 2, 4.5 -> 5; 1.5 -> 2, 9 -> 9, 6; 10.5 -> 11, 7.5 -> 8, 1.5 -> 2
        {1.5,  QRect(QPoint(3, 2), QPoint(7, 4)),  QRect(QPoint(2, 6), QPoint(8, 6)),  QRect(QPoint(11, 3), QPoint(11, 8))},
        {2.0,  QRect(QPoint(4, 2), QPoint(9, 5)),  QRect(QPoint(2, 8), QPoint(11, 8)), QRect(QPoint(14, 3), QPoint(14, 10))},
    };
    // clang-format on
    for (const Case &c : cases) {
        const auto drawn = [&](auto draw) {
            QImage image(CDC::ScaleEdge(10, c.dRatio), CDC::ScaleEdge(8, c.dRatio),
                         QImage::Format_RGB32);
            image.setDevicePixelRatio(c.dRatio);
            image.fill(kBlack);
            CDC dc(&image);
            const CPen red{RGB(255, 0, 0)};
            dc.SelectPen(&red);
            draw(dc);
            QRect rcRed; // the bounds of the red pixels, and are they all red within?
            long nRed = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixel(x, y) == kRed)
                        rcRed |= QRect(x, y, 1, 1), ++nRed;
            EXPECT_EQ(nRed, rcRed.width() * rcRed.height()) << c.dRatio;
            EXPECT_EQ(dc.DirtyBounds(), rcRed) << c.dRatio;
            return rcRed;
        };
        EXPECT_EQ(drawn([](CDC &dc) {
                      dc.FillSolidRect(RECT{2, 1, 5, 3}, RGB(255, 0, 0));
                  }),
                  c.fill)
            << c.dRatio;
        EXPECT_EQ(drawn([](CDC &dc) { dc.MoveTo(1, 4), dc.LineTo(6, 4); }), c.hLine) << c.dRatio;
        EXPECT_EQ(drawn([](CDC &dc) { dc.MoveTo(7, 5), dc.LineTo(7, 1); }), c.vLine) << c.dRatio;
    }
}

// A series of fills (a column's chips) leaves what filling each one by one leaves: the same
// pixels and rows drawn, and stepped down the rows the same dirty entries (a run of neighbours
// is one entry, as the chips would join one by one).
TEST(CDCDraw, ASeriesOfFillsIsEachFillInTurn)
{
    struct Case
    {
        const char *pszWhat;
        RECT rcFirst;
        POINT step;
        std::vector<int> indices;
        RECT rcClip;   // null: none
        double dRatio; // of the image
        bool bSameEntries;
    };
    // clang-format off
    const Case cases[] = {
        {"runs down a column",         {3, 2, 9, 4},    {0, 4},  {0, 1, 2, 5, 9, 10},  {},               1.0, true},
        {"upside down, off the image", {3, 50, 9, 52},  {0, -4}, {0, 1, 7, 12, 13, 14}, {},              1.0, true},
        {"past the bottom edge",       {3, 52, 9, 54},  {0, 4},  {0, 1, 2},            {},               1.0, true},
        {"cut by a clip",              {3, 2, 9, 4},    {0, 4},  {0, 1, 2, 3, 4},      {0, 7, 30, 13},   1.0, true},
        {"turned: steps across",       {1, 10, 3, 20},  {3, 0},  {0, 1, 2, 4},         {},               1.0, false},
        {"at a ratio",                 {3, 2, 9, 4},    {0, 3},  {0, 1, 3, 4},         {},               1.5, true},
        {"wide, each start in a line", {1, 0, 22, 1},   {1, 1},  {0, 1, 2, 3, 4, 5},   {},               1.0, false},
    };
    // clang-format on
    for (const Case &c : cases) {
        const auto canvas = [&c] {
            QImage image(CDC::ScaleEdge(30, c.dRatio), CDC::ScaleEdge(56, c.dRatio),
                         QImage::Format_RGB32);
            image.setDevicePixelRatio(c.dRatio);
            image.fill(kBlack);
            return image;
        };
        QImage one = canvas(), series = canvas();
        CDC dcOne(&one), dcSeries(&series);
        std::vector<CDC::SeriesFill> fills;
        for (int i : c.indices) {
            const COLORREF color = RGB(10 * i, 255 - i, 7);
            fills.push_back({i, color});
            dcOne.SetClipRect(c.rcClip);
            dcOne.FillSolidRect(RECT{c.rcFirst.left + i * c.step.x, c.rcFirst.top + i * c.step.y,
                                     c.rcFirst.right + i * c.step.x,
                                     c.rcFirst.bottom + i * c.step.y},
                                color);
        }
        dcSeries.SetClipRect(c.rcClip);
        dcSeries.FillSeries(c.rcFirst, c.step, fills.data(), int(fills.size()));
        EXPECT_EQ(series, one) << c.pszWhat;
        EXPECT_TRUE(
            std::equal(dcOne.RowsDrawn(), dcOne.RowsDrawn() + one.height(), dcSeries.RowsDrawn()))
            << c.pszWhat;
        QRegion drawnOne, drawnSeries;
        for (int i = 0; i < dcOne.DirtyCount(); ++i)
            drawnOne += dcOne.DirtyAt(i);
        for (int i = 0; i < dcSeries.DirtyCount(); ++i)
            drawnSeries += dcSeries.DirtyAt(i);
        // Turned, a run's chips lie side by side: its one entry takes the gaps between them.
        EXPECT_EQ(c.bSameEntries ? drawnSeries : drawnSeries.boundingRect(),
                  c.bSameEntries ? drawnOne : drawnOne.boundingRect())
            << c.pszWhat;
        EXPECT_EQ(drawnSeries.united(drawnOne), drawnSeries) << c.pszWhat;
        if (c.bSameEntries) {
            std::vector<QRect> entriesOne, entriesSeries;
            for (int i = 0; i < dcOne.DirtyCount(); ++i)
                entriesOne.push_back(dcOne.DirtyAt(i));
            for (int i = 0; i < dcSeries.DirtyCount(); ++i)
                entriesSeries.push_back(dcSeries.DirtyAt(i));
            EXPECT_EQ(entriesSeries, entriesOne) << c.pszWhat;
        }
    }
    // After a fill of the whole image the image stays the one entry.
    Canvas cv;
    cv.dc.FillSolidRect(RECT{0, 0, 20, 12}, RGB(0, 0, 0));
    const CDC::SeriesFill fills[] = {{0, RGB(255, 0, 0)}, {1, RGB(255, 0, 0)}};
    cv.dc.FillSeries(RECT{2, 1, 5, 3}, {0, 4}, fills, 2);
    EXPECT_EQ(cv.Count(kRed), 12);
    ASSERT_EQ(cv.dc.DirtyCount(), 1);
    EXPECT_EQ(cv.dc.DirtyAt(0), cv.image.rect());
}
