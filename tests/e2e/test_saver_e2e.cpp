// The screen saver on a 1024 x 768 X server: full screen until the user's
// input, XScreenSaver's host windows, `cmake --install`.
#include "E2eSupport.h"

#include <QXmlStreamReader>

using namespace e2e;

namespace {
class SaverE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        E2E_REQUIRE_X();
        ASSERT_TRUE(HasTool("xdotool")) << "xdotool is missing (scripts/setup.sh installs it)";
        ASSERT_NE(m_pDisplay = XServer(), nullptr);
        MakeTone(m_strWav, 8, 44100, 1000, 0.25);
    }
    // The picture once the frame's ring is at pt and chips in rcInside are lit (10 s at most).
    QImage WaitForRing(Window window, QSize size, QPoint pt, const QRect &rcInside = {})
    {
        QImage shot;
        PollUntil(10000, 250, [&] {
            shot = Grab(m_pDisplay, window, size.width(), size.height());
            return !shot.isNull() && shot.pixel(pt) == kOuterRing && LitPixels(shot, rcInside) != 0;
        });
        return shot;
    }

    Display *m_pDisplay = nullptr;
    QTemporaryDir m_home;
    const QString m_strWav = m_home.filePath("tone.wav");
    const QProcessEnvironment m_env = Env(m_home.path(), "xcb");
};
} // namespace

TEST_F(SaverE2E, DrawsTheGraphCentredAndTheSecondMovementEndsIt)
{
    XDoTool({"mousemove", "300", "300"});
    Program run(m_env, {"/s", "--input", m_strWav});
    // 545 x 151 centred on 1024 x 768: (239, 308) to (784, 459). Rings of
    // 151 / 48 = 3 pixels put the columns 9 pixels in; labels take the bottom.
    const QRect rcColumns(QPoint(250, 320), QPoint(773, 430));
    const QImage shot =
        WaitForRing(DefaultRootWindow(m_pDisplay), {1024, 768}, {239, 308}, rcColumns);
    ExpectColour(shot, kOuterRing, {QPoint(239, 308), QPoint(783, 458)});
    ExpectColour(shot, kBlack, {QPoint(238, 307), QPoint(784, 459)});
    EXPECT_GT(LitPixels(shot, rcColumns), 500); // the 1 kHz column

    XDoTool({"mousemove", "310", "300"}); // the first movement is only noted
    EXPECT_FALSE(run.process.waitForFinished(1000));
    XDoTool({"mousemove", "330", "320"});
    EXPECT_TRUE(run.EndsCleanlyWithin(1000));
}

TEST_F(SaverE2E, AKeyOrAButtonEndsIt)
{
    for (const QStringList &action : {QStringList{"key", "x"}, QStringList{"key", "alt+F4"},
                                      QStringList{"click", "1"}, QStringList{"click", "3"}}) {
        Program run(m_env, {"/s", "--input", m_strWav});
        WaitForRing(DefaultRootWindow(m_pDisplay), {1024, 768}, {239, 308});
        XDoTool(action);
        EXPECT_TRUE(run.EndsCleanlyWithin(1000)) << action.join(' ').toStdString();
    }
}

TEST_F(SaverE2E, WindowIdDrawsIntoTheHostIgnoresInputAndEndsWithSigterm)
{
    const Window host = MakeHost(m_pDisplay, QRect(50, 50, 400, 300));
    Program run(m_env, {"-window-id", QString::number(qulonglong(host)), "--input", m_strWav});
    // 400 x 300: the width shrinks to 370, so the graph is (15, 74) to (385, 225);
    // the saver's background covers the rest of the host.
    const QImage shot = WaitForRing(host, {400, 300}, {15, 74});
    ExpectColour(shot, kOuterRing, {QPoint(15, 74), QPoint(384, 224)});
    ExpectColour(shot, kBlack, {QPoint(14, 74), QPoint(0, 0)});
    XDoTool({"mousemove", "100", "100", "mousemove", "200", "200", "click", "1", "key", "x"});
    EXPECT_FALSE(run.process.waitForFinished(700)); // only the host ends it
    run.process.terminate();                        // SIGTERM
    EXPECT_TRUE(run.EndsCleanlyWithin(3000));
    XDestroyWindow(m_pDisplay, host);
}

TEST_F(SaverE2E, RootDrawsIntoXScreenSaversWindowAndEndsWhenItGoes)
{
    const Window host = MakeHost(m_pDisplay, QRect(50, 50, 400, 300));
    QProcessEnvironment env = m_env;
    env.insert("XSCREENSAVER_WINDOW", QString("0x%1").arg(qulonglong(host), 0, 16));
    Program run(env, {"-root", "--input", m_strWav});
    EXPECT_EQ(WaitForRing(host, {400, 300}, {15, 74}).pixel(15, 74), kOuterRing);
    XDestroyWindow(m_pDisplay, host);
    XSync(m_pDisplay, False);
    EXPECT_TRUE(run.EndsCleanlyWithin(5000));
}

TEST(InstallE2E, InstallsTheProgramAndItsHackDescription)
{
    QTemporaryDir prefix;
    ASSERT_EQ(
        QProcess::execute(VEXLOR_CMAKE, {"--install", VEXLOR_BUILD_DIR, "--prefix", prefix.path()}),
        0);
    EXPECT_TRUE(QFileInfo(prefix.filePath("bin/vexlor")).isExecutable());

    QFile xml(prefix.filePath("share/xscreensaver/config/vexlor.xml"));
    ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
    QXmlStreamReader reader(&xml);
    QStringList seen; // the hack's name and label, and the command line XScreenSaver runs
    while (!reader.atEnd())
        if (reader.readNext() == QXmlStreamReader::StartElement)
            for (const QString &strAttribute : QStringList{"name", "_label", "arg"})
                if (reader.attributes().hasAttribute(strAttribute) &&
                    (reader.name() == u"screensaver" || reader.name() == u"command"))
                    seen << reader.attributes().value(strAttribute).toString();
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    EXPECT_EQ(seen, (QStringList{"vexlor", "Vexlor", "--root"}));
}
