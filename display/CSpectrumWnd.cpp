#include "display/CSpectrumWnd.h"

#include "display/CChipColumn.h"
#include "display/CKeyElement.h"
#include "display/DisplayFont.h"
#include "graphics/BackingImage.h"
#include "platform/X11ShmPresenter.h"
#include "settings/SettingValues.h"

#include <QBackingStore>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTimerEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr int kIdleSeconds = 15;

} // namespace

CSpectrumWnd::CSpectrumWnd(DisplaySettings &settings, bool bAutoDelete, QWidget *pParent)
    : CSpectrumWnd(settings, std::make_unique<CSpectrumEngine>(settings), nullptr, bAutoDelete,
                   pParent)
{}

CSpectrumWnd::CSpectrumWnd(DisplaySettings &settings, CSpectrumEngine &engine, bool bAutoDelete,
                           QWidget *pParent)
    : CSpectrumWnd(settings, nullptr, &engine, bAutoDelete, pParent)
{}

CSpectrumWnd::CSpectrumWnd(DisplaySettings &settings, std::unique_ptr<CSpectrumEngine> pOwnEngine,
                           CSpectrumEngine *pSharedEngine, bool bAutoDelete, QWidget *pParent)
    : QWidget(pParent), m_settings(settings), m_pOwnEngine(std::move(pOwnEngine)),
      m_pEngine(m_pOwnEngine ? m_pOwnEngine.get() : pSharedEngine),
      m_pSettingsChanged(&g_bSettingsChanged), m_pGeneration(&g_nSettingsGeneration),
      m_nLaidOut(g_nSettingsGeneration), m_tLastActivity(std::time(nullptr)),
      m_bAutoDelete(bAutoDelete), m_timers(this)
{
    // Every pixel comes from the backing image: no background erase by Qt.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    if (bAutoDelete)
        setAttribute(Qt::WA_DeleteOnClose);
}

CSpectrumWnd::~CSpectrumWnd()
{
    m_timers.KillAll();
    if (m_pOwnEngine)
        m_pOwnEngine->Stop();
    FreeBackgroundImage();
}

void CSpectrumWnd::SetWaveInDriver(std::unique_ptr<IWaveInDriver> pDriver)
{
    m_pEngine->SetWaveInDriver(std::move(pDriver));
}

void CSpectrumWnd::SetChangeFlag(int *pFlag, uint32_t *pGeneration)
{
    m_pSettingsChanged = pFlag ? pFlag : &g_bSettingsChanged;
    if (pGeneration)
        m_pGeneration = pGeneration;
    else
        m_pGeneration = pFlag ? &m_nOwnGeneration : &g_nSettingsGeneration;
    m_nLaidOut = *m_pGeneration;
}

bool CSpectrumWnd::RestartPending() const
{
    return *m_pSettingsChanged || m_nLaidOut != *m_pGeneration || m_bAreaChanged;
}

int CSpectrumWnd::CreateSpectrumWindow(const RECT &rc, QWidget *pParent)
{
    m_pEngine->CreateDevice();
    if (pParent)
        setParent(pParent);
    setGeometry(rc.left, rc.top, std::max(1, rc.Width()), std::max(1, rc.Height()));
    RebuildFont();
    EnsureBackingImage(QSize(std::max(1, rc.Width()), std::max(1, rc.Height())));

    m_timers.SetTimer(TIMER_START, 50);
    m_timers.SetTimer(TIMER_WATCHDOG, 1000);
    m_bCreated = true;
    m_bFirstFrame = true;
    return 1;
}

void CSpectrumWnd::SetArea(const RECT &rc)
{
    m_rcArea = rc;
    // Only this window moves: other views of the same settings stay as they are.
    m_bAreaChanged = true;
}

int CSpectrumWnd::ElementCount() const
{
    int n = 0;
    for (const auto &pElement : m_pElements)
        n += pElement != nullptr;
    return n;
}

std::unique_ptr<CBandElement> CSpectrumWnd::NewChipColumn() const
{
    return std::make_unique<CChipColumn>(m_settings, m_pEngine->FrameCounter());
}

std::unique_ptr<CBandElement> CSpectrumWnd::NewKey() const
{
    return std::make_unique<CKeyElement>(m_settings);
}

void CSpectrumWnd::RebuildFont()
{
    m_font = CreateDisplayFont(m_settings.Font, m_bPreview ? 7 : m_settings.Font.lfHeight);
}

void CSpectrumWnd::timerEvent(QTimerEvent *pEvent)
{
    const int nId = m_timers.IdForEvent(pEvent->timerId());
    if (nId < 0) {
        QWidget::timerEvent(pEvent);
        return;
    }
    OnTimer(nId);
}

void CSpectrumWnd::OnTimer(int nId)
{
    CheckSharedImage();
    if (!m_pDC)
        return; // no backing image yet: the window has no size
    CDC *pDC = m_pDC.get();
    pDC->SelectFont(&m_font);

    if (RestartOnSettingsChange())
        nId = TIMER_START;

    switch (nId) {
    case TIMER_START:
        StartStep();
        break;
    case TIMER_OPEN:
    case TIMER_RETRY:
        OpenStep(nId);
        break;
    case TIMER_FIRSTFRAME:
        FirstFrameStep(pDC);
        break;
    case TIMER_FRAME:
        FrameStep(pDC);
        break;
    case TIMER_WATCHDOG:
        WatchdogStep();
        break;
    case TIMER_REFILL:
        RefillStep();
        break;
    default:
        break;
    }
    FlushDirty();
}

bool CSpectrumWnd::RestartOnSettingsChange()
{
    if (*m_pSettingsChanged) {
        *m_pSettingsChanged = 0;
        ++*m_pGeneration;
    }
    const bool bSettings = m_nLaidOut != *m_pGeneration;
    if (!bSettings && !m_bAreaChanged)
        return false;
    // A new area alone keeps a shared capture running for the other views;
    // new settings may need another rate, and the engine reopens once.
    if (m_pOwnEngine || bSettings)
        m_pEngine->Stop();
    m_nLaidOut = *m_pGeneration;
    m_bAreaChanged = false;
    m_bFirstFrame = true;
    m_timers.KillTimer(TIMER_FRAME);
    m_timers.KillTimer(TIMER_FIRSTFRAME);
    m_timers.KillTimer(TIMER_START);
    m_timers.KillTimer(TIMER_OPEN);
    // The font settings may have changed with everything else.
    RebuildFont();
    return true;
}

void CSpectrumWnd::StartStep()
{
    // While the driver still holds a block of a capture this window stopped,
    // come back in 50 ms. A shared engine may be recording for other views.
    if (m_pOwnEngine && m_pEngine->IsCapturing()) {
        m_timers.SetTimer(TIMER_START, 50);
        return;
    }
    FreeBackgroundImage();
    m_timers.KillTimer(TIMER_START);
    if (!LoadBackgroundImage())
        FreeBackgroundImage();
    m_timers.SetTimer(TIMER_OPEN, 100);
}

void CSpectrumWnd::OpenStep(int nId)
{
    m_timers.KillTimer(nId);
    // Whatever the store held, the display runs on values the settings pages
    // could have set; those are left as they are.
    m_settings = BoundedForUse(m_settings);
    int nRate = 0, nSize = 0;
    CSpectrumEngine::PickRow(m_settings, &nRate, &nSize);
    BuildLayout(nRate, nSize);
    switch (m_pEngine->Open()) {
    case CSpectrumEngine::OPEN_MEMORYERROR:
        m_nState = DS_MEMORYERROR;
        break;
    case CSpectrumEngine::OPEN_DEVICEERROR:
        m_nState = DS_DEVICEERROR;
        break;
    case CSpectrumEngine::OPEN_OK:
        if (m_nState == DS_DEVICEERROR)
            m_nState = DS_SPECTRUM;
        break;
    }
    if (m_nState == DS_DEVICEERROR && nId == TIMER_RETRY) {
        m_timers.SetTimer(TIMER_FRAME, 50);
    } else {
        InvalidateErase();
        m_timers.SetTimer(TIMER_FIRSTFRAME, 100);
    }
}

bool CSpectrumWnd::CanCaptureTrace() const
{
    return m_bTraceValid && m_pEngine->HasRing() && m_nState != DS_MEMORYERROR &&
           m_nState != DS_DEVICEERROR;
}

void CSpectrumWnd::FirstFrameStep(CDC *pDC)
{
    m_bFirstFrame = false;
    pDC->SetBkMode(CDC::TRANSPARENT);
    pDC->SetTextColor(COLORREF(m_settings.FontColor));
    m_bTraceValid = true;
    m_pEngine->AnalyseFirstFrame(CanCaptureTrace());
    m_nTraceLength = CaptureTrace(m_nTraceIndex);
    DrawAll(pDC, false);
    m_timers.KillTimer(TIMER_FIRSTFRAME);
    m_timers.SetTimer(TIMER_FRAME, 50);
}

void CSpectrumWnd::CheckStream()
{
    // A stream that broke after it opened (the sound server went away) is a
    // device error like one that never opened; the watchdog retries.
    if (m_pEngine->StreamFailed() && m_nState != DS_DEVICEERROR && m_nState != DS_MEMORYERROR) {
        m_pEngine->Stop();
        m_nState = DS_DEVICEERROR;
        InvalidateErase();
    }
}

void CSpectrumWnd::FrameStep(CDC *pDC)
{
    CheckStream();
    pDC->SetBkMode(CDC::TRANSPARENT);
    pDC->SetTextColor(COLORREF(m_settings.FontColor));
    // The first view of the engine to ask in a tick has it capture and
    // analyse; the others read the same frame.
    const bool bTrace = CanCaptureTrace();
    m_nFrameShown = m_pEngine->NextFrame(m_nFrameShown, bTrace);
    m_nTraceLength = bTrace ? CaptureTrace(m_nTraceIndex) : 0;
    DrawUpdate(pDC);
    if (m_pEngine->TakeRefill())
        m_timers.SetTimer(TIMER_REFILL, 1000);
}

void CSpectrumWnd::WatchdogStep()
{
    const std::time_t nIdle = std::time(nullptr) - m_tLastActivity;
    if (!m_bPreview) {
        if (nIdle > kIdleSeconds && m_nState == DS_SPECTRUM) {
            m_nState = DS_IDLECLOCK;
            InvalidateErase();
        } else if (nIdle <= kIdleSeconds && m_nState == DS_IDLECLOCK) {
            m_nState = DS_SPECTRUM;
            InvalidateErase();
        }
    }
    if (m_nState == DS_DEVICEERROR)
        m_timers.SetTimer(TIMER_RETRY, 50);
}

void CSpectrumWnd::RefillStep()
{
    m_pEngine->Refill();
    m_timers.KillTimer(TIMER_REFILL);
}

void CSpectrumWnd::InvalidateErase()
{
    CheckSharedImage();
    PaintAll();
    FlushDirty();
}

void CSpectrumWnd::PaintAll()
{
    if (!m_bCreated || !m_pDC)
        return;
    CDC *pDC = m_pDC.get();
    pDC->SelectFont(&m_font);
    pDC->SetBkMode(CDC::TRANSPARENT);
    pDC->SetTextColor(COLORREF(m_settings.FontColor));
    const QSize size = m_image.deviceIndependentSize().toSize();
    pDC->FillSolidRect(RECT{0, 0, size.width(), size.height()}, COLORREF(m_settings.Cbackground));
    DrawAll(pDC, 1);
}

void CSpectrumWnd::FlushDirty()
{
    if (!m_pDC)
        return;
    if (m_pDC->DirtyCount() == 0)
        return;
    if (isVisible() && PresentDirty())
        return;
    // A shown window copies the frame to the screen at once, while the rows
    // just drawn are still in the processor's cache and without a round
    // through the event queue; a hidden one only records what to copy.
    int64_t nChanged = 0;
    for (int i = 0; i < m_pDC->DirtyCount(); ++i)
        nChanged += int64_t(m_pDC->DirtyAt(i).width()) * m_pDC->DirtyAt(i).height();
    const QRegion region = ToLogical(m_pDC->DirtyRegion());
    m_pDC->ClearDirty();
    m_lastFlush = {nChanged, int(region.rectCount()), 0, 0};
    for (const QRect &r : region)
        m_lastFlush.nHanded += int64_t(r.width()) * r.height();
    if (isVisible()) {
        if (FlushInPlace(region))
            return;
        m_pRepainting = &region;
        repaint(region);
        m_pRepainting = nullptr;
    } else {
        update(region);
    }
}

bool CSpectrumWnd::StartPresenter(WId window)
{
    if (m_bNoPresenter || !windowHandle())
        return false;
    std::unique_ptr<X11ShmPresenter> pPresenter = X11ShmPresenter::Create(window, m_image.size());
    if (!pPresenter) {
        m_bNoPresenter = true; // asked again only for another backing image
        return false;
    }
    MoveImageTo(pPresenter->Bits(), pPresenter->Stride());
    m_pSharedBits = nullptr;
    m_pPresenter = std::move(pPresenter);
    windowHandle()->installEventFilter(this);
    return true;
}

bool CSpectrumWnd::PresentDirty()
{
    // Only a widget with a native window of its own (a top-level window, or
    // a native child such as a saver's pane): a plain child's pixels are its
    // parent's. A native window made anew needs a presenter of its own.
    const WId window = internalWinId();
    if (window == 0)
        return false;
    if ((!m_pPresenter || WId(m_pPresenter->Window()) != window) && !StartPresenter(window))
        return false;
    // Each entry is one column's change: put as it is, none of the
    // neighbours' rows come along. Thousands of separate changes (never a
    // frame of chips) go as the gathered rectangles instead.
    const int nEntries = m_pDC->DirtyCount();
    m_lastFlush = {};
    m_lastFlush.bFromSharedMemory = true;
    const auto put = [&](const QRect &r) {
        m_pPresenter->Put(r);
        m_lastFlush.nHanded += int64_t(r.width()) * r.height();
        ++m_lastFlush.nRects;
    };
    if (nEntries <= kMaxPutsPerFrame) {
        for (int i = 0; i < nEntries; ++i)
            put(m_pDC->DirtyAt(i));
    } else {
        for (const QRect &r : m_pDC->DirtyRects())
            put(r);
    }
    for (int i = 0; i < nEntries; ++i)
        m_lastFlush.nChanged += int64_t(m_pDC->DirtyAt(i).width()) * m_pDC->DirtyAt(i).height();
    m_pPresenter->Flush();
    m_pDC->ClearDirty();
    m_pDC->ClearRowsDrawn();
    return true;
}

bool CSpectrumWnd::eventFilter(QObject *pWatched, QEvent *pEvent)
{
    // Qt answers an expose by showing its own copy of the window, which the
    // frames put from shared memory have left behind: that copy is painted
    // afresh from the backing image first.
    if (m_pPresenter && pEvent->type() == QEvent::Expose && pWatched == windowHandle() &&
        windowHandle()->isExposed())
        repaint();
    return QWidget::eventFilter(pWatched, pEvent);
}

bool CSpectrumWnd::FlushInPlace(const QRegion &region)
{
    // A frame drawn in place needs no painting, only the window system told
    // which part to take: the repaint machinery's region work and events
    // for each frame would find nothing to do.
    if (!m_pSharedBits || !isWindow())
        return false;
    QWindow *pWindow = windowHandle();
    QBackingStore *pStore = backingStore();
    const QPaintDevice *pDevice = pStore ? pStore->paintDevice() : nullptr;
    if (!pWindow || !pDevice || pDevice->devType() != QInternal::Image)
        return false;
    const auto *pImage = static_cast<const QImage *>(pDevice);
    if (pImage->constBits() != m_pSharedBits || pImage->size() != m_image.size() ||
        pImage->bytesPerLine() != m_image.bytesPerLine())
        return false;
    pStore->flush(region, pWindow);
    m_pDC->ClearRowsDrawn();
    return true;
}

void CSpectrumWnd::paintEvent(QPaintEvent *pEvent)
{
    // A frame drawn in place reaches the window system by FlushInPlace; a
    // paint that still comes (an expose) finds its pixels already there.
    // Anything else, such as a grab into another picture, paints.
    QPainter painter(this);
    if (DrawsIntoTarget(painter)) {
        if (m_pDC)
            m_pDC->ClearRowsDrawn();
        return;
    }
    // Within FlushDirty's own repaint the screen already holds everything
    // drawn before the previous such repaint, so of the rows asked for only
    // those drawn since need copying. Anything else in the region (an
    // exposed part, changes that waited while the window was hidden) is
    // copied whole.
    const uint8_t *pRows = nullptr;
    if (m_pRepainting && m_pDC && pEvent->region().subtracted(*m_pRepainting).isEmpty())
        pRows = m_pDC->RowsDrawn();
    if (!CopyRowsTo(painter, pEvent->region(), pRows)) {
        for (const QRect &r : pEvent->region())
            painter.drawImage(r, m_image, m_pDC ? m_pDC->ToDevice(r) : r);
    }
    if (m_pRepainting && m_pDC)
        m_pDC->ClearRowsDrawn();
}

QImage *CSpectrumWnd::PlainTarget(QPainter &painter, int *pDx, int *pDy) const
{
    QPaintEngine *pEngine = painter.paintEngine();
    if (!pEngine || pEngine->type() != QPaintEngine::Raster)
        return nullptr;
    QPaintDevice *pDevice = pEngine->paintDevice();
    if (!pDevice || pDevice->devType() != QInternal::Image)
        return nullptr;
    auto *pTarget = static_cast<QImage *>(pDevice);
    // The target's pixels are the backing image's when both have one ratio
    // and the painter only scales by it (a window on a screen of another
    // pixel density) and moves by whole pixels.
    const double dRatio = pTarget->devicePixelRatio();
    if (dRatio != m_image.devicePixelRatio() ||
        (pTarget->format() != QImage::Format_RGB32 &&
         pTarget->format() != QImage::Format_ARGB32_Premultiplied))
        return nullptr;
    const QTransform transform = painter.deviceTransform();
    if (transform.type() > QTransform::TxScale || transform.m11() != dRatio ||
        transform.m22() != dRatio)
        return nullptr;
    *pDx = int(transform.dx());
    *pDy = int(transform.dy());
    if (*pDx != transform.dx() || *pDy != transform.dy())
        return nullptr;
    return pTarget;
}

bool CSpectrumWnd::DrawsIntoTarget(QPainter &painter)
{
    int dx = 0, dy = 0;
    QImage *pTarget = PlainTarget(painter, &dx, &dy);
    if (!pTarget || !m_pDC || m_pPresenter)
        return false;
    if (m_pSharedBits)
        return pTarget->constBits() == m_pSharedBits;
    // An X server gets the frames from the presenter; where that is refused
    // (no memory shared with the server), Qt's backing store sends it only
    // what was painted through Qt, so nothing may be drawn in place there.
    if (QGuiApplication::platformName() == u"xcb")
        return false;
    // Only the window's own image, of its size, of an opaque window: one
    // with an alpha channel is cleared before every paint. Premultiplied
    // pixels of full alpha are the same words as plain 32-bit ones.
    const QWindow *pWindow = windowHandle();
    if (!isWindow() || !pWindow || pWindow->format().alphaBufferSize() > 0 ||
        testAttribute(Qt::WA_TranslucentBackground) || dx != 0 || dy != 0 ||
        pTarget->size() != m_image.size() || pTarget != backingStore()->paintDevice())
        return false;
    // From now on the device context draws where the window system takes
    // the pixels from. The image is written through a pointer that does not
    // detach it: it stays Qt's.
    auto *pBits = const_cast<uchar *>(std::as_const(*pTarget).constBits());
    const qsizetype nStride = pTarget->bytesPerLine();
    MoveImageTo(pBits, nStride);
    AskForHugePages(pBits, size_t(nStride) * size_t(pTarget->height()));
    m_pSharedBits = pBits;
    return true;
}

void CSpectrumWnd::MoveImageTo(uchar *pBits, qsizetype nStride)
{
    // The picture so far goes over once; the backing image, of the same size
    // and ratio, becomes a view of pBits and the device context draws there.
    for (int y = 0; y < m_image.height(); ++y)
        std::memcpy(pBits + y * nStride, m_image.constScanLine(y), size_t(m_image.width()) * 4);
    const double dRatio = m_image.devicePixelRatio();
    m_pDC.reset();
    m_image = QImage(pBits, m_image.width(), m_image.height(), nStride, QImage::Format_RGB32);
    m_image.setDevicePixelRatio(dRatio);
    m_pDC = std::make_unique<CDC>(&m_image);
}

void CSpectrumWnd::CheckSharedImage()
{
    if (!m_pSharedBits)
        return;
    QBackingStore *pStore = isVisible() ? backingStore() : nullptr;
    QPaintDevice *pDevice = pStore ? pStore->paintDevice() : nullptr;
    const auto *pImage = pDevice && pDevice->devType() == QInternal::Image
                             ? static_cast<const QImage *>(pDevice)
                             : nullptr;
    if (pImage && pImage->constBits() == m_pSharedBits && pImage->size() == m_image.size() &&
        pImage->bytesPerLine() == m_image.bytesPerLine())
        return;
    m_pSharedBits = nullptr;
    m_pDC.reset();
    m_image = QImage();
    EnsureBackingImage(size());
}

bool CSpectrumWnd::CopyRowsTo(QPainter &painter, const QRegion &region, const uint8_t *pRows)
{
    // A frame's changes are a few dozen narrow rectangles, which make a
    // region of many bands; the painter would take every one of them
    // through its clipped blending path. When the painter writes plain
    // 32-bit pixels into an image at whole-pixel offsets, the rows are
    // copied straight into it instead: the same pixels, as the picture is
    // opaque. Anything else (scaled screens, other formats, printing) paints.
    int dx = 0, dy = 0;
    QImage *pTarget = PlainTarget(painter, &dx, &dy);
    if (!pTarget || m_image.devicePixelRatio() != 1.0)
        return false;
    // A backing store with an alpha channel (a Wayland window, which draws its
    // own decorations) is cleared to transparent where it is painted, so there
    // every row asked for is copied, whether drawn since the last repaint or not.
    if (pTarget->hasAlphaChannel())
        pRows = nullptr;

    // The rows both images share, in this widget's coordinates.
    const QRect rcCommon = m_image.rect() & pTarget->rect().translated(-dx, -dy);
    if (rcCommon.isEmpty())
        return true;
    uchar *pTargetBits = pTarget->bits();
    const qsizetype nTargetStride = pTarget->bytesPerLine();
    const uchar *pSourceBits = m_image.constBits();
    const qsizetype nSourceStride = m_image.bytesPerLine();
    // A region is a stack of bands, the rectangles of a band sharing their
    // rows. Copying a band row by row across all its rectangles keeps each
    // step within one row of each image (its memory pages and the hardware's
    // read-ahead), where rectangle by rectangle every row would be a jump
    // of a whole image row.
    const QRect *pRects = region.begin();
    const qsizetype nRects = region.end() - region.begin();
    for (qsizetype i = 0; i < nRects;) {
        qsizetype j = i + 1;
        while (j < nRects && pRects[j].top() == pRects[i].top() &&
               pRects[j].bottom() == pRects[i].bottom())
            ++j;
        const int y1 = std::max(pRects[i].top(), rcCommon.top());
        const int y2 = std::min(pRects[i].bottom(), rcCommon.bottom());
        for (int y = y1; y <= y2; ++y) {
            if (pRows && !pRows[y])
                continue;
            const uchar *pFrom = pSourceBits + y * nSourceStride;
            uchar *pTo = pTargetBits + (y + dy) * nTargetStride + qsizetype(dx) * 4;
            for (qsizetype k = i; k < j; ++k) {
                const int x1 = std::max(pRects[k].left(), rcCommon.left());
                const int x2 = std::min(pRects[k].right(), rcCommon.right());
                if (x1 <= x2) {
                    std::memcpy(pTo + qsizetype(x1) * 4, pFrom + qsizetype(x1) * 4,
                                size_t(x2 - x1 + 1) * 4);
                    m_lastFlush.nCopied += x2 - x1 + 1;
                }
            }
        }
        i = j;
    }
    return true;
}

void CSpectrumWnd::resizeEvent(QResizeEvent *pEvent)
{
    // The layout follows SetArea only; a new size just needs a backing image
    // of that size with the whole picture painted into it.
    EnsureBackingImage(pEvent->size());
    if (m_bAreaFollowsSize && m_rcArea != RECT{0, 0, width(), height()})
        SetArea(RECT{0, 0, width(), height()});
}

double CSpectrumWnd::Ratio() const
{
    const double dRatio = devicePixelRatioF();
    return dRatio > 0 ? dRatio : 1.0;
}

bool CSpectrumWnd::event(QEvent *pEvent)
{
    // On a screen of another pixel density the picture is drawn afresh at its ratio.
    if (pEvent->type() == QEvent::ScreenChangeInternal && m_pDC)
        EnsureBackingImage(size());
    return QWidget::event(pEvent);
}

QRegion CSpectrumWnd::ToLogical(const QRegion &region) const
{
    const double dRatio = m_image.devicePixelRatio();
    if (dRatio == 1.0)
        return region;
    QRegion logical;
    for (const QRect &r : region) {
        const int x1 = int(std::floor(r.left() / dRatio));
        const int y1 = int(std::floor(r.top() / dRatio));
        const int x2 = int(std::ceil((r.right() + 1) / dRatio));
        const int y2 = int(std::ceil((r.bottom() + 1) / dRatio));
        logical += QRect(x1, y1, x2 - x1, y2 - y1);
    }
    return logical;
}

void CSpectrumWnd::EnsureBackingImage(const QSize &size)
{
    const double dRatio = Ratio();
    const QSize device(CDC::ScaleEdge(size.width(), dRatio), CDC::ScaleEdge(size.height(), dRatio));
    if (size.isEmpty() ||
        (m_pDC && m_image.size() == device && m_image.devicePixelRatio() == dRatio))
        return;
    m_pDC.reset();
    m_pSharedBits = nullptr;
    m_image = CreateBackingImage(device);
    m_pPresenter.reset();
    m_bNoPresenter = false;
    m_image.setDevicePixelRatio(dRatio);
    m_image.fill(Qt::black);
    m_pDC = std::make_unique<CDC>(&m_image);
    PaintAll();
    m_pDC->ClearDirty();
    update();
}

void CSpectrumWnd::closeEvent(QCloseEvent *pEvent)
{
    m_timers.KillAll();
    if (m_pOwnEngine)
        m_pOwnEngine->Stop();
    FreeBackgroundImage();
    QWidget::closeEvent(pEvent);
}

void CSpectrumWnd::GiveSpectrum(int nSlot, CBandElement *pElement,
                                const CSpectrumEngine::Spectra &spectra)
{
    if (IsStereoType(m_settings.Type) && nSlot >= EffectiveFdiv())
        pElement->SetSpectrum(spectra.pB, spectra.fMaxB);
    else
        pElement->SetSpectrum(spectra.pA, spectra.fMaxA);
}

void CSpectrumWnd::ComputeLevels()
{
    const CSpectrumEngine::Spectra spectra = m_pEngine->LockSpectra();
    float afLevel[kMaxElements];
    for (int i = 0; i < kMaxElements; ++i) {
        if (m_pElements[i])
            GiveSpectrum(i, m_pElements[i].get(), spectra);
    }
    for (int i = 0; i < kMaxElements; ++i) {
        afLevel[i] = 0.0f;
        if (m_pElements[i]) {
            m_pElements[i]->ComputeLevel();
            afLevel[i] = m_pElements[i]->m_fLevel;
        }
    }
    if (m_settings.Type == TYPE_KEYBOARD) {
        // Only the KeyNum loudest keys light; the lowest slot wins a tie.
        bool abTaken[kMaxElements] = {};
        for (int n = 0; n < m_settings.KeyNum; ++n) {
            int nBest = -1;
            for (int i = 0; i < kMaxElements; ++i) {
                if (afLevel[i] > 0.0f && (nBest < 0 || afLevel[i] > afLevel[nBest]))
                    nBest = i;
            }
            if (nBest < 0)
                break;
            abTaken[nBest] = true;
            afLevel[nBest] = 0.0f;
        }
        for (int i = 0; i < kMaxElements; ++i) {
            if (m_pElements[i] && !abTaken[i])
                m_pElements[i]->m_fLevel = 0.0f;
        }
    }
    m_pEngine->UnlockSpectra();
}

void CSpectrumWnd::BuildElementPens(PenTable &pens) const
{
    if (m_settings.Type == TYPE_KEYBOARD)
        BuildKeyPens(pens);
    else
        BuildPens(m_settings, pens);
}

void CSpectrumWnd::DrawElementsFull(CDC *pDC)
{
    PenTable pens;
    BuildElementPens(pens);
    const CSpectrumEngine::Spectra spectra = m_pEngine->LockSpectra();
    for (int i = 0; i < kMaxElements; ++i) {
        const int nSlot = TraversalSlot(i);
        if (CBandElement *pElement = m_pElements[nSlot].get()) {
            GiveSpectrum(nSlot, pElement, spectra);
            pElement->DrawFull(pDC, &pens);
        }
    }
    m_pEngine->UnlockSpectra();
}

void CSpectrumWnd::DrawAll(CDC *pDC, bool bRepaint)
{
    if (!m_bCreated)
        return;
    DrawFrame(pDC);
    if (RestartPending() || m_bFirstFrame)
        return;
    if (m_nState != DS_SPECTRUM) {
        DrawBigClock(pDC, true);
        return;
    }
    DrawElementsFull(pDC);
    if (m_settings.FclockDisp)
        DrawSmallClock(pDC, true);
    if (m_settings.FwaveDisp) {
        if (bRepaint)
            RepaintTraces(pDC);
        else
            ResetTraces(pDC);
    }
}

void CSpectrumWnd::DrawUpdate(CDC *pDC)
{
    if (m_nState == DS_SPECTRUM) {
        if (m_settings.FclockDisp)
            DrawSmallClock(pDC, false);
        if (m_settings.FwaveDisp && m_bTraceValid)
            UpdateTraces(pDC);
    }
    ComputeLevels();
    if (m_nState != DS_SPECTRUM)
        DrawBigClock(pDC, false);

    PenTable pens;
    BuildElementPens(pens);
    // The elements' spectrum pointers are valid within the lock.
    m_pEngine->LockSpectra();
    bool bActive = false;
    for (int i = 0; i < kMaxElements; ++i) {
        CBandElement *pElement = m_pElements[TraversalSlot(i)].get();
        if (!pElement)
            continue;
        if (m_nState == DS_SPECTRUM)
            pElement->DrawUpdate(pDC, &pens);
        else
            pElement->DrawUpdateSuppressed(pDC, &pens);
        if (!pElement->IsIdle())
            bActive = true;
    }
    m_pEngine->UnlockSpectra();
    if (bActive)
        m_tLastActivity = std::time(nullptr);
}
