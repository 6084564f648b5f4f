#include "PageTestSupport.h"

#include "dialogs/CLevelRangeDlg.h"

#include <QButtonGroup>

#include <functional>
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
        EXPECT_EQ(MinSlider()->value(), nMin);
        EXPECT_EQ(MaxSlider()->value(), nMax);
        EXPECT_EQ(Text("minLevelValueLabel"), QStringLiteral("%1 dB").arg(nMin));
        EXPECT_EQ(Text("maxLevelValueLabel"), QStringLiteral("%1 dB").arg(nMax));
        EXPECT_EQ(g_DisplaySettings.Lmin, nMin);
        EXPECT_EQ(g_DisplaySettings.Lmax, nMax);
    }
};

TEST_F(LevelRangeDlgTest, OpensWithTheStoredValues)
{
    Open();
    EXPECT_EQ(m_pDlg->windowTitle(), QStringLiteral("レベルレンジ"));
    EXPECT_EQ(m_pDlg->size(), QSize(468, 322));
    ExpectLevels(-60, -30);
    EXPECT_EQ(MaxSlider()->tickInterval(), 10);
    EXPECT_TRUE(Ctl<QAbstractButton>("standardRadio")->isChecked()); // Ldiv 1
    EXPECT_TRUE(Ctl<QAbstractButton>("peakUpRadio")->isChecked());   // LPeek 2
    EXPECT_EQ(g_bSettingsChanged, 0);
    ExpectTextsFit(m_pDlg.get());
}

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
        EXPECT_EQ(g_DisplaySettings.Lmin, c.nLmin);
        EXPECT_EQ(g_DisplaySettings.Lmax, c.nRepairedLmax);
    }
}

// From the defaults (-60, -30); a page step is 20 dB.
TEST_F(LevelRangeDlgTest, SlidersPushEachOtherAndStopShortOfTheEnds)
{
    const struct
    {
        const char *pszSlider;
        Qt::Key key;
        int nPresses, nMin, nMax;
    } cases[] = {
        {"minLevelSlider", Qt::Key_End, 1, -1, 0}, // minimum at the top: pulled back, pushes
        {"maxLevelSlider", Qt::Key_Home, 1, -100,
         -99}, // maximum at the bottom: pulled back, pushes
        {"maxLevelSlider", Qt::Key_PageDown, 2, -71,
         -70},                                           // maximum below the minimum drags it along
        {"minLevelSlider", Qt::Key_PageUp, 2, -20, -19}, // minimum above the maximum pushes it up
        {"minLevelSlider", Qt::Key_Right, 1, -59, -30},  // no contact: the other one stays
        {"maxLevelSlider", Qt::Key_Left, 1, -60, -31},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.pszSlider << " key " << c.key);
        ResetSettings();
        Open();
        for (int i = 0; i < c.nPresses; ++i)
            QTest::keyClick(Ctl<QSlider>(c.pszSlider), c.key);
        ExpectLevels(c.nMin, c.nMax);
        EXPECT_EQ(g_bSettingsChanged, 0);
    }
}

TEST_F(LevelRangeDlgTest, DraggingTheMinimumToTheTopHoldsItOneBelowWhileDragging)
{
    Open();
    DragThumbToEnd(MinSlider(), true);
    EXPECT_TRUE(MinSlider()->isSliderDown());
    ExpectLevels(-1, 0);
    ReleaseThumb(MinSlider());
    ExpectLevels(-1, 0);
    EXPECT_EQ(g_bSettingsChanged, 0);
}

// Radios write at once and always raise the flag; Cancel, Esc and the close
// box all put back the four values of the opening and leave the flag alone.
TEST_F(LevelRangeDlgTest, LiveEditsThenCancelRestoresEverything)
{
    const std::function<void(CLevelRangeDlg *)> closers[] = {
        [](CLevelRangeDlg *p) { ::Click(p, "cancelButton"); },
        [](CLevelRangeDlg *p) { QTest::keyClick(p, Qt::Key_Escape); },
        [](CLevelRangeDlg *p) { p->close(); },
    };
    for (const auto &fnClose : closers) {
        ResetSettings();
        Open();
        QTest::keyClick(MinSlider(), Qt::Key_End);
        // The checked button again raises it too.
        for (const char *pszName : {"coarseRadio", "peakHoldRadio", "peakHoldRadio"}) {
            g_bSettingsChanged = 0;
            Click(pszName);
            EXPECT_EQ(g_bSettingsChanged, 1) << pszName;
        }
        EXPECT_EQ(g_DisplaySettings.Ldiv, 2);
        EXPECT_EQ(g_DisplaySettings.LPeek, 0);
        ExpectLevels(-1, 0);
        g_bSettingsChanged = 0;
        fnClose(m_pDlg.get());
        EXPECT_FALSE(m_pDlg->isVisible());
        EXPECT_EQ(m_pDlg->result(), QDialog::Rejected);
        const DisplaySettings &ds = g_DisplaySettings;
        EXPECT_EQ(ds.Lmin, -60);
        EXPECT_EQ(ds.Lmax, -30);
        EXPECT_EQ(ds.Ldiv, 1);
        EXPECT_EQ(ds.LPeek, 2);
        EXPECT_EQ(g_bSettingsChanged, 0);
    }
}

TEST_F(LevelRangeDlgTest, OkKeepsSliderValuesAndWritesTheRadiosAgain)
{
    // A peak type no button stands for leaves the group unchecked; OK writes
    // that "none" (-1) back, as the radio exchange does.
    g_DisplaySettings.LPeek = 7;
    Open();
    EXPECT_EQ(Ctl<QAbstractButton>("peakHoldRadio")->group()->checkedId(), -1);
    QTest::keyClick(MaxSlider(), Qt::Key_Right);
    Click("okButton");
    EXPECT_EQ(m_pDlg->result(), QDialog::Accepted);
    EXPECT_EQ(g_DisplaySettings.Lmax, -29);
    EXPECT_EQ(g_DisplaySettings.Lmin, -60);
    EXPECT_EQ(g_DisplaySettings.Ldiv, 1);
    EXPECT_EQ(g_DisplaySettings.LPeek, -1);
}

TEST_F(LevelRangeDlgTest, StoredLevelsOutsideTheScaleStayUntilTheirSliderMoves)
{
    g_DisplaySettings.Lmin = -150;
    g_DisplaySettings.Lmax = 20;
    Open();
    EXPECT_EQ(MinSlider()->value(), -100);
    EXPECT_EQ(MaxSlider()->value(), 0);
    EXPECT_EQ(Text("minLevelValueLabel"), QStringLiteral("-150 dB"));
    EXPECT_EQ(Text("maxLevelValueLabel"), QStringLiteral("20 dB"));
    // The maximum moves without pushing the minimum, which keeps its value.
    QTest::keyClick(MaxSlider(), Qt::Key_Left);
    EXPECT_EQ(g_DisplaySettings.Lmax, -1);
    EXPECT_EQ(g_DisplaySettings.Lmin, -150);
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
