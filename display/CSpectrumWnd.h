#pragma once

#include "analysis/CSpectrumEngine.h"
#include "display/CBandElement.h"
#include "display/CChipColumn.h"
#include "graphics/CCoordMapper.h"
#include "graphics/CDC.h"
#include "graphics/Dib.h"
#include "platform/CWindowTimers.h"

#include <QFont>
#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <ctime>
#include <memory>

struct DisplaySettings;
class X11ShmPresenter;

// Local time of day as the clocks show it.
struct ClockTime
{
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;
};

// A view of a spectrum engine: the window lays out up to 80 band elements,
// the clocks and the waveform strip in its area, and draws them from window
// timers on the user-interface thread into its backing image through a
// device context, marking what it touched; paintEvent only copies the image
// to the screen. Capture and analysis are the engine's: a window given none
// makes and owns its own, and several windows may share one.
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
    // Puts of one frame to the X server before its changes are gathered.
    static constexpr int kMaxPutsPerFrame = 1024;

    // A window with an engine of its own, reading settings (which must
    // outlive it). With bAutoDelete the object deletes itself once its
    // window is closed.
    explicit CSpectrumWnd(DisplaySettings &settings, bool bAutoDelete = false,
                          QWidget *pParent = nullptr);
    // A window showing engine, which others may show too; the engine must
    // outlive the window and read the same settings.
    CSpectrumWnd(DisplaySettings &settings, CSpectrumEngine &engine, bool bAutoDelete = false,
                 QWidget *pParent = nullptr);
    ~CSpectrumWnd() override;

    // Creates the window with the given rectangle (device pixels, relative to
    // the parent) and starts its timers. Returns 1 on success.
    virtual int CreateSpectrumWindow(const RECT &rc, QWidget *pParent);
    virtual int LoadBackgroundImage();
    void FreeBackgroundImage();
    // The display's place in the window; the change restarts the display
    // through the change flag.
    void SetArea(const RECT &rc);
    const RECT &Area() const { return m_rcArea; }

    // The preview of the screen-saver host: small fonts, no background
    // picture, never the idle clock. Before CreateSpectrumWindow.
    void SetPreview(bool bPreview) { m_bPreview = bPreview; }
    // In a window of its own the display's area is the whole client area and
    // follows every resize.
    void SetAreaFollowsSize(bool bFollows) { m_bAreaFollowsSize = bFollows; }
    // The flag the window watches for changed settings and the count of
    // changes it feeds (see g_bSettingsChanged and g_nSettingsGeneration):
    // a raised flag is cleared and counted by the first window to see it,
    // and every window watching the count lays out and restarts at its next
    // tick. Windows given the same flag and count all follow a change; a
    // flag given without a count gets a count of the window's own. The
    // process-wide pair unless given another.
    void SetChangeFlag(int *pFlag, uint32_t *pGeneration = nullptr);
    // A restart is due: the settings changed since the last layout, or the area did.
    bool RestartPending() const;

    void DrawAll(CDC *pDC, bool bRepaint);
    void DrawUpdate(CDC *pDC);
    void ComputeLevels();

    // Layout, bands and frame geometry.
    void BuildLayout(int nRate, int nSize);
    RECT GraphRect() const;
    int FrameWidth() const;
    void MapBands(int nRate, int nSize, int nCount);
    // The keyboard's bins and gains, one semitone per key slot below nCount.
    void MapKeys(int nRate, int nSize, int nCount);
    // The element in slot nSlot (0 .. kMaxElements - 1), null if none.
    CBandElement *Element(int nSlot) const { return m_pElements[nSlot].get(); }
    int ElementCount() const;
    const RECT &ClockRect() const { return m_rcClock; }
    const RECT &WaveRect() const { return m_rcWave; }

    // The waveform trace: fills slot nSlot from the frames that end the
    // engine's analysis window; the number of points, 0 when there is none.
    int CaptureTrace(int nSlot);
    const int16_t *Trace(int nSlot) const { return m_trace[nSlot]; }
    static COLORREF AfterimageColor(COLORREF background, COLORREF line, int nZan);

    // Clocks; bFull draws afresh, otherwise only what changed.
    void DrawSmallClock(CDC *pDC, bool bFull);
    void DrawBigClock(CDC *pDC, bool bFull);
    // The big clock's colour for local second s, advancing the fade counters.
    COLORREF BigClockColor(int nSecond);
    // Where the clocks take the time from; null restores the system clock.
    // For tests, which need to walk through chosen seconds.
    using ClockSource = ClockTime (*)();
    static void SetClockSource(ClockSource pSource);
    // The error message's pulse counter (low byte the step, 0x100 falling).
    int MessagePulse() const { return m_nMessagePulse; }
    void SetMessagePulse(int nPulse) { m_nMessagePulse = nPulse; }

    // Runs the full paint algorithm into the backing image, as an invalidation
    // with erase does, and schedules the copy to the screen.
    void InvalidateErase();
    // In device pixels, with the device-pixel ratio it is drawn at.
    const QImage &BackingImage() const { return m_image; }
    // The device-pixel ratio the backing image is drawn at: the screen's.
    double Ratio() const;
    // What the last copy to the screen handed over: the pixels of the
    // device context's dirty entries, the rectangles and their pixels, and
    // the pixels actually copied (rows drawn since the frame before only).
    struct FlushCounts
    {
        int64_t nChanged = 0;
        int nRects = 0;
        int64_t nHanded = 0;
        int64_t nCopied = 0;
        bool bFromSharedMemory = false; // put to the X server straight from it
    };
    const FlushCounts &LastFlush() const { return m_lastFlush; }

    // Sound input for this window's engine; must be called before the window
    // is created. Without it the process-wide driver factory is used.
    void SetWaveInDriver(std::unique_ptr<IWaveInDriver> pDriver);
    CSpectrumEngine &Engine() { return *m_pEngine; }

    int State() const { return m_nState; }
    bool IsFirstFrame() const { return m_bFirstFrame; }
    bool HasBackgroundImage() const { return bool(m_hBackground); }
    // When an element last moved; 15 s without brings the idle clock.
    void SetLastActivity(std::time_t t) { m_tLastActivity = t; }

    // The handler of every window timer, by the window's own timer id. A
    // subclass handles the ids it sets itself and hands every other id on.
    virtual void OnTimer(int nId);
    bool IsTimerActive(int nId) const { return m_timers.IsActive(nId); }

protected:
    void paintEvent(QPaintEvent *pEvent) override;
    void resizeEvent(QResizeEvent *pEvent) override;
    void timerEvent(QTimerEvent *pEvent) override;
    void closeEvent(QCloseEvent *pEvent) override;
    bool event(QEvent *pEvent) override;
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override;

    DisplaySettings &Settings() const { return m_settings; }
    CWindowTimers &Timers() { return m_timers; }
    // The device context of the backing image; null while the window has no size.
    CDC *DC() const { return m_pDC.get(); }
    void FlushDirty();

private:
    CSpectrumWnd(DisplaySettings &settings, std::unique_ptr<CSpectrumEngine> pOwnEngine,
                 CSpectrumEngine *pSharedEngine, bool bAutoDelete, QWidget *pParent);

    // The steps of OnTimer, one per timer.
    // Changed settings stop capture and start the chain again; true then.
    bool RestartOnSettingsChange();
    void StartStep();
    void OpenStep(int nId);
    void FirstFrameStep(CDC *pDC);
    void FrameStep(CDC *pDC);
    void WatchdogStep();
    void RefillStep();
    // The engine's state in the window's: a broken stream is a device error.
    void CheckStream();
    bool CanCaptureTrace() const;

    // Gives the window a backing image of this logical size at the window's
    // device-pixel ratio, painted in full.
    void EnsureBackingImage(const QSize &size);
    // The logical pixels that the device pixels of region cover.
    QRegion ToLogical(const QRegion &region) const;
    // The frame, background picture and waveform strip behind everything.
    void DrawFrame(CDC *pDC);
    void DrawElementsFull(CDC *pDC);
    // Hands every element its channel's spectrum, for slot nSlot.
    void GiveSpectrum(int nSlot, CBandElement *pElement, const CSpectrumEngine::Spectra &spectra);
    void PaintAll();
    // paintEvent's copy of the region's rows straight into the image the
    // painter writes to, only the rows flagged in pRows when it is given;
    // false when the painter's device is no such image.
    bool CopyRowsTo(QPainter &painter, const QRegion &region, const uint8_t *pRows);
    // The image the painter writes to when it is one this window can draw
    // into directly (32-bit pixels, the backing image's pixel ratio and no
    // other scaling), and the window's offset in it.
    QImage *PlainTarget(QPainter &painter, int *pDx, int *pDy) const;
    // A shown top-level window whose window-system image has the backing
    // image's size and pixel format draws straight into that image: the
    // backing image becomes a view of it, and a frame is one pass over its
    // pixels with nothing to copy. True when the painter writes to it.
    bool DrawsIntoTarget(QPainter &painter);
    // Copies the picture to pBits (rows nStride bytes apart, room for the
    // backing image's size) and draws there from now on.
    void MoveImageTo(uchar *pBits, qsizetype nStride);
    // Back to an image of the window's own, painted in full, when the
    // window system's image went away, moved or the window was hidden.
    void CheckSharedImage();
    // Hands a frame drawn in place straight to the window system; false
    // when the window's image is not the one drawn into.
    bool FlushInPlace(const QRegion &region);
    // A shown native window (top-level, or a saver's pane) on an X server of
    // this machine gets its frames put from shared memory, entry by entry;
    // false when it cannot.
    bool PresentDirty();
    bool StartPresenter(WId window);
    void RebuildFont();
    void PaintBackground(CDC *pDC);
    // The waveform strip: one stored trace as a polyline, and the three ways
    // of drawing the ring (every frame, on repaint, on the first frame).
    void DrawTrace(CDC *pDC, int nSlot, COLORREF color);
    void UpdateTraces(CDC *pDC);
    void RepaintTraces(CDC *pDC);
    void ResetTraces(CDC *pDC);
    int EffectiveFdiv() const;
    // Places the keys of the keyboard type in the graph rectangle G (logical
    // coordinates, after the clock and wave strips), maps and links them.
    void BuildKeyboard(RECT G, int nRate, int nSize);
    void MapRectToDevice(RECT &rc) const;
    // The pen table of the display type: key colours or chip colours.
    void BuildElementPens(PenTable &pens) const;
    // New elements on this window's settings and engine frames.
    std::unique_ptr<CBandElement> NewChipColumn() const;
    std::unique_ptr<CBandElement> NewKey() const;

    DisplaySettings &m_settings;
    std::unique_ptr<CSpectrumEngine> m_pOwnEngine; // null when showing a shared engine
    CSpectrumEngine *m_pEngine;                    // m_pOwnEngine or the shared one
    uint32_t m_nFrameShown = 0;                    // the engine frame drawn last
    int *m_pSettingsChanged;
    uint32_t *m_pGeneration;       // the count of changes m_pSettingsChanged feeds
    uint32_t m_nOwnGeneration = 0; // that count when the window was given a flag alone
    uint32_t m_nLaidOut;           // the count this window last laid out with
    bool m_bAreaChanged = false;   // SetArea since the last restart

    QString m_strLastBigClock;
    int m_nLastBigClockSecond = 0;
    int m_nFadeOut = 0;
    int m_nFadeIn = 0;
    bool m_bFirstFrame = true;
    bool m_bCreated = false;
    std::unique_ptr<CBandElement> m_pElements[kMaxElements];
    RECT m_rcArea;
    bool m_bTraceValid = false;
    int16_t m_trace[kTraceSlots][kTracePoints] = {};
    int m_nTraceIndex = 0;
    int m_nTraceLength = 0;
    CCoordMapper m_mapper;
    std::time_t m_tLastActivity;
    int m_nState = DS_SPECTRUM;
    int m_nMessagePulse = 0;
    HDIB m_hBackground;
    std::unique_ptr<CPalette> m_pPalette;
    bool m_bPreview = false;
    int m_nSmallClock = 0;
    RECT m_rcWave;
    RECT m_rcClock;
    bool m_bAutoDelete = false;
    bool m_bAreaFollowsSize = false;

    CWindowTimers m_timers;
    // Frames put straight from shared memory (X11): m_image is then a view of
    // its pixels. Declared first, so that it goes last.
    std::unique_ptr<X11ShmPresenter> m_pPresenter;
    bool m_bNoPresenter = false; // refused for this backing image
    QImage m_image; // the backing image, Format_RGB32, the widget's size in device pixels
    std::unique_ptr<CDC> m_pDC; // draws into m_image; recreated with it
    QFont m_font;               // built from the font settings at every restart
    // The big clock's two fonts, rebuilt when the graph's size changes them.
    QFont m_bigTimeFont;
    QFont m_bigMessageFont;
    int m_nBigFontHeight = -1;
    COLORREF m_lastBigClockColor = 0;
    // What FlushDirty's repaint asked for, while it runs.
    const QRegion *m_pRepainting = nullptr;
    FlushCounts m_lastFlush;
    // The window system's pixels m_image shows, while it shows them.
    const uchar *m_pSharedBits = nullptr;
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
