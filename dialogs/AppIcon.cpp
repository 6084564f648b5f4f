#include "dialogs/AppIcon.h"

#include <QColor>
#include <QPainter>

#include <algorithm>
#include <array>

namespace {

// Columns of the motif, in chips lit out of kChips, low to high frequency:
// a bass hump and a falling treble, as music usually looks.
constexpr int kChips = 8;
constexpr std::array<int, 6> kLit = {5, 7, 6, 4, 5, 3};
constexpr std::array<int, 6> kPeak = {6, 8, 7, 6, 6, 5}; // chip index of the peak marker, 1-based

// The chip colour by height, as the display's level-linked colours run:
// cyan at the bottom through violet at the top.
QColor ChipColor(int nChip)
{
    const QColor low(0, 255, 255), high(255, 128, 255);
    const double t = double(nChip) / (kChips - 1);
    return QColor(int(low.red() + (high.red() - low.red()) * t),
                  int(low.green() + (high.green() - low.green()) * t),
                  int(low.blue() + (high.blue() - low.blue()) * t));
}

} // namespace

QPixmap AppIconPixmap(int nSize)
{
    nSize = std::max(nSize, 8);
    QImage image(nSize, nSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);

    // The panel: a grey bevel around a black face, like the display's frame.
    const int nBevel = std::max(1, nSize / 16);
    painter.fillRect(0, 0, nSize, nSize, QColor(163, 163, 163));
    painter.fillRect(nBevel, nBevel, nSize - nBevel, nSize - nBevel, QColor(92, 92, 92));
    painter.fillRect(nBevel, nBevel, nSize - 2 * nBevel, nSize - 2 * nBevel, QColor(128, 128, 128));
    const QRect face(2 * nBevel, 2 * nBevel, nSize - 4 * nBevel, nSize - 4 * nBevel);
    painter.fillRect(face, Qt::black);

    // Columns of chips, each chip one pixel row apart at small sizes.
    const int nColumns = int(kLit.size());
    const int nPitchX = face.width() / nColumns;
    const int nPitchY = face.height() / kChips;
    const int nGapX = std::max(1, nPitchX / 5);
    const int nGapY = std::max(1, nPitchY / 4);
    const int nLeft = face.left() + (face.width() - nPitchX * nColumns) / 2;
    const int nBottom = face.top() + (face.height() + nPitchY * kChips) / 2;
    for (int c = 0; c < nColumns; ++c) {
        const int x = nLeft + c * nPitchX + nGapX / 2;
        const int w = std::max(1, nPitchX - nGapX);
        for (int i = 0; i < kChips; ++i) {
            const int y = nBottom - (i + 1) * nPitchY + nGapY / 2;
            const int h = std::max(1, nPitchY - nGapY);
            if (i < kLit[size_t(c)])
                painter.fillRect(x, y, w, h, ChipColor(i));
            else if (i == kPeak[size_t(c)] - 1)
                painter.fillRect(x, y, w, h, QColor(255, 255, 0));
        }
    }
    painter.end();
    return QPixmap::fromImage(image);
}

QIcon AppIcon()
{
    QIcon icon;
    for (int nSize : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(AppIconPixmap(nSize));
    return icon;
}
