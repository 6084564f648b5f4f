#include "display/DisplayFont.h"

#include "settings/Settings.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStringList>

#include <algorithm>

#include <cstdlib>

namespace {

// Japanese Gothic faces that Linux desktops install, best first.
const char *const kGothicFallbacks[] = {
    "Noto Sans CJK JP", "Noto Sans JP", "IPAPGothic",          "IPAGothic",
    "VL PGothic",       "TakaoPGothic", "Droid Sans Fallback",
};

} // namespace

QString InstalledJapaneseFamily(const QString &strWanted)
{
    const QStringList families = QFontDatabase::families();
    if (!strWanted.isEmpty() && families.contains(strWanted, Qt::CaseInsensitive))
        return strWanted;
    for (const char *pszFallback : kGothicFallbacks) {
        if (families.contains(QString::fromLatin1(pszFallback), Qt::CaseInsensitive))
            return QString::fromLatin1(pszFallback);
    }
    return QString();
}

QFont CreateDisplayFont(const LogFont &logFont, int nHeight)
{
    QFont font;
    const QString strFamily = InstalledJapaneseFamily(FaceNameText(logFont.lfFaceName));
    if (!strFamily.isEmpty())
        font.setFamily(strFamily);
    font.setStyleHint(QFont::SansSerif);

    // Heights beyond kMaxFontHeight are no font a screen can show; the clamp
    // keeps a damaged stored value (say -2147483648) from overflowing or
    // hanging the font engine.
    if (nHeight < 0) {
        // The character height without internal leading: Qt's pixel size.
        font.setPixelSize(FontHeightMagnitude(nHeight));
    } else if (nHeight > 0) {
        // The cell height: scale the pixel size so that ascent + descent fits.
        const int nCell = std::min(nHeight, kMaxFontHeight);
        font.setPixelSize(nCell);
        const QFontInfo info(font);
        const QFontMetrics fm(font);
        if (fm.height() > 0 && fm.height() != nCell) {
            const int nScaled = std::max(1, nCell * info.pixelSize() / fm.height());
            font.setPixelSize(std::min(nScaled, kMaxFontHeight));
        }
    } else {
        font.setPixelSize(12);
    }

    const int nWeight = logFont.lfWeight <= 0 ? 400 : std::clamp(logFont.lfWeight, 100, 900);
    font.setWeight(QFont::Weight(nWeight));
    font.setItalic(logFont.lfItalic != 0);
    font.setUnderline(logFont.lfUnderline != 0);
    font.setStrikeOut(logFont.lfStrikeOut != 0);
    // Draft and non-antialiased qualities give crisp one-pixel glyph edges,
    // which suit the LED look and let a text be erased by drawing it again
    // in the background colour.
    if (logFont.lfQuality == 1 || logFont.lfQuality == 3)
        font.setStyleStrategy(QFont::NoAntialias);
    return font;
}
