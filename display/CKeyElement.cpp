#include "display/CKeyElement.h"

#include "graphics/CDC.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

namespace {

// Full scale of a 16-bit sample, in double precision (the chip columns use
// the single-precision constant; the keys do not).
constexpr double kFullScale = 1.0 / 32767.0;

// Pens per key colour: intensities 0..5.
constexpr int kPensPerColour = CKeyElement::kMaxIntensity + 1;

// Decibels against full scale.
double Decibels(double v)
{
    return 20.0 * std::log10(v * kFullScale);
}

// (red, green, blue): white keys white towards red, black keys black towards red.
constexpr COLORREF kKeyColours[kPenTableSize] = {
    RGB(255, 255, 255), RGB(255, 224, 224), RGB(255, 193, 193), RGB(255, 162, 162),
    RGB(255, 131, 131), RGB(255, 100, 100), RGB(0, 0, 0),       RGB(51, 20, 20),
    RGB(102, 40, 40),   RGB(153, 60, 60),   RGB(204, 80, 80),   RGB(255, 100, 100),
};

} // namespace

void BuildKeyPens(PenTable &pens)
{
    for (int i = 0; i < kPenTableSize; ++i)
        pens[i] = CPen(kKeyColours[i]);
}

CKeyElement::CKeyElement(DisplaySettings &settings) : CBandElement(settings)
{
    m_nKind = kKind;
}

CKeyElement::~CKeyElement() = default;

SIZE CKeyElement::SetGeometry(POINT position, SIZE size, int /*nAngle*/)
{
    m_mapLocal.SetOrigin(position.x, position.y);
    m_mapLocal.SetAngle0();
    m_mapLocal.Compose(size.cx < 0 ? -1 : 1, 0, 0, size.cy < 0 ? -1 : 1);
    m_origin = position;
    m_size = {std::abs(size.cx), std::abs(size.cy)};
    m_nLabelAlign = 0;
    m_nLabelStrip = 0;
    return size;
}

float CKeyElement::BandLevel()
{
    if (!m_pBins || double(m_fSpectrumMax) < 0.001)
        return 0.0f;
    // The base level is linear in the band maximum (jitter and gain are
    // factors), so halving it is exactly halving the maximum first.
    float fLevel = CBandElement::BandLevel();
    if (m_nBinCount > 2) {
        const float *p = m_pBins + m_nFirstBin;
        float q = p[0];
        for (int i = 1; i < m_nBinCount; ++i) {
            if (p[i] > q)
                q = p[i];
        }
        if (q == p[0] || q == p[m_nBinCount - 1])
            fLevel *= 0.5f;
    }
    return fLevel;
}

void CKeyElement::ComputeLevel()
{
    m_fLevel = BandLevel();
    if (!(m_fLevel > 0.0f) || Decibels(m_fLevel) < m_pSettings->KeyOn)
        m_fLevel = 0.0f;
}

int CKeyElement::Intensity() const
{
    const double fMax = m_fSpectrumMax;
    const double fLevel = m_fLevel;
    if (fMax < 0.001 || fLevel < 0.001)
        return 0;
    const double on = m_pSettings->KeyOn;
    const double dBMax = Decibels(fMax);
    if (dBMax < on)
        return 0;
    const double n = (Decibels(fLevel) - on) * 6.0 / std::max(dBMax - on, 5.0);
    if (!(n > 0.0))
        return 0;
    return n >= kMaxIntensity ? kMaxIntensity : int(n);
}

const CPen *CKeyElement::KeyPen(int e, const PenTable *pPens, const CPen *pFallback) const
{
    if (!pPens)
        return pFallback;
    const int nBase = m_bBlack ? kPensPerColour : 0;
    const CPen *pPen = &(*pPens)[nBase + e];
    return pPen->IsNull() ? &(*pPens)[nBase] : pPen;
}

void CKeyElement::DrawUpdate(CDC *pDC, const PenTable *pPens)
{
    const int j = Intensity() - 1;
    const int o = m_nTop;
    // A key lights at once and fades by half the way per frame.
    const int jFaded = j < o ? j + (o - j) / 2 : j;
    if (jFaded == o)
        return;
    const int e = std::clamp(jFaded + 1, 0, int(kMaxIntensity));
    const CPen outline(kKeyOutlineColor);
    const int x = m_origin.x, y = m_origin.y, w = m_size.cx, L = m_size.cy;
    FillRows(pDC, {x + 2, y, x + w - 1, y + L}, KeyPen(e, pPens, &outline));
    m_nTop = m_nPeak = e - 1;
}

void CKeyElement::DrawFull(CDC *pDC, const PenTable *pPens)
{
    const CPen outline(kKeyOutlineColor);
    const int x = m_origin.x, y = m_origin.y, w = m_size.cx, L = m_size.cy;
    DrawFrame(pDC, {x, y, x + w, y + L}, &outline);
    // A key's label is always empty, so there is no label to draw.
    int e = std::clamp(m_nTop + 1, 0, int(kMaxIntensity));
    const CPen *pPen = &outline;
    if (pPens) {
        const int nBase = m_bBlack ? kPensPerColour : 0;
        if ((*pPens)[nBase + e].IsNull())
            e = 0;
        pPen = &(*pPens)[nBase + e];
    }
    FillRows(pDC, {x + 2, y, x + w - 1, y + L}, pPen);
    m_nTop = m_nPeak = e - 1;
}

// Row by row this is the line fill of the base: the rows under the notch
// height from left to right, the rows from it upwards between the notches.
// Each block of equal rows goes to the base as one rectangle, which fills it
// in one call when the mappers allow.
void CKeyElement::FillRows(CDC *pDC, RECT rc, const CPen *pPen)
{
    if (m_bSuppress)
        return;
    rc.Normalize();
    const int h = m_nNotchHeight;
    if (h <= 0) {
        m_mapLocal.MapRect(rc);
        CBandElement::FillRows(pDC, rc, pPen);
        return;
    }
    RECT lower{rc.left, rc.top, rc.right, std::min(rc.bottom, h - 1)};
    if (lower.top <= lower.bottom) {
        m_mapLocal.MapRect(lower);
        CBandElement::FillRows(pDC, lower, pPen);
    }
    // Between the notches a row narrower than nothing draws nothing.
    RECT upper{rc.left + m_nLeftNotch, std::max(rc.top, h), rc.right - m_nRightNotch, rc.bottom};
    if (upper.top <= upper.bottom && upper.left <= upper.right) {
        m_mapLocal.MapRect(upper);
        CBandElement::FillRows(pDC, upper, pPen);
    }
}

void CKeyElement::DrawFrame(CDC *pDC, RECT rc, const CPen *pPen)
{
    if (m_bSuppress)
        return;
    const int h = m_nNotchHeight;
    if (h <= 0) {
        m_mapLocal.MapRect(rc);
        CBandElement::DrawFrame(pDC, rc, pPen);
        return;
    }
    rc.Normalize();
    const int x1 = rc.left, y1 = rc.top, x2 = rc.right, y2 = rc.bottom;
    const int xl = x1 + m_nLeftNotch, xr = x2 - m_nRightNotch;
    POINT outline[] = {{x1, y1}, {x1, h}, {xl, h},  {xl, y2}, {xr, y2},
                       {xr, h},  {x2, h}, {x2, y1}, {x1, y1}};
    for (POINT &pt : outline) {
        m_mapLocal.MapPoint(pt);
        m_mapArea.MapPoint(pt);
    }
    const CPen *pOld = pDC->SelectPen(pPen);
    pDC->MoveTo(outline[0]);
    for (size_t i = 1; i < std::size(outline); ++i)
        pDC->LineTo(outline[i]);
    pDC->SelectPen(pOld);
}

void CKeyElement::LinkNeighbours(CKeyElement *pPrev, CKeyElement *pNext)
{
    m_nLeftNotch = m_nRightNotch = m_nNotchHeight = 0;
    if (pPrev) {
        m_nLeftNotch = pPrev->m_origin.x + pPrev->m_size.cx - m_origin.x;
        pPrev->m_nLeftNotch = pPrev->m_nRightNotch = pPrev->m_nNotchHeight = 0;
        m_nNotchHeight = pPrev->m_origin.y - 2;
    }
    if (pNext) {
        m_nRightNotch = m_origin.x + m_size.cx - pNext->m_origin.x;
        pNext->m_nLeftNotch = pNext->m_nRightNotch = pNext->m_nNotchHeight = 0;
        m_nNotchHeight = pNext->m_origin.y - 2;
    }
}
