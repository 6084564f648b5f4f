#include "dialogs/CommonControls.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>

#include <algorithm>

void SetUpTrackbar(QSlider *pSlider, int nMin, int nMax, int nTickFreq, int nPos)
{
    const QSignalBlocker blocker(pSlider);
    pSlider->setOrientation(Qt::Horizontal);
    pSlider->setTickPosition(QSlider::TicksAbove);
    pSlider->setRange(nMin, nMax);
    pSlider->setTickInterval(nTickFreq);
    pSlider->setSingleStep(1);
    pSlider->setPageStep(std::max(1, (nMax - nMin) / 5));
    pSlider->setValue(nPos);
}

void SetTrackbarPos(QSlider *pSlider, int nPos)
{
    const QSignalBlocker blocker(pSlider);
    pSlider->setValue(nPos);
}

CSpinButtonCtrl::CSpinButtonCtrl(QWidget *pParent)
    : QWidget(pParent), m_pUp(new QToolButton(this)), m_pDown(new QToolButton(this))
{
    m_pUp->setArrowType(Qt::UpArrow);
    m_pDown->setArrowType(Qt::DownArrow);
    for (QToolButton *pButton : {m_pUp, m_pDown}) {
        pButton->setAutoRepeat(true);
        // The platform's arrows never take the focus from the buddy.
        pButton->setFocusPolicy(Qt::NoFocus);
    }
    connect(m_pUp, &QToolButton::clicked, this, [this] { Step(1); });
    connect(m_pDown, &QToolButton::clicked, this, [this] { Step(-1); });
}

void CSpinButtonCtrl::SetBuddy(QLineEdit *pBuddy)
{
    if (m_pBuddy)
        m_pBuddy->removeEventFilter(this);
    m_pBuddy = pBuddy;
    if (m_pBuddy)
        m_pBuddy->installEventFilter(this);
}

void CSpinButtonCtrl::SetRange(int nLower, int nUpper)
{
    m_nLower = nLower;
    m_nUpper = nUpper;
}

void CSpinButtonCtrl::Step(int nDirection)
{
    if (m_pBuddy) {
        bool bOk = false;
        const int nValue = m_pBuddy->text().trimmed().toInt(&bOk);
        if (bOk && nValue >= m_nLower && nValue <= m_nUpper)
            m_nPos = nValue;
    }
    // A position outside the range (the buddy was never in it) steps from
    // there towards the range and stops at its near end.
    m_nPos = std::clamp(m_nPos + nDirection, m_nLower, m_nUpper);
    if (m_pBuddy)
        m_pBuddy->setText(QString::number(m_nPos));
}

bool CSpinButtonCtrl::eventFilter(QObject *pWatched, QEvent *pEvent)
{
    if (pWatched == m_pBuddy && pEvent->type() == QEvent::KeyPress) {
        const int nKey = static_cast<QKeyEvent *>(pEvent)->key();
        if (nKey == Qt::Key_Up || nKey == Qt::Key_Down) {
            Step(nKey == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(pWatched, pEvent);
}

void CSpinButtonCtrl::resizeEvent(QResizeEvent *pEvent)
{
    QWidget::resizeEvent(pEvent);
    const int nUpper = height() / 2;
    m_pUp->setGeometry(0, 0, width(), nUpper);
    m_pDown->setGeometry(0, nUpper, width(), height() - nUpper);
}
