#include "PageTestSupport.h"

#include "dialogs/CFrameSettingsDlg.h"
#include "dialogs/CGraphAreaDlg.h"
#include "dialogs/CPictureBox.h"

#include <QDir>
#include <QTemporaryDir>

#include <tuple>

namespace {

TEST(FitRectKeepAspect, CentresAlongTheAxisWithRoomToSpare)
{
    const struct
    {
        int w, h, W, H;
        RECT expected;
    } cases[] = {
        // Tall: full height, width 208 / 200 * 100 = 104, left (374 - 104) / 2 = 135.
        {100, 200, 374, 208, {135, 0, 239, 208}},
        // Wide: full width, height 374 / 400 * 100 = 93.5, top (208 - 93.5) / 2 = 57.25.
        {400, 100, 374, 208, {0, 57, 374, 150}},
        {374, 208, 374, 208, {0, 0, 374, 208}},
        {0, 50, 374, 208, {0, 0, 374, 208}},
        {50, -1, 374, 208, {0, 0, 374, 208}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FitRectKeepAspect(c.w, c.h, c.W, c.H), c.expected) << c.w << "x" << c.h;
}

class FrameSettingsDlgTest : public PageTest<CFrameSettingsDlg>
{
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        Choosers().chooseOpenFile = [this](const QString &strPreset, const QString &strDirectory,
                                           QWidget *) {
            m_strPreset = strPreset;
            m_strDirectory = strDirectory;
            return m_pick;
        };
    }
    QString WriteBmp(const QString &strName, int w, int h)
    {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(QColor(255, 0, 0));
        const QString strPath = m_dir.filePath(strName);
        EXPECT_TRUE(image.save(strPath, "BMP"));
        return strPath;
    }
    void Open()
    {
        m_pDlg = std::make_unique<CFrameSettingsDlg>(g_DisplaySettings);
        m_pDlg->show();
    }
    QImage Preview() { return Ctl<CPictureBox>("previewBox")->grab().toImage(); }
    static auto Area()
    {
        const DisplaySettings &ds = g_DisplaySettings;
        return std::tuple(ds.AreaLeft, ds.AreaTop, ds.AreaRight, ds.AreaBottom);
    }

    QTemporaryDir m_dir;
    std::optional<QString> m_pick;
    QString m_strPreset, m_strDirectory;
};

TEST_F(FrameSettingsDlgTest, EditsApplyAtOnceAndEveryCancelRestoresTheWholeBlock)
{
    for (const auto &cancel : kCancelWays) {
        ResetSettings();
        g_DisplaySettings.ImageList[0].bmpName = QStringLiteral("/x/old.bmp");
        const DisplaySettings before = g_DisplaySettings;
        Open();
        for (const char *pszName : {"waveCheck", "clockCheck", "strongAfterimageRadio",
                                    "freqLabelsCheck", "dividerCheck"})
            Click(pszName);
        EXPECT_EQ(g_bSettingsChanged, 1);
        const DisplaySettings &ds = g_DisplaySettings;
        EXPECT_EQ(
            std::tuple(ds.FwaveDisp, ds.FclockDisp, ds.FwaveZan, ds.FreqStrSw, ds.SpectFrameDraw),
            std::tuple(1, 1, 2, 0, 0));
        // A new picture: margins of 10, slot 0, the older one pushed down.
        m_pick = WriteBmp(QStringLiteral("tall.bmp"), 100, 200);
        Click("chooseImageButton");
        EXPECT_EQ(Area(), std::tuple(10, 10, 10, 10));
        EXPECT_EQ(ds.ImageList[0].bmpName, *m_pick);
        EXPECT_EQ(ds.ImageList[1].bmpName, QStringLiteral("/x/old.bmp"));
        EXPECT_EQ(Text("imagePathLabel"), *m_pick);
        // Fitted to 135..239 across the 374 x 208 preview, one pixel inside that.
        const QImage preview = Preview();
        const QRgb red = qRgb(255, 0, 0);
        EXPECT_EQ(preview.pixel(136, 1), red);
        EXPECT_EQ(preview.pixel(237, 206), red);
        for (const QPoint &pt : {QPoint(135, 104), QPoint(238, 104), QPoint(186, 207)})
            EXPECT_NE(preview.pixel(pt), red) << pt.x() << "," << pt.y();
        // Another new picture, and an area drawn on it in the graph area page.
        m_pick = WriteBmp(QStringLiteral("wide.bmp"), 200, 100);
        Click("chooseImageButton");
        EXPECT_EQ(ds.ImageList[1].bmpName, m_dir.filePath(QStringLiteral("tall.bmp")));
        WhenModalShows([](QWidget *pArea) {
            auto *pBox = Control<QWidget>(pArea, "areaBox");
            QTest::mousePress(pArea, Qt::LeftButton, {}, pBox->mapTo(pArea, QPoint(30, 20)));
            QTest::mouseRelease(pArea, Qt::LeftButton, {}, pBox->mapTo(pArea, QPoint(150, 90)));
            ::Click(pArea, "okButton");
        });
        Click("graphAreaButton");
        EXPECT_EQ(Area(), std::tuple(30, 20, 50, 10));
        cancel(m_pDlg.get());
        EXPECT_TRUE(g_DisplaySettings == before);
        EXPECT_FALSE(m_pDlg->isVisible());
    }
}

TEST_F(FrameSettingsDlgTest, RememberedPictureBringsBackItsAreaAndOptions)
{
    // Clock on, labels off, waveform on with the dark afterimage, Ldiv 1, Fdiv 16.
    const std::int32_t nWord = 0x2 | (3 << 2) | (1 << 4) | (16 << 8);
    auto &list = g_DisplaySettings.ImageList;
    list[0].bmpName = QStringLiteral("/x/first.bmp");
    list[2] =
        ImageEntry{QStringLiteral("/old/place/seen.bmp"), 5 * 65536 + 6, 7 * 65536 + 8, nWord};
    Open();
    m_pick = WriteBmp(QStringLiteral("seen.bmp"), 40, 30);
    Click("chooseImageButton");
    const DisplaySettings &ds = g_DisplaySettings;
    EXPECT_EQ(Area(), std::tuple(5, 7, 6, 8));
    EXPECT_EQ(std::tuple(ds.FwaveDisp, ds.FwaveZan, ds.FclockDisp, ds.FreqStrSw),
              std::tuple(1, 2, 1, 0));
    EXPECT_EQ(list[0].bmpName, *m_pick);
    EXPECT_EQ(list[1].bmpName, QStringLiteral("/x/first.bmp"));
    EXPECT_EQ(std::tuple(Ctl("waveCheck")->isChecked(), Ctl("strongAfterimageRadio")->isChecked(),
                         Ctl("clockCheck")->isChecked(), Ctl("freqLabelsCheck")->isChecked()),
              std::tuple(true, true, true, false));
}

TEST_F(FrameSettingsDlgTest, OpenFileChooserPresetAndFolder)
{
    // The current folder only for a stored name shorter than three characters.
    const std::pair<const char *, bool> cases[] = {
        {"", true}, {"ab", true}, {"abc", false}, {"/pics/sp.bmp", false}};
    for (const auto &[pszBmpName, bCurrentFolder] : cases) {
        ResetSettings();
        g_DisplaySettings.BmpName = QString::fromUtf8(pszBmpName);
        const DisplaySettings before = g_DisplaySettings;
        Open();
        Click("chooseImageButton"); // the stub cancels
        EXPECT_EQ(m_strPreset, g_DisplaySettings.BmpName);
        EXPECT_EQ(m_strDirectory, bCurrentFolder ? QDir::currentPath() : QString());
        EXPECT_TRUE(g_DisplaySettings == before) << pszBmpName;
        EXPECT_EQ(g_bSettingsChanged, 0);
    }
}

TEST_F(FrameSettingsDlgTest, NoBackgroundEmptiesPathAndPreviewAndDisablesTheArea)
{
    g_DisplaySettings.BmpName = WriteBmp(QStringLiteral("wide.bmp"), 400, 100);
    Open();
    const QPoint centre(187, 104);
    EXPECT_EQ(Preview().pixel(centre), qRgb(255, 0, 0));
    Click("noImageButton");
    EXPECT_TRUE(g_DisplaySettings.BmpName.isEmpty());
    EXPECT_TRUE(Text("imagePathLabel").isEmpty());
    EXPECT_EQ(Preview().pixel(centre), m_pDlg->palette().color(QPalette::Window).rgb());
    EXPECT_EQ(g_bSettingsChanged, 1);
    g_bSettingsChanged = 0;
    bool bOpened = false;
    QTimer::singleShot(0, [&bOpened] {
        if (QWidget *pModal = QApplication::activeModalWidget()) {
            bOpened = true;
            pModal->close();
        }
    });
    Click("graphAreaButton");
    QApplication::processEvents();
    EXPECT_FALSE(bOpened);
    EXPECT_EQ(g_bSettingsChanged, 0);
}

} // namespace
