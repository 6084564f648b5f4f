#include "platform/X11ShmPresenter.h"

#include <QGuiApplication>

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace {

xcb_connection_t *QtConnection()
{
    auto *pX11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return pX11 ? pX11->connection() : nullptr;
}

// The window's depth when its pixels are 32-bit words with red, green and
// blue in the bytes QImage::Format_RGB32 keeps them in; 0 otherwise.
uint8_t Rgb32Depth(xcb_connection_t *pConnection, xcb_window_t window)
{
    const xcb_setup_t *pSetup = xcb_get_setup(pConnection);
    if (pSetup->image_byte_order !=
        (Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? XCB_IMAGE_ORDER_LSB_FIRST : XCB_IMAGE_ORDER_MSB_FIRST))
        return 0;
    // Errors are taken here (a window gone meanwhile), not left to Qt's queue.
    xcb_generic_error_t *pError = nullptr, *pGeometryError = nullptr;
    xcb_get_window_attributes_reply_t *pAttributes = xcb_get_window_attributes_reply(
        pConnection, xcb_get_window_attributes(pConnection, window), &pError);
    xcb_get_geometry_reply_t *pGeometry =
        xcb_get_geometry_reply(pConnection, xcb_get_geometry(pConnection, window), &pGeometryError);
    const xcb_visualid_t visual = pAttributes ? pAttributes->visual : 0;
    const uint8_t nDepth = pGeometry ? pGeometry->depth : 0;
    for (void *p : {static_cast<void *>(pAttributes), static_cast<void *>(pGeometry),
                    static_cast<void *>(pError), static_cast<void *>(pGeometryError)})
        std::free(p);
    if (nDepth != 24 && nDepth != 32)
        return 0;
    bool bWords = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(pSetup); it.rem; xcb_format_next(&it))
        bWords |= it.data->depth == nDepth && it.data->bits_per_pixel == 32;
    if (!bWords)
        return 0;
    for (auto screen = xcb_setup_roots_iterator(pSetup); screen.rem; xcb_screen_next(&screen)) {
        for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem;
             xcb_depth_next(&depth)) {
            if (depth.data->depth != nDepth)
                continue;
            for (auto v = xcb_depth_visuals_iterator(depth.data); v.rem; xcb_visualtype_next(&v)) {
                if (v.data->visual_id != visual)
                    continue;
                const bool bTrue = v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR ||
                                   v.data->_class == XCB_VISUAL_CLASS_DIRECT_COLOR;
                return bTrue && v.data->red_mask == 0xFF0000u && v.data->green_mask == 0xFF00u &&
                               v.data->blue_mask == 0xFFu
                           ? nDepth
                           : 0;
            }
        }
    }
    return 0;
}

} // namespace

std::unique_ptr<X11ShmPresenter> X11ShmPresenter::Create(uint64_t nWindow, const QSize &size)
{
    xcb_connection_t *pConnection = QtConnection();
    if (!pConnection || nWindow == 0 || nWindow > UINT32_MAX || size.isEmpty() ||
        size.width() > 32767 || size.height() > 32767)
        return nullptr;
    const xcb_query_extension_reply_t *pShm = xcb_get_extension_data(pConnection, &xcb_shm_id);
    if (!pShm || !pShm->present)
        return nullptr;
    const auto window = xcb_window_t(nWindow);
    const uint8_t nDepth = Rgb32Depth(pConnection, window);
    if (nDepth == 0)
        return nullptr;

    const size_t nStride = size_t(size.width()) * 4;
    const int nId = shmget(IPC_PRIVATE, nStride * size_t(size.height()), IPC_CREAT | 0600);
    if (nId < 0)
        return nullptr;
    void *pBits = shmat(nId, nullptr, 0);
    xcb_generic_error_t *pError = nullptr;
    xcb_shm_seg_t segment = 0;
    if (pBits != reinterpret_cast<void *>(-1)) {
        segment = xcb_generate_id(pConnection);
        pError = xcb_request_check(pConnection,
                                   xcb_shm_attach_checked(pConnection, segment, uint32_t(nId), 0));
    }
    // Marked for removal now: the memory goes when both sides have let go,
    // whatever way this process ends.
    shmctl(nId, IPC_RMID, nullptr);
    if (pBits == reinterpret_cast<void *>(-1))
        return nullptr;
    if (pError) {
        // A server on another machine refuses memory it cannot reach.
        std::free(pError);
        shmdt(pBits);
        return nullptr;
    }

    std::unique_ptr<X11ShmPresenter> pPresenter(new X11ShmPresenter);
    pPresenter->m_pConnection = pConnection;
    pPresenter->m_nWindow = window;
    pPresenter->m_nSegment = segment;
    pPresenter->m_nDepth = nDepth;
    pPresenter->m_pBits = static_cast<uchar *>(pBits);
    pPresenter->m_nGc = xcb_generate_id(pConnection);
    const uint32_t noExposures = 0;
    xcb_create_gc(pConnection, pPresenter->m_nGc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    pPresenter->m_size = size;
    return pPresenter;
}

X11ShmPresenter::~X11ShmPresenter()
{
    auto *pConnection = static_cast<xcb_connection_t *>(m_pConnection);
    // A window that outlives the application finds Qt's connection gone.
    if (QtConnection() != pConnection) {
        shmdt(m_pBits);
        return;
    }
    xcb_free_gc(pConnection, m_nGc);
    // The server keeps its own mapping until it has done every put queued
    // before the detach; ours can go at once.
    xcb_shm_detach(pConnection, m_nSegment);
    xcb_flush(pConnection);
    shmdt(m_pBits);
}

void X11ShmPresenter::Put(const QRect &r)
{
    const QRect rc = r & QRect(QPoint(0, 0), m_size);
    if (rc.isEmpty())
        return;
    xcb_shm_put_image(static_cast<xcb_connection_t *>(m_pConnection), m_nWindow, m_nGc,
                      uint16_t(m_size.width()), uint16_t(m_size.height()), uint16_t(rc.x()),
                      uint16_t(rc.y()), uint16_t(rc.width()), uint16_t(rc.height()),
                      int16_t(rc.x()), int16_t(rc.y()), m_nDepth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0,
                      m_nSegment, 0);
}

void X11ShmPresenter::Flush()
{
    xcb_flush(static_cast<xcb_connection_t *>(m_pConnection));
}
