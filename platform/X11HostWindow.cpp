#include "platform/X11HostWindow.h"

#include <X11/Xlib.h>

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
