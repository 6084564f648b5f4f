#include "platform/X11HostWindow.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace {

// X errors on our own connection (a window that vanished between two calls)
// are expected answers, not reasons to end the process.
int IgnoreXError(Display *, XErrorEvent *)
{
    return 0;
}

} // namespace

X11HostWindow::X11HostWindow(uint64_t nWindowId) : m_nWindow(nWindowId)
{
    m_pDisplay = XOpenDisplay(nullptr);
    if (m_pDisplay)
        XSetErrorHandler(IgnoreXError);
}

X11HostWindow::~X11HostWindow()
{
    if (m_pDisplay)
        XCloseDisplay(static_cast<Display *>(m_pDisplay));
}

bool X11HostWindow::ClientSize(int *pWidth, int *pHeight)
{
    if (!m_pDisplay || m_nWindow == 0)
        return false;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(static_cast<Display *>(m_pDisplay), Window(m_nWindow), &attributes))
        return false;
    *pWidth = attributes.width;
    *pHeight = attributes.height;
    return true;
}

bool X11HostWindow::Exists()
{
    int w = 0, h = 0;
    return ClientSize(&w, &h);
}

uint64_t X11HostWindow::DefaultRoot()
{
    Display *pDisplay = XOpenDisplay(nullptr);
    if (!pDisplay)
        return 0;
    const uint64_t nRoot = DefaultRootWindow(pDisplay);
    XCloseDisplay(pDisplay);
    return nRoot;
}

bool X11HostWindow::RootGeometry(QRect *pRect)
{
    if (!m_pDisplay || m_nWindow == 0)
        return false;
    auto *pDisplay = static_cast<Display *>(m_pDisplay);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(pDisplay, Window(m_nWindow), &attributes))
        return false;
    int x = 0, y = 0;
    Window child = 0;
    if (!XTranslateCoordinates(pDisplay, Window(m_nWindow), attributes.root, 0, 0, &x, &y, &child))
        return false;
    *pRect = QRect(x, y, attributes.width, attributes.height);
    return true;
}

std::vector<QRect> X11HostWindow::Monitors()
{
    std::vector<QRect> monitors;
    if (!m_pDisplay)
        return monitors;
    auto *pDisplay = static_cast<Display *>(m_pDisplay);
    int nEvent = 0, nError = 0, nMajor = 0, nMinor = 0;
    if (!XRRQueryExtension(pDisplay, &nEvent, &nError) ||
        !XRRQueryVersion(pDisplay, &nMajor, &nMinor) || nMajor < 1 || (nMajor == 1 && nMinor < 5))
        return monitors;
    Window root = DefaultRootWindow(pDisplay);
    XWindowAttributes attributes;
    if (m_nWindow != 0 && XGetWindowAttributes(pDisplay, Window(m_nWindow), &attributes))
        root = attributes.root;
    int nCount = 0;
    XRRMonitorInfo *pInfo = XRRGetMonitors(pDisplay, root, True, &nCount);
    for (int i = 0; pInfo && i < nCount; ++i)
        monitors.emplace_back(pInfo[i].x, pInfo[i].y, pInfo[i].width, pInfo[i].height);
    if (pInfo)
        XRRFreeMonitors(pInfo);
    return monitors;
}
