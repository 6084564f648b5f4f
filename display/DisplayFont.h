#pragma once

#include <QFont>

struct LogFont;

// The display font from the stored font description. nHeight follows the
// description's rule: negative, the character height in pixels without
// internal leading; positive, the cell height; 0, a default size. A face that
// is not installed falls back to an installed Japanese Gothic face, so that
// Japanese texts always show real glyphs.
QFont CreateDisplayFont(const LogFont &font, int nHeight);
