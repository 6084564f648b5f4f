#include "PageTestSupport.h"

#include "dialogs/CLevelRangeDlg.h"

#include <QButtonGroup>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

#include <limits>

namespace {

class LevelRangeDlgTest : public PageTest<CLevelRangeDlg>
{
protected:
    void Open()
    {
        DisplaySettings &ds = g_DisplaySettings;
        m_pDlg = std::make_unique<CLevelRangeDlg>(ds.Ldiv, ds.Lmax, ds.Lmin, ds.LPeek);
        m_pDlg->show();
    }
    QSlider *MaxSlider() { return Ctl<QSlider>("maxLevelSlider"); }
    QSlider *MinSlider() { return Ctl<QSlider>("minLevelSlider"); }

    // Both sliders, both texts and both live levels agree with (nMin, nMax).
    void ExpectLevels(int nMin, int nMax)
    {
        EXPECT_EQ(std::pair(MinSlider()->value(), MaxSlider()->value()), std::pair(nMin, nMax));
        EXPECT_EQ(Text("minLevelValueLabel"), QStringLiteral("%1 dB").arg(nMin));
        EXPECT_EQ(Text("maxLevelValueLabel"), QStringLiteral("%1 dB").arg(nMax));
        EXPECT_EQ(std::pair(g_DisplaySettings.Lmin, g_DisplaySettings.Lmax), std::pair(nMin, nMax));
    }
};

// An inverted pair is repaired at opening, and that repair is what Cancel restores.
TEST_F(LevelRangeDlgTest, OpeningRepairsAnInvertedPairAndCancelKeepsTheRepair)
{
    constexpr int kIntMax = std::numeric_limits<int>::max();
    const struct
    {
        int nLmin, nLmax, nRepairedLmax;
    } cases[] = {
        {-30, -60, -29}, {-30, -30, -29},       {-30, -29, -29},
        {-60, -30, -30}, {kIntMax, 0, kIntMax}, // the store may hold anything; no overflow
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.nLmin << " " << c.nLmax);
        g_DisplaySettings.Lmin = c.nLmin;
        g_DisplaySettings.Lmax = c.nLmax;
        Open();
        EXPECT_EQ(g_DisplaySettings.Lmax, c.nRepairedLmax);
        EXPECT_EQ(Text("maxLevelValueLabel"), QStringLiteral("%1 dB").arg(c.nRepairedLmax));
        Click("cancelButton");
        EXPECT_EQ(m_pDlg->result(), QDialog::Rejected);
        EXPECT_EQ(std::pair(g_DisplaySettings.Lmin, g_DisplaySettings.Lmax),
                  std::pair(c.nLmin, c.nRepairedLmax));
    }
}

// From the defaults (-60, -30); a page step is 20 dB. The sliders never move
// the flag.
TEST_F(LevelRangeDlgTest, SlidersPushEachOtherAndStopShortOfTheEnds)
{
    const struct
    {
        const char *pszSlider;
        Qt::Key key;
        int nPresses, nMin, nMax;
    } cases[] = {
        {"minLevelSlider", Qt::Key_End, 1, -1, 0},      // the top: pulled back, pushes
        {"maxLevelSlider", Qt::Key_Home, 1, -100, -99}, // the bottom: pulled back, pushes
        {"maxLevelSlider", Qt::Key_PageDown, 2, -71, -70},
        {"minLevelSlider", Qt::Key_PageUp, 2, -20, -19},
        {"minLevelSlider", Qt::Key_Right, 1, -59, -30}, // no contact: the other one stays
        {"maxLevelSlider", Qt::Key_Left, 1, -60, -31},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.pszSlider << " key " << c.key);
        ResetSettings();
        Open();
        ExpectLevels(-60, -30);
        EXPECT_EQ(MaxSlider()->tickInterval(), 10);
        for (int i = 0; i < c.nPresses; ++i)
            QTest::keyClick(Ctl<QSlider>(c.pszSlider), c.key);
        ExpectLevels(c.nMin, c.nMax);
        EXPECT_EQ(g_bSettingsChanged, 0);
    }
}

TEST_F(LevelRangeDlgTest, DraggingTheMinimumToTheTopHoldsItOneBelowWhileDragging)
{
    Open();
    QSlider *pSlider = MinSlider();
    QStyleOptionSlider opt;
    opt.initFrom(pSlider);
    opt.subControls = QStyle::SC_All;
    opt.orientation = pSlider->orientation();
    opt.minimum = pSlider->minimum();
    opt.maximum = pSlider->maximum();
    opt.sliderPosition = opt.sliderValue = pSlider->value();
    opt.tickPosition = pSlider->tickPosition();
    opt.tickInterval = pSlider->tickInterval();
    const QPoint ptThumb =
        pSlider->style()
            ->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, pSlider)
            .center();
    QTest::mousePress(pSlider, Qt::LeftButton, {}, ptThumb);
    // Two steps, so the thumb passes through the inside of the range first.
    QTest::mouseMove(pSlider, QPoint((ptThumb.x() + pSlider->width()) / 2, ptThumb.y()));
    QTest::mouseMove(pSlider, QPoint(pSlider->width() - 1, ptThumb.y()));
    EXPECT_TRUE(pSlider->isSliderDown());
    ExpectLevels(-1, 0);
    QTest::mouseRelease(pSlider, Qt::LeftButton, {}, QPoint(pSlider->width() / 2, ptThumb.y()));
    ExpectLevels(-1, 0);
}

// Radios write at once and always raise the flag; Cancel, Esc and the close
// box all put back the four values of the opening and leave the flag alone.
TEST_F(LevelRangeDlgTest, LiveEditsThenCancelRestoresEverything)
{
    for (const auto &fnClose : kCancelWays) {
        ResetSettings();
        Open();
        EXPECT_TRUE(Ctl("standardRadio")->isChecked()); // Ldiv 1
        EXPECT_TRUE(Ctl("peakUpRadio")->isChecked());   // LPeek 2
        ExpectTextsFit(m_pDlg.get());
        QTest::keyClick(MinSlider(), Qt::Key_End);
        // The checked button again raises it too.
        for (const char *pszName : {"coarseRadio", "peakHoldRadio", "peakHoldRadio"}) {
            g_bSettingsChanged = 0;
            Click(pszName);
            EXPECT_EQ(g_bSettingsChanged, 1) << pszName;
        }
        EXPECT_EQ(std::pair(g_DisplaySettings.Ldiv, g_DisplaySettings.LPeek), std::pair(2, 0));
        g_bSettingsChanged = 0;
        fnClose(m_pDlg.get());
        EXPECT_FALSE(m_pDlg->isVisible());
        EXPECT_EQ(m_pDlg->result(), QDialog::Rejected);
        const DisplaySettings &ds = g_DisplaySettings;
        EXPECT_EQ(std::tuple(ds.Lmin, ds.Lmax, ds.Ldiv, ds.LPeek), std::tuple(-60, -30, 1, 2));
        EXPECT_EQ(g_bSettingsChanged, 0);
    }
}

TEST_F(LevelRangeDlgTest, OkKeepsSliderValuesAndWritesTheRadiosAgain)
{
    // A peak type no button stands for leaves the group unchecked; OK writes
    // that "none" (-1) back, as the radio exchange does.
    g_DisplaySettings.LPeek = 7;
    Open();
    EXPECT_EQ(Ctl("peakHoldRadio")->group()->checkedId(), -1);
    QTest::keyClick(MaxSlider(), Qt::Key_Right);
    Click("okButton");
    EXPECT_EQ(m_pDlg->result(), QDialog::Accepted);
    const DisplaySettings &ds = g_DisplaySettings;
    EXPECT_EQ(std::tuple(ds.Lmin, ds.Lmax, ds.Ldiv, ds.LPeek), std::tuple(-60, -29, 1, -1));
}

TEST_F(LevelRangeDlgTest, StoredLevelsOutsideTheScaleStayUntilTheirSliderMoves)
{
    g_DisplaySettings.Lmin = -150;
    g_DisplaySettings.Lmax = 20;
    Open();
    EXPECT_EQ(std::pair(MinSlider()->value(), MaxSlider()->value()), std::pair(-100, 0));
    EXPECT_EQ(Text("minLevelValueLabel"), QStringLiteral("-150 dB"));
    EXPECT_EQ(Text("maxLevelValueLabel"), QStringLiteral("20 dB"));
    // The maximum moves without pushing the minimum, which keeps its value.
    QTest::keyClick(MaxSlider(), Qt::Key_Left);
    EXPECT_EQ(std::pair(g_DisplaySettings.Lmin, g_DisplaySettings.Lmax), std::pair(-150, -1));
    QTest::keyClick(MinSlider(), Qt::Key_Right);
    ExpectLevels(-99, -1);
}

// Tab enters a radio group at its checked button, Shift+Tab too; the arrows
// move within the group and check as they go.
TEST_F(LevelRangeDlgTest, KeyboardEntersRadioGroupsAtTheCheckedButtonAndArrowsCheck)
{
    g_DisplaySettings.LPeek = 1;
    Open();
    m_pDlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pDlg.get()));
    MaxSlider()->setFocus();
    const auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
        return QApplication::focusWidget()->objectName().toStdString();
    };
    press(Qt::Key_Tab);
    EXPECT_EQ(press(Qt::Key_Tab), "standardRadio");
    EXPECT_EQ(press(Qt::Key_Down), "coarseRadio");
    EXPECT_EQ(g_DisplaySettings.Ldiv, 2);
    EXPECT_EQ(g_bSettingsChanged, 1);
    EXPECT_EQ(press(Qt::Key_Tab), "peakSlowDownRadio");
    EXPECT_EQ(press(Qt::Key_Up), "peakHoldRadio");
    EXPECT_EQ(g_DisplaySettings.LPeek, 0);
    EXPECT_EQ(press(Qt::Key_Tab), "okButton");
    EXPECT_EQ(press(Qt::Key_Tab, Qt::ShiftModifier), "peakHoldRadio");
    EXPECT_EQ(press(Qt::Key_Tab, Qt::ShiftModifier), "coarseRadio");
}

} // namespace
