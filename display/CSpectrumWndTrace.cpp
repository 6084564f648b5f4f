// Where each analysis window lies in the capture ring, and the waveform
// trace with its afterimage.
#include "display/CSpectrumWnd.h"

#include "settings/Settings.h"

#include <algorithm>
#include <cmath>

namespace {

// The 16-bit sample that marker mode writes into every frame of a half it
// hands back to the driver: a frame still holding it was not recorded yet.
constexpr int kMarker = 0x2222;
constexpr int kMarkerRun = 10;

// Frame index arithmetic in the ring: indices below 0 wrap by adding len.
int64_t WrapBelow(int64_t i, int64_t len)
{
    while (i < 0 && len > 0)
        i += len;
    return i;
}

} // namespace

int CSpectrumWnd::FindSyncStart(uint32_t *pStart, uint32_t *pEnd)
{
    const int64_t len = m_wave.m_dwFrames;
    const int64_t N = m_nSize;
    int64_t newest = 0;
    if (len > 0 && m_settings.WaveRecMode != 0) {
        int64_t p = m_dwSyncPos % len;
        int64_t nExamined = 0;
        while (nExamined < len && m_wave.GetSampleInt(uint32_t(p), 1) == kMarker) {
            p = (p + 1) % len;
            ++nExamined;
        }
        int nRun = 0;
        while (nExamined < len) {
            const int v = m_wave.GetSampleInt(uint32_t(p), 1);
            p = (p + 1) % len;
            ++nExamined;
            if (v == kMarker) {
                if (++nRun == kMarkerRun)
                    break;
            } else {
                nRun = 0;
            }
        }
        // Back over the markers to the first of the run; the frame before it
        // is the newest one recorded.
        newest = WrapBelow(p - nRun - 1, len);
    } else if (len > 0) {
        newest = WrapBelow(int64_t(m_wave.GetPosition()) - m_wave.MsToFrames(100), len);
    }

    const int64_t last = WrapBelow(newest - N, len);
    const int64_t d = m_wave.MsToFrames(70);
    int64_t pa = last;
    int va = -32768;
    for (int64_t i = last; i < last + N; ++i) {
        const int v = m_wave.GetSampleInt(uint32_t(i), 1);
        if (v > va) {
            va = v;
            pa = i;
        }
    }
    int64_t pb = WrapBelow(last - d, len);
    int vb = -32768;
    for (int64_t j = last - d; j < last; ++j) {
        const int64_t i = WrapBelow(j, len);
        const int v = m_wave.GetSampleInt(uint32_t(i), 1);
        if (v > vb) {
            vb = v;
            pb = i;
        }
    }
    const int64_t chosen = vb > 2 * va ? pb : pa;
    const int64_t start = chosen > last + N / 4 ? last : WrapBelow(chosen - N / 4, len);
    *pStart = uint32_t(start);
    *pEnd = uint32_t(start + N);
    m_dwSyncPos = *pEnd;
    m_dwAnalysisStart = *pStart;

    RECT rc = m_rcWave;
    rc.Normalize();
    return std::min(rc.Width(), kTracePoints);
}

int CSpectrumWnd::CaptureTrace(int nSlot)
{
    if (!m_bTraceValid || !m_wave.GetData(0) || m_nState == DS_MEMORYERROR ||
        m_nState == DS_DEVICEERROR)
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
    uint32_t dwStart = 0, dwEnd = 0;
    FindSyncStart(&dwStart, &dwEnd);

    // Without the waveform strip nobody draws the points; the strip starts
    // from a reset ring whenever it is switched on.
    const int64_t len = m_wave.m_dwFrames;
    for (int i = 0; m_settings.FwaveDisp && i < nCount; ++i) {
        const int64_t frame = WrapBelow(int64_t(dwEnd) - nCount + i, len);
        int16_t l = 0, r = 0;
        const int s = m_wave.GetStereoSample(uint32_t(frame), &l, &r, 0);
        const double a = std::clamp(std::trunc(g * s), -32768.0, 32767.0);
        m_trace[nSlot][i] =
            int16_t(rc.top + (((H - 4) * int(a)) / 2) / 32768 + H / 2);
    }
    m_wave.Unlock();
    return nCount;
}

COLORREF CSpectrumWnd::AfterimageColor(COLORREF bg, COLORREF wl, int nZan)
{
    const int rb = std::min(GetRValue(bg), 255), rw = std::min(GetRValue(wl), 255);
    if (nZan == 1) {
        return RGB((rw + 2 * rb) / 3,
                   std::min(255, int((((bg >> 6) & 0x3FF) + ((wl >> 7) & 0x1FF)) / 6)),
                   std::min(255, int((((bg >> 14) & 0x3FF) + ((wl >> 15) & 0x1FF)) / 6)));
    }
    return RGB((rw + rb) / 2,
               std::min(255, int((((wl >> 7) & 0x1FF) + ((bg >> 7) & 0x1FF)) / 4)),
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
    if (m_settings.FwaveZan <= 0) {
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
    if (m_settings.FwaveZan <= 0) {
        DrawTrace(pDC, (k + kTraceSlots - 1) % kTraceSlots, COLORREF(m_settings.Cwline));
        return;
    }
    const COLORREF after =
        AfterimageColor(bg, COLORREF(m_settings.Cwline), m_settings.FwaveZan);
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
