#pragma once

#include <QCursor>

// The three cursors of the colour page, loaded once at start-up by the
// application and used only while the mouse is over or presses a swatch.
struct ColorPageCursors
{
    QCursor hover;   // over an active swatch, no swatch pressed: a painter's palette
    QCursor pressed; // a swatch pressed, the mouse still on it: a hand pressing
    QCursor off;     // a swatch pressed, the mouse moved away: the pointing hand under a cross
};

// Draws the cursors on the first call and returns the same set every time
// after. Needs the QGuiApplication; user-interface thread only.
const ColorPageCursors &LoadColorPageCursors();
