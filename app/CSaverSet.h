#pragma once

#include "analysis/CSpectrumEngine.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <memory>
#include <vector>

class CSaverWnd;
class QScreen;
class QWidget;
struct DisplaySettings;

// The full-screen saver on every screen: one CSaverWnd per screen, each with
// the graph centred on its own screen and moving there by its own sequence of
// places, all views of one engine, so the sound is captured and analysed
// once per tick however many screens there are. Input on any window closes
// them all and ends the event loop with exit code 0. A screen that comes
// while the saver runs gets a window; one that goes takes its window along.
// User-interface thread only.
class CSaverSet : public QObject
{
public:
    // settings must outlive the set.
    explicit CSaverSet(DisplaySettings &settings);
    ~CSaverSet() override;
    CSaverSet(const CSaverSet &) = delete;
    CSaverSet &operator=(const CSaverSet &) = delete;

    // A window on every screen there is now, and on every screen added from
    // here on. False when not one window could be made.
    bool Start();
    // The saver's display once per pane of pContainer, a window of another
    // program's split by monitors (see MonitorPanes): no closing on input,
    // the host ends the process. False when not one pane could be made.
    bool StartPanes(QWidget *pContainer, const std::vector<QRect> &panes);
    // The parts of a host window that lie on each monitor, in the window's own
    // logical coordinates: rcWindow and the monitors are in the root
    // window's device pixels, dRatio the screen's device pixels per logical
    // one. Empty when the window lies on fewer than two monitors (one
    // display over the whole window then). A monitor that repeats another
    // (mirrored outputs) counts once.
    static std::vector<QRect> MonitorPanes(const QRect &rcWindow,
                                           const std::vector<QRect> &monitors, double dRatio);

    int WindowCount() const { return int(m_windows.size()); }
    CSaverWnd *Window(int i) const { return m_windows[size_t(i)].pWnd; }
    CSpectrumEngine &Engine() { return *m_pEngine; }

private:
    bool AddScreen(QScreen *pScreen);
    // A new window of the shared engine with its own random sequence.
    CSaverWnd *NewWindow(bool bAutoDelete);
    void RemoveScreen(QScreen *pScreen);
    // A window closed on the user's input: the others close with it.
    void EndAll();

    struct Entry
    {
        QScreen *pScreen = nullptr;
        QPointer<CSaverWnd> pWnd;
    };

    DisplaySettings &m_settings;
    std::unique_ptr<CSpectrumEngine> m_pEngine; // outlives every window below
    std::vector<Entry> m_windows;
    int m_nMade = 0; // windows made so far; the first keeps the library's generator
    bool m_bEnding = false;
};
