#pragma once

#include "display/CBandElement.h"
#include "graphics/CDC.h"
#include "graphics/GdiTypes.h"

#include <cstdint>
#include <memory>

struct DisplaySettings;

// Fills the window's pen table for one draw call from the chip colours. With
// CGrad on, entries 0..10 step from Cchip1 towards Cchip2 (each channel
// truncated towards zero) and entry 11 is Cchip2; with CGrad off only entry 0
// (Cchip1) is set and the others are left empty.
void BuildPens(const DisplaySettings &settings, PenTable &pens);

// One frequency band of the column display types: a stack of LED-like chips
// lit from the base up to the band's level, a peak chip above them, an
// optional outline and a frequency label at the base.
//
// Element coordinates: the column's origin m_origin = (x, y), its width
// m_size.cx = w and used length m_size.cy = L, both positive; x runs across
// the column, y along it from the base. m_mapLocal rotates and mirrors them
// into graph-area coordinates, m_mapArea takes those to device pixels.
//
// The chip states always mirror what is on screen, so DrawUpdate repaints only
// chips whose state changed. User-interface thread only; nothing on the
// per-frame path (ComputeLevel, DrawUpdate) allocates.
class CChipColumn : public CBandElement
{
public:
    enum ChipState
    {
        CHIP_UNLIT = 0,
        CHIP_LIT = 1,
        CHIP_PEAK = 2
    };

    static constexpr int kKind = 0;

    // nFrameNumber counts the frame ticks of the column's display; its parity
    // paces the slowly falling peak of short columns. Both it and settings
    // must outlive the column.
    CChipColumn(DisplaySettings &settings, const uint32_t &nFrameNumber);
    ~CChipColumn() override;

    // Places the column and fixes its chip count; returns the size actually
    // used, with the signs of the size given. A negative component mirrors
    // that axis. Angles other than 0, 90, 180, 270 leave the column as it was.
    SIZE SetGeometry(POINT position, SIZE size, int nAngle) override;
    void DrawUpdate(CDC *pDC, const PenTable *pPens) override;
    void DrawFull(CDC *pDC, const PenTable *pPens) override;
    void ComputeLevel() override;
    // rc in element coordinates: rows top..bottom, each from left to right.
    void FillRows(CDC *pDC, RECT rc, const CPen *pPen) override;
    void DrawLabel(CDC *pDC, int x, int y) override;
    // Outline of rc, given in element coordinates.
    void DrawFrame(CDC *pDC, RECT rc, const CPen *pPen) override;

    // Lit chips for a level: its decibels against full scale 32767, counted
    // in steps of (nLmax - nLmin) / nChips from nLmin, truncated. Never
    // negative; may exceed nChips.
    static int ChipsForLevel(float fLevel, int nLmin, int nLmax, int nChips);

    // What chip i shows on screen; i below m_nChips.
    int ChipState(int i) const { return m_pChipStates[i]; }
    // Chip i in element coordinates: rows top..bottom and columns
    // left..right, as handed to FillRows.
    RECT ChipRect(int i) const;

    int m_nChips = 0;
    int m_nPitch = 0; // rows from one chip to the next: thickness + gap
    int m_bRotatedLabel = 0;
    std::unique_ptr<uint8_t[]> m_pChipStates; // m_nChips entries; replaced only by SetGeometry
    // What the states show: lit below m_nStatesLit but for the peak chip
    // m_nStatesPeak (-1: none). Chips below both bars' lit counts, or above
    // both, and neither bar's peak, stay as they are from frame to frame.
    int m_nStatesLit = 0;
    int m_nStatesPeak = -1;
    int m_nPeakCounter = 0; // hold countdown, or the bouncing peak's velocity
    // Chip metrics from Ldiv, fixed when the column is placed.
    int m_nThickness = 0;
    int m_nGap = 0;
    int m_nMargin = 0;

private:
    // Where a draw call puts its chips. When both mappers only swap or mirror
    // axes and the device copies pixels, every chip is the device rectangle
    // of chip 0 moved by a whole step per chip, worked out once per call
    // instead of mapping every chip's corners; otherwise each chip goes
    // through FillRows.
    struct ChipPlacement
    {
        bool bDirect = false;
        bool bAny = false; // the chips have pixels at all
        RECT rcFirst;      // chip 0's device rectangle
        POINT ptFirstEnd;  // where FillRows leaves the current position for chip 0
        int dx = 0;        // device step from one chip to the next
        int dy = 0;
    };

    int NextPeak(int nTop);

    const uint32_t &m_nFrameNumber;
    const CPen *LitPen(int i, const PenTable *pPens, const CPen *pFallback) const;
    ChipPlacement PlaceChips(const CDC *pDC) const;
    // Paints chips handed in one by one: placed directly, they go to the
    // device context in batches of a column's neighbours; otherwise each
    // through FillRows.
    class ChipBatch
    {
    public:
        ChipBatch(CChipColumn &column, CDC *pDC)
            : m_column(column), m_pDC(pDC), m_place(column.PlaceChips(pDC))
        {}
        void Add(int i, const CPen *pPen);
        // Paints what is left and leaves the current position as FillRows would.
        void Finish();

    private:
        static constexpr int kSize = 64;
        void Flush();
        CChipColumn &m_column;
        CDC *m_pDC;
        ChipPlacement m_place;
        CDC::SeriesFill m_fills[kSize];
        int m_nFills = 0;
        int m_nLast = -1;
    };
};
