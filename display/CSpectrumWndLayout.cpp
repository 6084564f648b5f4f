// Layout of the display: frame width, graph rectangle, the clock and
// waveform strips, the element groups of each display type, and the
// assignment of transform bins and labels to the bands.
#include "display/CSpectrumWnd.h"

#include "display/CChipColumn.h"
#include "settings/SettingValues.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kLabelFrequencies[] = {20,   30,   50,   100,  200,   300,  500,
                                     1000, 2000, 3000, 5000, 10000, 20000};

// An edge of the graph inside a background picture: nEdge + nSign x
// nearest(v), where nearest(v) is v + 0.5 truncated towards zero, kept
// between the area edges nA and nB. Margins within the picture give edges
// within the area, which this leaves as they are; a negative margin, which
// only a damaged store holds, would otherwise put the graph outside the
// window, and the layout would fill all that with chips.
int GraphEdge(int nEdge, int nSign, double v, int nA, int nB)
{
    const double edge = nEdge + nSign * std::trunc(v + 0.5);
    return int(std::clamp(edge, double(std::min(nA, nB)), double(std::max(nA, nB))));
}

int LabelExtentFor(const DisplaySettings &s, int nAngle)
{
    if (s.FreqStrSw == 0)
        return 0;
    const int h = FontHeightMagnitude(s.Font.lfHeight);
    return (nAngle == 0 || nAngle == 180 ? h : 2 * h) + 2;
}

} // namespace

int CSpectrumWnd::EffectiveFdiv() const
{
    // A band count below 1 would divide by zero, one above the slots the
    // type has would overflow the layout's products.
    return UsableFdiv(m_settings.Type, m_settings.Fdiv);
}

int CSpectrumWnd::FrameWidth() const
{
    RECT rc = m_rcArea;
    rc.Normalize();
    const int n = std::min(rc.Height(), rc.Width()) / 48;
    return n >= 4 ? 3 : n;
}

RECT CSpectrumWnd::GraphRect() const
{
    const RECT &a = m_rcArea;
    const int iw = m_hBackground ? DibWidth(*m_hBackground) : 0;
    const int ih = m_hBackground ? std::abs(DibHeight(*m_hBackground)) : 0;
    // Margins kept for another picture may not fit this one: together as
    // wide (or as high) as the picture or more, they leave no graph or one
    // whose edges have crossed, and the columns would run from right to
    // left. The graph then sits in the area as it does without a picture.
    const auto margin = [](std::int32_t n) { return std::max<long long>(n, 0); };
    const bool bFits = margin(m_settings.AreaLeft) + margin(m_settings.AreaRight) < iw &&
                       margin(m_settings.AreaTop) + margin(m_settings.AreaBottom) < ih;
    if (iw > 0 && ih > 0 && bFits) {
        const double sx = double(a.right - a.left) / iw;
        const double sy = double(a.bottom - a.top) / ih;
        return RECT{GraphEdge(a.left, 1, sx * m_settings.AreaLeft, a.left, a.right),
                    GraphEdge(a.top, 1, sy * m_settings.AreaTop, a.top, a.bottom),
                    GraphEdge(a.right, -1, sx * m_settings.AreaRight, a.left, a.right),
                    GraphEdge(a.bottom, -1, sy * m_settings.AreaBottom, a.top, a.bottom)};
    }
    const int nInset = 3 * FrameWidth();
    return RECT{a.left + nInset, a.top + nInset, a.right - nInset, a.bottom - nInset};
}

void CSpectrumWnd::MapRectToDevice(RECT &rc) const
{
    m_mapper.MapRect(rc);
}

void CSpectrumWnd::BuildLayout(int nRate, int nSize)
{
    DisplaySettings &s = m_settings;
    const int nType = s.Type;
    const int nFdiv = EffectiveFdiv();

    RECT G = GraphRect();
    m_mapper.Reset();
    m_mapper.SetupForRect(G); // G is now (0, H, W, 0): y grows upwards

    const int a = m_bPreview ? 7 : FontHeightMagnitude(s.Font.lfHeight);
    if (s.FclockDisp) {
        m_rcClock = RECT{G.left, G.top, G.right, G.top - a - 4};
        G.top -= a + 6;
    } else {
        m_rcClock = RECT{G.left, G.top, G.right, G.top};
    }
    if (s.FwaveDisp) {
        int d = G.top - G.bottom;
        d /= nType == TYPE_STEREO_LEFTRIGHT ? 5 : nType == TYPE_STEREO_TOPBOTTOM ? 4 : 3;
        m_rcWave = RECT{G.left, G.top, G.right, G.top - d};
        G.top -= d + 2;
    } else {
        m_rcWave = RECT{G.left, G.top, G.right, G.top};
    }

    const int W = G.right - G.left;
    const int H = G.top - G.bottom;
    if (nType == TYPE_KEYBOARD) {
        BuildKeyboard(G, nRate, nSize);
        return;
    }
    POINT origin;
    SIZE size;
    POINT step;
    int nAngle = 0;
    POINT origin2;
    SIZE size2;
    POINT step2;
    int nAngle2 = 0;
    const bool bSecondGroup = IsStereoType(nType);

    // Slot 0 is always a new element.
    m_pElements[0] = NewChipColumn();
    CBandElement *pFirst = m_pElements[0].get();

    switch (nType) {
    case TYPE_STEREO: {
        const int k = nFdiv + 1;
        const int cw = (W - 4) / (2 * k);
        G.left += (W - 2 * k * cw) / 2;
        G.right = G.left + 2 * k * cw;
        origin = {G.left, G.bottom};
        size = {cw, H};
        SIZE used = pFirst->SetGeometry(origin, size, 0);
        origin.y += H - used.cy;
        used = pFirst->SetGeometry(origin, size, 0);
        step = {cw, 0};
        origin2 = {origin.x + (nFdiv + 2) * cw, origin.y};
        size2 = {cw, used.cy};
        step2 = {cw, 0};
        break;
    }
    case TYPE_STEREO_LEFTRIGHT: {
        const int half = W / 2;
        const int r = H / nFdiv;
        G.bottom += (H - r * nFdiv) / 2;
        G.top = G.bottom + nFdiv * r;
        const int b = LabelExtentFor(s, 90);
        origin = {G.left + b / 2 + half, G.bottom};
        size = {r, half + b / 2 - 2};
        nAngle = 90;
        const SIZE used = pFirst->SetGeometry(origin, size, nAngle);
        step = {0, used.cx};
        origin2 = {origin.x - b, origin.y};
        size2 = {-used.cx, used.cy};
        step2 = {0, used.cx};
        nAngle2 = 270;
        break;
    }
    case TYPE_STEREO_TOPBOTTOM: {
        const int cw = W / nFdiv;
        const int halfH = H / 2;
        G.left += (W - cw * nFdiv) / 2;
        G.right = G.left + nFdiv * cw;
        const int b = LabelExtentFor(s, 0);
        origin = {G.left, G.top - b / 2 - halfH};
        size = {cw, halfH + b / 2 - 2};
        pFirst->SetGeometry(origin, size, 0);
        const SIZE used = pFirst->SetGeometry(origin, size, 0);
        step = {used.cx, 0};
        origin2 = {origin.x, origin.y + b};
        size2 = {used.cx, -used.cy};
        step2 = {used.cx, 0};
        break;
    }
    default: {
        // Mono; an unknown display type from a damaged store is drawn as mono.
        const int cw = W / nFdiv;
        G.left += (W - cw * nFdiv) / 2;
        G.right = G.left + nFdiv * cw;
        origin = {G.left, G.bottom};
        size = {cw, H};
        const SIZE used = pFirst->SetGeometry(origin, size, 0);
        origin.y += H - used.cy;
        pFirst->SetGeometry(origin, size, 0);
        step = {cw, 0};
        break;
    }
    }
    pFirst->SetMapper(&m_mapper);
    m_rcClock.left = m_rcWave.left = G.left;
    m_rcClock.right = m_rcWave.right = G.right;

    // The rest of the first group; elements of the right kind are kept.
    const int n = nFdiv;
    origin.x += step.x;
    origin.y += step.y;
    for (int i = 1; i < n && i < kMaxElements; ++i) {
        if (!m_pElements[i] || m_pElements[i]->m_nKind != CChipColumn::kKind)
            m_pElements[i] = NewChipColumn();
        m_pElements[i]->SetGeometry(origin, size, nAngle);
        m_pElements[i]->SetMapper(&m_mapper);
        origin.x += step.x;
        origin.y += step.y;
    }
    MapBands(nRate, nSize, n);

    int nUsed = std::min(n, int(kMaxElements));
    if (bSecondGroup) {
        for (int j = n; j < 2 * n && j < kMaxElements; ++j) {
            if (!m_pElements[j] || m_pElements[j]->m_nKind != CChipColumn::kKind)
                m_pElements[j] = NewChipColumn();
            m_pElements[j]->SetGeometry(origin2, size2, nAngle2);
            m_pElements[j]->SetMapper(&m_mapper);
            origin2.x += step2.x;
            origin2.y += step2.y;
            m_pElements[j]->CopyBins(m_pElements[j - n].get(), nType == TYPE_STEREO);
        }
        nUsed = std::min(2 * n, int(kMaxElements));
    }
    for (int i = nUsed; i < kMaxElements; ++i)
        m_pElements[i].reset();
}

void CSpectrumWnd::MapBands(int nRate, int nSize, int nCount)
{
    if (nCount < 1 || nSize < 2)
        return;
    const double f = double(nRate) / nSize;
    const double e0 = std::log10(2.0 * f);
    const double m = (std::log10(nRate / 2.0) - e0) / nCount;
    const int nColumns = m_settings.Type == TYPE_STEREO ? 2 * nCount : nCount;
    const int s = nColumns < 6 ? 1 : nColumns > 40 ? 3 : 2;

    int nCountdown = 0;
    double e = e0;
    for (int k = 0; k < nCount && k < kMaxElements; ++k, e += m) {
        const double lo = std::pow(10.0, e);
        const double hi = std::pow(10.0, e + m);
        const int nFirst = std::max(1, int(lo / f));
        const int nBins = std::max(1, int(hi / f) - nFirst);

        BandDesc desc;
        desc.nFirstBin = nFirst;
        desc.nBinCount = nBins;
        if (nCountdown != 0) {
            --nCountdown;
        } else {
            int nBest = 0;
            double dBest = 30000.0;
            for (int nLabel : kLabelFrequencies) {
                const double lg = std::log10(double(nLabel));
                if (e <= lg && lg <= e + m) {
                    nCountdown = s;
                    const double d = std::fabs(lg - (e + m / 2));
                    if (d < dBest) {
                        dBest = d;
                        nBest = nLabel;
                    }
                }
            }
            if (nCountdown == s && nBest > 0) {
                desc.strLabel = nBest < 1000 ? QString::number(nBest)
                                             : QString::number(nBest / 1000) + QLatin1Char('k');
            }
        }
        if (CBandElement *pElement = m_pElements[k].get()) {
            pElement->SetBins(desc);
            // From 1 at 0 Hz to 1.4 at half the rate, by the band's middle bin
            // (both halvings are whole-number ones).
            const int nMiddleBin = nFirst + nBins / 2;
            const int nHalfSize = nSize / 2;
            pElement->m_fGain = float(nMiddleBin * 0.4 / nHalfSize + 1.0);
        }
    }
}
