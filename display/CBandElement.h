#pragma once

#include "graphics/CCoordMapper.h"
#include "graphics/GdiTypes.h"

#include <QString>

class CDC;
struct DisplaySettings;

// What the layout hands an element: its transform bins and label.
struct BandDesc
{
    int nFirstBin = 0;
    int nBinCount = 0;
    QString strLabel;
};

// The pens the window builds for each draw call: 12 entries, some empty.
constexpr int kPenTableSize = 12;
using PenTable = CPen[kPenTableSize];

// One frequency band on screen: the base of the chip column and the keyboard
// key. It knows its rectangle, its transform bins, the latest spectrum and
// its label, and carries two mappers: band-local to graph area (m_mapLocal)
// and graph area to window pixels (m_mapArea).
class CBandElement
{
public:
    // The element reads settings, which must outlive it.
    explicit CBandElement(DisplaySettings &settings);
    virtual ~CBandElement();
    CBandElement(const CBandElement &) = delete;
    CBandElement &operator=(const CBandElement &) = delete;

    virtual SIZE SetGeometry(POINT position, SIZE size, int nAngle);
    virtual void SetSpectrum(const float *pBins, float fMax);
    virtual void SetBins(BandDesc desc);
    virtual void DrawUpdate(CDC *pDC, const PenTable *pPens);
    virtual void DrawFull(CDC *pDC, const PenTable *pPens);
    virtual int IsIdle() const;
    virtual void ComputeLevel();
    // Paints rows rc.top..rc.bottom inclusive, each from rc.left to rc.right.
    virtual void FillRows(CDC *pDC, RECT rc, const CPen *pPen);
    virtual float BandLevel();
    // Takes pOther's band: its bins and the gain that weighs them (and its
    // label when bWithLabel), so a column of the other channel shows the
    // same band at the same level.
    virtual void CopyBins(const CBandElement *pOther, int bWithLabel);
    virtual int LabelExtent(int nAngle) const;
    virtual void SetMapper(const CCoordMapper *pMapper);
    virtual void DrawLabel(CDC *pDC, int x, int y);
    virtual void DrawFrame(CDC *pDC, RECT rc, const CPen *pPen);

    // Updates the element's state without painting anything.
    void DrawUpdateSuppressed(CDC *pDC, const PenTable *pPens);

    // Where BandLevel's jitter comes from: a whole percentage 0..14 per call.
    // The default is the classic rand() recurrence taken modulo 15, cheap and
    // repeatable; tests install a fixed source. nullptr restores the default.
    using JitterSource = int (*)();
    static void SetJitterSource(JitterSource pfnSource);
    // Restarts the default source's sequence.
    static void SeedJitter(unsigned int nSeed);

    int m_bSuppress = 0;
    const float *m_pBins = nullptr; // valid only inside the window's drawing bracket
    SIZE m_size;
    POINT m_origin;
    int m_nFirstBin = 0;
    int m_nBinCount = 0;
    int m_nTop = 0;
    int m_nPeak = 0;
    DisplaySettings *m_pSettings; // the window's settings; a column may correct Ldiv in them
    QString m_strLabel;
    int m_nLabelAlign = 0;
    int m_nLabelStrip = 0;
    CCoordMapper m_mapLocal;
    CCoordMapper m_mapArea;
    int m_nKind = -1;
    float m_fGain = 1.0f;
    float m_fLevel = 0.0f;
    float m_fSpectrumMax = 0.0f;

protected:
    // The rows of rc (normalised) are taken through pLocal, when given, and
    // then the area mapper; rows and their lines are those of rc's own
    // coordinates, so a turned element keeps every row it is given.
    //
    // The rows as the one device rectangle they tile when both mappers only
    // swap or mirror axes, and the point where the row lines would leave the
    // current position. False when the rows have no pixels (each row line is
    // a single point).
    bool RowsToDeviceRect(const RECT &rc, const CCoordMapper *pLocal, RECT *pFill,
                          POINT *pEnd) const;
    // The rows the long way: one line per row. Any mapper, any raster operation.
    void FillRowsByLines(CDC *pDC, RECT rc, const CCoordMapper *pLocal, const CPen *pPen);
    // A point through pLocal (when given) and the area mapper.
    void MapToDevice(const CCoordMapper *pLocal, int &x, int &y) const;
};
