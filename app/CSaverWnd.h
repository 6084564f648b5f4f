#pragma once

#include "display/CSpectrumWnd.h"

#include <cstdint>
#include <functional>
#include <utility>

class QCloseEvent;
class QEvent;
class QKeyEvent;
class QMouseEvent;
class QScreen;

// The window of the full-screen screen saver: a spectrum window over the whole
// primary screen, topmost, frameless and without a visible pointer, with the
// graph of SaverSizeX x SaverSizeY centred on it and, with bit 0 of SaverMode,
// moved to one of 16 x 16 places every 30 seconds. It closes at the first key,
// mouse button, mouse movement or loss of activation, and its closing ends the
// process with exit code 0.
//
// In a window that another program hosts (XScreenSaver's) it draws the same
// display, sized to that window, but leaves the input alone: the host ends the
// process. User-interface thread only.
class CSaverWnd : public CSpectrumWnd
{
public:
    // Moves the graph to a random place.
    static constexpr int TIMER_MOVE = 455;
    static constexpr int kMovePeriodMs = 30000;

    // settings must outlive the window.
    explicit CSaverWnd(DisplaySettings &settings, bool bAutoDelete = true);
    // A window showing engine, which the saver's other windows show too; the
    // engine must outlive the window.
    CSaverWnd(DisplaySettings &settings, CSpectrumEngine &engine, bool bAutoDelete = true);
    ~CSaverWnd() override;

    // Creates and shows the full-screen window on pScreen (the primary screen
    // when null). Returns 1 on success, 0 when there is no screen or the
    // window cannot be created.
    int CreateSaverWindow(QScreen *pScreen = nullptr);
    // Creates the window for a host's client area of the given size, with no
    // closing on input; the caller puts it into the host and shows it.
    int CreateHostedSaverWindow(int nWidth, int nHeight);
    // A new size of the "screen" (the host's client area): the graph is placed
    // afresh, centred, as at creation.
    void SetScreenSize(int nWidth, int nHeight);

    // TIMER_MOVE moves the graph; every other id is the spectrum window's.
    void OnTimer(int nId) override;
    // The move of TIMER_MOVE, with the window's random source and tick count.
    void RandomMove();

    // The centred graph on a screen of W x H: the size SaverSizeX x SaverSizeY
    // shrunk to leave at least 15 pixels on each side, a negative size left
    // as it is (the rectangle is then inverted, and the display is given an
    // empty area: it draws nothing). Any int input gives coordinates within
    // the int range.
    static RECT SaverGraphRect(int nScreenWidth, int nScreenHeight, int nSizeX, int nSizeY);
    // The random move of *pGraph on rcScreen: dwTick & 3 values are drawn from
    // fnRand and summed, k1 = (sum & 15) + 1 places the left edge at k1/17 of
    // the free width; one more value does the same for the top. False, with
    // nothing drawn and *pGraph unchanged, when the graph is wider or higher
    // than the screen.
    static bool MovedGraphRect(const RECT &rcScreen, RECT *pGraph, uint32_t dwTick,
                               const std::function<int()> &fnRand);

    // Members, in the order the window keeps them.
    int m_nAnchorX = -1; // the first mouse position seen; -1, -1 until then
    int m_nAnchorY = -1;
    RECT m_rcGraph;  // where the graph is, in window coordinates
    RECT m_rcScreen; // (0, 0, screen width, screen height)

    // 0 in a host's window: input and activation leave the window alone.
    int m_bCloseOnInput = 1;
    // The pseudo-random source (0..RAND_MAX, never seeded) and the millisecond
    // tick count of the random move; tests put their own in.
    std::function<int()> m_fnRand;
    std::function<uint32_t()> m_fnTickCount;

protected:
    void mouseMoveEvent(QMouseEvent *pEvent) override;
    void mousePressEvent(QMouseEvent *pEvent) override;
    void keyPressEvent(QKeyEvent *pEvent) override;
    bool event(QEvent *pEvent) override;
    void closeEvent(QCloseEvent *pEvent) override;

    // Ends the event loop with exit code 0 once the window has closed, or
    // hands that to the end handler when one is set.
    virtual void EndProcess();

public:
    // What the window's closing does instead of ending the event loop itself:
    // a saver of several windows closes them all first.
    void SetEndHandler(std::function<void()> fnEnd) { m_fnEnd = std::move(fnEnd); }

private:
    void SetUpInput();
    void PlaceGraph(int nWidth, int nHeight);
    // The area the display is given for the graph rectangle.
    RECT DisplayArea() const;
    void StartMoveTimer();
    // Closes the window from the event loop, once, as a posted close does.
    void PostClose();
    void OnApplicationStateChanged(Qt::ApplicationState eState);

    int m_bClosePosted = 0;
    std::function<void()> m_fnEnd;
};
