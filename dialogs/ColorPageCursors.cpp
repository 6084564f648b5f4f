#include "dialogs/ColorPageCursors.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kCursorSize = 32;

QPixmap EmptyCursorImage()
{
    QPixmap pixmap(kCursorSize, kCursorSize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A right hand seen from its back, the index finger up with its tip at
// (11, nTipY) and the other fingers folded; the hot spot sits on the tip.
void DrawHand(QPainter &painter, qreal nTipY)
{
    QPainterPath finger;
    finger.addRoundedRect(QRectF(8.5, nTipY, 5.0, 22.0 - nTipY), 2.5, 2.5);
    QPainterPath folded;
    folded.addRoundedRect(QRectF(13.0, 12.5, 4.5, 9.0), 2.0, 2.0);
    folded.addRoundedRect(QRectF(17.0, 13.5, 4.5, 8.0), 2.0, 2.0);
    folded.addRoundedRect(QRectF(21.0, 15.0, 4.0, 7.0), 2.0, 2.0);
    QPainterPath palm;
    palm.addRoundedRect(QRectF(8.5, 17.0, 16.5, 12.5), 3.0, 3.0);
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(3.0, 16.0, 8.0, 5.0), 2.5, 2.5);

    const QPainterPath hand = finger.united(folded).united(palm).united(thumb).simplified();
    painter.setPen(QPen(Qt::black, 1.0));
    painter.setBrush(Qt::white);
    painter.drawPath(hand);
    // The creases between the folded fingers.
    painter.drawLine(QPointF(13.5, 15.0), QPointF(13.5, 20.0));
    painter.drawLine(QPointF(17.5, 15.5), QPointF(17.5, 20.0));
    painter.drawLine(QPointF(21.5, 17.0), QPointF(21.5, 20.0));
}

QCursor PaletteCursor()
{
    QPixmap pixmap = EmptyCursorImage();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    QPainterPath board;
    board.addEllipse(QRectF(2.0, 4.0, 28.0, 22.0));
    QPainterPath thumbHole;
    thumbHole.addEllipse(QRectF(7.0, 17.0, 5.0, 4.0));
    QPainterPath notch;
    notch.addEllipse(QRectF(-1.0, 18.0, 8.0, 9.0));
    painter.setPen(QPen(QColor(0x5a, 0x3a, 0x1a), 1.2));
    painter.setBrush(QColor(0xde, 0xb8, 0x87));
    painter.drawPath(board.subtracted(thumbHole).subtracted(notch));

    const struct
    {
        QPointF ptCentre;
        QColor color;
    } dabs[] = {
        {{9.0, 11.0}, Qt::red},   {{15.0, 8.5}, Qt::yellow}, {{21.5, 9.0}, QColor(0, 160, 0)},
        {{25.5, 14.5}, Qt::blue}, {{22.0, 20.5}, Qt::white}, {{15.5, 21.5}, Qt::magenta},
    };
    painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 0.8));
    for (const auto &dab : dabs) {
        painter.setBrush(dab.color);
        painter.drawEllipse(dab.ptCentre, 2.6, 2.2);
    }
    painter.end();
    return QCursor(pixmap, 17, 13);
}

QCursor PressedCursor()
{
    QPixmap pixmap = EmptyCursorImage();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // The index finger bent down onto the swatch: shorter, its knuckle showing.
    DrawHand(painter, 8.0);
    painter.drawLine(QPointF(9.5, 12.0), QPointF(12.5, 12.0));
    // Marks of the press beside the fingertip.
    painter.setPen(QPen(Qt::black, 1.0));
    painter.drawLine(QPointF(5.0, 5.0), QPointF(7.0, 7.0));
    painter.drawLine(QPointF(17.0, 5.0), QPointF(15.0, 7.0));
    painter.drawLine(QPointF(11.0, 1.0), QPointF(11.0, 4.0));
    painter.end();
    return QCursor(pixmap, 11, 7);
}

QCursor OffCursor()
{
    QPixmap pixmap = EmptyCursorImage();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawHand(painter, 7.0);
    // The cross over the hand: red with a dark edge, readable on any background.
    painter.setBrush(Qt::NoBrush);
    for (const auto &pen : {QPen(QColor(0x60, 0, 0), 4.5, Qt::SolidLine, Qt::RoundCap),
                            QPen(QColor(0xff, 0x20, 0x20), 2.5, Qt::SolidLine, Qt::RoundCap)}) {
        painter.setPen(pen);
        painter.drawLine(QPointF(13.0, 13.0), QPointF(28.0, 28.0));
        painter.drawLine(QPointF(28.0, 13.0), QPointF(13.0, 28.0));
    }
    painter.end();
    return QCursor(pixmap, 11, 7);
}

} // namespace

const ColorPageCursors &LoadColorPageCursors()
{
    static const ColorPageCursors cursors{PaletteCursor(), PressedCursor(), OffCursor()};
    return cursors;
}
