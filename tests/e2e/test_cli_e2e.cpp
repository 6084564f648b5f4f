// The program's answers through its exit status and its error output, under
// the X server that run_with_xvfb.sh starts: what needs no display runs
// without one, and failures that once ended with status 0 (or never ended)
// are reported.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

struct Outcome
{
    int nExit = -1; // -1: crashed or still running after 20 s
    QByteArray out;
    QByteArray err;
};

// Runs the program with a settings folder of its own holding strConfig (as
// vexlor.conf, when not empty) and the environment changes given
// ("NAME=value", or "-NAME" to remove NAME), its files limited to
// nFileSizeLimit bytes.
Outcome RunVexlor(const QStringList &args, const QTemporaryDir &home, const QStringList &env = {},
                  const QByteArray &strConfig = {}, rlim_t nFileSizeLimit = RLIM_INFINITY)
{
    QDir().mkpath(home.filePath(QStringLiteral("tanuwel")));
    QFile config(home.filePath(QStringLiteral("tanuwel/vexlor.conf")));
    if (!strConfig.isEmpty() && config.open(QIODevice::WriteOnly))
        config.write(strConfig);
    config.close();
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString &s : env) {
        if (s.startsWith(u'-'))
            e.remove(s.mid(1));
        else
            e.insert(s.section(u'=', 0, 0), s.section(u'=', 1));
    }
    QProcess p;
    p.setProcessEnvironment(e);
    if (nFileSizeLimit != RLIM_INFINITY) {
        // Writes past the limit fail (EFBIG) rather than raise SIGXFSZ: a
        // full disk that anyone can make.
        p.setChildProcessModifier([nFileSizeLimit] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{nFileSizeLimit, nFileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    p.start(QStringLiteral(VEXLOR_BINARY), args);
    Outcome o;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return o;
    }
    o.out = p.readAllStandardOutput();
    // Qt's own remark about XDG_RUNTIME_DIR is not the program's.
    for (const QByteArray &line : p.readAllStandardError().split('\n'))
        if (!line.isEmpty() && !line.startsWith("QStandardPaths:"))
            o.err += line + '\n';
    if (p.exitStatus() == QProcess::NormalExit)
        o.nExit = p.exitCode();
    return o;
}

} // namespace

TEST(CliE2E, WhatNeedsNoDisplayRunsWithoutOne)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QStringList noDisplay = {"-DISPLAY", "-WAYLAND_DISPLAY", "QT_QPA_PLATFORM="};
    struct Case
    {
        QStringList args;
        int nExit;
        QByteArray out; // the start of standard output
        QByteArray err; // a part of the one error line
    };
    const std::vector<Case> cases = {
        {{"--help"}, 0, "Usage: vexlor", {}},
        {{"--version"}, 0, "vexlor " VEXLOR_VERSION "\n", {}},
        {{"/s", "--snapshot", "x.png", "--after", "NaN"}, 2, {}, "--after"},
        {{"/s"}, 1, {}, "no display (DISPLAY or WAYLAND_DISPLAY is unset)"},
        {{"--root", "--type", "5"}, 2, {}, "--type: not a display type from 0 to 4: '5'"},
        {{"--root", "--bands", "81"}, 2, {}, "--bands: not a number of bands from 1 to 80: '81'"},
        {{"--window"}, 1, {}, "no display (DISPLAY or WAYLAND_DISPLAY is unset)"},
    };
    for (const Case &c : cases) {
        const Outcome o = RunVexlor(c.args, home, noDisplay);
        const std::string strCase = c.args.join(u' ').toStdString();
        EXPECT_EQ(o.nExit, c.nExit) << strCase << ": " << o.err.constData();
        EXPECT_TRUE(o.out.startsWith(c.out)) << strCase << ": " << o.out.constData();
        EXPECT_EQ(o.err.count('\n'), c.err.isEmpty() ? 0 : 1)
            << strCase << ": " << o.err.constData();
        EXPECT_TRUE(o.err.contains(c.err)) << strCase << ": " << o.err.constData();
    }
}

TEST(CliE2E, FailuresAreReportedAndOddPicturesDoNotHang)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString strFifo = home.filePath(QStringLiteral("fifo.bmp"));
    ASSERT_EQ(mkfifo(QFile::encodeName(strFifo).constData(), 0600), 0);
    const QString strPng = home.filePath(QStringLiteral("out.png"));
    const QStringList window = {"--window", "300x120", "--demo", "--after", "0.3", "--snapshot"};

    // A full device: the picture cannot be written.
    Outcome o = RunVexlor(window + QStringList{"/dev/full"}, home);
    EXPECT_EQ(o.nExit, 1) << o.err.constData();
    EXPECT_EQ(o.err.count('\n'), 1) << o.err.constData();
    // A write cut short, as on a full disk: no cut picture is left behind.
    o = RunVexlor(window + QStringList{strPng}, home, {}, {}, 64);
    EXPECT_EQ(o.nExit, 1) << o.err.constData();
    EXPECT_EQ(o.err.count('\n'), 1) << o.err.constData();
    EXPECT_FALSE(QFile::exists(strPng));
    // A window id that names no window (on the X server of the test).
    o = RunVexlor({"/p", "77777"}, home);
    EXPECT_EQ(o.nExit, 1) << o.err.constData();
    EXPECT_EQ(o.err.count('\n'), 1) << o.err.constData();
    // A FIFO as the background picture is no picture; opening it once
    // waited for a writer for ever.
    o = RunVexlor(window + QStringList{strPng}, home, {},
                  "[Config]\nVersion=1\nBmpName=" + QFile::encodeName(strFifo) + "\n");
    EXPECT_EQ(o.nExit, 0) << o.err.constData();
    EXPECT_GT(QFileInfo(strPng).size(), 0);
}
