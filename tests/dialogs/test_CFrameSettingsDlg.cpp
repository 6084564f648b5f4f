#include "PageTestSupport.h"

#include "dialogs/CFrameSettingsDlg.h"
#include "dialogs/CGraphAreaDlg.h"

#include <QTemporaryDir>

namespace {

DisplaySettings &ds = g_DisplaySettings;

// Tall: full height, width 208 / 200 * 100 = 104 at (374 - 104) / 2; wide: full width,
// height 374 / 400 * 100 = 93.5 at (208 - 93.5) / 2; no size: all of it.
TEST(FitRectKeepAspect, CentresAlongTheAxisWithRoomToSpare)
{
    // clang-format off
    const std::pair<QSize, RECT> cases[] = {{{100, 200}, {135, 0, 239, 208}}, {{400, 100}, {0, 57, 374, 150}},
        {{374, 208}, {0, 0, 374, 208}}, {{0, 50}, {0, 0, 374, 208}}, {{50, -1}, {0, 0, 374, 208}}};
    // clang-format on
    for (const auto &[size, expected] : cases)
        EXPECT_EQ(FitRectKeepAspect(size.width(), size.height(), 374, 208), expected)
            << size.width();
}

using FrameSettingsDlgTest = PageTest<CFrameSettingsDlg>;

// Edits apply at once; a new picture gets margins of 10 and slot 0; every way of cancelling
// restores the whole block.
TEST_F(FrameSettingsDlgTest, EditsApplyAtOnceAndEveryCancelRestoresTheWholeBlock)
{
    QTemporaryDir dir;
    std::optional<QString> pick;
    Choosers().chooseOpenFile = [&pick](const QString &, const QString &, QWidget *) {
        return pick;
    };
    const auto Area = [] {
        return std::tuple(ds.AreaLeft, ds.AreaTop, ds.AreaRight, ds.AreaBottom);
    };
    for (const QString &strName : {QStringLiteral("tall.bmp"), QStringLiteral("seen.bmp")}) {
        QImage image(100, 200, QImage::Format_RGB32);
        image.fill(QColor(255, 0, 0));
        ASSERT_TRUE(image.save(dir.filePath(strName), "BMP"));
    }
    for (const auto &cancel : kCancelWays) {
        ResetSettings();
        ds.ImageList[0].bmpName = QStringLiteral("/x/old.bmp");
        // Labels on, clock off, waveform on with the light afterimage, Ldiv 1, Fdiv 16.
        ds.ImageList[2] = ImageEntry{QStringLiteral("/old/place/seen.bmp"), 5 * 65536 + 6,
                                     7 * 65536 + 8, 0x1 | (2 << 2) | (1 << 4) | (16 << 8)};
        const DisplaySettings before = ds;
        (m_pDlg = std::make_unique<CFrameSettingsDlg>(ds))->show();
        for (const char *pszName : {"waveCheck", "clockCheck", "strongAfterimageRadio",
                                    "freqLabelsCheck", "dividerCheck"})
            Click(pszName);
        EXPECT_EQ(std::tuple(ds.FwaveDisp, ds.FclockDisp, ds.FwaveZan, ds.FreqStrSw,
                             ds.SpectFrameDraw, g_bSettingsChanged),
                  std::tuple(1, 1, 2, 0, 0, 1));
        pick = dir.filePath("tall.bmp");
        Click("chooseImageButton");
        EXPECT_EQ(Area(), std::tuple(10, 10, 10, 10));
        EXPECT_EQ(
            std::tuple(ds.ImageList[0].bmpName, ds.ImageList[1].bmpName, Text("imagePathLabel")),
            std::tuple(*pick, QStringLiteral("/x/old.bmp"), *pick));
        WhenModalShows([](QWidget *pArea) { // an area drawn on it in the graph area page
            auto *pBox = Control<QWidget>(pArea, "areaBox");
            QTest::mousePress(pArea, Qt::LeftButton, {}, pBox->mapTo(pArea, QPoint(30, 20)));
            QTest::mouseRelease(pArea, Qt::LeftButton, {}, pBox->mapTo(pArea, QPoint(60, 90)));
            ::Click(pArea, "okButton");
        });
        Click("graphAreaButton");
        EXPECT_EQ(Area(), std::tuple(30, 20, 40, 110));
        pick = dir.filePath("seen.bmp"); // remembered: its area and options come back
        Click("chooseImageButton");
        EXPECT_EQ(std::tuple(Area(), ds.FwaveZan, ds.FclockDisp, ds.FreqStrSw),
                  std::tuple(std::tuple(5, 7, 6, 8), 1, 0, 1));
        cancel(m_pDlg.get());
        EXPECT_EQ(std::pair(ds == before, m_pDlg->isVisible()), std::pair(true, false));
    }
}

} // namespace
