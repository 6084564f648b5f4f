#include "graphics/CDC.h"

#include <QFontMetrics>
#include <QImage>
#include <QPolygon>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <tuple>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Sets n pixels from p on to one value, with the 16-byte stores the compiler
// does not produce on its own at this optimisation level. Inlined into each
// fill: a chip is a couple of rows of twenty pixels.
inline void FillPixels(uint32_t *p, int n, uint32_t pixel)
{
#if defined(__SSE2__)
    if (n >= 4) {
        const __m128i v = _mm_set1_epi32(int(pixel));
        uint32_t *const pEnd = p + n;
        for (; p + 16 <= pEnd; p += 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 4), v);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 8), v);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 12), v);
        }
        for (; p + 4 <= pEnd; p += 4)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
        // The last four may overlap the ones just stored: the same value
        // written twice instead of a loop over the rest.
        if (p < pEnd)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(pEnd - 4), v);
        return;
    }
#endif
    for (int i = 0; i < n; ++i)
        p[i] = pixel;
}

// The same as FillPixels with stores that go past the caches. A frame's
// chip rows are scattered over the whole image, and between two frames the
// rest of the desktop has pushed the image out of the caches: a plain store
// first reads each line from memory, then leaves it to crowd out what the
// next frame's analysis needs. On its way to the screen the program reads
// the rows back only in a view that copies them (one inside another
// window), and then once.
inline void StreamPixels(uint32_t *p, int n, uint32_t pixel)
{
#if defined(__SSE2__)
    uint32_t *const pEnd = p + n;
    for (; p < pEnd && (reinterpret_cast<uintptr_t>(p) & 15) != 0; ++p)
        _mm_stream_si32(reinterpret_cast<int *>(p), int(pixel));
    const __m128i v = _mm_set1_epi32(int(pixel));
    for (; p + 4 <= pEnd; p += 4)
        _mm_stream_si128(reinterpret_cast<__m128i *>(p), v);
    for (; p < pEnd; ++p)
        _mm_stream_si32(reinterpret_cast<int *>(p), int(pixel));
#else
    FillPixels(p, n, pixel);
#endif
}

// Streamed stores are ordered with nothing else: the pixels are in the image
// for every later reader (Qt, the window system) only after this.
inline void EndStreaming()
{
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

} // namespace

CDC::CDC(QImage *pImage) : m_pImage(pImage)
{
    Q_ASSERT(pImage && pImage->format() == QImage::Format_RGB32);
    // Taken once, before any painter opens on the image, so that direct pixel
    // writes and the painter share the same memory.
    m_pBits = pImage->bits();
    m_nStride = pImage->bytesPerLine();
    m_nWidth = pImage->width();
    m_nHeight = pImage->height();
    m_dRatio = pImage->devicePixelRatio() > 0 ? pImage->devicePixelRatio() : 1.0;
    m_bScaled = m_dRatio != 1.0;
    m_rcClipBounds = QRect(0, 0, m_nWidth, m_nHeight);
    m_rcClipLogical = QRect(QPoint(0, 0), pImage->deviceIndependentSize().toSize());
    m_rowsDrawn.assign(size_t(std::max(m_nHeight, 0)), 0);
    m_columnSlots.resize(kColumnSlots);
}

CDC::~CDC() = default;

int CDC::ScaleEdge(int v, double dRatio)
{
    return int(std::floor(v * dRatio + 0.5));
}

QRect CDC::ToDevice(const QRect &r) const
{
    if (!m_bScaled || r.isEmpty())
        return r;
    return QRect(QPoint(ToDevice(r.left()), ToDevice(r.top())),
                 QPoint(ToDevice(r.right() + 1) - 1, ToDevice(r.bottom() + 1) - 1));
}

void CDC::SetClipRect(const RECT &rc)
{
    m_clip = rc;
    m_clip.Normalize();
    m_rcClipBounds = QRect(0, 0, m_nWidth, m_nHeight);
    m_rcClipLogical = QRect(QPoint(0, 0), m_pImage->deviceIndependentSize().toSize());
    if (!m_clip.IsNull()) {
        const QRect rcLogical(QPoint(m_clip.left, m_clip.top),
                              QPoint(m_clip.right - 1, m_clip.bottom - 1));
        m_rcClipBounds &= ToDevice(rcLogical);
        m_rcClipLogical &= rcLogical;
    }
    if (m_pPainter) {
        if (m_clip.IsNull())
            m_pPainter->setClipping(false);
        else
            m_pPainter->setClipRect(
                QRect(m_clip.left, m_clip.top, m_clip.Width(), m_clip.Height()));
    }
}

QPainter &CDC::Painter()
{
    if (!m_pPainter) {
        m_pPainter = std::make_unique<QPainter>(m_pImage);
        m_pPainter->setRenderHint(QPainter::Antialiasing, false);
        m_pPainter->setRenderHint(QPainter::SmoothPixmapTransform, false);
        if (!m_clip.IsNull())
            m_pPainter->setClipRect(
                QRect(m_clip.left, m_clip.top, m_clip.Width(), m_clip.Height()));
    }
    return *m_pPainter;
}

namespace {

// Both rectangles are non-empty here; QRect's own union is a library call
// with checks for empty ones, taken for every chip.
inline void Unite(QRect &d, const QRect &r)
{
    d.setCoords(std::min(d.left(), r.left()), std::min(d.top(), r.top()),
                std::max(d.right(), r.right()), std::max(d.bottom(), r.bottom()));
}

} // namespace

void CDC::MarkRows(int nTop, int nBottom)
{
    // A chip is a row or two: a loop is cheaper than a call.
    uint8_t *pRow = m_rowsDrawn.data() + std::max(nTop, 0);
    uint8_t *const pEnd = m_rowsDrawn.data() + std::min(nBottom, m_nHeight - 1) + 1;
    if (pEnd - pRow > 16)
        std::memset(pRow, 1, size_t(pEnd - pRow));
    else
        for (; pRow < pEnd; ++pRow)
            *pRow = 1;
}

void CDC::AddDirty(const QRect &r)
{
    m_bRectsValid = false;
    if (r.left() <= 0 && r.top() <= 0 && r.right() >= m_nWidth - 1 && r.bottom() >= m_nHeight - 1) {
        m_dirty.assign(1, QRect(0, 0, m_nWidth, m_nHeight));
        m_nLastDirty = 0;
        m_bAllDirty = true;
        return;
    }
    const auto joins = [&](const QRect &d) {
        return d.left() == r.left() && d.right() == r.right() &&
               r.top() <= d.bottom() + kJoinRows && d.top() <= r.bottom() + kJoinRows;
    };
    // The chips of one column come in a row: the entry hit last first.
    if (m_nLastDirty < m_dirty.size() && joins(m_dirty[m_nLastDirty])) {
        Unite(m_dirty[m_nLastDirty], r);
        return;
    }
    // Then the entry these columns joined last, found by their first and
    // last column; a full table only costs the joining of later entries.
    const uint32_t nHash = (uint32_t(r.left()) * 2654435761u) ^ (uint32_t(r.right()) * 40503u);
    ColumnSlot *pSlot = nullptr;
    for (size_t k = 0; k < 16; ++k) {
        ColumnSlot &slot = m_columnSlots[(nHash + k) & (kColumnSlots - 1)];
        if (slot.nGeneration != m_nGeneration) {
            slot = {r.left(), r.right(), m_nGeneration, 0};
            pSlot = &slot;
            break;
        }
        if (slot.nLeft == r.left() && slot.nRight == r.right()) {
            if (joins(m_dirty[slot.nEntry])) {
                m_nLastDirty = slot.nEntry;
                Unite(m_dirty[slot.nEntry], r);
                return;
            }
            pSlot = &slot;
            break;
        }
    }
    m_nLastDirty = m_dirty.size();
    if (pSlot)
        pSlot->nEntry = uint32_t(m_nLastDirty);
    m_dirty.push_back(r);
}

QRect CDC::DirtyBounds() const
{
    QRect r;
    for (const QRect &d : m_dirty)
        r |= d;
    return r;
}

void CDC::GatherBands(int nGrid)
{
    // Every entry's rows snapped outwards to the grid: one cell per entry
    // and grid band it touches, each band's cells in order of their first
    // column (the entries are visited in that order).
    const int nBands = (m_nHeight + nGrid - 1) / nGrid;
    m_bandStart.assign(size_t(nBands) + 2, 0);
    for (uint32_t i : m_order) {
        const QRect &d = m_dirty[i];
        for (int b = d.top() / nGrid, nLast = d.bottom() / nGrid; b <= nLast; ++b)
            ++m_bandStart[size_t(b) + 2];
    }
    for (size_t b = 2; b < m_bandStart.size(); ++b)
        m_bandStart[b] += m_bandStart[b - 1];
    m_cells.resize(size_t(m_bandStart.back()));
    for (uint32_t i : m_order) {
        const QRect &d = m_dirty[i];
        for (int b = d.top() / nGrid, nLast = d.bottom() / nGrid; b <= nLast; ++b)
            m_cells[size_t(m_bandStart[size_t(b) + 1]++)] = {d.left(), d.right()};
    }
    // m_bandStart[b] .. m_bandStart[b + 1] are now band b's cells.
    m_bandStart.pop_back();
}

std::pair<int, int64_t> CDC::JoinRuns(int nGrid, int nJoin)
{
    const int nBands = int(m_bandStart.size()) - 1;
    m_runStart.resize(size_t(nBands) + 1);
    m_runs.clear();
    int nCount = 0;
    int64_t nArea = 0;
    for (int b = 0; b < nBands; ++b) {
        m_runStart[size_t(b)] = int(m_runs.size());
        const int c1 = m_bandStart[size_t(b)], c2 = m_bandStart[size_t(b) + 1];
        if (c1 == c2)
            continue;
        Span run = m_cells[size_t(c1)];
        int64_t nWidth = 0;
        for (int c = c1 + 1; c <= c2; ++c) {
            if (c < c2 && m_cells[size_t(c)].nLeft <= run.nRight + 1 + nJoin) {
                run.nRight = std::max(run.nRight, m_cells[size_t(c)].nRight);
                continue;
            }
            m_runs.push_back(run);
            nWidth += run.nRight - run.nLeft + 1;
            if (c < c2)
                run = m_cells[size_t(c)];
        }
        nArea += nWidth * (std::min(m_nHeight, (b + 1) * nGrid) - b * nGrid);
        // A band with the runs of the one above it only makes that one taller.
        const int nRuns = int(m_runs.size()) - m_runStart[size_t(b)];
        const bool bSame = b > 0 && m_runStart[size_t(b)] - m_runStart[size_t(b) - 1] == nRuns &&
                           std::equal(m_runs.end() - nRuns, m_runs.end(), m_runs.end() - 2 * nRuns,
                                      [](const Span &x, const Span &y) {
                                          return x.nLeft == y.nLeft && x.nRight == y.nRight;
                                      });
        if (!bSame)
            nCount += nRuns;
    }
    m_runStart[size_t(nBands)] = int(m_runs.size());
    return {nCount, nArea};
}

void CDC::EmitRects(int nGrid)
{
    m_rects.clear();
    const int nBands = int(m_runStart.size()) - 1;
    size_t nPrevious = 0; // where the band above's rectangles start
    int nPreviousRuns = -1;
    for (int b = 0; b < nBands; ++b) {
        const int r1 = m_runStart[size_t(b)], r2 = m_runStart[size_t(b) + 1];
        const int nTop = b * nGrid, nBottom = std::min(m_nHeight, (b + 1) * nGrid) - 1;
        if (r1 == r2) {
            nPreviousRuns = -1;
            continue;
        }
        bool bSame = nPreviousRuns == r2 - r1;
        for (int k = 0; bSame && k < r2 - r1; ++k)
            bSame = m_rects[nPrevious + size_t(k)].left() == m_runs[size_t(r1 + k)].nLeft &&
                    m_rects[nPrevious + size_t(k)].right() == m_runs[size_t(r1 + k)].nRight;
        if (bSame) {
            for (int k = 0; k < r2 - r1; ++k)
                m_rects[nPrevious + size_t(k)].setBottom(nBottom);
            continue;
        }
        nPrevious = m_rects.size();
        nPreviousRuns = r2 - r1;
        for (int k = r1; k < r2; ++k)
            m_rects.push_back(QRect(QPoint(m_runs[size_t(k)].nLeft, nTop),
                                    QPoint(m_runs[size_t(k)].nRight, nBottom)));
    }
}

const std::vector<QRect> &CDC::DirtyRects()
{
    if (m_bRectsValid)
        return m_rects;
    m_bRectsValid = true;
    m_rects.clear();
    if (m_dirty.size() <= 1) {
        m_rects = m_dirty;
        return m_rects;
    }
    int64_t nChanged = 0;
    for (const QRect &d : m_dirty)
        nChanged += int64_t(d.width()) * d.height();
    const auto nLimit = int64_t(double(nChanged) * kMaxAreaRatio);
    m_order.resize(m_dirty.size());
    for (size_t i = 0; i < m_order.size(); ++i)
        m_order[i] = uint32_t(i);
    // The columns are mostly drawn from left to right: often nothing to sort.
    const auto byLeft = [this](uint32_t a, uint32_t b) {
        return m_dirty[a].left() < m_dirty[b].left();
    };
    if (!std::is_sorted(m_order.begin(), m_order.end(), byLeft))
        std::sort(m_order.begin(), m_order.end(), byLeft);

    // The choice the window system does the least work for, at a cost of
    // kRectPixels pixels a rectangle, its area within the limit. Coarser
    // grids and longer joins give fewer rectangles and more area, so each
    // grid tries ever longer joins until the area is too much. A frame looks
    // much like the one before: the grid and join chosen last are taken
    // again while their area stays within the limit, and every fourth frame
    // the choice is made afresh among that grid and, by turns, the next
    // finer or coarser one. Without any choice within the area, the exact
    // rows (grid 1, no join) always are.
    const int nHint = std::max(m_nGridHint, 2);
    m_nSearchTurn = (m_nSearchTurn + 1) & 7;
    if ((m_nSearchTurn & 3) != 0 && nHint < 2 * m_nHeight) {
        GatherBands(nHint);
        if (JoinRuns(nHint, m_nJoinHint).second <= nLimit) {
            EmitRects(nHint);
            return m_rects;
        }
    }
    const int nJoins[] = {0, 8, 32, 128, m_nWidth};
    int nBestGrid = 0, nBestJoin = 0;
    int64_t nBestCost = 0;
    int nGathered = 0;
    const int nOther = m_nSearchTurn == 0   ? std::max(nHint / 2, 2)
                       : m_nSearchTurn == 4 ? nHint * 2
                                            : nHint;
    for (int nGrid : {std::min(nHint, nOther), std::max(nHint, nOther)}) {
        if (nGrid <= nGathered || nGrid >= 2 * m_nHeight)
            continue;
        GatherBands(nGrid);
        nGathered = nGrid;
        for (int nJoin : nJoins) {
            const auto [nCount, nArea] = JoinRuns(nGrid, nJoin);
            if (nArea > nLimit)
                break; // longer joins only add area
            const int64_t nCost = int64_t(nCount) * kRectPixels + nArea;
            if (nBestGrid == 0 || nCost < nBestCost)
                std::tie(nBestGrid, nBestJoin, nBestCost) = std::tuple(nGrid, nJoin, nCost);
        }
    }
    if (nBestGrid == 0) {
        GatherBands(2);
        nGathered = 2;
        const bool bWithin = JoinRuns(2, 0).second <= nLimit;
        nBestGrid = bWithin ? 2 : 1;
    }
    m_nGridHint = std::max(nBestGrid, 2);
    m_nJoinHint = nBestJoin;
    if (nGathered != nBestGrid)
        GatherBands(nBestGrid);
    JoinRuns(nBestGrid, nBestJoin);
    EmitRects(nBestGrid);
    return m_rects;
}

QRegion CDC::DirtyRegion()
{
    const std::vector<QRect> &rects = DirtyRects();
    QRegion region;
    if (rects.size() == 1)
        region = rects.front();
    else if (!rects.empty())
        region.setRects(rects.data(), int(rects.size()));
    return region;
}

void CDC::PutPixel(int x, int y, uint32_t pixel)
{
    auto *p = reinterpret_cast<uint32_t *>(m_pBits + y * m_nStride) + x;
    *p = m_nRop == R2_XORPEN ? (*p ^ (pixel & 0x00FFFFFFu)) : pixel;
}

void CDC::FillSpan(int x1, int x2, int y, uint32_t pixel)
{
    const QRect &clip = m_rcClipBounds;
    if (y < clip.top() || y > clip.bottom())
        return;
    x1 = std::max(x1, clip.left());
    x2 = std::min(x2, clip.right());
    if (x1 > x2)
        return;
    auto *p = reinterpret_cast<uint32_t *>(m_pBits + y * m_nStride);
    if (m_nRop == R2_XORPEN) {
        for (int x = x1; x <= x2; ++x)
            p[x] ^= pixel & 0x00FFFFFFu;
    } else {
        FillPixels(p + x1, x2 - x1 + 1, pixel);
    }
}

void CDC::FillColumn(int x, int y1, int y2, uint32_t pixel)
{
    const QRect &clip = m_rcClipBounds;
    if (x < clip.left() || x > clip.right())
        return;
    y1 = std::max(y1, clip.top());
    y2 = std::min(y2, clip.bottom());
    uint8_t *pRow = m_pBits + qsizetype(y1) * m_nStride + qsizetype(x) * 4;
    if (m_nRop == R2_XORPEN) {
        for (int y = y1; y <= y2; ++y, pRow += m_nStride)
            *reinterpret_cast<uint32_t *>(pRow) ^= pixel & 0x00FFFFFFu;
        return;
    }
    // Every row is another cache line, and a stride of a whole row is too
    // long for the hardware to see coming: ask for the lines some rows ahead
    // so that their fetches overlap instead of each write waiting for its own.
    constexpr int kAhead = 32;
    int y = y1;
    for (; y + kAhead <= y2; ++y, pRow += m_nStride) {
        __builtin_prefetch(pRow + kAhead * m_nStride, 1);
        *reinterpret_cast<uint32_t *>(pRow) = pixel;
    }
    for (; y <= y2; ++y, pRow += m_nStride)
        *reinterpret_cast<uint32_t *>(pRow) = pixel;
}

void CDC::LineTo(int x, int y)
{
    const POINT from = m_ptCurrent;
    m_ptCurrent = {x, y};
    if (!m_pPen || m_pPen->IsNull())
        return;
    const uint32_t pixel = ToPixel(m_pPen->color);
    if (m_bScaled)
        DeviceLine({ToDevice(from.x), ToDevice(from.y)}, {ToDevice(x), ToDevice(y)}, pixel);
    else
        DeviceLine(from, {x, y}, pixel);
}

void CDC::DeviceLine(POINT from, POINT to, uint32_t pixel)
{
    const int x = to.x, y = to.y;

    if (from.y == y) {
        // Horizontal: from the start up to, not including, the end.
        if (from.x == x)
            return;
        const int x1 = from.x < x ? from.x : x + 1;
        const int x2 = from.x < x ? x - 1 : from.x;
        FillSpan(x1, x2, y, pixel);
        MarkDirty(QRect(QPoint(x1, y), QPoint(x2, y)) & ClipBounds());
        return;
    }

    if (from.x == x) {
        // Vertical: the same rule along y.
        const int y1 = from.y < y ? from.y : y + 1;
        const int y2 = from.y < y ? y - 1 : from.y;
        FillColumn(x, y1, y2, pixel);
        MarkDirty(QRect(QPoint(x, y1), QPoint(x, y2)) & ClipBounds());
        return;
    }

    // Bresenham from the start, stopping before the end pixel.
    const QRect clip = ClipBounds();
    int dx = std::abs(x - from.x), dy = -std::abs(y - from.y);
    const int sx = from.x < x ? 1 : -1, sy = from.y < y ? 1 : -1;
    int err = dx + dy;
    int cx = from.x, cy = from.y;
    int minX = cx, maxX = cx, minY = cy, maxY = cy;
    while (cx != x || cy != y) {
        if (clip.contains(cx, cy))
            PutPixel(cx, cy, pixel);
        minX = std::min(minX, cx);
        maxX = std::max(maxX, cx);
        minY = std::min(minY, cy);
        maxY = std::max(maxY, cy);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            cx += sx;
        }
        if (e2 <= dx) {
            err += dx;
            cy += sy;
        }
    }
    MarkDirty(QRect(QPoint(minX, minY), QPoint(maxX, maxY)) & clip);
}

void CDC::FillSolidRect(const RECT &rcIn, COLORREF color)
{
    // Clipped once, then written row by row: brushes fill, they do not mix.
    const QRect &clip = m_rcClipBounds;
    const int x1 = std::max(ToDevice(std::min(rcIn.left, rcIn.right)), clip.left());
    const int x2 = std::min(ToDevice(std::max(rcIn.left, rcIn.right)) - 1, clip.right());
    const int y1 = std::max(ToDevice(std::min(rcIn.top, rcIn.bottom)), clip.top());
    const int y2 = std::min(ToDevice(std::max(rcIn.top, rcIn.bottom)) - 1, clip.bottom());
    if (x1 > x2 || y1 > y2)
        return;
    const uint32_t pixel = ToPixel(color);
    const int nWidth = x2 - x1 + 1;
    uint8_t *pRow = m_pBits + qsizetype(y1) * m_nStride + qsizetype(x1) * 4;
    if (nWidth == m_nWidth && m_nStride == qsizetype(m_nWidth) * 4) {
        // Whole rows of an image without row padding: one run.
        FillPixels(reinterpret_cast<uint32_t *>(pRow), nWidth * (y2 - y1 + 1), pixel);
    } else {
        for (int y = y1; y <= y2; ++y, pRow += m_nStride)
            FillPixels(reinterpret_cast<uint32_t *>(pRow), nWidth, pixel);
    }
    MarkDirty(QRect(QPoint(x1, y1), QPoint(x2, y2)));
}

void CDC::FillSeries(const RECT &rcFirst, POINT step, const SeriesFill *pFills, int nCount)
{
    const int nLeft = std::min(rcFirst.left, rcFirst.right);
    const int nTop = std::min(rcFirst.top, rcFirst.bottom);
    const int nWidth = std::max(rcFirst.left, rcFirst.right) - nLeft;
    const int nHeight = std::max(rcFirst.top, rcFirst.bottom) - nTop;
    const auto moved = [&](int i) {
        return RECT{nLeft + i * step.x, nTop + i * step.y, nLeft + i * step.x + nWidth,
                    nTop + i * step.y + nHeight};
    };
    if (m_bScaled || nWidth <= 0 || nHeight <= 0) {
        // Scaled edges do not keep one size from step to step.
        for (int k = 0; k < nCount; ++k)
            FillSolidRect(moved(pFills[k].nIndex), pFills[k].color);
        return;
    }
    const QRect &clip = m_rcClipBounds;
    // Neighbouring chips of one column make one entry, as they would one by one.
    QRect run;
    int nRunLast = 0;
    const auto endRun = [&] {
        if (!run.isNull() && !m_bAllDirty)
            AddDirty(run);
        run = QRect();
    };
    for (int k = 0; k < nCount; ++k) {
        const int i = pFills[k].nIndex;
        const QRect rc(nLeft + i * step.x, nTop + i * step.y, nWidth, nHeight);
        if (rc.left() < clip.left() || rc.right() > clip.right() || rc.top() < clip.top() ||
            rc.bottom() > clip.bottom()) {
            endRun();
            FillSolidRect(moved(i), pFills[k].color);
            continue;
        }
        const uint32_t pixel = ToPixel(pFills[k].color);
        uint8_t *pRow = m_pBits + qsizetype(rc.top()) * m_nStride + qsizetype(rc.left()) * 4;
        uint8_t *pDrawn = m_rowsDrawn.data() + rc.top();
        for (int y = 0; y < nHeight; ++y, pRow += m_nStride) {
            StreamPixels(reinterpret_cast<uint32_t *>(pRow), nWidth, pixel);
            pDrawn[y] = 1;
        }
        if (run.isNull() || i != nRunLast + 1) {
            endRun();
            run = rc;
        } else {
            Unite(run, rc);
        }
        nRunLast = i;
    }
    endRun();
    EndStreaming();
}

void CDC::Polygon(const POINT *pPoints, int nCount)
{
    if (nCount < 2)
        return;
    QPolygon poly(nCount);
    for (int i = 0; i < nCount; ++i)
        poly.setPoint(i, pPoints[i].x, pPoints[i].y);
    QPainter &p = Painter();
    p.setBrush(QColor::fromRgb(ToPixel(m_brushColor)));
    if (m_pPen && !m_pPen->IsNull())
        p.setPen(QPen(QColor::fromRgb(ToPixel(m_pPen->color)), 0));
    else
        p.setPen(Qt::NoPen);
    p.drawPolygon(poly);
    MarkDirty(ToDevice(poly.boundingRect().adjusted(0, 0, 1, 1)) & ClipBounds());
}

SIZE CDC::GetTextExtent(const QString &text) const
{
    const QFontMetrics fm(m_pFont ? *m_pFont : QFont());
    return {fm.horizontalAdvance(text), fm.height()};
}

void CDC::TextOut(int x, int y, const QString &text)
{
    ExtTextOutClipped(x, y, RECT{}, text);
}

void CDC::ExtTextOutClipped(int x, int y, const RECT &rcClip, const QString &text)
{
    if (text.isEmpty())
        return;
    const QFont font = m_pFont ? *m_pFont : QFont();
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(text);

    int left = x;
    if ((m_nTextAlign & TA_CENTER) == TA_CENTER)
        left = x - width / 2;
    else if (m_nTextAlign & TA_RIGHT)
        left = x - width;
    int baseline = y + fm.ascent();
    if ((m_nTextAlign & TA_BASELINE) == TA_BASELINE)
        baseline = y;
    else if (m_nTextAlign & TA_BOTTOM)
        baseline = y - fm.descent();

    const QRect box(left, baseline - fm.ascent(), width, fm.height());
    QRect clip = m_rcClipLogical;
    if (!rcClip.IsNull()) {
        RECT rc = rcClip;
        rc.Normalize();
        clip &= QRect(rc.left, rc.top, rc.Width(), rc.Height());
    }

    QPainter &p = Painter();
    p.save();
    p.setClipRect(clip);
    p.setFont(font);
    if (m_nBkMode == OPAQUE)
        p.fillRect(box, QColor::fromRgb(ToPixel(m_bkColor)));
    p.setPen(QColor::fromRgb(ToPixel(m_textColor)));
    p.drawText(QPoint(left, baseline), text);
    p.restore();
    MarkDirty(ToDevice(box & clip));
}

void CDC::StretchImage(const RECT &dstIn, const QImage &image, const RECT &src)
{
    RECT dst = dstIn;
    dst.Normalize();
    if (image.isNull() || dst.Width() <= 0 || dst.Height() <= 0)
        return;
    QPainter &p = Painter();
    p.drawImage(QRect(dst.left, dst.top, dst.Width(), dst.Height()), image,
                QRect(src.left, src.top, src.right - src.left, src.bottom - src.top));
    MarkDirty(ToDevice(QRect(dst.left, dst.top, dst.Width(), dst.Height())) & ClipBounds());
}
