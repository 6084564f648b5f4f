#include "PageTestSupport.h"

#include "dialogs/CKeyboardDlg.h"

#include <QSlider>

namespace {

DisplaySettings &ds = g_DisplaySettings;

class KeyboardDlgTest : public PageTest<CKeyboardDlg>
{
protected:
    void Open()
    {
        (m_pDlg = std::make_unique<CKeyboardDlg>(ds.KeyDiv, ds.KeyNum, ds.KeyOn))->show();
    }
    QAbstractButton *White(int n) { return Ctl(("whiteKeys" + QByteArray::number(n) + "Radio")); }
    QSlider *KeyOn() { return Ctl<QSlider>("lowestLevelSlider"); }
    QSlider *KeyNum() { return Ctl<QSlider>("keyCountSlider"); }
    static auto Keys() { return std::tuple(ds.KeyOn, ds.KeyNum, ds.KeyDiv); }
    auto Shown() { return std::pair(Text("lowestLevelValueLabel"), Text("keyCountValueLabel")); }
};

// Stored values no control stands for stay until their control moves.
TEST_F(KeyboardDlgTest, StoredValuesShowAndStayUntilTheirControlMoves)
{
    std::tie(ds.KeyOn, ds.KeyNum) = std::tuple(15, 20);
    const std::pair<int, int> shown[] = {{21, 21}, {25, 25}, {28, 28}, {32, 32}, {0, 21}, {24, 21}};
    for (const auto &[nStored, nChecked] : shown) {
        ds.KeyDiv = nStored;
        Open();
        for (const int n : {21, 25, 28, 32})
            EXPECT_EQ(White(n)->isChecked(), n == nChecked) << nStored << " " << n;
    }
    EXPECT_EQ(std::pair(KeyOn()->value(), KeyNum()->value()), std::pair(0, 8));
    EXPECT_EQ(Shown(), std::pair(QStringLiteral("15 dB"), QStringLiteral("20")));
    QTest::keyClick(KeyNum(), Qt::Key_Left);
    EXPECT_EQ(Keys(), std::tuple(15, 7, 24));
    for (const int n : {21, 32, 28, 25, 25}) { // even the checked one; each raises the flag
        g_bSettingsChanged = 0;
        White(n)->click();
        EXPECT_EQ(std::pair(ds.KeyDiv, g_bSettingsChanged), std::pair(n, 1)) << n;
    }
}

// Sliders write at once without the flag; no undo: every way out keeps the changes.
TEST_F(KeyboardDlgTest, SlidersWriteAtOnceAndEveryWayOutKeepsTheChanges)
{
    for (int nWay = 0; nWay < 4; ++nWay) { // Cancel, Esc, the close box, OK
        TearDown();                        // fresh defaults
        Open();
        QTest::keyClick(KeyOn(), Qt::Key_Left);
        QTest::keyClick(KeyNum(), Qt::Key_Home);
        EXPECT_EQ(Shown(), std::pair(QStringLiteral("-71 dB"), QStringLiteral("1")));
        EXPECT_EQ(g_bSettingsChanged, 0);
        Click("whiteKeys28Radio");
        nWay < 3 ? kCancelWays[nWay](m_pDlg.get()) : Click("okButton");
        EXPECT_EQ(Keys(), std::tuple(-71, 1, 28));
    }
}

} // namespace
