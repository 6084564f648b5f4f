#include "dialogs/PageSupport.h"

#include "display/DisplayFont.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>

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
        // The Windows chooser offers the text colour among its effects; Qt's
        // does not, so the effects box of Qt's own (non-native) chooser gets
        // a colour button, and the sample shows the text in that colour.
        QFontDialog dialog(initial.font, pParent);
        dialog.setOption(QFontDialog::DontUseNativeDialog);
        QColor color = initial.color.isValid() ? initial.color : QColor(Qt::black);
        QGroupBox *pEffects = nullptr;
        QLineEdit *pSample = nullptr;
        for (QGroupBox *pBox : dialog.findChildren<QGroupBox *>()) {
            if (!pBox->findChildren<QCheckBox *>().isEmpty())
                pEffects = pBox;
            else if (QLineEdit *pEdit = pBox->findChild<QLineEdit *>())
                pSample = pEdit;
        }
        auto *pColorButton = new QPushButton(&dialog); // owned by the dialog
        pColorButton->setObjectName(QStringLiteral("fontColorButton"));
        pColorButton->setToolTip(QStringLiteral("文字の色"));
        const auto showColor = [&color, pColorButton, pSample] {
            QPixmap swatch(28, 14);
            swatch.fill(color);
            pColorButton->setIcon(QIcon(swatch));
            pColorButton->setIconSize(swatch.size());
            if (pSample) {
                QPalette palette = pSample->palette();
                palette.setColor(QPalette::Text, color);
                pSample->setPalette(palette);
            }
        };
        showColor();
        QObject::connect(pColorButton, &QPushButton::clicked, &dialog, [&] {
            if (const std::optional<QColor> chosen = Choosers().chooseColor(color, &dialog)) {
                color = *chosen;
                showColor();
            }
        });
        auto *pRow = new QHBoxLayout;
        auto *pLabel = new QLabel(QStringLiteral("色(&C):"), &dialog); // owned by the dialog
        pLabel->setBuddy(pColorButton);
        pRow->addWidget(pLabel);
        pRow->addWidget(pColorButton);
        pRow->addStretch();
        if (auto *pBox = pEffects ? qobject_cast<QBoxLayout *>(pEffects->layout()) : nullptr)
            pBox->addLayout(pRow);
        else if (auto *pGrid = qobject_cast<QGridLayout *>(dialog.layout()))
            pGrid->addLayout(pRow, pGrid->rowCount(), 0, 1, pGrid->columnCount());
        else {
            // A chooser of another shape: the colour stays as preset.
            delete pRow;
            pLabel->hide();
            pColorButton->hide();
        }
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return FontChoice{dialog.selectedFont(), color};
    };
    choosers.showMessage = [](QWidget *pParent, const QString &strText) {
        QMessageBox::warning(pParent, kMessageTitle, strText);
    };
    return choosers;
}

template <typename T> bool ReadNumberField(QLineEdit *pEdit, T *pValue, bool bSigned)
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

QColor ColorFromRef(std::int32_t nColor)
{
    const auto dwColor = static_cast<std::uint32_t>(nColor);
    return QColor(int(dwColor & 0xFF), int((dwColor >> 8) & 0xFF), int((dwColor >> 16) & 0xFF));
}

std::int32_t RefFromColor(const QColor &color)
{
    return std::int32_t(color.red() | (color.green() << 8) | (color.blue() << 16));
}

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
