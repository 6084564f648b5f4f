#include "platform/X11ShmPresenter.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

bool OnX11()
{
    return QGuiApplication::platformName() == u"xcb";
}

} // namespace

TEST(X11ShmPresenter, NoneWithoutAnXServerOrAWindow)
{
    EXPECT_EQ(X11ShmPresenter::Create(0, QSize(64, 32)), nullptr);
    if (!OnX11()) {
        QWidget window;
        window.resize(64, 32);
        window.show();
        EXPECT_EQ(X11ShmPresenter::Create(window.winId(), QSize(64, 32)), nullptr);
        return;
    }
    // A window id nobody made, and an empty image.
    EXPECT_EQ(X11ShmPresenter::Create(0x7ffffff0u, QSize(64, 32)), nullptr);
    QWidget window;
    window.show();
    EXPECT_EQ(X11ShmPresenter::Create(window.winId(), QSize(0, 32)), nullptr);
}

// What is put lands at the same place in the window, cut to the image;
// the rest of the window keeps what it showed.
TEST(X11ShmPresenter, PutsLandWhereTheyAreInTheImage)
{
    if (!OnX11())
        GTEST_SKIP() << "needs an X server (the presenter_on_x11 test)";
    QWidget window;
    window.setWindowFlags(Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
    window.setStyleSheet("background: #000000");
    window.setGeometry(0, 0, 64, 32);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);
    auto pPresenter = X11ShmPresenter::Create(window.winId(), QSize(64, 32));
    ASSERT_NE(pPresenter, nullptr);
    ASSERT_EQ(pPresenter->Size(), QSize(64, 32));
    ASSERT_EQ(pPresenter->Stride(), 64 * 4);
    QImage image(pPresenter->Bits(), 64, 32, pPresenter->Stride(), QImage::Format_RGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x)
            image.setPixel(x, y, qRgb(x * 4, y * 8, 200));
    const QRect put(8, 4, 16, 8), edge(60, 28, 10, 10); // the second one reaches past the image
    pPresenter->Put(put);
    pPresenter->Put(edge);
    pPresenter->Put(QRect(-5, -5, 3, 3)); // nothing of it inside
    pPresenter->Flush();
    const QImage shown =
        window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(64, 32));
    int nWrong = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) {
            const bool bPut = put.contains(x, y) || edge.contains(x, y);
            const QRgb expected = bPut ? qRgb(x * 4, y * 8, 200) : qRgb(0, 0, 0);
            nWrong += shown.pixel(x, y) != expected;
        }
    EXPECT_EQ(nWrong, 0);
}
