#include "PageTestSupport.h"

#include "dialogs/CFrameSettingsDlg.h"
#include "dialogs/CGraphAreaDlg.h"

#include <QTemporaryDir>

namespace {

DisplaySettings &ds = g_DisplaySettings;

using FrameSettingsDlgTest = PageTest<CFrameSettingsDlg>;

// Edits apply at once; a new picture gets margins of 10; every cancel restores the block.
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
    QImage image(100, 200, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 0));
    ASSERT_TRUE(image.save(dir.filePath("tall.bmp"), "BMP"));
    for (const auto &cancel : kCancelWays) {
        ResetSettings();
        ds.ImageList[0].bmpName = QStringLiteral("/x/old.bmp");
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
        cancel(m_pDlg.get());
        EXPECT_EQ(std::pair(ds == before, m_pDlg->isVisible()), std::pair(true, false));
    }
}

} // namespace
