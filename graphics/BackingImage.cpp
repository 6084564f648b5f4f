#include "graphics/BackingImage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

#if defined(__linux__)
constexpr size_t kHugePage = size_t(2) << 20;

void FreeAligned(void *pData)
{
    std::free(pData);
}
#endif

} // namespace

QImage CreateBackingImage(const QSize &size)
{
#if defined(__linux__)
    const qsizetype nStride = qsizetype(size.width()) * 4;
    const size_t nBytes = size_t(nStride) * size_t(size.height());
    // Only worth it for images of a few huge pages; small windows (previews)
    // stay plain.
    if (size.width() > 0 && size.height() > 0 && nBytes >= 2 * kHugePage) {
        const size_t nRounded = (nBytes + kHugePage - 1) / kHugePage * kHugePage;
        if (void *pData = std::aligned_alloc(kHugePage, nRounded)) {
            madvise(pData, nRounded, MADV_HUGEPAGE);
            return QImage(static_cast<uchar *>(pData), size.width(), size.height(), nStride,
                          QImage::Format_RGB32, FreeAligned, pData);
        }
    }
#endif
    return QImage(size, QImage::Format_RGB32);
}

void AskForHugePages(uchar *pData, size_t nBytes)
{
#if defined(__linux__)
    // Only the whole huge pages inside the range; then, where the kernel
    // can, its pages are gathered now rather than some time later.
    const auto nFirst = (uintptr_t(pData) + kHugePage - 1) / kHugePage * kHugePage;
    const auto nEnd = (uintptr_t(pData) + nBytes) / kHugePage * kHugePage;
    if (nEnd <= nFirst)
        return;
    void *pFirst = reinterpret_cast<void *>(nFirst);
    madvise(pFirst, nEnd - nFirst, MADV_HUGEPAGE);
    // MADV_COLLAPSE (Linux 6.1), which the C library's headers may not name
    // yet; older kernels refuse it and the pages stay as they are.
    constexpr int kCollapse = 25;
    madvise(pFirst, nEnd - nFirst, kCollapse);
#else
    (void)pData;
    (void)nBytes;
#endif
}
