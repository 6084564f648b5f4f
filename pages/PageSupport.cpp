#include "pages/PageSupport.h"

#include "display/DisplayFont.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFontDialog>
#include <QLineEdit>
#include <QMessageBox>

#include <limits>

namespace {

PageChoosers DefaultChoosers()
{
    PageChoosers choosers;
    choosers.chooseColor = [](const QColor &initial, QWidget *pParent) -> std::optional<QColor> {
        const QColor color = QColorDialog::getColor(initial, pParent);
        if (!color.isValid())
            return std::nullopt;
        return color;
    };
    choosers.chooseOpenFile = [](const QString &strPreset, const QString &strDirectory,
                                 QWidget *pParent) -> std::optional<QString> {
        QFileDialog dialog(pParent);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setDefaultSuffix(QStringLiteral("bmp"));
        dialog.setNameFilter(QStringLiteral("bitMap(*.bmp)"));
        if (!strDirectory.isEmpty())
            dialog.setDirectory(strDirectory);
        if (!strPreset.isEmpty())
            dialog.selectFile(strPreset);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    };
    choosers.chooseFont = [](const FontChoice &initial,
                             QWidget *pParent) -> std::optional<FontChoice> {
        bool bOk = false;
        const QFont font = QFontDialog::getFont(&bOk, initial.font, pParent);
        if (!bOk)
            return std::nullopt;
        return FontChoice{font, initial.color};
    };
    choosers.showMessage = [](QWidget *pParent, const QString &strText) {
        QMessageBox::warning(pParent, QString(), strText);
    };
    return choosers;
}

template <typename T>
bool ReadNumberField(QLineEdit *pEdit, T *pValue, bool bSigned)
{
    const QString strText = pEdit->text().trimmed();
    bool bOk = !strText.isEmpty() && (bSigned || strText.front().isDigit());
    long long nValue = 0;
    if (bOk)
        nValue = strText.toLongLong(&bOk);
    if (bOk && (nValue < std::numeric_limits<T>::min() || nValue > std::numeric_limits<T>::max()))
        bOk = false;
    if (!bOk) {
        Choosers().showMessage(pEdit->window(), bSigned ? kIntegerMessage : kUnsignedMessage);
        pEdit->setFocus(Qt::OtherFocusReason);
        pEdit->selectAll();
        return false;
    }
    *pValue = static_cast<T>(nValue);
    return true;
}

} // namespace

void ApplyPageFont(QWidget *pDialog)
{
    QFont font = pDialog->font();
    const QString strFamily = InstalledJapaneseFamily(QStringLiteral("ＭＳ Ｐゴシック"));
    if (!strFamily.isEmpty())
        font.setFamily(strFamily);
    font.setPointSize(9);
    pDialog->setFont(font);
}

PageChoosers &Choosers()
{
    static PageChoosers choosers = DefaultChoosers();
    return choosers;
}

void ResetPageChoosers()
{
    Choosers() = DefaultChoosers();
}

bool ReadIntField(QLineEdit *pEdit, int *pValue)
{
    return ReadNumberField(pEdit, pValue, true);
}

bool ReadUIntField(QLineEdit *pEdit, unsigned *pValue)
{
    return ReadNumberField(pEdit, pValue, false);
}
