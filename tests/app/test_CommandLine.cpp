#include "app/CSpectrumApp.h"
#include "app/CommandLine.h"
#include "display/CSpectrumWnd.h"
#include "platform/ProfileStore.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A --window run whose settings are all defaults, without a settings file.
struct WindowApp : CSpectrumApp
{
    explicit WindowApp(ExtraOptions o) : CSpectrumApp({}, QStringLiteral("vexlor"), std::move(o)) {}
    std::unique_ptr<IProfileStore> CreateProfileStore() const override { return nullptr; }
};

} // namespace

TEST(CommandLine, BadUseIsRefusedInOneLineAndGoodUseLeavesTheSwitches)
{
    QTemporaryDir dir;
    const QStringList snap = {"--snapshot", "x.png"};
    // clang-format off
    struct Case { QStringList args; QString strEnvWindow; const char *pszError; QStringList rest; }; // pszError: part of the message, nullptr: accepted; rest: left for the host
    const Case cases[] = {
        {QStringList{"/s", "--after", "NaN"} + snap, {}, "--after", {}}, {QStringList{"/s", "--after", "-0.5"} + snap, {}, "--after", {}},
        {{"--window", "-5x3"}, {}, "-5x3", {}}, {{"--window", "0x300"}, {}, "0x300", {}},
        // 16384 pixels a side and 64 Mi pixels (256 MiB of picture) at most.
        {{"--window", "99999x99999"}, {}, "too large", {}}, {{"--window", "16385x2"}, {}, "too large", {}},
        {{"--window", "16384x4097"}, {}, "too large", {}}, {{"--window", "16384x4096"}, {}, nullptr, {}},
        {{"--window", "800x300", "extra"}, {}, "extra", {}}, {{"/s", "stray"}, {}, "stray", {}},
        {{"/p", "1234", "stray"}, {}, "stray", {}}, {{"-root", "stray"}, {}, "stray", {}},
        {{"/c", "1234"}, {}, nullptr, {"/c", "1234"}}, {{"/x", "y", "z"}, {}, nullptr, {"/x", "y", "z"}}, // no mode: ends silently
        {{"--input", dir.path()}, {}, "not a regular file", {}}, {{"--input", dir.filePath("none.wav")}, {}, "no such file", {}},
        {QStringList{"/c"} + snap, {}, "--snapshot", {}}, {snap, {}, "--snapshot", {}}, // no argument: the settings dialog
        {snap, "0x10", nullptr, {}}, {QStringList{"/p", "1234"} + snap, {}, nullptr, {"/p", "1234"}}, // XScreenSaver's window
        {{"-platform", "offscreen", "/s", "-style=fusion", "--reverse"}, {}, nullptr, {"/s"}}, // Qt's own
        // For one run: Type 0..4 and 1..80 bands, never beside the dialog that saves.
        {{"/s", "--type", "5"}, {}, "--type", {}}, {{"/s", "--type", "-1"}, {}, "--type", {}}, {{"/s", "--type"}, {}, "missing", {}},
        {{"/s", "--bands", "0"}, {}, "--bands", {}}, {{"/s", "--bands", "81"}, {}, "--bands", {}}, {{"/s", "--bands", "1e1"}, {}, "--bands", {}},
        {{"/c", "--type", "1"}, {}, "--type", {}}, {{"--bands", "8"}, {}, "--bands", {}},
        {{"--root", "--type", "4", "--bands", "80"}, {}, nullptr, {}}, {{"--window-id", "0x10", "--type", "0", "--bands", "1"}, {}, nullptr, {}},
    };
    // clang-format on
    for (const Case &c : cases) {
        QStringList args = c.args; // both steps main() takes first
        ExtraOptions o;
        QString strError;
        const bool bOk = ParseExtraOptions(args, &o, &strError) &&
                         CheckArgumentUse(o, args, c.strEnvWindow, &strError);
        SCOPED_TRACE(c.args.join(u' ').toStdString() + ": " + strError.toStdString());
        EXPECT_EQ(bOk, c.pszError == nullptr);
        EXPECT_TRUE(c.pszError ? strError.contains(QLatin1String(c.pszError)) : args == c.rest);
        EXPECT_FALSE(strError.contains(u'\n'));
        EXPECT_EQ(o.windowSize, bOk && c.args[0] == "--window" ? QSize(16384, 4096) : o.windowSize);
        EXPECT_EQ(o.strPlatform, c.args[0] == "-platform" ? "offscreen" : o.strPlatform);
        if (bOk && c.args.contains("--type")) { // the last two rows
            EXPECT_EQ(std::pair(o.nType, o.nBands),
                      c.args[0] == "--root" ? std::pair(4, 80) : std::pair(0, 1));
        }
    }
}

// --source for one run over the stored InputSource: monitor is what is playing (empty), default
// the default input, any other text a source's name, as it is written.
TEST(CommandLine, SourceOverridesTheStoredInputForOneRun)
{
    const QString strDefault = QStringLiteral("@DEFAULT_SOURCE@");
    // clang-format off
    struct Case { QStringList args; QString strStored; QString strUsed; const char *pszError; };
    const Case cases[] = {
        {{"/s"}, "mic", "mic", nullptr}, {{"/s"}, "", "", nullptr},
        {{"/s", "--source", "monitor"}, "mic", "", nullptr},
        {{"/s", "--source", "default"}, "", strDefault, nullptr},
        {{"--source", "alsa_input.usb-1", "/p", "7"}, strDefault, "alsa_input.usb-1", nullptr},
        {{"/s", "--source", "Default"}, "", "Default", nullptr}, // a name: case counts
        {{"/s", "--source"}, "mic", "", "missing value"}, {{"/s", "--source", ""}, "mic", "", "--source"},
        {{"/s", "--source", "mic", "--demo"}, "", "", "choose one"},
    };
    // clang-format on
    for (const Case &c : cases) {
        QStringList args = c.args;
        ExtraOptions o;
        QString strError;
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        ASSERT_EQ(ParseExtraOptions(args, &o, &strError), c.pszError == nullptr);
        EXPECT_TRUE(c.pszError ? strError.contains(QLatin1String(c.pszError))
                               : ChooseInputSource(o, c.strStored) == c.strUsed)
            << strError.toStdString();
    }
    QStringList args = {"--list-sources"};
    ExtraOptions o;
    QString strError;
    EXPECT_TRUE(ParseExtraOptions(args, &o, &strError) && o.bListSources && args.isEmpty());
    EXPECT_TRUE(ExtraOptionsHelp("vexlor").contains("--source NAME") &&
                ExtraOptionsHelp("vexlor").contains("--list-sources"));
}

TEST(CommandLine, ADisplayServerIsNeededUnlessThePlatformDrawsWithoutOne)
{
    // platform, DISPLAY, WAYLAND_DISPLAY, available
    // clang-format off
    const std::tuple<const char *, const char *, const char *, bool> cases[] = {{"", "", "", false}, {"xcb", "", "", false},
        {"wayland", "", "", false}, {"wayland;xcb", "", "", false}, {"", ":0", "", true}, {"", "", "wayland-0", true},
        {"offscreen", "", "", true}, {"minimal", "", "", true}, {"offscreen:fontconfig", "", "", true}};
    // clang-format on
    for (const auto &[pszP, pszD, pszW, bAvailable] : cases)
        EXPECT_EQ(DisplayAvailable(QLatin1String(pszP), QLatin1String(pszD), QLatin1String(pszW)),
                  bAvailable)
            << pszP << '|' << pszD << '|' << pszW;
}

// A child stuck outside any event loop: the first SIGTERM only asks, the second ends it.
TEST(TerminationSignals, TheSecondEndsAStuckProcess)
{
    int anPipe[2];
    ASSERT_EQ(::pipe(anPipe), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        CatchTerminationSignals(anPipe[1]);
        [[maybe_unused]] const ssize_t n = ::write(anPipe[1], "r", 1);
        for (;;)
            ::pause();
    }
    char ch = 0; // ready, then the request to quit
    ASSERT_TRUE(::read(anPipe[0], &ch, 1) == 1 && ::kill(pid, SIGTERM) == 0 &&
                ::read(anPipe[0], &ch, 1) == 1);
    int nStatus = -1;
    EXPECT_EQ(::waitpid(pid, &nStatus, WNOHANG), 0); // still there
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    for (int i = 0; i < 500 && ::waitpid(pid, &nStatus, WNOHANG) == 0; ++i)
        ::usleep(10000);
    if (::waitpid(pid, &nStatus, WNOHANG) == 0 && ::kill(pid, SIGKILL) == 0) // stuck: reap it
        ::waitpid(pid, &nStatus, 0);
    EXPECT_EQ(WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1, 128 + SIGTERM);
    ::close(anPipe[0]), ::close(anPipe[1]);
}

// A coarse timer may fire 5 % early: --after 13 once wrote its picture at 12.6 s.
TEST(SnapshotTimer, IsPrecise)
{
    ExtraOptions o;
    std::tie(o.bWindow, o.bDemo, o.windowSize, o.strSnapshot, o.dAfterSeconds) =
        std::tuple(true, true, QSize(200, 100), QStringLiteral("/nonexistent/x.png"), 13.0);
    WindowApp app(o);
    ASSERT_TRUE(app.InitInstance());
    int nPrecise = 0; // the window's precise 13 s single shots
    for (QWidget *pTop : QApplication::topLevelWidgets()) {
        for (QTimer *pTimer : pTop->findChildren<QTimer *>())
            nPrecise += pTimer->interval() == 13000 && pTimer->isSingleShot() &&
                        pTimer->timerType() == Qt::PreciseTimer;
        delete dynamic_cast<CSpectrumWnd *>(pTop);
    }
    EXPECT_EQ(nPrecise, 1);
    SetProfileStore(nullptr);
}
