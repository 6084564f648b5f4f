#include "PageTestSupport.h"

#include "dialogs/CColorSettingsDlg.h"
#include "dialogs/CColorSwatch.h"
#include "dialogs/ColorPageCursors.h"

#include <QGuiApplication>
#include <QPainter>

namespace {

DisplaySettings &ds = g_DisplaySettings;

struct ColorSettingsDlgTest : PageTest<CColorSettingsDlg>
{
    QWidget *W(const char *pszName) { return Ctl<QWidget>(pszName); }
    // The middle pixel of a swatch painted over grey by a painter that fills shapes red.
    QRgb Pixel(const char *p)
    {
        QImage image(W(p)->size(), QImage::Format_RGB32);
        image.fill(Qt::gray);
        QPainter painter(&image);
        painter.setBrush(Qt::red);
        W(p)->render(&painter, {}, {}, QWidget::DrawChildren);
        return image.pixel(W(p)->rect().center());
    }
    void Press(const char *pszName) { QTest::mouseClick(W(pszName), Qt::LeftButton); }
};

// Swatches show their colours; without the gradient the second chip swatch is inert grey.
TEST_F(ColorSettingsDlgTest, SwatchesShowTheirColoursAndTheSecondChipFollowsTheGradient)
{
    const QColor answer(1, 2, 3);
    std::vector<QColor> presets; // one per chooser opened
    Choosers().chooseColor = [&](const QColor &initial, QWidget *) {
        return presets.push_back(initial), std::optional(answer);
    };
    (m_pDlg = std::make_unique<CColorSettingsDlg>(ds))->show();
    // clang-format off
    for (const auto &[pszName, rgb] : {std::pair{"frameSwatch", qRgb(128, 128, 128)}, {"outlineSwatch", qRgb(128, 128, 128)},
             {"peakChipSwatch", qRgb(255, 255, 0)}, {"backgroundSwatch", qRgb(0, 0, 0)}, {"waveLineSwatch", qRgb(255, 128, 192)},
             {"levelChipSwatch", qRgb(0, 255, 255)}, {"levelChipPeakSwatch", qRgb(255, 128, 255)}})
        EXPECT_EQ(Pixel(pszName), rgb) << pszName;
    // clang-format on
    const DisplaySettings before = ds;
    QTest::mousePress(W("frameSwatch"), Qt::LeftButton);
    QTest::mouseRelease(W("backgroundSwatch"), Qt::LeftButton);
    ds.Cchip2 = 0x00336699;
    Click("levelGradientCheck");
    EXPECT_EQ(std::pair(ds.CGrad, g_bSettingsChanged), std::pair(0, 1));
    EXPECT_EQ(Pixel("levelChipPeakSwatch"), QColor(Qt::gray).rgb());
    Press("levelChipPeakSwatch");
    EXPECT_TRUE(presets.empty() && !QGuiApplication::overrideCursor() && !QWidget::mouseGrabber());
    Click("levelGradientCheck");
    EXPECT_EQ(Pixel("levelChipPeakSwatch"), qRgb(0x99, 0x66, 0x33));
    Press("levelChipPeakSwatch");
    EXPECT_EQ(presets, std::vector{QColor(0x99, 0x66, 0x33)});
    EXPECT_EQ(std::tuple(ds.Cchip2, ds.CGrad), std::tuple(0x030201, 1)); // applied at once
    g_bSettingsChanged = 0;
    QTest::keyClick(m_pDlg.get(), Qt::Key_Escape); // cancelling restores all
    EXPECT_EQ(std::tuple(m_pDlg->isVisible(), ds == before, g_bSettingsChanged),
              std::tuple(false, true, 0));
}

} // namespace
