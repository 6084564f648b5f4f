#include "display/CChipColumn.h"

#include "graphics/CDC.h"
#include "settings/SettingValues.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

struct ChipMetrics
{
    int nThickness; // rows per chip
    int nGap;       // blank rows between chips
    int nMargin;    // blank rows at each end of the stack: min(gap, 3)
};

// By Ldiv.
constexpr ChipMetrics kMetrics[4] = {{1, 1, 1}, {2, 2, 2}, {3, 2, 2}, {4, 2, 2}};

constexpr int kPenCount = kPenTableSize;
constexpr int kHoldFrames = 10;
// Far above any real stack; keeps the chip arithmetic clear of overflow.
constexpr double kMaxChips = 1 << 20;

} // namespace

void BuildPens(const DisplaySettings &settings, PenTable &pens)
{
    const COLORREF c1 = COLORREF(settings.Cchip1);
    const COLORREF c2 = COLORREF(settings.Cchip2);
    if (settings.CGrad == 0) {
        pens[0] = CPen(c1);
        for (int i = 1; i < kPenCount; ++i)
            pens[i] = CPen();
        return;
    }
    constexpr int last = kPenCount - 1;
    for (int i = 0; i < last; ++i) {
        const auto step = [i](int a, int b) { return a + (i * (b - a)) / last; };
        pens[i] = CPen(RGB(step(GetRValue(c1), GetRValue(c2)), step(GetGValue(c1), GetGValue(c2)),
                           step(GetBValue(c1), GetBValue(c2))));
    }
    pens[last] = CPen(c2);
}

CChipColumn::CChipColumn(DisplaySettings &settings, const uint32_t &nFrameNumber)
    : CBandElement(settings), m_nFrameNumber(nFrameNumber)
{
    m_nKind = kKind;
}

CChipColumn::~CChipColumn() = default;

int CChipColumn::ChipsForLevel(float fLevel, int nLmin, int nLmax, int nChips)
{
    // Full scale of a 16-bit sample, as the single-precision constant.
    constexpr float k = 1.0f / 32767.0f;
    const double dB = fLevel == 0.0f ? -100.0 : 20.0 * std::log10(double(fLevel * k));
    // In doubles from the start: a damaged store may hold levels whose
    // difference leaves the int range.
    const double n = (dB - nLmin) / ((double(nLmax) - nLmin) / nChips);
    // NaN and negative counts light nothing.
    if (!(n > 0.0))
        return 0;
    return n >= kMaxChips ? int(kMaxChips) : int(n);
}

SIZE CChipColumn::SetGeometry(POINT position, SIZE size, int nAngle)
{
    DisplaySettings &s = *m_pSettings;
    if (s.Ldiv < LDIV_FINE || s.Ldiv > LDIV_COARSEST)
        s.Ldiv = LDIV_COARSE;

    int nAlign;
    int bRotated;
    switch (nAngle) {
    case 0:
        nAlign = CDC::TA_CENTER | (size.cy < 0 ? CDC::TA_BOTTOM : CDC::TA_TOP);
        bRotated = 0;
        break;
    case 90:
    case 270:
        nAlign = CDC::TA_CENTER | CDC::TA_BOTTOM;
        bRotated = 1;
        break;
    case 180:
        nAlign = CDC::TA_CENTER | (size.cy < 0 ? CDC::TA_TOP : CDC::TA_BOTTOM);
        bRotated = 0;
        break;
    default:
        return size;
    }

    m_mapLocal.SetOrigin(position.x, position.y);
    switch (nAngle) {
    case 0:
        m_mapLocal.SetAngle0();
        break;
    case 90:
        m_mapLocal.SetAngle90();
        break;
    case 180:
        m_mapLocal.SetAngle180();
        break;
    default:
        m_mapLocal.SetAngle270();
        break;
    }
    const int nSignW = size.cx < 0 ? -1 : 1;
    const int nSignL = size.cy < 0 ? -1 : 1;
    m_mapLocal.Compose(nSignW, 0, 0, nSignL);
    m_nLabelAlign = nAlign;
    m_bRotatedLabel = bRotated;
    m_origin = position;

    const int b = LabelExtent(nAngle);
    const int w = std::abs(size.cx);
    int L = std::abs(size.cy);
    const ChipMetrics &metrics = kMetrics[s.Ldiv];
    m_nThickness = metrics.nThickness;
    m_nGap = metrics.nGap;
    m_nMargin = metrics.nMargin;
    m_nPitch = m_nThickness + m_nGap;

    m_nChips = (L - 2 * m_nMargin - m_nThickness - b) / m_nPitch + 1;
    if (m_nChips >= 1) {
        L = m_nPitch * m_nChips + 2 * m_nMargin + b - m_nGap;
        m_nLabelStrip = b;
        m_size = {w, L};
        m_pChipStates = std::make_unique<uint8_t[]>(size_t(m_nChips)); // zeroed: all unlit
        m_nStatesLit = 0;
        m_nStatesPeak = -1;
    }
    return {nSignW * w, nSignL * L};
}

void CChipColumn::ComputeLevel()
{
    m_fLevel = BandLevel();
}

RECT CChipColumn::ChipRect(int i) const
{
    const int x = m_origin.x;
    const int w = m_size.cx;
    int x1 = x + 1;
    int x2 = x + w - 1;
    if (m_pSettings->SpectFrameDraw != 0) {
        if (w >= 6) {
            x1 = x + 2;
            x2 = x + w - 2;
        }
    } else if (x + 1 >= x + w - 1) {
        x1 = x;
    }
    const int y1 = m_origin.y + m_nLabelStrip + m_nMargin + i * m_nPitch;
    return {x1, y1, x2, y1 + m_nThickness - 1};
}

const CPen *CChipColumn::LitPen(int i, const PenTable *pPens, const CPen *pFallback) const
{
    if (!pPens)
        return pFallback;
    const int g = std::min(12 * (i + 1) / m_nChips, kPenCount - 1);
    const CPen *pPen = &(*pPens)[g];
    return pPen->IsNull() ? &(*pPens)[0] : pPen;
}

CChipColumn::ChipPlacement CChipColumn::PlaceChips(const CDC *pDC) const
{
    ChipPlacement place;
    if (m_bSuppress || !pDC || pDC->GetROP2() != CDC::R2_COPYPEN || !m_mapLocal.IsAxisAligned() ||
        !m_mapArea.IsAxisAligned())
        return place;
    // Chips 0 and 1 as FillRows would take them; whole-pixel maps move every
    // corner by the same vector from one chip to the next.
    RECT rc0 = ChipRect(0), rc1 = ChipRect(1);
    rc0.Normalize();
    rc1.Normalize();
    RECT rcSecond;
    POINT ptSecondEnd;
    place.bAny = RowsToDeviceRect(rc0, &m_mapLocal, &place.rcFirst, &place.ptFirstEnd);
    RowsToDeviceRect(rc1, &m_mapLocal, &rcSecond, &ptSecondEnd);
    place.dx = ptSecondEnd.x - place.ptFirstEnd.x;
    place.dy = ptSecondEnd.y - place.ptFirstEnd.y;
    place.bDirect = true;
    return place;
}

void CChipColumn::ChipBatch::Add(int i, const CPen *pPen)
{
    if (!m_place.bDirect) {
        m_column.FillRows(m_pDC, m_column.ChipRect(i), pPen);
        return;
    }
    m_nLast = i;
    if (!m_place.bAny || !pPen || pPen->IsNull())
        return;
    m_fills[m_nFills++] = {i, pPen->color};
    if (m_nFills == kSize)
        Flush();
}

void CChipColumn::ChipBatch::Flush()
{
    m_pDC->FillSeries(m_place.rcFirst, {m_place.dx, m_place.dy}, m_fills, m_nFills);
    m_nFills = 0;
}

void CChipColumn::ChipBatch::Finish()
{
    if (!m_place.bDirect || m_nLast < 0)
        return;
    Flush();
    // Where FillRows would have left the current position after the last chip.
    m_pDC->MoveTo(m_place.ptFirstEnd.x + m_nLast * m_place.dx,
                  m_place.ptFirstEnd.y + m_nLast * m_place.dy);
}

int CChipColumn::NextPeak(int nTop)
{
    const DisplaySettings &s = *m_pSettings;
    switch (s.LPeek) {
    case PEAK_SLOWDOWN:
        if (m_nChips >= 60)
            return m_nPeak - 2;
        if (m_nChips >= 30)
            return m_nPeak - 1;
        return m_nFrameNumber % 2 != 0 ? m_nPeak - 1 : m_nPeak;

    case PEAK_UP: { // thrown up by a rising bar, then falling faster and faster
        const int nCap = s.Ldiv <= LDIV_FINE ? 16 : 8;
        if (nTop > m_nPeak) {
            m_nPeakCounter = std::min((nTop - m_nPeak) / 2, nCap);
            return nTop;
        }
        int p = m_nPeak + m_nPeakCounter / 2;
        if (p >= m_nChips) {
            p = m_nChips - 1;
            m_nPeakCounter = std::min(m_nPeakCounter, 3);
        }
        m_nPeakCounter = std::max(m_nPeakCounter - 1, -(nCap / 4));
        return p;
    }

    default: // PEAK_HOLD
        if (nTop > m_nPeak) {
            m_nPeakCounter = kHoldFrames;
            return nTop;
        }
        // Held at 0 rather than counting on below it: the outcome is the same
        // and the counter cannot run away over a long silence.
        if (m_nPeakCounter > 0)
            --m_nPeakCounter;
        return m_nPeakCounter > 0 ? m_nPeak : nTop;
    }
}

void CChipColumn::DrawUpdate(CDC *pDC, const PenTable *pPens)
{
    const DisplaySettings &s = *m_pSettings;
    int h = ChipsForLevel(m_fLevel, s.Lmin, s.Lmax, m_nChips) - 1;
    if (h < m_nTop)
        h += (m_nTop - h) / 2; // the bar rises at once and falls half the way per frame
    const int nLit = std::min(h + 1, m_nChips);
    const int t = nLit - 1;
    const int p = std::max(NextPeak(t), t);

    const CPen unlit(COLORREF(s.Cbackground));
    const CPen peak(COLORREF(s.Cpeekchip));
    const CPen outline(COLORREF(s.Coutline));
    ChipBatch batch(*this, pDC);
    const auto visit = [&](int i) {
        const int nState = i == p ? CHIP_PEAK : (i < nLit ? CHIP_LIT : CHIP_UNLIT);
        if (nState == m_pChipStates[i])
            return;
        m_pChipStates[i] = uint8_t(nState);
        const CPen *pPen = nState == CHIP_PEAK  ? &peak
                           : nState == CHIP_LIT ? LitPen(i, pPens, &outline)
                                                : &unlit;
        batch.Add(i, pPen);
    };
    // Only the chips between the shown and the new bar, and the shown and the
    // new peak, can change; the ones between a bar and a high peak stay
    // unlit. In order from the base, so that neighbours go out together.
    const int nLow = std::max(std::min(nLit, m_nStatesLit), 0);
    const int nHigh = std::min(std::max(nLit, m_nStatesLit), m_nChips);
    const int q1 = std::min(p, m_nStatesPeak), q2 = std::max(p, m_nStatesPeak);
    m_nStatesLit = nLit;
    m_nStatesPeak = p;
    const auto visitPeaks = [&](int nFrom, int nTo) {
        if (q1 >= nFrom && q1 < nTo)
            visit(q1);
        if (q2 != q1 && q2 >= nFrom && q2 < nTo)
            visit(q2);
    };
    visitPeaks(0, nLow);
    for (int i = nLow; i < nHigh; ++i)
        visit(i);
    visitPeaks(std::max(nHigh, 0), m_nChips);
    batch.Finish();
    m_nTop = t;
    m_nPeak = p;
}

void CChipColumn::DrawFull(CDC *pDC, const PenTable *pPens)
{
    const DisplaySettings &s = *m_pSettings;
    const int x = m_origin.x;
    const int y = m_origin.y;
    const int w = m_size.cx;
    const int L = m_size.cy;
    const int b = m_nLabelStrip;

    const CPen unlit(COLORREF(s.Cbackground));
    const CPen peak(COLORREF(s.Cpeekchip));
    const CPen outline(COLORREF(s.Coutline));
    if (s.SpectFrameDraw != 0)
        DrawFrame(pDC, {x, y + b, x + w, y + L}, &outline);
    DrawLabel(pDC, x + w / 2, y + b);

    const int k = std::min(m_nTop + 1, m_nChips);
    ChipBatch batch(*this, pDC);
    for (int i = 0; i < m_nChips; ++i) {
        int nState;
        const CPen *pPen;
        if (i < k - 1) {
            nState = CHIP_LIT;
            pPen = LitPen(i, pPens, &outline);
        } else if (i == k - 1) {
            nState = CHIP_PEAK;
            pPen = &peak;
        } else {
            nState = CHIP_UNLIT;
            pPen = &unlit;
        }
        m_pChipStates[i] = uint8_t(nState);
        batch.Add(i, pPen);
    }
    batch.Finish();
    m_nStatesLit = std::max(k - 1, 0);
    m_nStatesPeak = k - 1;
    m_nTop = m_nPeak = k - 1;
}

// The chip's rows are lines along the column's width, each leaving out its
// end pixel as the device does, whatever way the column is turned: the
// thickness along the level axis is always every row given.
void CChipColumn::FillRows(CDC *pDC, RECT rc, const CPen *pPen)
{
    if (m_bSuppress || !pDC)
        return;
    rc.Normalize();
    if (pDC->GetROP2() != CDC::R2_COPYPEN || !m_mapLocal.IsAxisAligned() ||
        !m_mapArea.IsAxisAligned()) {
        FillRowsByLines(pDC, rc, &m_mapLocal, pPen);
        return;
    }
    RECT fill;
    POINT end;
    const bool bAny = RowsToDeviceRect(rc, &m_mapLocal, &fill, &end);
    pDC->MoveTo(end);
    if (bAny && pPen && !pPen->IsNull())
        pDC->FillSolidRect(fill, pPen->color);
}

void CChipColumn::DrawFrame(CDC *pDC, RECT rc, const CPen *pPen)
{
    if (m_bSuppress)
        return;
    m_mapLocal.MapRect(rc);
    CBandElement::DrawFrame(pDC, rc, pPen);
}

void CChipColumn::DrawLabel(CDC *pDC, int x, int y)
{
    if (m_bSuppress || m_pSettings->FreqStrSw == 0 || m_strLabel.isEmpty() || m_nLabelStrip == 0)
        return;
    const SIZE extent = pDC->GetTextExtent(m_strLabel);
    if (m_bRotatedLabel) {
        x -= extent.cy / 2;
        y -= LabelExtent(90) / 2;
    } else {
        // Centres the text in the strip below the stack.
        y += extent.cy / 2 - LabelExtent(0) / 2;
    }
    m_mapLocal.MapXY(x, y);
    const int nOldAlign = pDC->SetTextAlign(m_nLabelAlign);
    CBandElement::DrawLabel(pDC, x, y);
    pDC->SetTextAlign(nOldAlign);
}
