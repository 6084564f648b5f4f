// The program's answers through its exit status and its error output: what
// needs no display runs without one; bad use and failures that once ended with
// status 0 (or never ended) say so on one line.
#include "E2eSupport.h"

#include <QFileInfo>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace e2e;

namespace {
struct Outcome
{
    int nExit = -1; // -1: crashed or still running after 20 s
    QByteArray out, err;
};

// Runs the program, its files limited to nFileSizeLimit bytes.
Outcome RunVexlor(const QProcessEnvironment &env, const QStringList &args,
                  rlim_t nFileSizeLimit = RLIM_INFINITY)
{
    QProcess p;
    p.setProcessEnvironment(env);
    // Writes past the limit fail (EFBIG) rather than raise SIGXFSZ: a full disk anyone can make.
    p.setChildProcessModifier([nFileSizeLimit] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{nFileSizeLimit, nFileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    p.start(VEXLOR_BINARY, args);
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

TEST(CliE2E, ExitStatusesAndOneErrorLine)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QProcessEnvironment headless = Env(home.path(), "offscreen");
    QProcessEnvironment noDisplay = Env(home.path(), "");
    noDisplay.remove("DISPLAY");
    noDisplay.remove("WAYLAND_DISPLAY");
    const QStringList window = {"--window", "300x120", "--demo", "--after", "0.3", "--snapshot"};
    struct Case
    {
        bool bHeadless; // else no display at all
        QStringList args;
        int nExit;
        QByteArray out; // the start of standard output
        QByteArray err; // a part of the one error line; empty: no line
    };
    // clang-format off
    const Case cases[] = {
        {false, {"--help"}, 0, "Usage: vexlor", {}},
        {false, {"--version"}, 0, "vexlor " VEXLOR_VERSION "\n", {}},
        {false, {"/s", "--snapshot", "x.png", "--after", "NaN"}, 2, {}, "--after"},
        {false, {"/s"}, 1, {}, "no display (DISPLAY or WAYLAND_DISPLAY is unset)"},
        {false, {"--window"}, 1, {}, "no display (DISPLAY or WAYLAND_DISPLAY is unset)"},
        {false, {"--root", "--type", "5"}, 2, {}, "--type: not a display type from 0 to 4: '5'"},
        {false, {"--root", "--bands", "81"}, 2, {}, "--bands: not a number of bands from 1 to 80: '81'"},
        {true, {"--input", home.filePath("none.wav")}, 2, {}, "no such file"},
        {true, {"--window", "12by4"}, 2, {}, "--window"},
        {true, {"--snapshot"}, 2, {}, "missing value"},
        {true, {"/x"}, 0, {}, {}}, // the host's switches stay silent
        {true, window + QStringList{"/dev/full"}, 1, {}, "/dev/full"},
        {true, {"/p", "77777"}, 1, {}, "77777"}, // names no window on the test's X server
    };
    // clang-format on
    for (const Case &c : cases) {
        const Outcome o = RunVexlor(c.bHeadless ? headless : noDisplay, c.args);
        const std::string strCase = c.args.join(u' ').toStdString();
        EXPECT_EQ(o.nExit, c.nExit) << strCase << ": " << o.err.constData();
        EXPECT_TRUE(o.out.startsWith(c.out)) << strCase << ": " << o.out.constData();
        EXPECT_EQ(o.err.count('\n'), c.err.isEmpty() ? 0 : 1)
            << strCase << ": " << o.err.constData();
        EXPECT_TRUE(o.err.contains(c.err)) << strCase << ": " << o.err.constData();
    }

    // A write cut short, as on a full disk: one line, and no cut picture is left behind.
    const QString strPng = home.filePath("out.png");
    Outcome o = RunVexlor(headless, window + QStringList{strPng}, 64);
    EXPECT_EQ(o.nExit, 1) << o.err.constData();
    EXPECT_EQ(o.err.count('\n'), 1) << o.err.constData();
    EXPECT_FALSE(QFile::exists(strPng));
    // A FIFO as the background picture is no picture; opening it once waited for a writer for ever.
    const QString strFifo = home.filePath("fifo.bmp");
    ASSERT_EQ(mkfifo(QFile::encodeName(strFifo).constData(), 0600), 0);
    QDir().mkpath(home.filePath(".config/tanuwel"));
    QFile conf(home.filePath(".config/tanuwel/vexlor.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[Config]\nVersion=1\nBmpName=" + QFile::encodeName(strFifo) + "\n");
    conf.close();
    o = RunVexlor(headless, window + QStringList{strPng});
    EXPECT_EQ(o.nExit, 0) << o.err.constData();
    EXPECT_GT(QFileInfo(strPng).size(), 0);
}
