#include "PageTestSupport.h"

#include "dialogs/CKeyboardDlg.h"

#include <functional>
#include <string>

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
    QSlider *KeyOnSlider() { return Ctl<QSlider>("lowestLevelSlider"); }
    QSlider *KeyNumSlider() { return Ctl<QSlider>("keyCountSlider"); }
    // The checked white-key button's name, empty for none.
    std::string CheckedWhiteKeyButton()
    {
        for (const char *pszName :
             {"whiteKeys21Radio", "whiteKeys25Radio", "whiteKeys28Radio", "whiteKeys32Radio"})
            if (Ctl<QAbstractButton>(pszName)->isChecked())
                return pszName;
        return {};
    }
};

TEST_F(KeyboardDlgTest, OpensWithTheDefaults)
{
    Open();
    EXPECT_EQ(m_pDlg->windowTitle(), QStringLiteral("キーボード設定"));
    EXPECT_EQ(m_pDlg->size(), QSize(366, 302));
    EXPECT_EQ(KeyOnSlider()->value(), -70);
    EXPECT_EQ(Text("lowestLevelValueLabel"), QStringLiteral("-70 dB"));
    EXPECT_EQ(KeyNumSlider()->value(), 5);
    EXPECT_EQ(Text("keyCountValueLabel"), QStringLiteral("5"));
    EXPECT_EQ(CheckedWhiteKeyButton(), "whiteKeys21Radio");
    ExpectTextsFit(m_pDlg.get());
}

TEST_F(KeyboardDlgTest, WhiteKeyButtonsShowAndWriteKeyDiv)
{
    const struct
    {
        int nStored;
        const char *pszShown;
    } shown[] = {{21, "whiteKeys21Radio"}, {25, "whiteKeys25Radio"}, {28, "whiteKeys28Radio"},
                 {32, "whiteKeys32Radio"}, {24, "whiteKeys21Radio"}, {0, "whiteKeys21Radio"}};
    for (const auto &c : shown) {
        g_DisplaySettings.KeyDiv = c.nStored;
        Open();
        EXPECT_EQ(CheckedWhiteKeyButton(), c.pszShown) << c.nStored;
        EXPECT_EQ(g_DisplaySettings.KeyDiv, c.nStored);
    }

    // An unexpected 24 stays until a button is clicked, even the checked "21".
    g_DisplaySettings.KeyDiv = 24;
    Open();
    QTest::keyClick(KeyOnSlider(), Qt::Key_Right);
    EXPECT_EQ(g_DisplaySettings.KeyDiv, 24);
    const struct
    {
        const char *pszName;
        int nKeyDiv;
    } clicks[] = {{"whiteKeys21Radio", 21},
                  {"whiteKeys32Radio", 32},
                  {"whiteKeys28Radio", 28},
                  {"whiteKeys25Radio", 25},
                  {"whiteKeys25Radio", 25}};
    for (const auto &c : clicks) {
        g_bSettingsChanged = 0;
        Click(c.pszName);
        EXPECT_EQ(g_DisplaySettings.KeyDiv, c.nKeyDiv) << c.pszName;
        EXPECT_EQ(g_bSettingsChanged, 1) << c.pszName;
    }
}

// Sliders write at once without the flag, and there is no undo: Cancel, Esc
// and the close box keep what was moved, like OK.
TEST_F(KeyboardDlgTest, SlidersWriteAtOnceAndEveryWayOutKeepsTheChanges)
{
    const std::function<void(CKeyboardDlg *)> closers[] = {
        [](CKeyboardDlg *p) { ::Click(p, "okButton"); },
        [](CKeyboardDlg *p) { ::Click(p, "cancelButton"); },
        [](CKeyboardDlg *p) { QTest::keyClick(p, Qt::Key_Escape); },
        [](CKeyboardDlg *p) { p->close(); },
    };
    for (const auto &fnClose : closers) {
        ResetSettings();
        g_bSettingsChanged = 0;
        Open();
        QTest::keyClick(KeyOnSlider(), Qt::Key_Left);
        QTest::keyClick(KeyNumSlider(), Qt::Key_Home);
        EXPECT_EQ(Text("lowestLevelValueLabel"), QStringLiteral("-71 dB"));
        EXPECT_EQ(Text("keyCountValueLabel"), QStringLiteral("1"));
        EXPECT_EQ(g_bSettingsChanged, 0);
        Click("whiteKeys28Radio");
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
    EXPECT_EQ(Text("lowestLevelValueLabel"), QStringLiteral("15 dB"));
    EXPECT_EQ(Text("keyCountValueLabel"), QStringLiteral("20"));
    QTest::keyClick(KeyNumSlider(), Qt::Key_Left);
    EXPECT_EQ(g_DisplaySettings.KeyNum, 7);
    EXPECT_EQ(g_DisplaySettings.KeyOn, 15);
}

} // namespace
