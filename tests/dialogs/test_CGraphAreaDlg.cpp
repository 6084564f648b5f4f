#include "dialogs/CGraphAreaDlg.h"
#include "dialogs/CPictureBox.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct GraphAreaDlgTest : ::testing::Test
{
    void Open(int w, int h, std::tuple<int, int, int, int> margins = {30, 20, 30, 20})
    {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(QColor(0, 0, 255));
        const QString strPath = m_dir.filePath(QStringLiteral("area.bmp"));
        image.save(strPath, "BMP");
        std::FILE *pFile = std::fopen(QFile::encodeName(strPath).constData(), "rb");
        (m_pDlg = std::make_unique<CGraphAreaDlg>())->m_hDib = ReadDibFile(pFile);
        std::fclose(pFile);
        std::tie(D().m_nLeft, D().m_nTop, D().m_nRight, D().m_nBottom) = margins;
        m_pDlg->show();
    }
    CGraphAreaDlg &D() const { return *m_pDlg; }
    auto Stored() { return std::tie(D().m_nLeft, D().m_nTop, D().m_nRight, D().m_nBottom); }
    CPictureBox *Area() const { return D().findChild<CPictureBox *>("areaBox"); }
    QImage Shown() const { return Area()->grab().toImage(); }
    QPoint At(QPoint pt) const { return Area()->mapTo(m_pDlg.get(), pt); }
    void Press(QPoint pt) { QTest::mousePress(m_pDlg.get(), Qt::LeftButton, {}, At(pt)); }
    void Move(QPoint pt) { QTest::mouseMove(m_pDlg.get(), At(pt)); }
    void Drag(QPoint a, QPoint b)
    {
        Press(a), Move((a + b) / 2), QTest::mouseRelease(m_pDlg.get(), Qt::LeftButton, {}, At(b));
    }

    QTemporaryDir m_dir;
    std::unique_ptr<CGraphAreaDlg> m_pDlg;
};

// Only a press and release inside (0 < x <= w, 0 < y < h) set the area; the band follows.
TEST_F(GraphAreaDlgTest, OnlyAPressAndReleaseInsideSetTheAreaAndDrawTheBand)
{
    // clang-format off
    const std::tuple<QPoint, QPoint, bool> cases[] = {{{50, 40}, {120, 70}, true}, {{120, 70}, {50, 40}, true},
        {{50, 40}, {120, 80}, false}, {{50, 40}, {0, 70}, false}, {{50, 40}, {121, 70}, false},
        {{0, 40}, {60, 60}, false}, {{50, 80}, {60, 60}, false}};
    // clang-format on
    for (const auto &[press, release, bChanges] : cases) {
        Open(120, 80, {1, 2, 3, 4});
        Drag(press, release);
        EXPECT_EQ(Stored(), bChanges ? std::tuple(50, 40, 0, 10) : std::tuple(1, 2, 3, 4));
    }
    D().setMouseTracking(true);
    const QImage before = Shown();
    Move({60, 50}); // no press: no band
    EXPECT_EQ(Shown(), before);
    Press({20, 10});
    for (const auto &[pt, bBand] : {std::pair{QPoint(60, 50), true}, {QPoint(121, 50), false}}) {
        Move(pt);
        EXPECT_EQ(Shown().pixel(40, 10) != before.pixel(40, 10), bBand);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, At({30, 30}), At({30, 30}), Qt::LeftButton, {},
                        {});
    release.ignore();
    QApplication::sendEvent(&D(), &release);
    EXPECT_TRUE(release.isAccepted());
}

// Halved twice to fit: margins at a quarter, 42 -> 10.5 -> 11, 20 -> 5, 80 -> 20, 41 -> 10.
TEST_F(GraphAreaDlgTest, DrawsGridAndOutlineAtTheScaledMargins)
{
    Open(1280, 960, {42, 20, 80, 41});
    EXPECT_EQ(Area()->geometry(), QRect(14, 66, 320, 240));
    const QImage shown = Shown();
    const QRgb k = qRgb(0, 0, 0), g = qRgb(0xC0, 0xC0, 0xC0), b = qRgb(0, 0, 255);
    // clang-format off
    const std::tuple<int, int, QRgb> pixels[] = {{0, 0, k}, {319, 239, k}, {5, 100, b}, {11, 100, k}, {300, 100, k},
        {150, 5, k}, {150, 230, k}, {10, 100, b}, {301, 100, b}, {150, 4, b}, {150, 231, b}, {13, 100, g},
        {299, 100, g}, {12, 100, b}, {12, 7, g}, {12, 229, g}, {12, 228, b}};
    // clang-format on
    for (const auto &[x, y, rgb] : pixels)
        EXPECT_EQ(shown.pixel(x, y), rgb) << x << "," << y;
}

} // namespace
