#pragma once

#include <QImage>
#include <QSize>

// A window's backing image (Format_RGB32). A full-screen one is about 8 MB
// and is drawn into column-wise as often as row-wise (every column divider
// is a vertical line), which touches a new memory page every other row; on
// Linux its memory is therefore asked for in huge pages, so that a vertical
// line costs a cache miss per row rather than a page walk too. Elsewhere it
// is a plain image.
QImage CreateBackingImage(const QSize &size);

// Asks for the pages of pixels someone else allocated (the window system's
// image a window draws into) to be huge pages, for the same reason; a hint
// only, that does nothing where the memory cannot have them.
void AskForHugePages(uchar *pData, size_t nBytes);
