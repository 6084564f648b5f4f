#include "graphics/Dib.h"

#include "graphics/CDC.h"

#include <QImage>

bool PaintDib(CDC *pDC, const RECT &dst, const HDIB &hDib, const RECT &src,
              const CPalette *pPalette)
{
    if (!hDib || !pDC)
        return false;
    const uint32_t *pPixels = hDib->Pixels();
    if (!pPixels)
        return false;
    const int nWidth = DibWidth(*hDib);
    const int nHeight = DibHeight(*hDib);
    // A view of the decoded pixels, not a copy: the picture is decoded once
    // per load and every repaint draws straight from it.
    const QImage image(reinterpret_cast<const uchar *>(pPixels), nWidth, nHeight,
                       qsizetype(nWidth) * 4, QImage::Format_RGB32);

    // Every device here is true colour and the colour table was applied while
    // decoding, so the palette has nothing left to do.
    (void)pPalette;

    // Same size: an exact copy. A bitmap's own rows count from the bottom, so
    // a device copy of w x h pixels starts at bitmap row DibHeight - src.bottom;
    // in the top-down decoded picture that is row src.bottom - h = src.top,
    // the same rectangle the stretching branch reads. StretchImage copies
    // 1:1 when the sizes agree and otherwise drops or repeats rows and
    // columns, never blends.
    pDC->StretchImage(dst, image, src);
    return true;
}
