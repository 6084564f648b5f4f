#include "graphics/CDC.h"

#include <QFontMetrics>
#include <QImage>
#include <QPolygon>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

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

void CDC::MarkDirty(const QRect &r)
{
    if (m_bAllDirty || r.isEmpty())
        return;
    const int nTop = std::max(r.top(), 0);
    const int nBottom = std::min(r.bottom(), m_nHeight - 1);
    if (nTop <= nBottom)
        std::memset(m_rowsDrawn.data() + nTop, 1, size_t(nBottom - nTop + 1));
    if (r.left() <= 0 && r.top() <= 0 && r.right() >= m_nWidth - 1 && r.bottom() >= m_nHeight - 1) {
        m_dirty[0] = QRect(0, 0, m_nWidth, m_nHeight);
        m_nDirty = 1;
        m_nLastDirty = 0;
        m_bAllDirty = true;
        return;
    }
    // Changes come column by column (a column's chips, a clock, a trace): a
    // rectangle that shares pixel columns with an entry and lies within a few
    // rows of it joins that entry, so a column's changes gather in one or two
    // entries and little that did not change is copied to the screen. The
    // entry hit last is tried first: the chips of one column come in a row.
    constexpr int kJoinRows = 24;
    auto joins = [&](const QRect &d) {
        return r.left() <= d.right() && d.left() <= r.right() &&
               r.top() <= d.bottom() + kJoinRows && d.top() <= r.bottom() + kJoinRows;
    };
    if (m_nLastDirty < m_nDirty && joins(m_dirty[m_nLastDirty])) {
        Unite(m_dirty[m_nLastDirty], r);
        return;
    }
    for (int i = m_nDirty - 1; i >= 0; --i) {
        if (joins(m_dirty[i])) {
            Unite(m_dirty[i], r);
            m_nLastDirty = i;
            return;
        }
    }
    if (m_nDirty < kMaxDirty) {
        m_nLastDirty = m_nDirty;
        m_dirty[m_nDirty++] = r;
        return;
    }
    // Full: join an entry of the same pixel columns, else the last one.
    for (int i = m_nDirty - 1; i >= 0; --i) {
        if (r.left() <= m_dirty[i].right() && m_dirty[i].left() <= r.right()) {
            Unite(m_dirty[i], r);
            return;
        }
    }
    Unite(m_dirty[kMaxDirty - 1], r);
}

QRect CDC::DirtyBounds() const
{
    QRect r;
    for (int i = 0; i < m_nDirty; ++i)
        r |= m_dirty[i];
    return r;
}

QRegion CDC::DirtyRegion()
{
    QRegion region;
    if (m_nDirty == 0)
        return region;
    if (m_nDirty == 1) {
        region = m_dirty[0];
        return region;
    }
    // A region is a stack of bands: rows that share the same rectangles,
    // each band's rectangles sorted by x, neither overlapping nor touching.
    // Every top and bottom of the entries starts a band; within a band the
    // entries that cover it are merged along x.
    m_bandEdges.clear();
    for (int i = 0; i < m_nDirty; ++i) {
        m_bandEdges.push_back(m_dirty[i].top());
        m_bandEdges.push_back(m_dirty[i].bottom() + 1);
    }
    std::sort(m_bandEdges.begin(), m_bandEdges.end());
    m_bandEdges.erase(std::unique(m_bandEdges.begin(), m_bandEdges.end()), m_bandEdges.end());

    m_bandRects.clear();
    size_t nLastBand = 0;      // where the previous band's rectangles start
    size_t nLastBandCount = 0; // and how many it has
    for (size_t e = 0; e + 1 < m_bandEdges.size(); ++e) {
        const int y1 = m_bandEdges[e];
        const int y2 = m_bandEdges[e + 1] - 1;
        const size_t nStart = m_bandRects.size();
        for (int i = 0; i < m_nDirty; ++i) {
            if (m_dirty[i].top() <= y1 && m_dirty[i].bottom() >= y2)
                m_bandRects.push_back(
                    QRect(QPoint(m_dirty[i].left(), y1), QPoint(m_dirty[i].right(), y2)));
        }
        if (m_bandRects.size() == nStart)
            continue;
        std::sort(m_bandRects.begin() + qsizetype(nStart), m_bandRects.end(),
                  [](const QRect &a, const QRect &b) { return a.left() < b.left(); });
        size_t nOut = nStart;
        for (size_t k = nStart + 1; k < m_bandRects.size(); ++k) {
            if (m_bandRects[k].left() <= m_bandRects[nOut].right() + 1)
                m_bandRects[nOut].setRight(
                    std::max(m_bandRects[nOut].right(), m_bandRects[k].right()));
            else
                m_bandRects[++nOut] = m_bandRects[k];
        }
        m_bandRects.resize(nOut + 1);
        // A band just below one with the same rectangles extends it.
        const size_t nCount = m_bandRects.size() - nStart;
        bool bSame =
            nLastBandCount == nCount && nStart > 0 && m_bandRects[nLastBand].bottom() + 1 == y1;
        for (size_t k = 0; bSame && k < nCount; ++k)
            bSame = m_bandRects[nLastBand + k].left() == m_bandRects[nStart + k].left() &&
                    m_bandRects[nLastBand + k].right() == m_bandRects[nStart + k].right();
        if (bSame) {
            for (size_t k = 0; k < nCount; ++k)
                m_bandRects[nLastBand + k].setBottom(y2);
            m_bandRects.resize(nStart);
        } else {
            nLastBand = nStart;
            nLastBandCount = nCount;
        }
    }
    region.setRects(m_bandRects.data(), int(m_bandRects.size()));
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
