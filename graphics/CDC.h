#pragma once

#include "graphics/GdiTypes.h"

#include <QFont>
#include <QPainter>
#include <QRect>
#include <QRegion>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class QImage;

// The device context the drawing code paints through: a window's backing
// image plus the drawing state of a classic device context (current pen,
// brush colour, raster operation, text colour and alignment, font, clip
// rectangle), keeping the device's pixel rules:
//  - a line leaves out its end pixel;
//  - a filled rectangle covers left..right-1 and top..bottom-1;
//  - text is placed by its alignment flags relative to the reference point.
// Lines and fills write the image's pixels directly; text, polygons and
// pictures go through a QPainter that is opened only when first needed.
// Everything drawn is recorded as dirty so that the window copies only what
// changed to the screen. User-interface thread only.
class CDC
{
public:
    enum RasterOp
    {
        R2_XORPEN = 7,
        R2_COPYPEN = 13
    };
    enum TextAlign
    {
        TA_LEFT = 0,
        TA_RIGHT = 2,
        TA_CENTER = 6,
        TA_TOP = 0,
        TA_BOTTOM = 8,
        TA_BASELINE = 24,
    };
    enum BkMode
    {
        TRANSPARENT = 1,
        OPAQUE = 2
    };

    // The image must be QImage::Format_RGB32 and outlive the device context.
    // Coordinates are logical pixels; the image's device-pixel ratio (see
    // QImage::setDevicePixelRatio) says how many of its pixels make one.
    // Fills and lines are placed in the image's own pixels: a logical edge e
    // falls on pixel edge round(e x ratio), so rectangles that meet in
    // logical pixels meet in the image too and their edges are sharp, and a
    // line is one image pixel wide between its mapped ends. Text, polygons
    // and pictures go through the painter's scale, at the image's resolution.
    explicit CDC(QImage *pImage);
    ~CDC();
    CDC(const CDC &) = delete;
    CDC &operator=(const CDC &) = delete;

    QImage *Image() const { return m_pImage; }
    // Image pixels per logical pixel.
    double Ratio() const { return m_dRatio; }
    // The image pixel edge of logical edge v: round(v x ratio).
    int ToDevice(int v) const { return m_bScaled ? ScaleEdge(v, m_dRatio) : v; }
    static int ScaleEdge(int v, double dRatio);
    // The image pixels that the logical pixels of r cover.
    QRect ToDevice(const QRect &r) const;

    // Returns the previously selected pen. A null or empty pen draws nothing.
    const CPen *SelectPen(const CPen *pPen) { return std::exchange(m_pPen, pPen); }
    int SetROP2(int nMode) { return std::exchange(m_nRop, nMode); }
    int GetROP2() const { return m_nRop; }
    void MoveTo(int x, int y) { m_ptCurrent = {x, y}; }
    void MoveTo(POINT pt) { MoveTo(pt.x, pt.y); }
    void LineTo(int x, int y);
    void LineTo(POINT pt) { LineTo(pt.x, pt.y); }
    POINT GetCurrentPosition() const { return m_ptCurrent; }

    void FillSolidRect(const RECT &rc, COLORREF color);
    // Rectangles of one size at a fixed step, as the chips of a column:
    // rectangle i is rcFirst moved i steps. Fills the listed ones in their
    // order, each exactly as FillSolidRect would, with the placing, clipping
    // and dirty bookkeeping done once per run of neighbours rather than once
    // per chip: a frame changes a couple of thousand chips.
    struct SeriesFill
    {
        int nIndex;
        COLORREF color;
    };
    void FillSeries(const RECT &rcFirst, POINT step, const SeriesFill *pFills, int nCount);
    // The brush used by Polygon's interior.
    void SetBrushColor(COLORREF color) { m_brushColor = color; }
    // Outline with the current pen, interior with the brush colour.
    void Polygon(const POINT *pPoints, int nCount);

    const QFont *SelectFont(const QFont *pFont) { return std::exchange(m_pFont, pFont); }
    COLORREF SetTextColor(COLORREF color) { return std::exchange(m_textColor, color); }
    int SetBkMode(int nMode) { return std::exchange(m_nBkMode, nMode); }
    COLORREF SetBkColor(COLORREF color) { return std::exchange(m_bkColor, color); }
    int SetTextAlign(int nFlags) { return std::exchange(m_nTextAlign, nFlags); }
    int GetTextAlign() const { return m_nTextAlign; }
    void TextOut(int x, int y, const QString &text);
    // Text clipped to rc, as an output call with the clipping option.
    void ExtTextOutClipped(int x, int y, const RECT &rc, const QString &text);
    SIZE GetTextExtent(const QString &text) const;

    // Draws a region of a picture into a rectangle, rows and columns dropped
    // or repeated, never blended.
    void StretchImage(const RECT &dst, const QImage &image, const RECT &src);

    // Limits every following drawing operation; a null rectangle removes the limit.
    void SetClipRect(const RECT &rc);

    // What was drawn since the last ClearDirty, in device pixels, as entries
    // that each belong to one run of pixel columns: drawing with the same
    // columns as an entry and within kJoinRows rows of it (the chips of one
    // column) joins that entry; drawing with other columns never does. The
    // entries grow as needed, so nothing is ever merged for lack of room.
    // Once something covers the whole image (a full repaint starts with the
    // background), the image is the one entry until ClearDirty, and later
    // drawing skips the bookkeeping.
    static constexpr int kJoinRows = 8;
    int DirtyCount() const { return int(m_dirty.size()); }
    const QRect &DirtyAt(int i) const { return m_dirty[size_t(i)]; }
    QRect DirtyBounds() const;
    // One flag per image row: 1 when anything was drawn in the row since
    // ClearRowsDrawn. Unlike the dirty rectangles these say which rows
    // inside a rectangle were touched: the rows between a column's chips,
    // or between two changes that were gathered into one entry, stay 0.
    const uint8_t *RowsDrawn() const { return m_rowsDrawn.data(); }
    void ClearRowsDrawn() { std::fill(m_rowsDrawn.begin(), m_rowsDrawn.end(), uint8_t(0)); }
    // The entries gathered for the window system, which pays for every
    // rectangle (a put request and a clip rectangle each) and for every
    // pixel: rows snapped to a grid and neighbouring entries of a grid band
    // joined, the grid and the join distance chosen for the least work,
    // counting a rectangle as kRectPixels pixels (what an X server spends on
    // each, measured), with at most kMaxAreaRatio times the entries' own
    // area. The rectangles are y-x banded (one height per band, none
    // touching within a band), as a region keeps them, so a region made from
    // them is not cut up further. Valid until the next drawing or ClearDirty.
    static constexpr int kRectPixels = 1024;
    static constexpr double kMaxAreaRatio = 4.0;
    static constexpr int kMaxRects = 100; // what a frame of a few columns stays within
    const std::vector<QRect> &DirtyRects();
    // The same rectangles as one region.
    QRegion DirtyRegion();
    void ClearDirty()
    {
        m_dirty.clear();
        m_nLastDirty = 0;
        m_bAllDirty = false;
        ++m_nGeneration;
    }

private:
    static uint32_t ToPixel(COLORREF c)
    {
        return 0xFF000000u | (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) |
               uint32_t(GetBValue(c));
    }
    // A line in image pixels, leaving out its end pixel.
    void DeviceLine(POINT from, POINT to, uint32_t pixel);
    void PutPixel(int x, int y, uint32_t pixel);
    void FillSpan(int x1, int x2, int y, uint32_t pixel); // x1..x2 inclusive, clipped
    void MarkDirty(const QRect &r)
    {
        if (m_bAllDirty || r.isEmpty())
            return;
        MarkRows(r.top(), r.bottom());
        AddDirty(r);
    }
    void MarkRows(int nTop, int nBottom);
    void AddDirty(const QRect &r); // r not empty, m_bAllDirty not set
    QPainter &Painter();
    QRect ClipBounds() const { return m_rcClipBounds; }
    void FillColumn(int x, int y1, int y2, uint32_t pixel); // y1..y2 inclusive, clipped

    QImage *m_pImage;
    uint8_t *m_pBits = nullptr;
    qsizetype m_nStride = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;

    const CPen *m_pPen = nullptr;
    int m_nRop = R2_COPYPEN;
    POINT m_ptCurrent;
    COLORREF m_brushColor = 0;
    const QFont *m_pFont = nullptr;
    COLORREF m_textColor = 0;
    int m_nBkMode = OPAQUE;
    COLORREF m_bkColor = 0xFFFFFF;
    int m_nTextAlign = TA_LEFT | TA_TOP;
    RECT m_clip;           // null: no clip beyond the image
    QRect m_rcClipBounds;  // the image's rectangle limited by m_clip, in image pixels
    QRect m_rcClipLogical; // the same in logical pixels, for the painter
    double m_dRatio = 1.0;
    bool m_bScaled = false;
    std::unique_ptr<QPainter> m_pPainter;

    // The entries, and for each run of pixel columns the entry it joined
    // last: an open-addressed table keyed by the run's first and last
    // column, its slots valid for one generation (one ClearDirty to the next).
    std::vector<QRect> m_dirty;
    size_t m_nLastDirty = 0;
    bool m_bAllDirty = false;
    struct ColumnSlot
    {
        int nLeft = 0;
        int nRight = 0;
        uint32_t nGeneration = 0;
        uint32_t nEntry = 0;
    };
    static constexpr size_t kColumnSlots = 1024;
    std::vector<ColumnSlot> m_columnSlots;
    uint32_t m_nGeneration = 1;
    size_t FindColumnEntry(const QRect &r);
    // DirtyRects' working space, kept so that gathering does not allocate
    // once it has grown to a frame's size.
    struct Span
    {
        int nLeft;
        int nRight;
    };
    std::vector<uint8_t> m_rowsDrawn;
    std::vector<uint32_t> m_order;
    std::vector<int> m_bandStart;
    std::vector<Span> m_cells;
    std::vector<int> m_runStart;
    std::vector<Span> m_runs;
    std::vector<QRect> m_rects;
    bool m_bRectsValid = false;
    int m_nGridHint = 8;   // the grid chosen last
    int m_nJoinHint = 0;   // and the join
    int m_nSearchTurn = 0; // a finer grid is tried at 0, a coarser one at 4
    // Snaps to grid nGrid, joins within nJoin columns; fills m_runs per band
    // and returns the rectangle count and area once identical bands merge.
    void GatherBands(int nGrid);
    std::pair<int, int64_t> JoinRuns(int nGrid, int nJoin);
    void EmitRects(int nGrid);
};
