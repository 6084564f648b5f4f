#include "dialogs/CommonControls.h"

#include <QApplication>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>

#include <algorithm>

namespace {

// The buttons pButton is exclusive with, itself included, in their order.
QList<QAbstractButton *> GroupOf(QAbstractButton *pButton)
{
    if (QButtonGroup *pGroup = pButton->group())
        return pGroup->buttons();
    QWidget *pParent = pButton->parentWidget();
    if (!pButton->autoExclusive() || !pParent)
        return {pButton};
    QList<QAbstractButton *> buttons;
    for (QAbstractButton *p :
         pParent->findChildren<QAbstractButton *>(Qt::FindDirectChildrenOnly)) {
        if (p->autoExclusive() && !p->group() && p->isCheckable())
            buttons.append(p);
    }
    return buttons;
}

// Leaves the Tab stop of a group on its checked button only (or on the first
// enabled one when none is checked), so that Tab and Shift+Tab land there.
void SetGroupTabStop(const QList<QAbstractButton *> &group)
{
    QAbstractButton *pStop = nullptr;
    for (QAbstractButton *p : group) {
        if (p->isChecked() && p->isEnabled())
            pStop = p;
    }
    for (auto it = group.begin(); !pStop && it != group.end(); ++it) {
        if ((*it)->isEnabled())
            pStop = *it;
    }
    for (QAbstractButton *p : group) {
        const int nPolicy =
            p == pStop ? (p->focusPolicy() | Qt::TabFocus) : (p->focusPolicy() & ~Qt::TabFocus);
        p->setFocusPolicy(Qt::FocusPolicy(nPolicy));
    }
}

bool IsArrowKey(int nKey)
{
    return nKey == Qt::Key_Up || nKey == Qt::Key_Down || nKey == Qt::Key_Left ||
           nKey == Qt::Key_Right;
}

class CRadioGroupKeys final : public QObject
{
public:
    explicit CRadioGroupKeys(QWidget *pDialog) : QObject(pDialog), m_pDialog(pDialog)
    {
        pDialog->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override
    {
        if (pWatched == m_pDialog) {
            if (pEvent->type() == QEvent::Show)
                Attach();
            return false;
        }
        auto *pButton = qobject_cast<QRadioButton *>(pWatched);
        if (!pButton)
            return false;
        if (pEvent->type() == QEvent::FocusOut) {
            // Qt moves a group's Tab stop to the button that last had the focus.
            SetGroupTabStop(GroupOf(pButton));
        } else if (pEvent->type() == QEvent::KeyPress && !m_bForwarding &&
                   IsArrowKey(static_cast<QKeyEvent *>(pEvent)->key())) {
            // Qt moves the focus (and passes the event on when it cannot);
            // Qt checks the button it moved to only when the one it left was
            // checked, the convention always does.
            {
                const QScopedValueRollback forwarding(m_bForwarding, true);
                QCoreApplication::sendEvent(pButton, pEvent);
            }
            auto *pTarget = qobject_cast<QAbstractButton *>(QApplication::focusWidget());
            if (pTarget && pTarget != pButton && !pTarget->isChecked() &&
                GroupOf(pButton).contains(pTarget))
                pTarget->click();
            // Handled, including its passing on, by the forwarded event.
            pEvent->accept();
            return true;
        }
        return false;
    }

private:
    void Attach()
    {
        for (QRadioButton *pButton : m_pDialog->findChildren<QRadioButton *>()) {
            if (!m_bAttached) {
                pButton->installEventFilter(this);
                connect(pButton, &QAbstractButton::toggled, this,
                        [pButton] { SetGroupTabStop(GroupOf(pButton)); });
            }
            SetGroupTabStop(GroupOf(pButton));
        }
        m_bAttached = true;
    }

    QWidget *m_pDialog; // the parent
    bool m_bAttached = false;
    bool m_bForwarding = false;
};

} // namespace

void FollowRadioGroupKeys(QWidget *pDialog)
{
    new CRadioGroupKeys(pDialog); // owned by the dialog
}

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
