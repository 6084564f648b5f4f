#include "PageTestSupport.h"

#include "dialogs/CFreqRangeDlg.h"

#include <QLineEdit>

namespace {

struct FreqRangeDlgTest : PageTest<CFreqRangeDlg>
{
    void Open(int nType, int nFdiv, int nFrange = 1)
    {
        g_DisplaySettings.Type = nType;
        m_pDlg = std::make_unique<CFreqRangeDlg>(g_DisplaySettings);
        std::tie(m_pDlg->m_nDivision, m_pDlg->m_nRange) = std::tuple(unsigned(nFdiv), nFrange);
        m_pDlg->show();
    }
    QLineEdit *Edit() { return Ctl<QLineEdit>("bandCountEdit"); }
    QString TypeAnd(const QString &strText, Qt::Key key)
    {
        Edit()->clear();
        QTest::keyClicks(Edit(), strText);
        QTest::keyClick(Edit(), key);
        return Edit()->text();
    }
};

// 1..80 bands, 1..40 for stereo, at opening, on the arrows and on OK; non-numbers keep it open.
TEST_F(FreqRangeDlgTest, CountsAreHeldToTheTypesRange)
{
    // clang-format off
    const struct { int nType, nFdiv; const char *pszTyped, *pszShown; unsigned nStored; } cases[] = {
        {0, 2, "100", "2", 80}, {1, 2, "100", "2", 40}, {2, 2, "100", "2", 40}, {3, 2, "100", "2", 40},
        {4, 2, "100", "2", 80}, {1, 64, "", "40", 40}, {0, 64, "", "64", 64}, {0, 0, "", "0", 1},
        {0, -5, "", "80", 80}, {0, 16, "abc", "16", 0}, {0, 16, "-5", "16", 0}, {0, 16, "12a", "16", 0},
        {0, 16, "4294967296", "16", 0}, {0, 16, "", "16", 0}};
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.nType << " " << c.nFdiv << " " << c.pszTyped);
        QStringList messages;
        Choosers().showMessage = [&messages](QWidget *, const QString &str) { messages << str; };
        Open(c.nType, c.nFdiv);
        EXPECT_EQ(Edit()->text(), QString::fromLatin1(c.pszShown));
        const QString strMost = QString::number(c.nStored); // the Up arrow stops at the end
        EXPECT_TRUE(c.nFdiv != 2 || TypeAnd(strMost, Qt::Key_Up) == strMost);
        const QString strTyped = QString::fromLatin1(c.pszTyped);
        if (*c.pszTyped || c.nStored == 0)
            TypeAnd(strTyped, Qt::Key_End);
        Click("okButton");
        EXPECT_EQ(messages,
                  QStringList(!c.nStored, QStringLiteral("正の整数を入力してください。")));
        EXPECT_EQ(std::tuple(m_pDlg->isVisible(), m_pDlg->m_nDivision, Edit()->text()),
                  !c.nStored ? std::tuple(true, 16u, strTyped)
                             : std::tuple(false, c.nStored, QString::number(c.nStored)));
    }
}

} // namespace
