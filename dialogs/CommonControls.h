#pragma once

#include <QWidget>

class QLineEdit;
class QSlider;
class QToolButton;

// The two common controls of the settings pages that Qt has no exact match
// for: the trackbar (a QSlider set up to behave like one) and the up-down
// control that steps the whole number in the edit box beside it.

// A horizontal slider as a trackbar with ticks above: range nMin..nMax, a tick
// every nTickFreq, the trackbar's own steps (1 per arrow key, a fifth of the
// range per page, at least 1) and the thumb at nPos, pulled into the range.
// Sets everything without notifying, as the trackbar's own set-up messages do;
// only a later move reports through valueChanged.
void SetUpTrackbar(QSlider *pSlider, int nMin, int nMax, int nTickFreq, int nPos);

// Moves the thumb without notifying, as the trackbar's set-position message
// does: a handler that pulls one slider back or pushes the other one along
// must not run again for its own move.
void SetTrackbarPos(QSlider *pSlider, int nPos);

// Makes every radio-button group on pDialog follow the desktop's keyboard
// convention, which Qt's own groups do not: Tab and Shift+Tab enter a group
// at its checked button (the first enabled one when none is checked), and an
// arrow key moves within the group as Qt's exclusive groups move (no
// wrapping) and checks the button it moves to. A group is a QButtonGroup, or
// the auto-exclusive radio buttons of one parent. Takes effect when the
// dialog is first shown; call once, in the dialog's constructor.
void FollowRadioGroupKeys(QWidget *pDialog);

// An up-down control bound to a buddy edit box, in the style that sets the
// buddy's integer: each arrow (a button, or the Up/Down key in the buddy)
// first takes the buddy's text as the position when it is a whole number
// within the range, otherwise keeps its own position, then steps one within
// the range without wrapping and writes the new position into the buddy. It
// never reads the buddy otherwise, so the buddy may hold any text.
class CSpinButtonCtrl : public QWidget
{
    Q_OBJECT

public:
    explicit CSpinButtonCtrl(QWidget *pParent = nullptr);

    void SetBuddy(QLineEdit *pBuddy);
    // nLower <= nUpper. The position is left as it is until the next step.
    void SetRange(int nLower, int nUpper);
    int GetPos() const { return m_nPos; }

    // One arrow: +1 for up, -1 for down.
    void Step(int nDirection);

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override;
    void resizeEvent(QResizeEvent *pEvent) override;

private:
    QToolButton *m_pUp;            // owned by this control
    QToolButton *m_pDown;          // owned by this control
    QLineEdit *m_pBuddy = nullptr; // a sibling, owned by the dialog
    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nPos = 0;
};
