#include "app/CommandLine.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

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

// --source overrides the stored InputSource: monitor is empty, default the default input.
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
