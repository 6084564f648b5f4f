#include "PageTestSupport.h"

#include "dialogs/CKeyboardDlg.h"

#include <functional>

namespace {

class KeyboardDlgTest : public PageTest<CKeyboardDlg>
{
protected:
    void Open()
    {
        DisplaySettings &ds = g_DisplaySettings;
        m_pDlg = std::make_unique<CKeyboardDlg>(ds.KeyDiv, ds.KeyNum, ds.KeyOn);
        m_pDlg->show();
    }
    QSlider *KeyOnSlider() { return Ctl<QSlider>(1009); }
    QSlider *KeyNumSlider() { return Ctl<QSlider>(1010); }
    int CheckedWhiteKeyButton()
    {
        for (int nId : {1047, 1048, 1049, 1050})
            if (Ctl<QAbstractButton>(nId)->isChecked())
                return nId;
        return 0;
    }
};

TEST_F(KeyboardDlgTest, OpensWithTheDefaults)
{
    Open();
    EXPECT_EQ(m_pDlg->windowTitle(), QStringLiteral("キーボード設定"));
    EXPECT_EQ(m_pDlg->size(), QSize(366, 302));
    EXPECT_EQ(KeyOnSlider()->value(), -70);
    EXPECT_EQ(Text(1011), QStringLiteral("-70 dB"));
    EXPECT_EQ(KeyNumSlider()->value(), 5);
    EXPECT_EQ(Text(1012), QStringLiteral("5"));
    EXPECT_EQ(CheckedWhiteKeyButton(), 1047);
    ExpectTextsFit(m_pDlg.get());
}

TEST_F(KeyboardDlgTest, WhiteKeyButtonsShowAndWriteKeyDiv)
{
    const struct
    {
        int nStored, nShownId;
    } shown[] = {{21, 1047}, {25, 1048}, {28, 1049}, {32, 1050}, {24, 1047}, {0, 1047}};
    for (const auto &c : shown) {
        g_DisplaySettings.KeyDiv = c.nStored;
        Open();
        EXPECT_EQ(CheckedWhiteKeyButton(), c.nShownId) << c.nStored;
        EXPECT_EQ(g_DisplaySettings.KeyDiv, c.nStored);
    }

    // An unexpected 24 stays until a button is clicked, even the checked "21".
    g_DisplaySettings.KeyDiv = 24;
    Open();
    QTest::keyClick(KeyOnSlider(), Qt::Key_Right);
    EXPECT_EQ(g_DisplaySettings.KeyDiv, 24);
    const struct
    {
        int nId, nKeyDiv;
    } clicks[] = {{1047, 21}, {1050, 32}, {1049, 28}, {1048, 25}, {1048, 25}};
    for (const auto &c : clicks) {
        g_bSettingsChanged = 0;
        Click(c.nId);
        EXPECT_EQ(g_DisplaySettings.KeyDiv, c.nKeyDiv) << c.nId;
        EXPECT_EQ(g_bSettingsChanged, 1) << c.nId;
    }
}

// Sliders write at once without the flag, and there is no undo: Cancel, Esc
// and the close box keep what was moved, like OK.
TEST_F(KeyboardDlgTest, SlidersWriteAtOnceAndEveryWayOutKeepsTheChanges)
{
    const std::function<void(CKeyboardDlg *)> closers[] = {
        [](CKeyboardDlg *p) { ::Click(p, 1); },
        [](CKeyboardDlg *p) { ::Click(p, 2); },
        [](CKeyboardDlg *p) { QTest::keyClick(p, Qt::Key_Escape); },
        [](CKeyboardDlg *p) { p->close(); },
    };
    for (const auto &fnClose : closers) {
        ResetSettings();
        g_bSettingsChanged = 0;
        Open();
        QTest::keyClick(KeyOnSlider(), Qt::Key_Left);
        QTest::keyClick(KeyNumSlider(), Qt::Key_Home);
        EXPECT_EQ(Text(1011), QStringLiteral("-71 dB"));
        EXPECT_EQ(Text(1012), QStringLiteral("1"));
        EXPECT_EQ(g_bSettingsChanged, 0);
        Click(1049);
        fnClose(m_pDlg.get());
        EXPECT_FALSE(m_pDlg->isVisible());
        EXPECT_EQ(g_DisplaySettings.KeyOn, -71);
        EXPECT_EQ(g_DisplaySettings.KeyNum, 1);
        EXPECT_EQ(g_DisplaySettings.KeyDiv, 28);
    }
}

TEST_F(KeyboardDlgTest, StoredValuesOutsideTheSlidersStayUntilMoved)
{
    g_DisplaySettings.KeyOn = 15;
    g_DisplaySettings.KeyNum = 20;
    Open();
    EXPECT_EQ(KeyOnSlider()->value(), 0);
    EXPECT_EQ(KeyNumSlider()->value(), 8);
    EXPECT_EQ(Text(1011), QStringLiteral("15 dB"));
    EXPECT_EQ(Text(1012), QStringLiteral("20"));
    QTest::keyClick(KeyNumSlider(), Qt::Key_Left);
    EXPECT_EQ(g_DisplaySettings.KeyNum, 7);
    EXPECT_EQ(g_DisplaySettings.KeyOn, 15);
}

} // namespace
