#include "PageTestSupport.h"

#include "dialogs/CKeyboardDlg.h"

#include <QSlider>

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
            if (Ctl(pszName)->isChecked())
                return pszName;
        return {};
    }
};

TEST_F(KeyboardDlgTest, WhiteKeyButtonsShowAndWriteKeyDiv)
{
    const std::pair<int, const char *> shown[] = {
        {21, "whiteKeys21Radio"}, {25, "whiteKeys25Radio"}, {28, "whiteKeys28Radio"},
        {32, "whiteKeys32Radio"}, {24, "whiteKeys21Radio"}, {0, "whiteKeys21Radio"}};
    for (const auto &[nStored, pszShown] : shown) {
        g_DisplaySettings.KeyDiv = nStored;
        Open();
        EXPECT_EQ(CheckedWhiteKeyButton(), pszShown) << nStored;
        EXPECT_EQ(g_DisplaySettings.KeyDiv, nStored);
    }
    ExpectTextsFit(m_pDlg.get());
    // An unexpected 24 stays until a button is clicked, even the checked "21".
    g_DisplaySettings.KeyDiv = 24;
    Open();
    QTest::keyClick(KeyOnSlider(), Qt::Key_Right);
    EXPECT_EQ(g_DisplaySettings.KeyDiv, 24);
    const std::pair<const char *, int> clicks[] = {{"whiteKeys21Radio", 21},
                                                   {"whiteKeys32Radio", 32},
                                                   {"whiteKeys28Radio", 28},
                                                   {"whiteKeys25Radio", 25},
                                                   {"whiteKeys25Radio", 25}};
    for (const auto &[pszName, nKeyDiv] : clicks) {
        g_bSettingsChanged = 0;
        Click(pszName);
        EXPECT_EQ(g_DisplaySettings.KeyDiv, nKeyDiv) << pszName;
        EXPECT_EQ(g_bSettingsChanged, 1) << pszName;
    }
}

// Sliders write at once without the flag, and there is no undo: Cancel, Esc
// and the close box keep what was moved, like OK.
TEST_F(KeyboardDlgTest, SlidersWriteAtOnceAndEveryWayOutKeepsTheChanges)
{
    std::vector<std::function<void(QWidget *)>> closers(std::begin(kCancelWays),
                                                        std::end(kCancelWays));
    closers.push_back([](QWidget *p) { ::Click(p, "okButton"); });
    for (const auto &fnClose : closers) {
        ResetSettings();
        g_bSettingsChanged = 0;
        Open();
        EXPECT_EQ(std::pair(KeyOnSlider()->value(), KeyNumSlider()->value()), std::pair(-70, 5));
        EXPECT_EQ(Text("lowestLevelValueLabel"), QStringLiteral("-70 dB"));
        EXPECT_EQ(Text("keyCountValueLabel"), QStringLiteral("5"));
        QTest::keyClick(KeyOnSlider(), Qt::Key_Left);
        QTest::keyClick(KeyNumSlider(), Qt::Key_Home);
        EXPECT_EQ(Text("lowestLevelValueLabel"), QStringLiteral("-71 dB"));
        EXPECT_EQ(Text("keyCountValueLabel"), QStringLiteral("1"));
        EXPECT_EQ(g_bSettingsChanged, 0);
        Click("whiteKeys28Radio");
        fnClose(m_pDlg.get());
        EXPECT_FALSE(m_pDlg->isVisible());
        const DisplaySettings &ds = g_DisplaySettings;
        EXPECT_EQ(std::tuple(ds.KeyOn, ds.KeyNum, ds.KeyDiv), std::tuple(-71, 1, 28));
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
