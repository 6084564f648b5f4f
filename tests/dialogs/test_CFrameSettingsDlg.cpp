#include "PageTestSupport.h"

#include "dialogs/CFrameSettingsDlg.h"
#include "dialogs/CGraphAreaDlg.h"
#include "dialogs/CPictureBox.h"

#include <QDir>
#include <QTemporaryDir>

namespace {

DisplaySettings &ds = g_DisplaySettings;

// Tall: full height, width 208 / 200 * 100 = 104 at (374 - 104) / 2; wide: full width,
// height 374 / 400 * 100 = 93.5 at (208 - 93.5) / 2; no size: all of it.
TEST(FitRectKeepAspect, CentresAlongTheAxisWithRoomToSpare)
{
    const std::pair<QSize, RECT> cases[] = {{{100, 200}, {135, 0, 239, 208}},
                                            {{400, 100}, {0, 57, 374, 150}},
                                            {{374, 208}, {0, 0, 374, 208}},
                                            {{0, 50}, {0, 0, 374, 208}},
                                            {{50, -1}, {0, 0, 374, 208}}};
    for (const auto &[size, expected] : cases)
        EXPECT_EQ(FitRectKeepAspect(size.width(), size.height(), 374, 208), expected)
            << size.width();
}

struct FrameSettingsDlgTest : PageTest<CFrameSettingsDlg>
{
    void SetUp() override
    {
        PageTest::SetUp();
        Choosers().chooseOpenFile = [this](const QString &strPreset, const QString &strDir,
                                           QWidget *) {
            m_strPreset = strPreset, m_strDirectory = strDir;
            return m_pick;
        };
    }
    QString WriteBmp(const QString &strName, int w, int h)
    {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(QColor(255, 0, 0));
        image.save(m_dir.filePath(strName), "BMP");
        return m_dir.filePath(strName);
    }
    void Open() { (m_pDlg = std::make_unique<CFrameSettingsDlg>(ds))->show(); }
    QRgb PreviewCentre()
    {
        return Ctl<CPictureBox>("previewBox")->grab().toImage().pixel(187, 104);
    }
    static auto Area() { return std::tuple(ds.AreaLeft, ds.AreaTop, ds.AreaRight, ds.AreaBottom); }

    QTemporaryDir m_dir;
    std::optional<QString> m_pick;
    QString m_strPreset, m_strDirectory;
};

// Edits apply at once; a new picture gets margins of 10 and slot 0; every way of
// cancelling restores the whole block.
TEST_F(FrameSettingsDlgTest, EditsApplyAtOnceAndEveryCancelRestoresTheWholeBlock)
{
    for (const auto &cancel : kCancelWays) {
        ResetSettings();
        ds.ImageList[0].bmpName = QStringLiteral("/x/old.bmp");
        const DisplaySettings before = ds;
        Open();
        for (const char *pszName : {"waveCheck", "clockCheck", "strongAfterimageRadio",
                                    "freqLabelsCheck", "dividerCheck"})
            Click(pszName);
        EXPECT_EQ(std::tuple(ds.FwaveDisp, ds.FclockDisp, ds.FwaveZan, ds.FreqStrSw,
                             ds.SpectFrameDraw, g_bSettingsChanged),
                  std::tuple(1, 1, 2, 0, 0, 1));
        m_pick = WriteBmp(QStringLiteral("tall.bmp"), 100, 200);
        Click("chooseImageButton");
        EXPECT_EQ(Area(), std::tuple(10, 10, 10, 10));
        EXPECT_EQ(
            std::tuple(ds.ImageList[0].bmpName, ds.ImageList[1].bmpName, Text("imagePathLabel")),
            std::tuple(*m_pick, QStringLiteral("/x/old.bmp"), *m_pick));
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

TEST_F(FrameSettingsDlgTest, RememberedPictureBringsBackItsAreaAndOptions)
{
    // Clock on, labels off, waveform on with the dark afterimage, Ldiv 1, Fdiv 16.
    ds.ImageList[0].bmpName = QStringLiteral("/x/first.bmp");
    ds.ImageList[2] = ImageEntry{QStringLiteral("/old/place/seen.bmp"), 5 * 65536 + 6,
                                 7 * 65536 + 8, 0x2 | (3 << 2) | (1 << 4) | (16 << 8)};
    Open();
    m_pick = WriteBmp(QStringLiteral("seen.bmp"), 40, 30);
    Click("chooseImageButton");
    EXPECT_EQ(Area(), std::tuple(5, 7, 6, 8));
    EXPECT_EQ(std::tuple(ds.FwaveDisp, ds.FwaveZan, ds.FclockDisp, ds.FreqStrSw),
              std::tuple(1, 2, 1, 0));
    EXPECT_EQ(std::pair(ds.ImageList[0].bmpName, ds.ImageList[1].bmpName),
              std::pair(*m_pick, QStringLiteral("/x/first.bmp")));
}

// The chooser starts in the current folder only for a stored name shorter than three characters.
TEST_F(FrameSettingsDlgTest, OpenFileChooserPresetAndFolder)
{
    for (const auto &[pszBmpName, bCurrentFolder] :
         {std::pair{"", true}, {"ab", true}, {"abc", false}, {"/pics/sp.bmp", false}}) {
        ds.BmpName = QString::fromUtf8(pszBmpName);
        const DisplaySettings before = ds;
        Open();
        Click("chooseImageButton"); // the stub cancels
        EXPECT_EQ(
            std::tuple(m_strPreset, m_strDirectory, ds == before, g_bSettingsChanged),
            std::tuple(ds.BmpName, bCurrentFolder ? QDir::currentPath() : QString(), true, 0));
    }
}

TEST_F(FrameSettingsDlgTest, NoBackgroundEmptiesPathAndPreview)
{
    ds.BmpName = WriteBmp(QStringLiteral("wide.bmp"), 400, 100);
    Open();
    EXPECT_EQ(PreviewCentre(), qRgb(255, 0, 0));
    Click("noImageButton");
    EXPECT_EQ(std::tuple(ds.BmpName, Text("imagePathLabel"), PreviewCentre(), g_bSettingsChanged),
              std::tuple(QString(), QString(), m_pDlg->palette().color(QPalette::Window).rgb(), 1));
}

} // namespace
