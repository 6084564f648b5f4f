#pragma once

#include <QRect>

#include <cstdint>
#include <vector>

// A window of another program that we draw into: the screen-saver host's
// preview window, or the window XScreenSaver hands a hack. Qt reports a size
// of 0 x 0 for such a foreign window, so its real client size comes from the
// X server. Uses a connection of its own, so that an X error about a window
// that is gone never reaches Qt's. Without X11 every query fails.
class X11HostWindow
{
public:
    explicit X11HostWindow(uint64_t nWindowId);
    ~X11HostWindow();
    X11HostWindow(const X11HostWindow &) = delete;
    X11HostWindow &operator=(const X11HostWindow &) = delete;

    // Whether the window exists right now.
    bool Exists();
    // The client area's size; false when the window does not exist.
    bool ClientSize(int *pWidth, int *pHeight);
    // Where the window's client area lies on the root window: its origin and
    // size in root coordinates; false when the window does not exist.
    bool RootGeometry(QRect *pRect);
    // The monitors of the window's screen as RandR reports them (a monitor
    // set up with xrandr --setmonitor included), in root coordinates. Empty
    // when the server has no RandR 1.5 or the display is gone.
    std::vector<QRect> Monitors();
    // The root window of the default screen, for "draw on the desktop".
    static uint64_t DefaultRoot();

private:
    uint64_t m_nWindow;
    void *m_pDisplay = nullptr; // Display*, our own connection
};
