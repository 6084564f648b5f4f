#include "dialogs/CGraphAreaDlg.h"
#include "dialogs/CPictureBox.h"

#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

// The form's image area (7,33 in dialog units) and Cancel button (225+30).
constexpr int kAreaLeft = 14, kAreaTop = 66, kCancelRight = 510;

class GraphAreaDlgTest : public ::testing::Test
{
protected:
    // A dialog over a w x h picture of one colour, shown and laid out.
    void Open(int w, int h, int nLeft = 30, int nTop = 20, int nRight = 30, int nBottom = 20)
    {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(QColor(0, 0, 255));
        const QString strPath = m_dir.filePath(QStringLiteral("area.bmp"));
        ASSERT_TRUE(image.save(strPath, "BMP"));
        std::FILE *pFile = std::fopen(QFile::encodeName(strPath).constData(), "rb");
        ASSERT_NE(pFile, nullptr);
        m_pDlg = std::make_unique<CGraphAreaDlg>();
        m_pDlg->m_hDib = ReadDibFile(pFile);
        std::fclose(pFile);
        ASSERT_TRUE(m_pDlg->m_hDib);
        m_pDlg->m_nLeft = nLeft, m_pDlg->m_nTop = nTop;
        m_pDlg->m_nRight = nRight, m_pDlg->m_nBottom = nBottom;
        m_pDlg->show();
        m_pArea = m_pDlg->findChild<CPictureBox *>(QStringLiteral("areaBox"));
        ASSERT_NE(m_pArea, nullptr);
    }
    // Mouse actions at image-area pixels.
    QPoint At(int x, int y) const { return m_pArea->mapTo(m_pDlg.get(), QPoint(x, y)); }
    void Press(int x, int y) { QTest::mousePress(m_pDlg.get(), Qt::LeftButton, {}, At(x, y)); }
    void Move(int x, int y) { QTest::mouseMove(m_pDlg.get(), At(x, y)); }
    void Release(int x, int y) { QTest::mouseRelease(m_pDlg.get(), Qt::LeftButton, {}, At(x, y)); }
    void Drag(QPoint from, QPoint to)
    {
        Press(from.x(), from.y());
        Move((from.x() + to.x()) / 2, (from.y() + to.y()) / 2);
        Release(to.x(), to.y());
    }
    std::array<int, 4> Margins() const
    {
        return {m_pDlg->m_nLeft, m_pDlg->m_nTop, m_pDlg->m_nRight, m_pDlg->m_nBottom};
    }
    QImage Shown() const { return m_pArea->grab().toImage(); }

    QTemporaryDir m_dir;
    std::unique_ptr<CGraphAreaDlg> m_pDlg;
    CPictureBox *m_pArea = nullptr;
};

TEST_F(GraphAreaDlgTest, HalvesUntilItFitsAndSizesTheDialog)
{
    const struct
    {
        int w, h, nShownW, nShownH;
        double fScale;
    } cases[] = {
        {1280, 960, 320, 240, 0.25}, {560, 380, 560, 380, 1.0}, {561, 100, 280, 50, 0.5},
        {100, 381, 50, 190, 0.5},    {120, 80, 120, 80, 1.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        Open(c.w, c.h);
        EXPECT_EQ(m_pArea->size(), QSize(c.nShownW, c.nShownH));
        EXPECT_EQ(m_pArea->pos(), QPoint(kAreaLeft, kAreaTop));
        EXPECT_EQ(m_pDlg->size(), QSize(std::max(kAreaLeft + c.nShownW, kCancelRight) + 10,
                                        kAreaTop + c.nShownH + 50));
        // A click without moving makes an area of no size at that point.
        const int x = c.nShownW / 3, y = c.nShownH / 3;
        Press(x, y);
        Release(x, y);
        const std::array<int, 4> expected = {int(x / c.fScale + 0.5), int(y / c.fScale + 0.5),
                                             int((c.nShownW - x) / c.fScale + 0.5),
                                             int((c.nShownH - y) / c.fScale + 0.5)};
        EXPECT_EQ(Margins(), expected);
    }
}

TEST_F(GraphAreaDlgTest, DragInEitherDirectionStoresTheSameMargins)
{
    for (bool bBackwards : {false, true}) {
        Open(1280, 960);
        bBackwards ? Drag({100, 50}, {20, 10}) : Drag({20, 10}, {100, 50});
        EXPECT_EQ(Margins(), (std::array<int, 4>{20 * 4, 10 * 4, (320 - 100) * 4, (240 - 50) * 4}));
    }
}

TEST_F(GraphAreaDlgTest, OnlyAReleaseInsideAfterAPressInsideSetsTheArea)
{
    // Inside means 0 < x <= width and 0 < y < height of the shown picture.
    const struct
    {
        QPoint press, release;
        bool bChanges;
    } cases[] = {
        {{50, 40}, {120, 70}, true},  {{50, 40}, {120, 80}, false}, {{50, 40}, {0, 70}, false},
        {{50, 40}, {121, 70}, false}, {{0, 40}, {60, 60}, false},   {{50, 80}, {60, 60}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "release at " << c.release.x() << "," << c.release.y());
        Open(120, 80, 1, 2, 3, 4);
        Drag(c.press, c.release);
        const std::array<int, 4> kChanged{50, 40, 0, 10}, kKept{1, 2, 3, 4};
        EXPECT_EQ(Margins(), c.bChanges ? kChanged : kKept);
    }
}

TEST_F(GraphAreaDlgTest, DrawsGridAndOutlineAtTheScaledMargins)
{
    // Quarter scale: 42 -> 10.5 -> 11, 20 -> 5, 320 - 20 = 300, 240 - 10.25 -> 230.
    Open(1280, 960, 42, 20, 80, 41);
    const QImage shown = Shown();
    const QRgb black = qRgb(0, 0, 0), grey = qRgb(0xC0, 0xC0, 0xC0), blue = qRgb(0, 0, 255);
    const struct
    {
        int x, y;
        QRgb rgb;
    } pixels[] = {
        {0, 0, black},    {319, 239, black}, {5, 100, blue}, // frame, picture outside
        {11, 100, black}, {300, 100, black}, {150, 5, black}, {150, 230, black}, // outline
        {10, 100, blue},  {301, 100, blue},  {150, 4, blue},  {150, 231, blue},  {13, 100, grey},
        {299, 100, grey}, {12, 100, blue},   {12, 7, grey},   {12, 229, grey},   {12, 228, blue},
    };
    for (const auto &p : pixels)
        EXPECT_EQ(shown.pixel(p.x, p.y), p.rgb) << p.x << "," << p.y;
}

// Margins far outside the picture: the grid covers all of it, the outline is out of view.
TEST_F(GraphAreaDlgTest, WildStoredMarginsStillDrawTheGridOverThePicture)
{
    Open(1280, 960, INT_MIN, INT_MIN, INT_MIN, INT_MIN);
    const QImage shown = Shown();
    int nGrey = 0;
    for (int x = 1; x < 319; ++x)
        nGrey += shown.pixel(x, 100) == qRgb(0xC0, 0xC0, 0xC0) ? 1 : 0;
    EXPECT_GE(nGrey, 318 / 2);
}

TEST_F(GraphAreaDlgTest, RubberBandInvertsAndDrawingItAgainRestoresThePicture)
{
    Open(1280, 960);
    const QImage before = Shown();
    Press(100, 50);
    Move(20, 10);
    const QImage during = Shown();
    for (const QPoint &pt : {QPoint(60, 10), QPoint(20, 30), QPoint(100, 30), QPoint(60, 50)})
        EXPECT_EQ(during.pixel(pt), before.pixel(pt) ^ 0x00FFFFFFu) << pt.x() << "," << pt.y();
    EXPECT_EQ(during.pixel(60, 30), before.pixel(60, 30));
    Move(100, 50); // back on the anchor: the band goes
    EXPECT_EQ(Shown(), before);
    Move(30, 20);
    Release(30, 400); // outside: no change, no band
    EXPECT_EQ(Shown(), before);
    EXPECT_EQ(Margins(), (std::array<int, 4>{30, 20, 30, 20}));
}

} // namespace
