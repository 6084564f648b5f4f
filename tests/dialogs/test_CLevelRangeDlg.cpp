#include "PageTestSupport.h"

#include "dialogs/CLevelRangeDlg.h"

#include <QSlider>

#include <climits>

namespace {

DisplaySettings &ds = g_DisplaySettings;
using Dlg = CLevelRangeDlg;

// The sliders, the texts and the live levels (minimum first), and the flag down.
const auto Expected = [](int nMin, int nMax, int nMinSlider, int nMaxSlider) {
    return std::tuple(nMinSlider, nMaxSlider, QStringLiteral("%1 dB").arg(nMin),
                      QStringLiteral("%1 dB").arg(nMax), nMin, nMax, 0);
};

struct LevelRangeDlgTest : PageTest<CLevelRangeDlg>
{
    void Open() { (m_pDlg = std::make_unique<Dlg>(ds.Ldiv, ds.Lmax, ds.Lmin, ds.LPeek))->show(); }
    QSlider *Slider(bool bMax) { return Ctl<QSlider>(bMax ? "maxLevelSlider" : "minLevelSlider"); }
    auto Levels()
    {
        return std::tuple(Slider(false)->value(), Slider(true)->value(), Text("minLevelValueLabel"),
                          Text("maxLevelValueLabel"), ds.Lmin, ds.Lmax, g_bSettingsChanged);
    }
};

// Opening repairs an inverted pair; the sliders push each other and stop one short of the ends.
TEST_F(LevelRangeDlgTest, OpeningRepairsAndSlidersPushEachOther)
{
    // Lmin, Lmax; the maximum's slider?, key, presses; the levels then, the sliders then.
    // clang-format off
    const std::tuple<int, int, bool, Qt::Key, int, int, int, int, int> cases[] = {
        {-30, -60, 0, Qt::Key_End, 0, -30, -29, -30, -29}, {-30, -30, 0, Qt::Key_End, 0, -30, -29, -30, -29},
        {-30, -29, 0, Qt::Key_End, 0, -30, -29, -30, -29}, {-60, -30, 0, Qt::Key_End, 0, -60, -30, -60, -30},
        {INT_MAX, 0, 0, Qt::Key_End, 0, INT_MAX, INT_MAX, 0, 0}, {-150, 20, 0, Qt::Key_End, 0, -150, 20, -100, 0},
        {-60, -30, 0, Qt::Key_End, 1, -1, 0, -1, 0}, {-60, -30, 1, Qt::Key_Home, 1, -100, -99, -100, -99},
        {-60, -30, 1, Qt::Key_PageDown, 2, -71, -70, -71, -70}, {-60, -30, 0, Qt::Key_PageUp, 2, -20, -19, -20, -19},
        {-60, -30, 0, Qt::Key_Right, 1, -59, -30, -59, -30}, {-60, -30, 1, Qt::Key_Left, 1, -60, -31, -60, -31}};
    // clang-format on
    for (const auto &[nLmin, nLmax, bMax, key, nPresses, nMin, nMax, nMinSlider, nMaxSlider] :
         cases) {
        std::tie(ds.Lmin, ds.Lmax) = std::tuple(nLmin, nLmax);
        Open();
        for (int i = 0; i < nPresses; ++i)
            QTest::keyClick(Slider(bMax), key);
        EXPECT_EQ(Levels(), Expected(nMin, nMax, nMinSlider, nMaxSlider)) << nLmin << " " << key;
        Click("cancelButton");
        EXPECT_EQ(std::pair(ds.Lmin, ds.Lmax),
                  nPresses ? std::pair(nLmin, nLmax) : std::pair(nMin, nMax));
    }
    Open();
    Slider(false)->setSliderDown(true); // dragged too
    Slider(false)->setSliderPosition(0);
    EXPECT_EQ(Levels(), Expected(-1, 0, -1, 0));
}

// Tab and Shift+Tab enter a radio group at its checked button; the arrows check.
TEST_F(LevelRangeDlgTest, KeyboardEntersRadioGroupsAtTheCheckedButtonAndArrowsCheck)
{
    ds.LPeek = 1;
    Open();
    m_pDlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pDlg.get()));
    Slider(false)->setFocus();
    // clang-format off
    const std::tuple<Qt::Key, Qt::KeyboardModifiers, const char *> steps[] = {{Qt::Key_Tab, {}, "standardRadio"},
        {Qt::Key_Down, {}, "coarseRadio"}, {Qt::Key_Tab, {}, "peakSlowDownRadio"}, {Qt::Key_Up, {}, "peakHoldRadio"},
        {Qt::Key_Tab, {}, "okButton"}, {Qt::Key_Tab, Qt::ShiftModifier, "peakHoldRadio"}, {Qt::Key_Tab, Qt::ShiftModifier, "coarseRadio"}};
    // clang-format on
    for (const auto &[key, modifiers, pszFocus] : steps) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
        EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(), pszFocus);
    }
    EXPECT_EQ(std::tuple(ds.Ldiv, ds.LPeek, g_bSettingsChanged), std::tuple(2, 0, 1));
    g_bSettingsChanged = 0;
    QTest::keyClick(m_pDlg.get(), Qt::Key_Escape); // restores the radios, raises nothing
    EXPECT_EQ(std::tuple(ds.Ldiv, ds.LPeek, g_bSettingsChanged), std::tuple(1, 1, 0));
}

} // namespace
