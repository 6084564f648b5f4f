#include "PageTestSupport.h"

#include "dialogs/CFreqRangeDlg.h"

#include <QLineEdit>

namespace {

class FreqRangeDlgTest : public PageTest<CFreqRangeDlg>
{
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        Choosers().showMessage = [this](QWidget *, const QString &strText) {
            m_strMessages << strText;
        };
    }
    // What the opener does: the copies first, then the run.
    void Open(int nType, int nFdiv, int nFrange = 1)
    {
        g_DisplaySettings.Type = nType;
        m_pDlg = std::make_unique<CFreqRangeDlg>(g_DisplaySettings);
        m_pDlg->m_nDivision = static_cast<unsigned>(nFdiv);
        m_pDlg->m_nRange = nFrange;
        m_pDlg->show();
    }
    QLineEdit *Edit() { return Ctl<QLineEdit>("bandCountEdit"); }
    QString Shown() { return Edit()->text(); }
    void Type(const QString &strText)
    {
        Edit()->selectAll();
        QTest::keyClick(Edit(), Qt::Key_Backspace);
        QTest::keyClicks(Edit(), strText);
    }
    void ClickSpin(bool bUp, int nTimes)
    {
        QWidget *pSpin = Ctl<QWidget>("bandCountSpin");
        const QPoint pt(pSpin->width() / 2, bUp ? pSpin->height() / 4 : pSpin->height() * 3 / 4);
        for (int i = 0; i < nTimes; ++i)
            QTest::mouseClick(pSpin->childAt(pt), Qt::LeftButton);
    }

    QStringList m_strMessages;
};

TEST_F(FreqRangeDlgTest, OpensWithTheCopiesCancelDropsChangesEnterTakesThem)
{
    for (bool bOk : {false, true}) {
        Open(0, 16, 2);
        EXPECT_EQ(Shown(), QStringLiteral("16"));
        EXPECT_TRUE(Ctl("range20kRadio")->isChecked());
        ExpectTextsFit(m_pDlg.get());
        Click("range5kRadio");
        Type(QStringLiteral("30"));
        if (bOk)
            QTest::keyClick(Edit(), Qt::Key_Return); // OK is the default button
        else
            Click("cancelButton");
        EXPECT_EQ(m_pDlg->result(), bOk ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(m_pDlg->m_nDivision, bOk ? 30u : 16u);
        EXPECT_EQ(m_pDlg->m_nRange, bOk ? 0 : 2);
        EXPECT_EQ(g_bSettingsChanged, 0);
    }
}

// The count's range, 1..80 for mono and keyboard and 1..40 for the stereo
// types, bounds the spin arrows and the count OK takes.
TEST_F(FreqRangeDlgTest, RangeDependsOnTheType)
{
    const std::pair<int, unsigned> cases[] = {{0, 80}, {1, 40}, {2, 40}, {3, 40}, {4, 80}};
    for (const auto &[nType, nMax] : cases) {
        SCOPED_TRACE(nType);
        Open(nType, 2);
        ClickSpin(false, 3);
        EXPECT_EQ(Shown(), QStringLiteral("1"));
        Type(QString::number(nMax - 1));
        ClickSpin(true, 3);
        EXPECT_EQ(Shown(), QString::number(nMax));
        Type(QStringLiteral("100"));
        Click("okButton");
        EXPECT_EQ(m_pDlg->result(), QDialog::Accepted);
        EXPECT_EQ(m_pDlg->m_nDivision, nMax);
        EXPECT_EQ(Shown(), QString::number(nMax));
    }
}

TEST_F(FreqRangeDlgTest, StoredCountsOutsideTheRangeAtOpeningAndOk)
{
    const struct
    {
        int nType, nFdiv;
        const char *pszShown;
        unsigned nStored;
    } cases[] = {
        {1, 64, "40", 40}, // above the maximum: corrected and shown at once
        {0, 64, "64", 64},
        {0, 0, "0", 1},    // below 1: counted as 1, shown only after OK
        {0, -5, "80", 80}, // a negative store reads as a huge count
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.nFdiv);
        Open(c.nType, c.nFdiv);
        EXPECT_EQ(Shown(), QString::fromLatin1(c.pszShown));
        Click("okButton");
        EXPECT_EQ(m_pDlg->result(), QDialog::Accepted);
        EXPECT_EQ(m_pDlg->m_nDivision, c.nStored);
        EXPECT_EQ(Shown(), QString::number(c.nStored));
    }
}

TEST_F(FreqRangeDlgTest, TextThatIsNoUnsignedNumberKeepsTheDialogOpen)
{
    for (const char *pszText : {"abc", "-5", "", "12a", "4294967296"}) {
        SCOPED_TRACE(testing::Message() << '"' << pszText << '"');
        m_strMessages.clear();
        Open(0, 16);
        Type(QString::fromLatin1(pszText));
        Click("okButton");
        EXPECT_EQ(m_strMessages, QStringList{QStringLiteral("正の整数を入力してください。")});
        EXPECT_TRUE(m_pDlg->isVisible());
        EXPECT_EQ(m_pDlg->focusWidget(), Edit());
        EXPECT_EQ(Edit()->selectedText(), QString::fromLatin1(pszText));
        EXPECT_EQ(m_pDlg->m_nDivision, 16u);
    }
}

// The arrows step from the number in the edit box when it is one in range,
// and from their own last position otherwise.
TEST_F(FreqRangeDlgTest, ArrowsStepTheNumberInTheEditBox)
{
    Open(0, 16);
    QTest::keyClick(Edit(), Qt::Key_Up);
    EXPECT_EQ(Shown(), QStringLiteral("17"));
    Type(QStringLiteral("xyz"));
    QTest::keyClick(Edit(), Qt::Key_Up);
    EXPECT_EQ(Shown(), QStringLiteral("18"));
    Type(QStringLiteral("500"));
    ClickSpin(false, 1);
    EXPECT_EQ(Shown(), QStringLiteral("17"));
}

} // namespace
