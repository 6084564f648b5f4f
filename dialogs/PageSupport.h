#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class QLineEdit;
class QWidget;

// What every settings page shares: the templates' look, the platform's
// choosers and the field checks of dialog data exchange.

// A stored colour (0x00BBGGRR, red in the low byte; the unused high byte
// ignored) and the choosers' QColor in each other's form.
QColor ColorFromRef(std::int32_t nColor);
std::int32_t RefFromColor(const QColor &color);

// The templates' font, 9-point "ＭＳ Ｐゴシック", or the installed Japanese
// Gothic that stands in for it, set on a dialog and so on all its controls.
void ApplyPageFont(QWidget *pDialog);

// The font the Windows chooser hands back: a face, size, weight, effects and
// the text colour it offers beside them.
struct FontChoice
{
    QFont font;
    QColor color;
};

// The platform's modal choosers and message box. The defaults open Qt's
// dialogs; tests replace a member to answer without a modal loop and restore
// the defaults with ResetPageChoosers.
struct PageChoosers
{
    // The colour chooser preset to initial; nothing when cancelled.
    std::function<std::optional<QColor>(const QColor &initial, QWidget *pParent)> chooseColor;
    // The open-file chooser for one existing bitmap: file name preset to
    // strPreset, starting in strDirectory when that is not empty, filter
    // "bitMap(*.bmp)". The chosen full path; nothing when cancelled.
    std::function<std::optional<QString>(const QString &strPreset, const QString &strDirectory,
                                         QWidget *pParent)>
        chooseOpenFile;
    // The font chooser with effects and colour, preset to initial.
    std::function<std::optional<FontChoice>(const FontChoice &initial, QWidget *pParent)>
        chooseFont;
    // A modal warning with one OK button.
    std::function<void(QWidget *pParent, const QString &strText)> showMessage;
};

// The title of the program's message boxes.
inline const QString kMessageTitle = QStringLiteral("Vexlor");

PageChoosers &Choosers();
void ResetPageChoosers();

// Dialog data exchange for a number field. A text that is not a whole number
// in range (optional sign for ReadIntField, digits only for ReadUIntField,
// surrounding blanks allowed) shows the framework's message for that field,
// gives the field the focus with its text selected and returns false.
inline const QString kIntegerMessage = QStringLiteral("整数を入力してください。");
inline const QString kUnsignedMessage = QStringLiteral("正の整数を入力してください。");
bool ReadIntField(QLineEdit *pEdit, int *pValue);
bool ReadUIntField(QLineEdit *pEdit, unsigned *pValue);
