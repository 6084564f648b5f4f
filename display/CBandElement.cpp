#include "display/CBandElement.h"

#include "graphics/CDC.h"
#include "settings/Settings.h"

#include <cstdlib>
#include <utility>

namespace {

// The classic rand() recurrence: 15 useful bits per call, no locking, and the
// same sequence on every platform.
unsigned int s_nJitterState = 1;

int DefaultJitter()
{
    s_nJitterState = s_nJitterState * 214013u + 2531011u;
    return int((s_nJitterState >> 16) & 0x7FFFu) % 15;
}

CBandElement::JitterSource s_pfnJitter = nullptr;

} // namespace

void CBandElement::SetJitterSource(JitterSource pfnSource)
{
    s_pfnJitter = pfnSource;
}

void CBandElement::SeedJitter(unsigned int nSeed)
{
    s_nJitterState = nSeed;
}

CBandElement::CBandElement(DisplaySettings &settings) : m_pSettings(&settings) {}

CBandElement::~CBandElement() = default;

SIZE CBandElement::SetGeometry(POINT position, SIZE size, int /*nAngle*/)
{
    m_origin = position;
    m_size = size;
    return size;
}

void CBandElement::SetSpectrum(const float *pBins, float fMax)
{
    m_pBins = pBins;
    m_fSpectrumMax = fMax;
}

void CBandElement::SetBins(BandDesc desc)
{
    m_nFirstBin = desc.nFirstBin;
    m_nBinCount = desc.nBinCount;
    m_strLabel = std::move(desc.strLabel);
}

void CBandElement::DrawUpdate(CDC * /*pDC*/, const PenTable * /*pPens*/) {}

void CBandElement::DrawFull(CDC * /*pDC*/, const PenTable * /*pPens*/) {}

int CBandElement::IsIdle() const
{
    return m_nTop < 0 ? 1 : 0;
}

void CBandElement::ComputeLevel() {}

// The rows are lines through the area mapper, each leaving out its end pixel
// as the device does. When the mapper only swaps or mirrors axes, those lines
// tile a rectangle of the device exactly, and one rectangle fill puts down
// the same pixels in one call instead of one per row (a chip is a handful of
// rows, a column a few hundred chips). The line walk stays for any other
// mapper and for mixing raster operations, which a fill does not honour.
void CBandElement::FillRows(CDC *pDC, RECT rc, const CPen *pPen)
{
    if (!pDC)
        return;
    rc.Normalize();
    if (pDC->GetROP2() != CDC::R2_COPYPEN || !m_mapArea.IsAxisAligned()) {
        FillRowsByLines(pDC, rc, nullptr, pPen);
        return;
    }
    RECT fill;
    POINT end;
    const bool bAny = RowsToDeviceRect(rc, nullptr, &fill, &end);
    // The line walk would leave the current position at the last row's end.
    pDC->MoveTo(end);
    if (bAny && pPen && !pPen->IsNull())
        pDC->FillSolidRect(fill, pPen->color);
}

void CBandElement::MapToDevice(const CCoordMapper *pLocal, int &x, int &y) const
{
    if (pLocal)
        pLocal->MapXY(x, y);
    m_mapArea.MapXY(x, y);
}

bool CBandElement::RowsToDeviceRect(const RECT &rc, const CCoordMapper *pLocal, RECT *pFill,
                                    POINT *pEnd) const
{
    // First row's line a -> b, last row's start c. The mapping is exact in
    // whole pixels here, so the last row's end is c + (b - a).
    int ax = rc.left, ay = rc.top;
    int bx = rc.right, by = rc.top;
    int cx = rc.left, cy = rc.bottom;
    MapToDevice(pLocal, ax, ay);
    MapToDevice(pLocal, bx, by);
    MapToDevice(pLocal, cx, cy);
    *pEnd = {cx + bx - ax, cy + by - ay};
    if (ax == bx && ay == by)
        return false;

    RECT &fill = *pFill;
    if (ay == by) {
        // Lines run along device x; from a up to, not including, b.
        fill.left = ax < bx ? ax : bx + 1;
        fill.right = ax < bx ? bx : ax + 1;
        fill.top = ay < cy ? ay : cy;
        fill.bottom = (ay < cy ? cy : ay) + 1;
    } else {
        fill.top = ay < by ? ay : by + 1;
        fill.bottom = ay < by ? by : ay + 1;
        fill.left = ax < cx ? ax : cx;
        fill.right = (ax < cx ? cx : ax) + 1;
    }
    return true;
}

void CBandElement::FillRowsByLines(CDC *pDC, RECT rc, const CCoordMapper *pLocal, const CPen *pPen)
{
    const CPen *pOld = pDC->SelectPen(pPen);
    for (int y = rc.top; y <= rc.bottom; ++y) {
        int x1 = rc.left, y1 = y;
        int x2 = rc.right, y2 = y;
        MapToDevice(pLocal, x1, y1);
        MapToDevice(pLocal, x2, y2);
        pDC->MoveTo(x1, y1);
        pDC->LineTo(x2, y2);
    }
    pDC->SelectPen(pOld);
}

float CBandElement::BandLevel()
{
    if (!m_pBins)
        return 0.0f;
    float b = 0.0f;
    const float *p = m_pBins + m_nFirstBin;
    for (int i = 0; i < m_nBinCount; ++i) {
        if (p[i] > b)
            b = p[i];
    }
    const int r = s_pfnJitter ? s_pfnJitter() : DefaultJitter();
    return float((r * b * 0.01 + b) * m_fGain);
}

void CBandElement::CopyBins(const CBandElement *pOther, int bWithLabel)
{
    m_nFirstBin = pOther->m_nFirstBin;
    m_nBinCount = pOther->m_nBinCount;
    m_fGain = pOther->m_fGain;
    if (bWithLabel)
        m_strLabel = pOther->m_strLabel;
}

int CBandElement::LabelExtent(int nAngle) const
{
    if (m_pSettings->FreqStrSw == 0)
        return 0;
    int h = FontHeightMagnitude(m_pSettings->Font.lfHeight);
    if (nAngle != 0 && nAngle != 180)
        h *= 2;
    return h + 2;
}

void CBandElement::SetMapper(const CCoordMapper *pMapper)
{
    m_mapArea = *pMapper;
}

void CBandElement::DrawLabel(CDC *pDC, int x, int y)
{
    m_mapArea.MapXY(x, y);
    pDC->TextOut(x, y, m_strLabel);
}

void CBandElement::DrawFrame(CDC *pDC, RECT rc, const CPen *pPen)
{
    m_mapArea.MapRect(rc);
    const CPen *pOld = pDC->SelectPen(pPen);
    pDC->MoveTo(rc.left, rc.top);
    pDC->LineTo(rc.left, rc.bottom);
    pDC->LineTo(rc.right, rc.bottom);
    pDC->LineTo(rc.right, rc.top);
    pDC->LineTo(rc.left, rc.top);
    pDC->SelectPen(pOld);
}

void CBandElement::DrawUpdateSuppressed(CDC *pDC, const PenTable *pPens)
{
    m_bSuppress = 1;
    DrawUpdate(pDC, pPens);
    m_bSuppress = 0;
}
