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

// Stored values stay until their control moves; no undo: every way out keeps the changes.
TEST_F(KeyboardDlgTest, StoredValuesStayUntilMovedAndEveryWayOutKeepsTheChanges)
{
    std::tie(ds.KeyOn, ds.KeyNum, ds.KeyDiv) = std::tuple(15, 20, 24);
    Open();
    EXPECT_TRUE(White(21)->isChecked()); // 24 shows as 21
    EXPECT_EQ(Shown(), std::pair(QStringLiteral("15 dB"), QStringLiteral("20")));
    QTest::keyClick(Ctl<QSlider>("keyCountSlider"), Qt::Key_Left); // from 8 at the end
    EXPECT_EQ(Keys(), std::tuple(15, 7, 24));
    for (int nWay = 0; nWay < 4; ++nWay) { // Cancel, Esc, the close box, OK
        TearDown();                        // fresh defaults
        Open();
        QTest::keyClick(Ctl<QSlider>("lowestLevelSlider"), Qt::Key_Left);
        QTest::keyClick(Ctl<QSlider>("keyCountSlider"), Qt::Key_Home);
        EXPECT_EQ(std::tuple(Shown().first, ds.KeyOn, ds.KeyNum, g_bSettingsChanged),
                  std::tuple(QStringLiteral("-71 dB"), -71, 1, 0));
        White(nWay == 3 ? 21 : 28)->click(); // even the checked one raises the flag
        EXPECT_EQ(g_bSettingsChanged, 1);
        nWay < 3 ? kCancelWays[nWay](m_pDlg.get()) : Click("okButton");
        EXPECT_EQ(Keys(), std::tuple(-71, 1, nWay == 3 ? 21 : 28));
    }
}

} // namespace
