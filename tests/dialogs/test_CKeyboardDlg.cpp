#include "PageTestSupport.h"

#include "dialogs/CKeyboardDlg.h"

#include <QSlider>

namespace {

DisplaySettings &ds = g_DisplaySettings;

struct KeyboardDlgTest : PageTest<CKeyboardDlg>
{
    void Open()
    {
        (m_pDlg = std::make_unique<CKeyboardDlg>(ds.KeyDiv, ds.KeyNum, ds.KeyOn))->show();
    }
    QAbstractButton *White(int n) { return Ctl(("whiteKeys" + QByteArray::number(n) + "Radio")); }
    static auto Keys() { return std::tuple(ds.KeyOn, ds.KeyNum, ds.KeyDiv); }
    auto Shown() { return std::pair(Text("lowestLevelValueLabel"), Text("keyCountValueLabel")); }
};

// Stored values no control stands for stay until their control moves; sliders write at once
// without the flag, each key button with it; no undo: every way out keeps the changes.
TEST_F(KeyboardDlgTest, StoredValuesStayUntilMovedAndEveryWayOutKeepsTheChanges)
{
    for (const auto &[nStored, nChecked] :
         {std::pair{21, 21}, {25, 25}, {28, 28}, {32, 32}, {0, 21}, {24, 21}}) {
        std::tie(ds.KeyOn, ds.KeyNum, ds.KeyDiv) = std::tuple(15, 20, nStored);
        Open();
        for (const int n : {21, 25, 28, 32})
            EXPECT_EQ(White(n)->isChecked(), n == nChecked) << nStored << " " << n;
        EXPECT_EQ(Shown(), std::pair(QStringLiteral("15 dB"), QStringLiteral("20")));
    }
    QTest::keyClick(Ctl<QSlider>("keyCountSlider"), Qt::Key_Left); // from 8 at the end
    EXPECT_EQ(Keys(), std::tuple(15, 7, 24));
    for (int nWay = 0; nWay < 4; ++nWay) { // Cancel, Esc, the close box, OK
        TearDown();                        // fresh defaults
        Open();
        QTest::keyClick(Ctl<QSlider>("lowestLevelSlider"), Qt::Key_Left);
        QTest::keyClick(Ctl<QSlider>("keyCountSlider"), Qt::Key_Home);
        EXPECT_EQ(std::tuple(Shown().first, ds.KeyOn, ds.KeyNum, g_bSettingsChanged),
                  std::tuple(QStringLiteral("-71 dB"), -71, 1, 0));
        for (const int n : {21, 32, 28, 25, 25}) { // even the checked one raises the flag
            g_bSettingsChanged = 0;
            White(n)->click();
            EXPECT_EQ(std::pair(ds.KeyDiv, g_bSettingsChanged), std::pair(n, 1)) << n;
        }
        Click("whiteKeys28Radio");
        nWay < 3 ? kCancelWays[nWay](m_pDlg.get()) : Click("okButton");
        EXPECT_EQ(Keys(), std::tuple(-71, 1, 28));
    }
}

} // namespace
