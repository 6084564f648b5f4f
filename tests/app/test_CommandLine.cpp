// The command line beyond the host's switches, the display check made before
// any window system is touched, the termination signals and the snapshot's
// timing.
#include "app/CSpectrumApp.h"
#include "app/CommandLine.h"
#include "display/CSpectrumWnd.h"
#include "platform/ProfileStore.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Parsed
{
    bool bOk = false;
    QString strError;
    ExtraOptions options;
    QStringList args;
};

// Both steps main() takes before anything else: the options, then whether
// what is left makes sense with them.
Parsed Parse(QStringList args, const QString &strEnvWindow = {})
{
    Parsed p;
    p.bOk = ParseExtraOptions(args, &p.options, &p.strError) &&
            CheckArgumentUse(p.options, args, strEnvWindow, &p.strError);
    p.args = args;
    return p;
}

std::string Show(const QStringList &args)
{
    return args.join(u' ').toStdString();
}

} // namespace

TEST(CommandLine, BadUseIsRefusedInOneLineAndGoodUseLeavesTheSwitches)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case
    {
        QStringList args;
        QString strEnvWindow;
        const char *pszError; // a part of the message; nullptr: accepted
        QStringList rest;     // when accepted: what is left for the host's switches
    };
    const QStringList snap = {"--snapshot", "x.png"};
    const std::vector<Case> cases = {
        {QStringList{"/s", "--after", "NaN"} + snap, {}, "--after", {}},
        {QStringList{"/s", "--after", "inf"} + snap, {}, "--after", {}},
        {QStringList{"/s", "--after", "-0.5"} + snap, {}, "--after", {}},
        {{"--window", "-5x3"}, {}, "-5x3", {}},
        {{"--window", "0x300"}, {}, "0x300", {}},
        // 16384 pixels a side and 64 Mi pixels (256 MiB of picture) at most.
        {{"--window", "99999x99999"}, {}, "too large", {}},
        {{"--window", "16385x2"}, {}, "too large", {}},
        {{"--window", "16384x4097"}, {}, "too large", {}},
        {{"--window", "16384x4096"}, {}, nullptr, {}},
        {{"--window", "800x300", "extra"}, {}, "extra", {}},
        {{"/s", "stray"}, {}, "stray", {}},
        {{"/p", "1234", "stray"}, {}, "stray", {}},
        {{"-root", "stray"}, {}, "stray", {}},
        {{"/c", "1234"}, {}, nullptr, {"/c", "1234"}},
        {{"/x", "y", "z"}, {}, nullptr, {"/x", "y", "z"}}, // no mode: ends silently
        {{"--input", dir.path()}, {}, "not a regular file", {}},
        {{"--input", dir.filePath("none.wav")}, {}, "no such file", {}},
        {QStringList{"/c"} + snap, {}, "--snapshot", {}},
        {snap, {}, "--snapshot", {}}, // no argument: the settings dialog
        {snap, "0x10", nullptr, {}},  // XScreenSaver's window from the environment
        {QStringList{"/p", "1234"} + snap, {}, nullptr, {"/p", "1234"}},
        // Qt's own options go to Qt.
        {{"-platform", "offscreen", "/s", "-style=fusion", "--reverse"}, {}, nullptr, {"/s"}},
    };
    for (const Case &c : cases) {
        const Parsed p = Parse(c.args, c.strEnvWindow);
        EXPECT_EQ(p.bOk, c.pszError == nullptr) << Show(c.args) << ": " << p.strError.toStdString();
        if (c.pszError) {
            EXPECT_TRUE(p.strError.contains(QString::fromLatin1(c.pszError)))
                << Show(c.args) << ": " << p.strError.toStdString();
            EXPECT_FALSE(p.strError.contains(u'\n')) << Show(c.args);
        } else {
            EXPECT_EQ(p.args, c.rest) << Show(c.args);
        }
    }
    EXPECT_EQ(Parse({"-platform", "offscreen", "/s"}).options.strPlatform, "offscreen");
    EXPECT_EQ(Parse({"--window", "16384x4096"}).options.windowSize, QSize(16384, 4096));
}

TEST(CommandLine, ADisplayServerIsNeededUnlessThePlatformDrawsWithoutOne)
{
    struct Case
    {
        const char *pszPlatform;
        const char *pszDisplay;
        const char *pszWayland;
        bool bAvailable;
    };
    const Case cases[] = {
        {"", "", "", false},
        {"xcb", "", "", false},
        {"wayland", "", "", false},
        {"wayland;xcb", "", "", false},
        {"", ":0", "", true},
        {"", "", "wayland-0", true},
        {"offscreen", "", "", true},
        {"minimal", "", "", true},
        {"offscreen:fontconfig", "", "", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DisplayAvailable(QString::fromLatin1(c.pszPlatform),
                                   QString::fromLatin1(c.pszDisplay),
                                   QString::fromLatin1(c.pszWayland)),
                  c.bAvailable)
            << c.pszPlatform << '|' << c.pszDisplay << '|' << c.pszWayland;
}

// In a child process that never runs an event loop, as one stuck in a
// system call: the first SIGTERM only asks (a byte in the pipe), the second
// ends the process at once with 128 + the signal number.
TEST(TerminationSignals, TheSecondEndsAStuckProcess)
{
    int anPipe[2];
    ASSERT_EQ(::pipe(anPipe), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        CatchTerminationSignals(anPipe[1]);
        const char ch = 'r';
        [[maybe_unused]] const ssize_t n = ::write(anPipe[1], &ch, 1);
        for (;;)
            ::pause();
    }
    char ch = 0;
    ASSERT_EQ(::read(anPipe[0], &ch, 1), 1); // ready
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    ASSERT_EQ(::read(anPipe[0], &ch, 1), 1); // the request to quit
    int nStatus = 0;
    EXPECT_EQ(::waitpid(pid, &nStatus, WNOHANG), 0); // still there
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    pid_t nEnded = 0;
    for (int i = 0; i < 500 && nEnded == 0; ++i) {
        nEnded = ::waitpid(pid, &nStatus, WNOHANG);
        ::usleep(10000);
    }
    if (nEnded == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &nStatus, 0);
    }
    EXPECT_EQ(nEnded, pid);
    EXPECT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), 128 + SIGTERM);
    ::close(anPipe[0]);
    ::close(anPipe[1]);
}

namespace {

// A --window run whose settings are all defaults, without a settings file.
class WindowApp : public CSpectrumApp
{
public:
    explicit WindowApp(ExtraOptions options)
        : CSpectrumApp({}, QStringLiteral("vexlor"), std::move(options))
    {}

protected:
    std::unique_ptr<IProfileStore> CreateProfileStore() const override { return nullptr; }
};

} // namespace

// A coarse timer may fire 5 % early: --after 13 once wrote its picture at 12.6 s.
TEST(SnapshotTimer, IsPrecise)
{
    ExtraOptions options;
    options.bWindow = true;
    options.bDemo = true;
    options.windowSize = QSize(200, 100);
    options.strSnapshot = QStringLiteral("/nonexistent/x.png");
    options.dAfterSeconds = 13;
    WindowApp app(options);
    ASSERT_TRUE(app.InitInstance());
    CSpectrumWnd *pWnd = nullptr;
    for (QWidget *pTop : QApplication::topLevelWidgets())
        if (auto *p = dynamic_cast<CSpectrumWnd *>(pTop))
            pWnd = p;
    ASSERT_NE(pWnd, nullptr);
    QTimer *pSnapshot = nullptr;
    for (QTimer *pTimer : pWnd->findChildren<QTimer *>())
        if (pTimer->interval() == 13000)
            pSnapshot = pTimer;
    ASSERT_NE(pSnapshot, nullptr);
    EXPECT_EQ(pSnapshot->timerType(), Qt::PreciseTimer);
    EXPECT_TRUE(pSnapshot->isSingleShot());
    delete pWnd;
    SetProfileStore(nullptr);
}
