#pragma once

#include <QFont>

struct LogFont;

// The display font from the stored font description. nHeight follows the
// description's rule: negative, the character height in pixels without
// internal leading; positive, the cell height; 0, a default size. A face that
// is not installed falls back to an installed Japanese Gothic face, so that
// Japanese texts always show real glyphs.
QFont CreateDisplayFont(const LogFont &font, int nHeight);

// The family to ask for when strWanted may not be installed: strWanted itself
// if it is, else the best installed Japanese Gothic, else empty (Qt's default).
QString InstalledJapaneseFamily(const QString &strWanted);
