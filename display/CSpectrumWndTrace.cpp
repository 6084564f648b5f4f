// The waveform trace with its afterimage, from the frames that end the
// engine's analysis window.
#include "display/CSpectrumWnd.h"

#include "settings/SettingValues.h"

#include <algorithm>
#include <cmath>

namespace {

// Frame index arithmetic in the ring: indices below 0 wrap by adding len.
int64_t WrapBelow(int64_t i, int64_t len)
{
    while (i < 0 && len > 0)
        i += len;
    return i;
}

} // namespace

int CSpectrumWnd::CaptureTrace(int nSlot)
{
    if (!CanCaptureTrace())
        return 0;
    if (nSlot < 0 || nSlot >= kTraceSlots)
        nSlot = 0;

    // 10 - Lmax in doubles: a damaged Lmax near INT_MIN would overflow an int.
    double g = std::pow(10.0, 0.05 * std::max(10.0 - m_settings.Lmax, 0.0)) * 0.03125;
    if (g > 16)
        g = 32;
    if (g < 1)
        g = 1;

    RECT rc = m_rcWave;
    rc.Normalize();
    const int H = rc.Height();
    const int nCount = std::min(rc.Width(), int(kTracePoints));
    // The trace ends where the engine's analysis window ends.
    const int64_t dwEnd = m_pEngine->SyncPos();

    // Without the waveform strip nobody draws the points; the strip starts
    // from a reset ring whenever it is switched on.
    const CWave &wave = m_pEngine->Wave();
    const int64_t len = wave.m_dwFrames;
    for (int i = 0; m_settings.FwaveDisp && i < nCount; ++i) {
        const int64_t frame = WrapBelow(dwEnd - nCount + i, len);
        int16_t l = 0, r = 0;
        const int s = wave.GetStereoSample(uint32_t(frame), &l, &r, 0);
        const double a = std::clamp(std::trunc(g * s), -32768.0, 32767.0);
        m_trace[nSlot][i] = int16_t(rc.top + (((H - 4) * int(a)) / 2) / 32768 + H / 2);
    }
    return nCount;
}

COLORREF CSpectrumWnd::AfterimageColor(COLORREF bg, COLORREF wl, int nZan)
{
    const int rb = std::min(GetRValue(bg), 255), rw = std::min(GetRValue(wl), 255);
    if (nZan == AFTERIMAGE_FAINT) {
        return RGB((rw + 2 * rb) / 3,
                   std::min(255, int((((bg >> 6) & 0x3FF) + ((wl >> 7) & 0x1FF)) / 6)),
                   std::min(255, int((((bg >> 14) & 0x3FF) + ((wl >> 15) & 0x1FF)) / 6)));
    }
    return RGB((rw + rb) / 2, std::min(255, int((((wl >> 7) & 0x1FF) + ((bg >> 7) & 0x1FF)) / 4)),
               std::min(255, int((((wl >> 15) & 0x1FF) + ((bg >> 15) & 0x1FF)) / 4)));
}

void CSpectrumWnd::DrawTrace(CDC *pDC, int nSlot, COLORREF color)
{
    const int nLength = std::min(m_nTraceLength, int(kTracePoints));
    if (nLength < 3)
        return;
    const CPen pen(color);
    const CPen *pOld = pDC->SelectPen(&pen);
    RECT rc = m_rcWave;
    rc.Normalize();
    const int16_t *y = m_trace[nSlot];
    POINT pt{rc.left + 1, y[1]};
    m_mapper.MapPoint(pt);
    pDC->MoveTo(pt);
    pt = {rc.left + 1, y[2]};
    m_mapper.MapPoint(pt);
    pDC->LineTo(pt);
    for (int i = 3; i < nLength; ++i) {
        pt = {rc.left + i - 1, y[i]};
        m_mapper.MapPoint(pt);
        pDC->LineTo(pt);
    }
    pDC->SelectPen(pOld);
}

void CSpectrumWnd::UpdateTraces(CDC *pDC)
{
    int k = m_nTraceIndex;
    if (k < 0 || k >= kTraceSlots)
        k = 0;
    const int nNext = (k + 1) % kTraceSlots;
    const int nPrevious = (k + kTraceSlots - 1) % kTraceSlots;
    const COLORREF bg = COLORREF(m_settings.Cbackground);
    if (m_settings.FwaveZan <= AFTERIMAGE_NONE) {
        DrawTrace(pDC, nPrevious, bg);
    } else {
        DrawTrace(pDC, nNext, bg);
        DrawTrace(pDC, nPrevious,
                  AfterimageColor(bg, COLORREF(m_settings.Cwline), m_settings.FwaveZan));
    }
    DrawTrace(pDC, k, COLORREF(m_settings.Cwline));
    m_nTraceIndex = nNext;
}

void CSpectrumWnd::RepaintTraces(CDC *pDC)
{
    int k = m_nTraceIndex;
    if (k < 0 || k >= kTraceSlots)
        k = 0;
    const COLORREF bg = COLORREF(m_settings.Cbackground);
    DrawTrace(pDC, k, bg);
    if (m_settings.FwaveZan <= AFTERIMAGE_NONE) {
        DrawTrace(pDC, (k + kTraceSlots - 1) % kTraceSlots, COLORREF(m_settings.Cwline));
        return;
    }
    const COLORREF after = AfterimageColor(bg, COLORREF(m_settings.Cwline), m_settings.FwaveZan);
    for (int i = 0; i < kTraceSlots; ++i) {
        if (i != k)
            DrawTrace(pDC, i, after);
    }
}

void CSpectrumWnd::ResetTraces(CDC *pDC)
{
    const int16_t yMid = int16_t((m_rcWave.top + m_rcWave.bottom) / 2);
    for (auto &slot : m_trace)
        std::fill(std::begin(slot), std::end(slot), yMid);
    if (m_nState == DS_SPECTRUM && m_bTraceValid) {
        DrawTrace(pDC, 0, COLORREF(m_settings.Cchip1));
        m_nTraceIndex = 1;
    }
}
