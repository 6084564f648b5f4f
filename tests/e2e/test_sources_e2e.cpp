// What the program records, against the sound server of run_with_sources.sh
// (PulseAudio, or PipeWire's PulseAudio service): outputs "speakers" (the
// default) and "phones", the input "mic" (the default source, silent). A
// 1 kHz tone plays into speakers and a 3 kHz tone into phones, each pinned
// to its sink. By default the display shows what is playing and follows the
// default sink; --source default shows the silent microphone; the settings
// dialog's input chooser, driven by real clicks, stores the choice.
#include "E2eSupport.h"

#include <QRegularExpression>
#include <QSettings>

#include <cstdio>
#include <memory>

using namespace e2e;

namespace {
// The 800 x 300 window's 16 columns: 3-pixel rings inset the graph by 9, the
// columns are 48 pixels apart from x = 18, the labels take the bottom rows.
// 1 kHz lies in band 8 and 3 kHz in band 11 (22050 Hz, N = 512, 100 Hz to 10 kHz).
QRect Column(int nBand)
{
    return QRect(18 + 48 * nBand, 9, 44, 268);
}
constexpr int kBand1k = 8, kBand3k = 11;
constexpr int kLit = 20 * 40; // a column lit well up

QString Pactl(const QStringList &args)
{
    QProcess p;
    p.start("pactl", args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0) {
        ADD_FAILURE() << "pactl " << args.join(' ').toStdString() << ": "
                      << p.readAllStandardError().constData();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The index of the block of `pactl list WHAT` (its "#N" heading) that holds
// the line strProperty = "strValue", and that block's text; -1 when none.
std::pair<int, QString> FindBlock(const QString &strWhat, const QString &strProperty,
                                  const QString &strValue)
{
    static const QRegularExpression heading(QStringLiteral("^\\S.*#(\\d+)$"),
                                            QRegularExpression::MultilineOption);
    const QString strList = Pactl({"list", strWhat});
    QRegularExpressionMatchIterator it = heading.globalMatch(strList);
    QList<std::pair<int, qsizetype>> starts;
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        starts.append({m.captured(1).toInt(), m.capturedStart()});
    }
    for (qsizetype i = 0; i < starts.size(); ++i) {
        const qsizetype nEnd = i + 1 < starts.size() ? starts[i + 1].second : strList.size();
        const QString strBlock = strList.mid(starts[i].second, nEnd - starts[i].second);
        if (strBlock.contains(strProperty + " = \"" + strValue + "\""))
            return {starts[i].first, strBlock};
    }
    return {-1, {}};
}

// The name of the source our stream records from, or empty.
QString RecordedSource()
{
    const QString strBlock = FindBlock("source-outputs", "application.name", "Vexlor").second;
    static const QRegularExpression source(QStringLiteral("Source: (\\d+)"));
    const QString strIndex = source.match(strBlock).captured(1);
    for (const QString &strLine : Pactl({"list", "short", "sources"}).split('\n'))
        if (!strIndex.isEmpty() && strLine.section('\t', 0, 0) == strIndex)
            return strLine.section('\t', 1, 1);
    return {};
}

// A tone played into a sink by paplay for the whole run, kept there when the
// default sink changes, which a stream merely started on a sink does not do.
// PipeWire keeps a stream that must not reconnect; PulseAudio one that was
// moved to its sink by hand while another sink was the default.
struct PinnedTone
{
    PinnedTone(const QString &strWav, const QString &strSink, const QString &strOtherSink)
        : play(QProcessEnvironment::systemEnvironment(),
               {"--latency-msec=20", "--property=node.dont-reconnect=true", "--device=" + strSink,
                strWav},
               "paplay")
    {
        if (qEnvironmentVariable("VEXLOR_E2E_SERVER") != "pulseaudio")
            return;
        Pactl({"set-default-sink", strOtherSink});
        const QString strPid = QString::number(play.process.processId());
        int nInput = -1;
        PollUntil(5000, 50, [&] {
            nInput = FindBlock("sink-inputs", "application.process.id", strPid).first;
            return nInput >= 0;
        });
        EXPECT_GE(nInput, 0) << "paplay's stream did not appear";
        // A move to the sink it is on does nothing, and a move to the default sink
        // forgets the sink; so over the other sink to its own.
        Pactl({"move-sink-input", QString::number(nInput), strOtherSink});
        Pactl({"move-sink-input", QString::number(nInput), strSink});
    }
    Program play;
};

class SourcesE2E : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!qEnvironmentVariableIsEmpty("VEXLOR_E2E_SKIP") ||
            qEnvironmentVariableIsEmpty("DISPLAY"))
            return;
        s_pDir = new QTemporaryDir;
        const QString str1k = s_pDir->filePath("1k.wav"), str3k = s_pDir->filePath("3k.wav");
        MakeTone(str1k, 300, 11025, 1000, 0.25);
        MakeTone(str3k, 300, 11025, 3000, 0.25);
        s_pTone1k = new PinnedTone(str1k, "speakers", "phones");
        s_pTone3k = new PinnedTone(str3k, "phones", "speakers");
        Pactl({"set-default-sink", "speakers"});
    }
    static void TearDownTestSuite()
    {
        delete s_pTone3k;
        delete s_pTone1k;
        delete s_pDir;
    }
    void SetUp() override
    {
        if (!qEnvironmentVariableIsEmpty("VEXLOR_E2E_SKIP"))
            GTEST_SKIP() << "skipped: " << qPrintable(qEnvironmentVariable("VEXLOR_E2E_SKIP"));
        E2E_REQUIRE_X();
        ASSERT_TRUE(m_home.isValid());
        ASSERT_TRUE(s_pTone1k && s_pTone3k);
        ASSERT_EQ(s_pTone1k->play.process.state(), QProcess::Running);
        Pactl({"set-default-sink", "speakers"});
    }
    // A snapshot of an 800 x 300 window after 2 s with these extra arguments.
    QImage Snapshot(const QStringList &args, QByteArray *pStderr = nullptr)
    {
        const QString strPng = m_home.filePath("shot.png");
        QFile::remove(strPng);
        EXPECT_EQ(
            RunToEnd(Env(m_home.path(), "offscreen"),
                     QStringList{"--window", "800x300", "--snapshot", strPng, "--after", "2"} +
                         args,
                     pStderr),
            0);
        return QImage(strPng);
    }
    QTemporaryDir m_home;
    static QTemporaryDir *s_pDir;
    static PinnedTone *s_pTone1k;
    static PinnedTone *s_pTone3k;
};
QTemporaryDir *SourcesE2E::s_pDir = nullptr;
PinnedTone *SourcesE2E::s_pTone1k = nullptr;
PinnedTone *SourcesE2E::s_pTone3k = nullptr;

// Lit pixels of the 16 columns.
std::vector<int> Columns(const QImage &img)
{
    std::vector<int> lit;
    for (int k = 0; k < 16; ++k)
        lit.push_back(LitPixels(img, Column(k)));
    return lit;
}
} // namespace

TEST_F(SourcesE2E, WhatIsPlayingByDefaultTheSilentMicrophoneWithSourceDefault)
{
    const QImage playing = Snapshot({});
    ASSERT_EQ(playing.size(), QSize(800, 300));
    KeepSnapshot(playing, "source-playing.png");
    const std::vector<int> lit = Columns(playing);
    EXPECT_GT(lit[kBand1k], kLit);
    EXPECT_EQ(lit[kBand3k], 0);

    const QImage mic = Snapshot({"--source", "default"});
    ASSERT_EQ(mic.size(), QSize(800, 300));
    KeepSnapshot(mic, "source-default.png");
    for (int n : Columns(mic))
        EXPECT_EQ(n, 0);

    // A name the server never had: one line, and the device error instead of columns.
    QByteArray err;
    const QImage none = Snapshot({"--source", "no_such_source"}, &err);
    ASSERT_EQ(none.size(), QSize(800, 300));
    EXPECT_EQ(err.count('\n'), 1) << err.constData();
    EXPECT_TRUE(err.contains("no_such_source")) << err.constData();
    EXPECT_LE(CountPixels(none, QRect(9, 100, 782, 1), Is(kOutline)), 4);
}

TEST_F(SourcesE2E, FollowsTheDefaultSinkWithinASecond)
{
    Program run(Env(m_home.path(), "xcb"), {"--window", "800x300"});
    const QString strWindow =
        XDoTool({"search", "--sync", "--onlyvisible", "--name", "^Vexlor$"}).split('\n').value(0);
    ASSERT_FALSE(strWindow.isEmpty());
    const Window window = strWindow.toULong();
    std::vector<int> lit;
    const auto shows = [&](int nBand, int nOther) {
        lit = Columns(Grab(XServer(), window, 800, 300));
        return lit[size_t(nBand)] > kLit && lit[size_t(nOther)] == 0;
    };
    ASSERT_TRUE(PollUntil(10000, 50, [&] { return shows(kBand1k, kBand3k); }))
        << "1 kHz: " << lit[kBand1k] << ", 3 kHz: " << lit[kBand3k];
    EXPECT_EQ(RecordedSource(), "speakers.monitor");

    QElapsedTimer clock;
    clock.start();
    Pactl({"set-default-sink", "phones"});
    ASSERT_TRUE(PollUntil(5000, 20, [&] { return shows(kBand3k, kBand1k); }))
        << "1 kHz: " << lit[kBand1k] << ", 3 kHz: " << lit[kBand3k];
    const qint64 nMs = clock.elapsed();
    KeepSnapshot(Grab(XServer(), window, 800, 300), "source-followed.png");
    std::printf("the display followed the default sink in %lld ms (%s)\n", qlonglong(nMs),
                qPrintable(qEnvironmentVariable("VEXLOR_E2E_SERVER")));
    EXPECT_LE(nMs, 1000) << "the display took " << nMs << " ms to follow";
    EXPECT_EQ(RecordedSource(), "phones.monitor");
    EXPECT_EQ(run.process.state(), QProcess::Running);
}

TEST_F(SourcesE2E, TheChooserStoresTheMicrophoneOnCloseAndEscLeavesTheFile)
{
    ASSERT_TRUE(HasTool("xdotool"));
    // The chooser's entries: what is playing, the default input, then the sources in the
    // server's order; its list opens over the box with the chosen entry on it.
    const QStringList sources = Pactl({"list", "short", "sources"}).split('\n', Qt::SkipEmptyParts);
    qsizetype nMic = -1;
    for (qsizetype i = 0; i < sources.size(); ++i)
        nMic = sources[i].section('\t', 1, 1) == "mic" ? i + 2 : nMic;
    ASSERT_GE(nMic, 2);
    constexpr QPoint kChooser{26 + 209, 386 + 13}; // inputCombo (26,386 418x26)
    constexpr QPoint kClose{14 + 34, 322 + 17};    // closeButton (14,322 68x34)
    constexpr int kItemHeight = 25;
    const QString strConf = m_home.filePath(".config/tanuwel/vexlor.conf");

    // Picks entry nTo of the list opened on entry nFrom, then 閉じる or Esc.
    const auto choose = [&](qsizetype nFrom, qsizetype nTo, bool bClose) {
        Program run(Env(m_home.path(), "xcb"), {"/c"});
        const QString strHub =
            XDoTool({"search", "--sync", "--onlyvisible", "--name", "^スペアナの設定$"})
                .split('\n')
                .value(0);
        ASSERT_FALSE(strHub.isEmpty());
        QTest::qWait(1500); // the server's sources come in while the dialog runs
        XDoTool({"mousemove", "--window", strHub, QString::number(kChooser.x()),
                 QString::number(kChooser.y()), "click", "1"});
        QTest::qWait(500);
        XDoTool({"mousemove", "--window", strHub, QString::number(kChooser.x()),
                 QString::number(kChooser.y() + kItemHeight * int(nTo - nFrom)), "click", "1"});
        QTest::qWait(300);
        if (bClose)
            XDoTool({"mousemove", "--window", strHub, QString::number(kClose.x()),
                     QString::number(kClose.y()), "click", "1"});
        else
            XDoTool({"key", "Escape"}); // to the window under the pointer: no window manager
        EXPECT_TRUE(run.EndsCleanlyWithin(10000));
    };
    choose(0, nMic, true);
    ASSERT_TRUE(QFile::exists(strConf));
    EXPECT_EQ(QSettings(strConf, QSettings::IniFormat).value("Config/InputSource").toString(),
              "mic");

    QFile file(strConf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    file.close();
    choose(nMic, 1, false); // the default input, then Esc
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), saved);
}

// A chosen source that goes: the device error (the big clock, no columns); back within 2 s of
// its return.
TEST_F(SourcesE2E, AChosenSourceThatGoesIsADeviceErrorUntilItReturns)
{
    const QString strModule = [] {
        for (const QString &strLine : Pactl({"list", "short", "modules"}).split('\n'))
            if (strLine.contains("_name=mic "))
                return strLine;
        return QString();
    }();
    ASSERT_FALSE(strModule.isEmpty());
    Program run(Env(m_home.path(), "xcb"), {"--window", "800x300", "--source", "mic"});
    const QString strWindow =
        XDoTool({"search", "--sync", "--onlyvisible", "--name", "^Vexlor$"}).split('\n').value(0);
    ASSERT_FALSE(strWindow.isEmpty());
    const Window window = strWindow.toULong();
    // The column frames cross a row through the graph: 17 edges, or none behind the big clock.
    const auto edges = [&] {
        return CountPixels(Grab(XServer(), window, 800, 300), QRect(9, 100, 782, 1), Is(kOutline));
    };
    ASSERT_TRUE(PollUntil(10000, 50, [&] { return edges() >= 16; }));

    Pactl({"unload-module", strModule.section('\t', 0, 0)});
    EXPECT_TRUE(PollUntil(5000, 50, [&] { return edges() <= 4; })) << "no device error";
    KeepSnapshot(Grab(XServer(), window, 800, 300), "source-gone.png");
    QElapsedTimer clock;
    clock.start();
    Pactl(QStringList{"load-module", strModule.section('\t', 1, 1)} +
          strModule.section('\t', 2, 2).split(' ', Qt::SkipEmptyParts));
    EXPECT_TRUE(PollUntil(5000, 50, [&] { return edges() >= 16; }));
    std::printf("the spectrum came back %lld ms after the source (%s)\n",
                qlonglong(clock.elapsed()), qPrintable(qEnvironmentVariable("VEXLOR_E2E_SERVER")));
    EXPECT_LE(clock.elapsed(), 2000);
    Pactl({"set-default-source", "mic"});
}
