#pragma once

#include "settings/Settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

// Helpers shared by the settings-page tests.

// The control of that object name on a page.
template <typename T = QWidget> T *Control(QWidget *pDialog, const char *pszName)
{
    T *pControl = pDialog->findChild<T *>(QString::fromLatin1(pszName));
    EXPECT_NE(pControl, nullptr) << pszName;
    return pControl;
}

inline void Click(QWidget *pDialog, const char *pszName)
{
    QTest::mouseClick(Control<QAbstractButton>(pDialog, pszName), Qt::LeftButton);
}

// One page under test in m_pDlg, with the default settings and the flag down
// around every test.
template <typename Dlg> class PageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetSettings();
        g_bSettingsChanged = 0;
    }
    void TearDown() override
    {
        m_pDlg.reset();
        ResetSettings();
        g_bSettingsChanged = 0;
    }

    template <typename T = QWidget> T *Ctl(const char *pszName)
    {
        return Control<T>(m_pDlg.get(), pszName);
    }
    QString Text(const char *pszName) { return Ctl<QLabel>(pszName)->text(); }
    void Click(const char *pszName) { ::Click(m_pDlg.get(), pszName); }

    std::unique_ptr<Dlg> m_pDlg;
};

// Every label, button and group title shows its whole text in the place the
// form gives it.
inline void ExpectTextsFit(QWidget *pDialog)
{
    for (QLabel *pLabel : pDialog->findChildren<QLabel *>())
        EXPECT_LE(pLabel->sizeHint().width(), pLabel->width()) << pLabel->text().toStdString();
    for (QAbstractButton *pButton : pDialog->findChildren<QAbstractButton *>()) {
        if (pButton->text().isEmpty())
            continue;
        // Radio buttons need their indicator beside the text as well.
        const int nNeeded = pButton->isCheckable()
                                ? pButton->sizeHint().width()
                                : pButton->fontMetrics().horizontalAdvance(pButton->text());
        EXPECT_LE(nNeeded, pButton->width()) << pButton->text().toStdString();
    }
    for (QGroupBox *pGroup : pDialog->findChildren<QGroupBox *>())
        EXPECT_LE(pGroup->fontMetrics().horizontalAdvance(pGroup->title()), pGroup->width())
            << pGroup->title().toStdString();
}

// Presses the left button on the slider's thumb and moves the mouse to the
// far end (bToMax) or the near end of the slider, without releasing it.
inline void DragThumbToEnd(QSlider *pSlider, bool bToMax)
{
    QStyleOptionSlider opt;
    opt.initFrom(pSlider);
    opt.subControls = QStyle::SC_All;
    opt.orientation = pSlider->orientation();
    opt.minimum = pSlider->minimum();
    opt.maximum = pSlider->maximum();
    opt.sliderPosition = pSlider->sliderPosition();
    opt.sliderValue = pSlider->value();
    opt.tickPosition = pSlider->tickPosition();
    opt.tickInterval = pSlider->tickInterval();
    const QRect rcThumb =
        pSlider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, pSlider);
    const QPoint ptStart = rcThumb.center();
    QTest::mousePress(pSlider, Qt::LeftButton, Qt::NoModifier, ptStart);
    // Two steps, so the thumb passes through the inside of the range first.
    const int nEnd = bToMax ? pSlider->width() - 1 : 0;
    QTest::mouseMove(pSlider, QPoint((ptStart.x() + nEnd) / 2, ptStart.y()));
    QTest::mouseMove(pSlider, QPoint(nEnd, ptStart.y()));
}

inline void ReleaseThumb(QSlider *pSlider)
{
    QTest::mouseRelease(pSlider, Qt::LeftButton, Qt::NoModifier,
                        QPoint(pSlider->width() / 2, pSlider->height() / 2));
}
