#pragma once

#include <QRect>
#include <QSize>

#include <cstdint>
#include <memory>

// Puts parts of an image straight into an X window, from memory the X server
// shares with us (MIT-SHM): one put request per rectangle, without a clip.
// Qt's backing store sets a clip of all of a region's rectangles and puts
// each through it, and a region cuts neighbouring columns' changes into
// bands of one another; for a frame of chip columns that is about half of
// the X server's work. Only for an X server on this machine, and a window
// whose pixels are laid out as QImage::Format_RGB32's.
class X11ShmPresenter
{
public:
    // Null when Qt does not run on X11, the server has no shared memory for
    // us (a remote display), the window's visual is not 24-bit colour in
    // 32-bit little-endian pixels, or the memory cannot be had.
    static std::unique_ptr<X11ShmPresenter> Create(uint64_t nWindow, const QSize &size);
    ~X11ShmPresenter();
    X11ShmPresenter(const X11ShmPresenter &) = delete;
    X11ShmPresenter &operator=(const X11ShmPresenter &) = delete;

    // The shared pixels: the size asked for, 32-bit words as in
    // QImage::Format_RGB32, rows Stride() bytes apart.
    uchar *Bits() const { return m_pBits; }
    qsizetype Stride() const { return qsizetype(m_size.width()) * 4; }
    QSize Size() const { return m_size; }
    // The window put into.
    uint64_t Window() const { return m_nWindow; }
    // Queues a put of r (clipped to the image) at the same place in the window.
    void Put(const QRect &r);
    // Hands the queued puts to the server without waiting for it.
    void Flush();

private:
    X11ShmPresenter() = default;
    void *m_pConnection = nullptr; // xcb_connection_t*, Qt's
    uint32_t m_nWindow = 0;
    uint32_t m_nSegment = 0; // the server's name for the memory
    uint32_t m_nGc = 0;
    uint8_t m_nDepth = 0;
    uchar *m_pBits = nullptr;
    QSize m_size;
};
