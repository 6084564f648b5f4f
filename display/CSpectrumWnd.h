#pragma once

#include "analysis/CFFT.h"
#include "audio/CWave.h"
#include "audio/CWaveDevice.h"
#include "display/CChipColumn.h"
#include "display/CBandElement.h"
#include "graphics/CCoordMapper.h"
#include "graphics/Dib.h"
#include "graphics/CDC.h"
#include "platform/CWindowTimers.h"

#include <QFont>
#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <ctime>
#include <memory>

struct DisplaySettings;

// Local time of day as the clocks show it.
struct ClockTime
{
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;
};

// The window that does the work: it owns the capture ring and device, two
// transform engines, up to 80 band elements and the background picture, and
// drives them from window timers on the user-interface thread. Timer handlers
// draw into the window's backing image through a device context and mark
// what they touched; paintEvent only copies the image to the screen.
class CSpectrumWnd : public QWidget
{
public:
    enum DisplayState
    {
        DS_SPECTRUM = 0,
        DS_IDLECLOCK = 1,
        DS_MEMORYERROR = 2,
        DS_DEVICEERROR = 3
    };
    enum TimerId
    {
        TIMER_FRAME = 1001,
        TIMER_FIRSTFRAME = 1002,
        TIMER_START = 1006,
        TIMER_OPEN = 1007,
        TIMER_RETRY = 1008,
        TIMER_WATCHDOG = 1011,
        TIMER_REFILL = 1012,
    };
    static constexpr int kMaxElements = 80;
    static constexpr int kTraceSlots = 8;
    static constexpr int kTracePoints = 2048;

    // With bAutoDelete the object deletes itself once its window is closed.
    explicit CSpectrumWnd(int bAutoDelete = 0, QWidget *pParent = nullptr);
    ~CSpectrumWnd() override;

    // Creates the window with the given rectangle (device pixels, relative to
    // the parent) and starts its timers. Returns 1 on success.
    virtual int CreateSpectrumWindow(const RECT &rc, QWidget *pParent);
    virtual int LoadBackgroundImage();
    void FreeBackgroundImage();
    void SetArea(const RECT &rc);

    void DrawAll(CDC *pDC, int bRepaint);
    void DrawUpdate(CDC *pDC);
    void ComputeLevels();

    // Layout, bands and frame geometry.
    void BuildLayout(int nRate, int nSize);
    RECT GraphRect() const;
    int FrameWidth() const;
    void MapBands(int nRate, int nSize, int nCount);
    // The keyboard's bins and gains, one semitone per key slot below nCount.
    void MapKeys(int nRate, int nSize, int nCount);

    // Analysis window and trace.
    int FindSyncStart(uint32_t *pStart, uint32_t *pEnd);
    int CaptureTrace(int nSlot);
    static COLORREF AfterimageColor(COLORREF background, COLORREF line, int nZan);

    // Clocks; bFull draws afresh, otherwise only what changed.
    void DrawSmallClock(CDC *pDC, int bFull);
    void DrawBigClock(CDC *pDC, int bFull);
    // The big clock's colour for local second s, advancing the fade counters.
    COLORREF BigClockColor(int nSecond);
    // Where the clocks take the time from; null restores the system clock.
    // For tests, which need to walk through chosen seconds.
    using ClockSource = ClockTime (*)();
    static void SetClockSource(ClockSource pSource);

    // Runs the full paint algorithm into the backing image, as an invalidation
    // with erase does, and schedules the copy to the screen.
    void InvalidateErase();
    const QImage &BackingImage() const { return m_image; }

    // Sound input for this window's device; must be called before the window
    // is created. Without it the process-wide driver factory is used.
    void SetWaveInDriver(std::unique_ptr<IWaveInDriver> pDriver);

    // Members, in the order the window keeps them.
    QString m_strLastBigClock;
    int m_nLastBigClockSecond = 0;
    int m_nFadeOut = 0;
    int m_nFadeIn = 0;
    int m_bFirstFrame = 1;
    int m_bCreated = 0;
    CBandElement *m_pElements[kMaxElements] = {}; // owned
    DisplaySettings &m_settings;
    RECT m_rcArea;
    CWave m_wave;
    CWaveDevice m_device;
    CFFT m_fftA;
    CFFT m_fftB;
    int m_bTraceValid = 0;
    int16_t m_trace[kTraceSlots][kTracePoints] = {};
    int m_nTraceIndex = 0;
    int m_nTraceLength = 0;
    CCoordMapper m_mapper;
    std::time_t m_tLastActivity;
    int m_nState = DS_SPECTRUM;
    int m_nMessagePulse = 0;
    HDIB m_hBackground;
    std::unique_ptr<CPalette> m_pPalette;
    uint32_t m_dwSyncPos = 0;
    int m_bPreview = 0;
    int m_nPendingRefill = 0;
    int m_nSmallClock = 0;
    RECT m_rcWave;
    RECT m_rcClock;
    int m_bAutoDelete = 0;
    // In a window of its own the display's area is the whole client area and
    // follows every resize.
    int m_bAreaFollowsSize = 0;

    // The row of the rate and size table in use, for the analysis window.
    int m_nRate = 11025;
    int m_nSize = 256;
    // Where the next analysis window starts, chosen by FindSyncStart.
    uint32_t m_dwAnalysisStart = 0;

    // The handler of every window timer, by the window's own timer id. A
    // subclass handles the ids it sets itself and hands every other id on.
    virtual void OnTimer(int nId);
    bool IsTimerActive(int nId) const { return m_timers.IsActive(nId); }

protected:
    void paintEvent(QPaintEvent *pEvent) override;
    void resizeEvent(QResizeEvent *pEvent) override;
    void timerEvent(QTimerEvent *pEvent) override;
    void closeEvent(QCloseEvent *pEvent) override;

    // Gives the window a backing image of this size, painted in full.
    void EnsureBackingImage(const QSize &size);
    // The frame, background picture and waveform strip behind everything.
    void DrawFrame(CDC *pDC);
    void DrawElementsFull(CDC *pDC);
    // Hands every element its channel's spectrum, for slot nSlot.
    void GiveSpectrum(int nSlot, CBandElement *pElement, const float *pA, const float *pB);
    void PaintAll();
    void FlushDirty();
    // paintEvent's copy of the region's rows straight into the image the
    // painter writes to, only the rows flagged in pRows when it is given;
    // false when the painter's device is no such image.
    bool CopyRowsTo(QPainter &painter, const QRegion &region, const uint8_t *pRows);
    void RebuildFont();
    void PickRow(int nId, int *pRate, int *pSize) const;
    void PaintBackground(CDC *pDC);
    // The waveform strip: one stored trace as a polyline, and the three ways
    // of drawing the ring (every frame, on repaint, on the first frame).
    void DrawTrace(CDC *pDC, int nSlot, COLORREF color);
    void UpdateTraces(CDC *pDC);
    void RepaintTraces(CDC *pDC);
    void ResetTraces(CDC *pDC);
    int EffectiveFdiv() const;
    // Places the keys of display type 4 in the graph rectangle G (logical
    // coordinates, after the clock and wave strips), maps and links them.
    void BuildKeyboard(RECT G, int nRate, int nSize);
    void MapRectToDevice(RECT &rc) const;

    CWindowTimers m_timers;
    QImage m_image;             // the backing image, Format_RGB32, the widget's size
    std::unique_ptr<CDC> m_pDC; // draws into m_image; recreated with it
    QFont m_font;               // built from the font settings at every restart
    // The big clock's two fonts, rebuilt when the graph's size changes them.
    QFont m_bigTimeFont;
    QFont m_bigMessageFont;
    int m_nBigFontHeight = -1;
    COLORREF m_lastBigClockColor = 0;
    // What FlushDirty's repaint asked for, while it runs.
    const QRegion *m_pRepainting = nullptr;

private:
    // The pen table of the display type: key colours or chip colours.
    void BuildElementPens(PenTable &pens) const;
};

// The slot the window visits i-th when drawing: five interleaved passes over
// the 80 slots, 0, 5, 10, ..., 75, then 1, 6, ..., 76, and so on, so that a
// frame's painting is spread evenly across the graph.
constexpr int TraversalSlot(int i)
{
    return (i % 16) * 5 + i / 16;
}

// Colour arithmetic of the frame and clocks.
COLORREF Shade(COLORREF c, int nMul, int nDiv, int nOffset);
COLORREF Blend(COLORREF a, COLORREF b, int nStep, int nSteps);
