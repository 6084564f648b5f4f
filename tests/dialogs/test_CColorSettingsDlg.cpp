#include "PageTestSupport.h"

#include "dialogs/CColorSettingsDlg.h"
#include "dialogs/CColorSwatch.h"
#include "dialogs/ColorPageCursors.h"

#include <QCheckBox>
#include <QGuiApplication>

#include <ostream>

// Failures show colours as r,g,b rather than as raw bytes.
static void PrintTo(const QColor &color, std::ostream *pOut)
{
    *pOut << color.red() << ',' << color.green() << ',' << color.blue();
}

namespace {

class ColorSettingsDlgTest : public PageTest<CColorSettingsDlg>
{
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        Choosers().chooseColor = [this](const QColor &initial, QWidget *) {
            m_presets.push_back(initial);
            return m_answer;
        };
    }
    void Open()
    {
        m_pDlg = std::make_unique<CColorSettingsDlg>(g_DisplaySettings);
        m_pDlg->show();
    }
    QWidget *W(const char *pszName) { return Ctl<QWidget>(pszName); }
    // A pixel of a swatch as painted; a filled swatch is filled edge to edge.
    QColor Pixel(const char *pszName, bool bCorner = false)
    {
        const QImage image = W(pszName)->grab().toImage();
        return bCorner ? image.pixelColor(0, 0) : image.pixelColor(image.rect().center());
    }
    void Press(const char *pszName) { QTest::mouseClick(W(pszName), Qt::LeftButton); }
    static const QCursor *Override() { return QGuiApplication::overrideCursor(); }

    std::optional<QColor> m_answer; // the chooser's answer; empty: cancelled
    std::vector<QColor> m_presets;  // one per chooser opened
};

TEST_F(ColorSettingsDlgTest, DefaultsFillEverySwatchWithItsColour)
{
    Open();
    EXPECT_EQ(m_pDlg->windowTitle(), QStringLiteral("配色"));
    // Grey frame and outline, yellow peak chip, black background, pink wave
    // line, cyan and light violet chips.
    const std::pair<const char *, QColor> cases[] = {
        {"frameSwatch", QColor(128, 128, 128)},        {"outlineSwatch", QColor(128, 128, 128)},
        {"peakChipSwatch", QColor(255, 255, 0)},       {"backgroundSwatch", QColor(0, 0, 0)},
        {"waveLineSwatch", QColor(255, 128, 192)},     {"levelChipSwatch", QColor(0, 255, 255)},
        {"levelChipPeakSwatch", QColor(255, 128, 255)}};
    for (const auto &[pszName, color] : cases) {
        EXPECT_EQ(Pixel(pszName), color) << pszName;
        EXPECT_EQ(Pixel(pszName, true), color) << pszName;
        EXPECT_EQ(W(pszName)->cursor(), LoadColorPageCursors().hover) << pszName;
    }
    EXPECT_EQ(Text("levelChipLabel"), QStringLiteral("レベルチップ基本色"));
    EXPECT_EQ(Text("levelChipPeakLabel"), QStringLiteral("レベルチップピーク色"));
}

TEST_F(ColorSettingsDlgTest, SecondChipSwatchFollowsTheGradientCheck)
{
    g_DisplaySettings.CGrad = 0;
    g_DisplaySettings.Cchip2 = 0x00336699;
    const QColor chip2(0x99, 0x66, 0x33);
    m_answer = QColor(1, 2, 3);
    Open();
    EXPECT_FALSE(Ctl("levelGradientCheck")->isChecked());
    EXPECT_EQ(Text("levelChipLabel"), QStringLiteral("レベルチップ色"));
    EXPECT_TRUE(Text("levelChipPeakLabel").isEmpty());
    EXPECT_NE(Pixel("levelChipPeakSwatch"), chip2);
    EXPECT_EQ(Pixel("levelChipPeakSwatch", true), QColor(128, 128, 128)); // only its grey frame
    EXPECT_FALSE(W("levelChipPeakSwatch")->testAttribute(Qt::WA_SetCursor));
    Press("levelChipPeakSwatch");
    EXPECT_TRUE(m_presets.empty());
    EXPECT_EQ(Override(), nullptr);
    EXPECT_EQ(g_bSettingsChanged, 0);

    Click("levelGradientCheck");
    EXPECT_EQ(g_DisplaySettings.CGrad, 1);
    EXPECT_EQ(g_bSettingsChanged, 1);
    EXPECT_EQ(Text("levelChipLabel"), QStringLiteral("レベルチップ基本色"));
    EXPECT_EQ(Pixel("levelChipPeakSwatch"), chip2);
    Press("levelChipPeakSwatch");
    ASSERT_EQ(m_presets.size(), 1u);
    EXPECT_EQ(m_presets[0], chip2);
    EXPECT_EQ(g_DisplaySettings.Cchip2, 0x00030201);

    Click("levelGradientCheck");
    EXPECT_EQ(g_DisplaySettings.CGrad, 0);
    Click("okButton"); // OK keeps what the page has applied
    EXPECT_EQ(m_pDlg->result(), QDialog::Accepted);
    EXPECT_EQ(std::pair(g_DisplaySettings.Cchip2, g_DisplaySettings.CGrad), std::pair(0x030201, 0));
}

// A press opens the chooser only when released on the same swatch; the cursor
// shows whether the mouse is on it.
TEST_F(ColorSettingsDlgTest, PressAndReleaseOnTheSwatchOpenTheChooser)
{
    m_answer.reset();
    Open();
    const DisplaySettings before = g_DisplaySettings;
    for (const char *pszRelease : {"backgroundSwatch", "levelGradientCheck", "okButton"}) {
        QTest::mousePress(W("frameSwatch"), Qt::LeftButton);
        EXPECT_EQ(QWidget::mouseGrabber(), m_pDlg.get());
        QTest::mouseRelease(W(pszRelease), Qt::LeftButton);
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr) << pszRelease;
        EXPECT_EQ(Override(), nullptr) << pszRelease;
    }
    EXPECT_TRUE(m_presets.empty());

    const ColorPageCursors &cursors = LoadColorPageCursors();
    QTest::mousePress(W("outlineSwatch"), Qt::LeftButton);
    const std::pair<const char *, const QCursor &> moves[] = {
        {"outlineSwatch", cursors.pressed},  {"peakChipSwatch", cursors.off},
        {"outlineLabel", cursors.off},       {"outlineSwatch", cursors.pressed},
        {"levelGradientCheck", cursors.off}, {"outlineSwatch", cursors.pressed}};
    for (const auto &[pszOver, expected] : moves) {
        QTest::mouseMove(W(pszOver));
        ASSERT_NE(Override(), nullptr);
        EXPECT_EQ(*Override(), expected) << pszOver;
    }
    QTest::mouseRelease(W("outlineSwatch"), Qt::LeftButton);
    EXPECT_EQ(Override(), nullptr);
    ASSERT_EQ(m_presets.size(), 1u); // cancelled: nothing changes
    EXPECT_EQ(m_presets[0], QColor(128, 128, 128));
    EXPECT_EQ(g_DisplaySettings, before);
    EXPECT_EQ(g_bSettingsChanged, 0);

    // The second click of a double click presses too; Esc in the middle of
    // that press lets go of the mouse and the cursor.
    QTest::mouseDClick(W("outlineSwatch"), Qt::LeftButton);
    EXPECT_EQ(QWidget::mouseGrabber(), m_pDlg.get());
    QTest::keyClick(m_pDlg.get(), Qt::Key_Escape);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(Override(), nullptr);
    QTest::mouseRelease(W("outlineSwatch"), Qt::LeftButton);
    EXPECT_EQ(m_presets.size(), 1u);
}

TEST_F(ColorSettingsDlgTest, ChosenColourAppliesAtOnceAndEveryCancelRestoresAll)
{
    for (const auto &cancel : kCancelWays) {
        ResetSettings();
        const DisplaySettings before = g_DisplaySettings;
        m_presets.clear();
        m_answer = QColor(0x12, 0x34, 0x56);
        Open();
        Press("waveLineSwatch");
        ASSERT_EQ(m_presets.size(), 1u);
        EXPECT_EQ(m_presets[0], QColor(0xFF, 0x80, 0xC0)); // the default 0x00C080FF
        EXPECT_EQ(g_DisplaySettings.Cwline, 0x00563412);
        EXPECT_EQ(Pixel("waveLineSwatch"), QColor(0x12, 0x34, 0x56));
        EXPECT_EQ(g_bSettingsChanged, 1);
        m_answer = QColor(0xAB, 0, 0);
        for (const char *pszName : {"frameSwatch", "outlineSwatch", "peakChipSwatch",
                                    "backgroundSwatch", "levelChipSwatch", "levelChipPeakSwatch"})
            Press(pszName);
        Click("levelGradientCheck");
        EXPECT_EQ(g_DisplaySettings.Cbackground, 0xAB);
        EXPECT_EQ(g_DisplaySettings.CGrad, 0);
        g_bSettingsChanged = 0;
        cancel(m_pDlg.get());
        EXPECT_FALSE(m_pDlg->isVisible());
        EXPECT_EQ(m_pDlg->result(), QDialog::Rejected);
        EXPECT_EQ(g_DisplaySettings, before);
        EXPECT_EQ(g_bSettingsChanged, 0);
    }
}

} // namespace
