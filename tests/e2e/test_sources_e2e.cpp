// What the program records, against the sound server of run_with_servers.sh
// (PulseAudio, or PipeWire's PulseAudio service): outputs "speakers" (the
// default) and "phones", the silent input "mic" (the default source). A
// 1 kHz tone plays into speakers and a 3 kHz tone into phones, each kept on
// its sink. The display shows what is playing and follows the default sink;
// --source default shows the microphone; the input chooser stores a choice.
#include "E2eSupport.h"

#include <QSettings>

using namespace e2e;

namespace {
// Lit pixels of column k of the 800 x 300 window: 3-pixel rings inset the
// graph by 9, columns 48 pixels apart from x = 18, labels in the bottom rows.
// At 22050 Hz and N = 512, 1 kHz lies in band 8 and 3 kHz in band 11.
int Lit(const QImage &img, int k)
{
    return LitPixels(img, QRect(18 + 48 * k, 9, 44, 268));
}
constexpr int kBand1k = 8, kBand3k = 11, kLitWell = 20 * 40;

QString Pactl(const QStringList &args)
{
    QProcess p;
    p.start("pactl", args);
    const bool bOk = p.waitForFinished(10000) && p.exitCode() == 0;
    EXPECT_TRUE(bOk) << "pactl " << args.join(' ').toStdString();
    return bOk ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

// The source that the one record stream (ours) hears, by name.
QString RecordedSource()
{
    const QString strIndex = Pactl({"list", "short", "source-outputs"}).section('\t', 1, 1);
    for (const QString &strLine : Pactl({"list", "short", "sources"}).split('\n'))
        if (!strIndex.isEmpty() && strLine.section('\t', 0, 0) == strIndex)
            return strLine.section('\t', 1, 1);
    return {};
}

// A tone that paplay plays into a sink for the whole run and that stays there
// when the default sink changes, which a stream merely started there does not:
// PipeWire keeps one that must not reconnect, PulseAudio one moved to its sink
// by hand while another was the default (over that other one, as a move to
// the sink it is on does nothing).
struct PinnedTone
{
    PinnedTone(const QString &strWav, const QString &strSink, const QString &strOther, int nNth)
        : play(QProcessEnvironment::systemEnvironment(),
               {"--latency-msec=20", "--property=node.dont-reconnect=true", "--device=" + strSink,
                strWav},
               "paplay")
    {
        if (qEnvironmentVariable("VEXLOR_E2E_SERVER") != "pulseaudio")
            return;
        Pactl({"set-default-sink", strOther});
        QStringList inputs;
        PollUntil(5000, 50, [&] {
            inputs = Pactl({"list", "short", "sink-inputs"}).split('\n', Qt::SkipEmptyParts);
            return inputs.size() >= nNth;
        });
        EXPECT_EQ(inputs.size(), nNth) << "paplay's stream did not appear";
        for (const QString &strTo : {strOther, strSink})
            Pactl({"move-sink-input", inputs.back().section('\t', 0, 0), strTo});
    }
    Program play;
};

class SourcesE2E : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!qEnvironmentVariableIsEmpty("VEXLOR_E2E_SKIP") || !HasTool("paplay"))
            return;
        s_pDir = std::make_unique<QTemporaryDir>();
        const QString str1k = s_pDir->filePath("1k.wav"), str3k = s_pDir->filePath("3k.wav");
        MakeTone(str1k, 300, 11025, 1000, 0.25);
        MakeTone(str3k, 300, 11025, 3000, 0.25);
        s_pTone1k = std::make_unique<PinnedTone>(str1k, "speakers", "phones", 1);
        s_pTone3k = std::make_unique<PinnedTone>(str3k, "phones", "speakers", 2);
    }
    static void TearDownTestSuite() { s_pTone3k.reset(), s_pTone1k.reset(), s_pDir.reset(); }
    void SetUp() override
    {
        if (!qEnvironmentVariableIsEmpty("VEXLOR_E2E_SKIP"))
            GTEST_SKIP() << "skipped: " << qPrintable(qEnvironmentVariable("VEXLOR_E2E_SKIP"));
        E2E_REQUIRE_X();
        ASSERT_TRUE(s_pTone3k && s_pTone3k->play.process.state() == QProcess::Running);
        Pactl({"set-default-sink", "speakers"});
    }
    // An 800 x 300 window after 2 s with these extra arguments, pictured.
    QImage Snapshot(const QStringList &args)
    {
        const QString strPng = m_home.filePath("shot.png");
        EXPECT_EQ(
            RunToEnd(Env(m_home.path(), "offscreen"),
                     QStringList{"--window", "800x300", "--snapshot", strPng, "--after", "2"} +
                         args),
            0);
        const QImage img(strPng);
        QFile::remove(strPng);
        EXPECT_EQ(img.size(), QSize(800, 300));
        return img;
    }
    QTemporaryDir m_home;
    static inline std::unique_ptr<QTemporaryDir> s_pDir;
    static inline std::unique_ptr<PinnedTone> s_pTone1k, s_pTone3k;
};
} // namespace

TEST_F(SourcesE2E, WhatIsPlayingByDefaultTheSilentMicrophoneWithSourceDefault)
{
    const QImage playing = Snapshot({}), mic = Snapshot({"--source", "default"});
    EXPECT_GT(Lit(playing, kBand1k), kLitWell);
    EXPECT_EQ(Lit(playing, kBand3k), 0);
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(Lit(mic, k), 0) << "band " << k;
}

TEST_F(SourcesE2E, FollowsTheDefaultSinkWithinASecond)
{
    Program run(Env(m_home.path(), "xcb"), {"--window", "800x300"});
    const Window window = FindWindow("Vexlor").toULong();
    ASSERT_NE(window, 0u);
    int n1k = 0, n3k = 0;
    // Takes a picture; nShown and nGone name the columns it measures.
    const auto shows = [&](const int &nShown, const int &nGone) {
        const QImage shot = Grab(XServer(), window, 800, 300);
        n1k = Lit(shot, kBand1k), n3k = Lit(shot, kBand3k);
        return nShown > kLitWell && nGone == 0;
    };
    ASSERT_TRUE(PollUntil(10000, 50, [&] { return shows(n1k, n3k); })) << n1k << ", " << n3k;

    QElapsedTimer clock;
    clock.start();
    Pactl({"set-default-sink", "phones"});
    ASSERT_TRUE(PollUntil(5000, 20, [&] { return shows(n3k, n1k); })) << n1k << ", " << n3k;
    EXPECT_LE(clock.elapsed(), 1000);
    EXPECT_EQ(RecordedSource(), "phones.monitor");
}

// The chooser's list opens over it with the chosen entry on it, one entry per 25 pixels:
// what is playing, the default input, then the sources in the server's order.
TEST_F(SourcesE2E, TheChooserStoresTheMicrophoneOnCloseAndEscLeavesTheFile)
{
    const QStringList sources = Pactl({"list", "short", "sources"}).split('\n', Qt::SkipEmptyParts);
    int nMic = 0;
    for (int i = 0; i < int(sources.size()); ++i)
        nMic = sources[i].section('\t', 1, 1) == "mic" ? i + 2 : nMic;
    ASSERT_GE(nMic, 2);
    const auto click = [](const QString &strWindow, int x, int y) {
        XDoTool({"mousemove", "--window", strWindow, QString::number(x), QString::number(y),
                 "click", "1"});
        QTest::qWait(400);
    };
    // Entry nTo of the list opened on entry nFrom, then 閉じる or Esc.
    const auto choose = [&](int nFrom, int nTo, bool bClose) {
        Program run(Env(m_home.path(), "xcb"), {"/c"});
        const QString strHub = FindWindow("スペアナの設定");
        QTest::qWait(1500);                // the server's sources come in while the dialog runs
        click(strHub, 26 + 209, 392 + 13); // inputCombo (26,392 418x26)
        click(strHub, 26 + 209, 392 + 13 + 25 * (nTo - nFrom));
        if (bClose)
            click(strHub, 14 + 34, 322 + 17); // closeButton (14,322 68x34)
        else
            XDoTool({"key", "Escape"}); // to the window under the pointer: no window manager
        EXPECT_TRUE(run.EndsCleanlyWithin(10000));
    };
    const QString strConf = m_home.filePath(".config/tanuwel/vexlor.conf");
    choose(0, nMic, true);
    EXPECT_EQ(QSettings(strConf, QSettings::IniFormat).value("Config/InputSource"), "mic");
    QFile file(strConf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    file.close();
    choose(nMic, 1, false); // the default input, then Esc
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), saved);
}
