#include "app/CSaverWnd.h"

#include "settings/SettingValues.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include <chrono>
#include <cstdlib>

namespace {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the system's
// tick count; only its two low bits are used.
uint32_t SteadyTickCount()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The close that input posts to the window's own queue.
QEvent::Type PostedCloseEvent()
{
    static const auto eType = QEvent::Type(QEvent::registerEventType());
    return eType;
}

} // namespace

CSaverWnd::CSaverWnd(DisplaySettings &settings, bool bAutoDelete)
    : CSpectrumWnd(settings, bAutoDelete), m_fnRand([] { return std::rand(); }),
      m_fnTickCount(SteadyTickCount)
{
    SetUpInput();
}

CSaverWnd::CSaverWnd(DisplaySettings &settings, CSpectrumEngine &engine, bool bAutoDelete)
    : CSpectrumWnd(settings, engine, bAutoDelete), m_fnRand([] { return std::rand(); }),
      m_fnTickCount(SteadyTickCount)
{
    SetUpInput();
}

void CSaverWnd::SetUpInput()
{
    // Moves must arrive without a button held, so that the first one can be
    // taken as the anchor and the next one can close the saver.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    if (qGuiApp)
        connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
                &CSaverWnd::OnApplicationStateChanged);
}

CSaverWnd::~CSaverWnd() = default;

RECT CSaverWnd::SaverGraphRect(int nScreenWidth, int nScreenHeight, int nSizeX, int nSizeY)
{
    // In 64 bits: a damaged SaverSizeX near INT_MIN would overflow W - w.
    int64_t w = nSizeX;
    int64_t h = nSizeY;
    if (w > int64_t(nScreenWidth) - 30)
        w = int64_t(nScreenWidth) - 30;
    if (h > int64_t(nScreenHeight) - 30)
        h = int64_t(nScreenHeight) - 30;
    const int64_t left = (nScreenWidth - w) / 2;
    const int64_t top = (nScreenHeight - h) / 2;
    return RECT{int(left), int(top), int(left + w), int(top + h)};
}

bool CSaverWnd::MovedGraphRect(const RECT &rcScreen, RECT *pGraph, uint32_t dwTick,
                               const std::function<int()> &fnRand)
{
    const int64_t W = int64_t(rcScreen.right) - rcScreen.left;
    const int64_t H = int64_t(rcScreen.bottom) - rcScreen.top;
    const int64_t gw = int64_t(pGraph->right) - pGraph->left;
    const int64_t gh = int64_t(pGraph->bottom) - pGraph->top;
    if (W < gw || H < gh)
        return false;
    // The tick decides how many values are thrown away first (0 to 3), so
    // that the unseeded generator gives different places from run to run.
    // Summed unsigned: only the low four bits count.
    uint32_t dwSum = 0;
    for (uint32_t n = dwTick & 3; n > 0; --n)
        dwSum += uint32_t(fnRand());
    const int64_t k1 = int64_t(dwSum & 15) + 1;
    const int64_t left = (W - gw) * k1 / 17;
    const int64_t k2 = int64_t(uint32_t(fnRand()) & 15) + 1;
    const int64_t top = (H - gh) * k2 / 17;
    *pGraph = RECT{int(left), int(top), int(left + gw), int(top + gh)};
    return true;
}

RECT CSaverWnd::DisplayArea() const
{
    if (m_rcGraph.Width() >= 0 && m_rcGraph.Height() >= 0)
        return m_rcGraph;
    // An inverted graph (a negative size, or a host window narrower than the
    // margins) may reach billions of pixels off the screen, which the layout
    // would fill with chips. It shows nothing instead.
    const int x = m_rcScreen.Width() / 2;
    const int y = m_rcScreen.Height() / 2;
    return RECT{x, y, x, y};
}

void CSaverWnd::PlaceGraph(int nWidth, int nHeight)
{
    m_rcScreen = RECT{0, 0, nWidth, nHeight};
    m_rcGraph = SaverGraphRect(nWidth, nHeight, Settings().SaverSizeX, Settings().SaverSizeY);
    SetArea(DisplayArea());
}

void CSaverWnd::StartMoveTimer()
{
    if (Settings().SaverMode & SAVERMODE_MOVE)
        Timers().SetTimer(TIMER_MOVE, kMovePeriodMs);
}

int CSaverWnd::CreateSaverWindow(QScreen *pScreen)
{
    if (!pScreen)
        pScreen = QGuiApplication::primaryScreen();
    if (!pScreen)
        return 0;
    const QRect rcScreen = pScreen->geometry();
    if (rcScreen.isEmpty())
        return 0;
    PlaceGraph(rcScreen.width(), rcScreen.height());

    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setCursor(Qt::BlankCursor);
    if (!CreateSpectrumWindow(m_rcScreen, nullptr))
        return 0;
    StartMoveTimer();

    // The screen need not start at the desktop's origin.
    winId();
    if (QWindow *pWindow = windowHandle())
        pWindow->setScreen(pScreen);
    setGeometry(rcScreen);
    // Full-screen state as well, so that a window manager lets the window
    // cover its panels too.
    showFullScreen();
    activateWindow();
    return 1;
}

int CSaverWnd::CreateHostedSaverWindow(int nWidth, int nHeight)
{
    m_bCloseOnInput = 0;
    PlaceGraph(nWidth, nHeight);
    if (!CreateSpectrumWindow(m_rcScreen, nullptr))
        return 0;
    StartMoveTimer();
    return 1;
}

void CSaverWnd::SetScreenSize(int nWidth, int nHeight)
{
    PlaceGraph(nWidth, nHeight);
}

void CSaverWnd::OnTimer(int nId)
{
    if (nId == TIMER_MOVE) {
        RandomMove();
        return;
    }
    CSpectrumWnd::OnTimer(nId);
}

void CSaverWnd::RandomMove()
{
    RECT rc = m_rcGraph;
    if (!MovedGraphRect(m_rcScreen, &rc, m_fnTickCount(), m_fnRand))
        return;
    m_rcGraph = rc;
    SetArea(DisplayArea()); // the next frame-timer tick lays the display out there
}

void CSaverWnd::PostClose()
{
    if (m_bClosePosted)
        return;
    m_bClosePosted = 1;
    QCoreApplication::postEvent(this, new QEvent(PostedCloseEvent())); // owned by the queue
}

void CSaverWnd::mouseMoveEvent(QMouseEvent *pEvent)
{
    if (m_bCloseOnInput) {
        // The first move may come without any movement (the window appeared
        // under the pointer, the pointer was put where it already was); only
        // a move away from that first position closes.
        const QPoint pt = pEvent->position().toPoint();
        if (m_nAnchorX == -1 && m_nAnchorY == -1) {
            m_nAnchorX = pt.x();
            m_nAnchorY = pt.y();
        } else if (pt.x() != m_nAnchorX || pt.y() != m_nAnchorY) {
            PostClose();
        }
    }
    CSpectrumWnd::mouseMoveEvent(pEvent);
}

void CSaverWnd::mousePressEvent(QMouseEvent *pEvent)
{
    if (m_bCloseOnInput)
        PostClose();
    CSpectrumWnd::mousePressEvent(pEvent);
}

void CSaverWnd::keyPressEvent(QKeyEvent *pEvent)
{
    // Every key, a lone modifier and Alt+F4 included.
    if (m_bCloseOnInput)
        PostClose();
    CSpectrumWnd::keyPressEvent(pEvent);
}

bool CSaverWnd::event(QEvent *pEvent)
{
    if (pEvent->type() == PostedCloseEvent()) {
        close();
        return true;
    }
    // Activation passing to another window of the saver (one per screen) is
    // not the user's: by now that window is the focus window. Any other
    // program's window leaves none of ours focused.
    if (pEvent->type() == QEvent::WindowDeactivate && m_bCloseOnInput &&
        !QGuiApplication::focusWindow())
        PostClose();
    return CSpectrumWnd::event(pEvent);
}

void CSaverWnd::OnApplicationStateChanged(Qt::ApplicationState eState)
{
    // Another program was activated.
    if (eState != Qt::ApplicationActive && m_bCloseOnInput && isVisible())
        PostClose();
}

void CSaverWnd::closeEvent(QCloseEvent *pEvent)
{
    // A close request from the window manager (its menu, its title-bar
    // button) is refused: the saver closes only on the user's input.
    if (pEvent->spontaneous()) {
        pEvent->ignore();
        return;
    }
    CSpectrumWnd::closeEvent(pEvent);
    if (pEvent->isAccepted())
        EndProcess();
}

void CSaverWnd::EndProcess()
{
    if (m_fnEnd) {
        m_fnEnd();
        return;
    }
    // exit() rather than quit(): quit() was seen not to end the loop with an
    // embedded window, and the code must be 0.
    QCoreApplication::exit(0);
}
