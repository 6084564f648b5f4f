// Around and above the level display: the bevelled frame or the background
// picture, the small clock in its strip, and the big clock that stands in
// for the display while it is idle or in an error state.
#include "display/CSpectrumWnd.h"

#include "display/DisplayFont.h"
#include "settings/Settings.h"

#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <cstdio>

namespace {

int Clamp255(int v)
{
    return std::clamp(v, 0, 255);
}

ClockTime SystemTime()
{
    const QTime t = QTime::currentTime();
    return {t.hour(), t.minute(), t.second()};
}

CSpectrumWnd::ClockSource g_pClockSource = SystemTime;

ClockTime Now()
{
    return g_pClockSource();
}

QString SmallClockText(int nHour, int nMinute)
{
    char sz[16];
    std::snprintf(sz, sizeof sz, " %02d:%02d ", nHour, nMinute);
    return QString::fromLatin1(sz);
}

QString BigClockText(int nHour, int nMinute)
{
    char sz[16];
    std::snprintf(sz, sizeof sz, "%02d:%02d", nHour, nMinute);
    return QString::fromLatin1(sz);
}

} // namespace

void CSpectrumWnd::SetClockSource(ClockSource pSource)
{
    g_pClockSource = pSource ? pSource : SystemTime;
}

COLORREF Shade(COLORREF c, int nMul, int nDiv, int nOffset)
{
    return RGB(Clamp255(nOffset + nMul * GetRValue(c) / nDiv),
               Clamp255(nOffset + nMul * GetGValue(c) / nDiv),
               Clamp255(nOffset + nMul * GetBValue(c) / nDiv));
}

COLORREF Blend(COLORREF a, COLORREF b, int nStep, int nSteps)
{
    if (nSteps <= 0)
        return b;
    const int s = std::clamp(nStep, 0, nSteps);
    auto mix = [&](int ca, int cb) { return Clamp255(cb + s * (ca - cb) / nSteps); };
    return RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)),
               mix(GetBValue(a), GetBValue(b)));
}

int CSpectrumWnd::LoadBackgroundImage()
{
    if (m_settings.BmpName.size() < 3 || m_bPreview)
        return 0;
    // Opened for reading only; the picture is read whole, once per restart.
    std::FILE *pFile = OpenDibFile(QFile::encodeName(m_settings.BmpName).constData());
    if (!pFile) {
        FreeBackgroundImage();
        return 0;
    }
    m_hBackground.reset();
    bool bFileError = false;
    m_hBackground = ReadDibFile(pFile, &bFileError);
    std::fclose(pFile);
    if (bFileError) {
        m_hBackground.reset();
        return 0;
    }
    // A file that is no valid picture leaves no handle; the window then draws
    // its own frame.
    m_pPalette = std::make_unique<CPalette>();
    if (!CreateDibPalette(m_hBackground, m_pPalette.get()))
        m_pPalette.reset();
    return 1;
}

void CSpectrumWnd::FreeBackgroundImage()
{
    m_hBackground.reset();
    m_pPalette.reset();
}

void CSpectrumWnd::PaintBackground(CDC *pDC)
{
    const RECT src{0, 0, DibWidth(*m_hBackground), std::abs(DibHeight(*m_hBackground))};
    PaintDib(pDC, m_rcArea, m_hBackground, src, m_pPalette.get());
}

void CSpectrumWnd::DrawFrame(CDC *pDC)
{
    const DisplaySettings &s = m_settings;
    if (m_hBackground) {
        PaintBackground(pDC);
    } else {
        const int w = FrameWidth();
        const COLORREF frame = COLORREF(s.Cframe);
        const COLORREF ringColor[3] = {Shade(frame, 6, 5, 10), frame, Shade(frame, 4, 5, -10)};
        for (int nRing = 0; nRing < 3; ++nRing) {
            const int d = nRing * w;
            const int l = m_rcArea.left + d, t = m_rcArea.top + d;
            const int r = m_rcArea.right - d, b = m_rcArea.bottom - d;
            pDC->FillSolidRect(RECT{l, t, r, t + w}, ringColor[nRing]);
            pDC->FillSolidRect(RECT{l, t, l + w, b}, ringColor[nRing]);
            pDC->FillSolidRect(RECT{l, b - w, r, b}, ringColor[nRing]);
            pDC->FillSolidRect(RECT{r - w, t, r, b}, ringColor[nRing]);
        }
    }
    if (RestartPending() || m_bFirstFrame)
        return;
    if (m_nState == DS_SPECTRUM && s.FwaveDisp && !m_rcWave.IsNull()) {
        RECT rc = m_rcWave;
        MapRectToDevice(rc);
        rc.Normalize();
        rc.right += 1;
        rc.bottom += 1;
        pDC->FillSolidRect(rc, COLORREF(s.Cbackground));
    }
}

void CSpectrumWnd::DrawSmallClock(CDC *pDC, bool bFull)
{
    if (m_rcClock.IsNull())
        return;
    RECT rc = m_rcClock;
    MapRectToDevice(rc);
    rc.Normalize();
    const ClockTime now = Now();
    const int nOldAlign = pDC->SetTextAlign(CDC::TA_RIGHT | CDC::TA_BOTTOM);
    if (bFull) {
        pDC->ExtTextOutClipped(rc.right, rc.bottom, rc, SmallClockText(now.nHour, now.nMinute));
    } else {
        const int nOldHour = m_nSmallClock / 10000, nOldMinute = m_nSmallClock / 100 % 100;
        // Only the minutes show: while they stand, erasing and drawing the same
        // text again would leave the same pixels, so skip the text work.
        if (nOldHour != now.nHour || nOldMinute != now.nMinute) {
            const COLORREF oldColor = pDC->SetTextColor(COLORREF(m_settings.Cbackground));
            pDC->ExtTextOutClipped(rc.right, rc.bottom, rc, SmallClockText(nOldHour, nOldMinute));
            pDC->SetTextColor(COLORREF(m_settings.FontColor));
            pDC->ExtTextOutClipped(rc.right, rc.bottom, rc, SmallClockText(now.nHour, now.nMinute));
            pDC->SetTextColor(oldColor);
        }
    }
    pDC->SetTextAlign(nOldAlign);
    m_nSmallClock = now.nHour * 10000 + now.nMinute * 100 + now.nSecond;
}

COLORREF CSpectrumWnd::BigClockColor(int s)
{
    const DisplaySettings &st = m_settings;
    const COLORREF bg = COLORREF(st.Cbackground);
    if (!st.CGrad)
        return s < 30 ? COLORREF(st.Cchip1) : COLORREF(st.Cpeekchip);

    const COLORREF e = Blend(COLORREF(st.Cchip1), bg, 7, 10);
    const COLORREF f = Blend(COLORREF(st.Cchip2), bg, 7, 10);
    if (m_nFadeOut > 0)
        --m_nFadeOut;
    if (m_nFadeIn > 0)
        --m_nFadeIn;
    COLORREF color;
    if (s == 59) {
        if (m_nLastBigClockSecond != 59) {
            m_nFadeOut = 18;
            color = f;
        } else {
            color = Blend(f, bg, m_nFadeOut, 18);
        }
    } else if (s == 0) {
        if (m_nLastBigClockSecond != 0) {
            m_nFadeOut = 0;
            m_nFadeIn = 10;
            color = bg;
        } else {
            color = Blend(bg, e, m_nFadeIn, 10);
        }
    } else {
        color = Blend(f, e, s, 60);
        m_nFadeOut = 0;
        m_nFadeIn = 0;
    }
    m_nLastBigClockSecond = s;
    return color;
}

void CSpectrumWnd::DrawBigClock(CDC *pDC, bool bFull)
{
    const DisplaySettings &st = m_settings;
    const ClockTime now = Now();
    const QString strTime = BigClockText(now.nHour, now.nMinute);
    const COLORREF color = BigClockColor(now.nSecond);
    const bool bError = m_nState == DS_MEMORYERROR || m_nState == DS_DEVICEERROR;
    const bool bFrame = bFull || strTime != m_strLastBigClock;
    // Nothing on screen changes while the time and colour stand still and no
    // message pulses; skip the text work then.
    if (!bFrame && !bError && color == m_lastBigClockColor)
        return;
    m_lastBigClockColor = color;

    RECT R = GraphRect();
    R.Normalize();
    const int b = std::min(R.Width(), R.Height());
    const int nTimeHeight = b / 2;
    const int nMessageHeight = b / 4 < 5 ? b / 2 - 1 : b / 4;
    if (nTimeHeight != m_nBigFontHeight) {
        // Heights of the whole character cell, as the font description's
        // positive heights are.
        m_bigTimeFont = CreateDisplayFont(st.Font, std::max(1, nTimeHeight));
        m_bigMessageFont = CreateDisplayFont(st.Font, std::max(1, nMessageHeight));
        m_nBigFontHeight = nTimeHeight;
    }

    const QFont *pOldFont = pDC->SelectFont(&m_bigTimeFont);
    const CPen outline(COLORREF(st.Coutline));
    const CPen *pOldPen = pDC->SelectPen(&outline);
    pDC->SetBrushColor(COLORREF(st.Cbackground));
    pDC->SetBkMode(CDC::TRANSPARENT);
    const int nOldAlign = pDC->SetTextAlign(CDC::TA_LEFT | CDC::TA_TOP);

    const SIZE ext = pDC->GetTextExtent(strTime);
    const int cx = ext.cx, cy = ext.cy;
    const int x = (R.left + R.right) / 2 - cx / 2;
    int y = (R.top + R.bottom) / 2 - cy / 2;
    if (bError)
        y -= cy / 6;
    if (bFrame) {
        const POINT octagon[8] = {{x + 3, y - 3},           {x + cx - 3, y - 3},
                                  {x + cx + 3, y + 3},      {x + cx + 3, y + cy - 3},
                                  {x + cx - 3, y + cy + 3}, {x + 3, y + cy + 3},
                                  {x - 3, y + cy - 3},      {x - 3, y + 3}};
        pDC->Polygon(octagon, 8);
    }
    const COLORREF oldText = pDC->SetTextColor(color);
    pDC->TextOut(x, y, strTime);

    if (bError) {
        const QString strMessage =
            QString::fromLatin1(m_nState == DS_MEMORYERROR ? "Memory error" : "Device error");
        COLORREF messageColor;
        if (st.CGrad)
            messageColor =
                Blend(COLORREF(st.Cpeekchip), COLORREF(st.Cbackground), m_nMessagePulse & 0xFF, 26);
        else
            messageColor =
                (m_nMessagePulse & 0xFF) < 12 ? COLORREF(st.Cbackground) : COLORREF(st.Cpeekchip);
        pDC->SelectFont(&m_bigMessageFont);
        pDC->SetTextColor(messageColor);
        const SIZE mext = pDC->GetTextExtent(strMessage);
        pDC->TextOut((R.left + R.right) / 2 - mext.cx / 2, y + cy + 6, strMessage);
        // The low byte runs 0, 1, ..., 26, 26, 25, ..., 0, 0, 1, ...: up while
        // bits 8 to 15 are clear, down while they are set.
        if (m_nMessagePulse & 0xFF00) {
            if (m_nMessagePulse & 0xFF)
                --m_nMessagePulse;
            else
                m_nMessagePulse = 0;
        } else if (m_nMessagePulse > 25) {
            m_nMessagePulse = 0x100 + 26;
        } else {
            ++m_nMessagePulse;
        }
    }
    pDC->SetTextColor(oldText);
    pDC->SetTextAlign(nOldAlign);
    pDC->SelectPen(pOldPen);
    pDC->SelectFont(pOldFont);
    m_strLastBigClock = strTime;
}
