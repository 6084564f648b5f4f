#include "settings/Settings.h"
#include "dialogs/CColorSettingsDlg.h"
#include "dialogs/CColorSwatch.h"
#include "dialogs/ColorPageCursors.h"
#include "dialogs/PageSupport.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

// Failures show colours as r,g,b rather than as raw bytes.
static void PrintTo(const QColor &color, std::ostream *pOut)
{
    *pOut << color.red() << ',' << color.green() << ',' << color.blue();
}

namespace {

class ColorSettingsDlgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetSettings();
        g_bSettingsChanged = 0;
        Choosers().chooseColor = [this](const QColor &initial, QWidget *) {
            m_presets.push_back(initial);
            return m_answer;
        };
    }
    void TearDown() override
    {
        m_pDlg.reset();
        ResetPageChoosers();
        ResetSettings();
        g_bSettingsChanged = 0;
    }

    void Open()
    {
        m_pDlg = std::make_unique<CColorSettingsDlg>(g_DisplaySettings);
        m_pDlg->show();
    }
    template <typename T = CColorSwatch> T *Find(const char *pszName) const
    {
        T *p = m_pDlg->findChild<T *>(QString::fromLatin1(pszName));
        EXPECT_NE(p, nullptr) << pszName;
        return p;
    }
    QString Text(const char *pszLabel) const { return Find<QLabel>(pszLabel)->text(); }
    // A pixel of a swatch as painted; a filled swatch is filled edge to edge.
    QColor Pixel(const char *pszName, bool bCorner = false) const
    {
        const QImage image = Find(pszName)->grab().toImage();
        return bCorner ? image.pixelColor(0, 0) : image.pixelColor(image.rect().center());
    }
    void Click(const char *pszName) { QTest::mouseClick(Find<QWidget>(pszName), Qt::LeftButton); }
    static const QCursor *Override() { return QGuiApplication::overrideCursor(); }

    std::unique_ptr<CColorSettingsDlg> m_pDlg;
    std::optional<QColor> m_answer; // the chooser's answer; empty: cancelled
    std::vector<QColor> m_presets;  // one per chooser opened
};

TEST_F(ColorSettingsDlgTest, DefaultsFillEverySwatchWithItsColour)
{
    Open();
    EXPECT_EQ(m_pDlg->windowTitle(), QStringLiteral("配色"));
    // The defaults as red, green, blue: grey frame and outline, yellow peak
    // chip, black background, pink wave line, cyan and light violet chips.
    const std::pair<const char *, QColor> cases[] = {
        {"id1034", QColor(128, 128, 128)}, {"id1035", QColor(128, 128, 128)},
        {"id1037", QColor(255, 255, 0)},   {"id1000", QColor(0, 0, 0)},
        {"id1042", QColor(255, 128, 192)}, {"id1038", QColor(0, 255, 255)},
        {"id1039", QColor(255, 128, 255)}};
    for (const auto &[pszId, color] : cases) {
        EXPECT_EQ(Pixel(pszId), color) << pszId;
        EXPECT_EQ(Pixel(pszId, true), color) << pszId;
        EXPECT_EQ(Find(pszId)->cursor(), LoadColorPageCursors().hover) << pszId;
    }
    EXPECT_EQ(Text("id1040"), QStringLiteral("レベルチップ基本色"));
    EXPECT_EQ(Text("id1041"), QStringLiteral("レベルチップピーク色"));
}

TEST_F(ColorSettingsDlgTest, SecondChipSwatchFollowsTheGradientCheck)
{
    g_DisplaySettings.CGrad = 0;
    g_DisplaySettings.Cchip2 = 0x00336699;
    const QColor chip2(0x99, 0x66, 0x33);
    m_answer = QColor(1, 2, 3);
    Open();
    EXPECT_FALSE(Find<QCheckBox>("id1029")->isChecked());
    EXPECT_EQ(Text("id1040"), QStringLiteral("レベルチップ色"));
    EXPECT_TRUE(Text("id1041").isEmpty());
    EXPECT_NE(Pixel("id1039"), chip2);
    EXPECT_EQ(Pixel("id1039", true), QColor(128, 128, 128)); // only its grey frame
    EXPECT_FALSE(Find("id1039")->testAttribute(Qt::WA_SetCursor));
    Click("id1039");
    EXPECT_TRUE(m_presets.empty());
    EXPECT_EQ(Override(), nullptr);
    EXPECT_EQ(g_bSettingsChanged, 0);

    Click("id1029");
    EXPECT_EQ(g_DisplaySettings.CGrad, 1);
    EXPECT_EQ(g_bSettingsChanged, 1);
    EXPECT_EQ(Text("id1040"), QStringLiteral("レベルチップ基本色"));
    EXPECT_EQ(Text("id1041"), QStringLiteral("レベルチップピーク色"));
    EXPECT_EQ(Pixel("id1039"), chip2);
    Click("id1039");
    ASSERT_EQ(m_presets.size(), 1u);
    EXPECT_EQ(m_presets[0], chip2);
    EXPECT_EQ(g_DisplaySettings.Cchip2, 0x00030201);

    Click("id1029");
    EXPECT_EQ(g_DisplaySettings.CGrad, 0);
    EXPECT_NE(Pixel("id1039"), QColor(1, 2, 3));
    Click("id1"); // OK keeps what the page has applied
    EXPECT_EQ(m_pDlg->result(), QDialog::Accepted);
    EXPECT_EQ(g_DisplaySettings.Cchip2, 0x00030201);
    EXPECT_EQ(g_DisplaySettings.CGrad, 0);
}

TEST_F(ColorSettingsDlgTest, ReleaseElsewhereOrCancelledChooserChangesNothing)
{
    m_answer = QColor(1, 2, 3);
    Open();
    const DisplaySettings before = g_DisplaySettings;
    for (const char *pszRelease : {"id1000", "id1029", "id1"}) {
        QTest::mousePress(Find("id1034"), Qt::LeftButton);
        EXPECT_EQ(QWidget::mouseGrabber(), m_pDlg.get());
        QTest::mouseRelease(Find<QWidget>(pszRelease), Qt::LeftButton);
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr) << pszRelease;
        EXPECT_EQ(Override(), nullptr) << pszRelease;
    }
    EXPECT_TRUE(m_presets.empty());
    m_answer.reset();
    Click("id1000");
    ASSERT_EQ(m_presets.size(), 1u);
    EXPECT_EQ(m_presets[0], QColor(0, 0, 0));
    EXPECT_EQ(g_DisplaySettings, before);
    EXPECT_EQ(g_bSettingsChanged, 0);
}

TEST_F(ColorSettingsDlgTest, PressCursorFollowsTheMouseOffAndBackOn)
{
    Open();
    const ColorPageCursors &cursors = LoadColorPageCursors();
    QTest::mousePress(Find("id1035"), Qt::LeftButton);
    ASSERT_NE(Override(), nullptr);
    EXPECT_EQ(*Override(), cursors.pressed);
    const std::pair<const char *, const QCursor &> moves[] = {{"id1037", cursors.off},
                                                              {"outlineLabel", cursors.off},
                                                              {"id1035", cursors.pressed},
                                                              {"id1029", cursors.off},
                                                              {"id1035", cursors.pressed}};
    for (const auto &[pszOver, expected] : moves) {
        QTest::mouseMove(Find<QWidget>(pszOver));
        ASSERT_NE(Override(), nullptr);
        EXPECT_EQ(*Override(), expected) << pszOver;
    }
    QTest::mouseRelease(Find("id1035"), Qt::LeftButton);
    EXPECT_EQ(Override(), nullptr);
    EXPECT_EQ(m_presets.size(), 1u);

    // The second click of a double click presses too; Esc in the middle of
    // that press lets go of the mouse and the cursor.
    QTest::mouseDClick(Find("id1035"), Qt::LeftButton);
    EXPECT_EQ(QWidget::mouseGrabber(), m_pDlg.get());
    QTest::keyClick(m_pDlg.get(), Qt::Key_Escape);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(Override(), nullptr);
    QTest::mouseRelease(Find("id1035"), Qt::LeftButton);
    EXPECT_EQ(m_presets.size(), 1u);
}

TEST_F(ColorSettingsDlgTest, ChosenColourAppliesAtOnceAndEveryCancelRestoresAll)
{
    const std::function<void(CColorSettingsDlg &)> cancelRoutes[] = {
        [](CColorSettingsDlg &dlg) {
            QTest::mouseClick(dlg.findChild<QPushButton *>("id2"), Qt::LeftButton);
        },
        [](CColorSettingsDlg &dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); },
        [](CColorSettingsDlg &dlg) { dlg.close(); },
    };
    for (const auto &cancel : cancelRoutes) {
        ResetSettings();
        const DisplaySettings before = g_DisplaySettings;
        m_presets.clear();
        m_answer = QColor(0x12, 0x34, 0x56);
        Open();
        Click("id1042");
        ASSERT_EQ(m_presets.size(), 1u);
        EXPECT_EQ(m_presets[0], QColor(0xFF, 0x80, 0xC0)); // the default 0x00C080FF
        EXPECT_EQ(g_DisplaySettings.Cwline, 0x00563412);
        EXPECT_EQ(Pixel("id1042"), QColor(0x12, 0x34, 0x56));
        EXPECT_EQ(g_bSettingsChanged, 1);
        m_answer = QColor(0xAB, 0, 0);
        for (const char *pszId : {"id1034", "id1035", "id1037", "id1000", "id1038", "id1039"})
            Click(pszId);
        Click("id1029");
        EXPECT_EQ(g_DisplaySettings.Cbackground, 0xAB);
        EXPECT_EQ(g_DisplaySettings.CGrad, 0);

        g_bSettingsChanged = 0;
        cancel(*m_pDlg);
        EXPECT_FALSE(m_pDlg->isVisible());
        EXPECT_EQ(m_pDlg->result(), QDialog::Rejected);
        EXPECT_EQ(g_DisplaySettings, before);
        EXPECT_EQ(g_bSettingsChanged, 0);
    }
}

} // namespace
