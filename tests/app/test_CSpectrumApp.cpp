#include "app/CSpectrumApp.h"

#include "platform/ProfileStore.h"
#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

// Records the mode hook called, with the host, Type and g_bPreview it saw; the store holds Type 3.
struct RecordingApp : CSpectrumApp
{
    explicit RecordingApp(QStringList args)
        : CSpectrumApp(std::move(args), QStringLiteral("vexlor"))
    {
        m_pStore->SetRaw("Config", "Version", 1u), m_pStore->SetRaw("Config", "Type", 3u);
    }
    std::string m_strCalls;
    int m_nStartResult = 1;
    mutable std::unique_ptr<MemoryProfileStore> m_pStore = std::make_unique<MemoryProfileStore>();
    MemoryProfileStore *m_pRawStore = m_pStore.get(); // owned by the store slot once started

    std::unique_ptr<IProfileStore> CreateProfileStore() const override
    {
        return std::move(m_pStore);
    }
    bool StartPreview(qint64 nHost) override { return Record("preview", nHost); }
    bool StartSaver() override { return Record("saver", 0); }
    void RunSettingsDialog() override { Record("settings", 0); }
    bool Record(const char *pszWhat, qint64 nHost)
    {
        m_strCalls = std::string(pszWhat) + ':' + std::to_string(nHost) + ':' +
                     std::to_string(g_DisplaySettings.Type) + ':' + std::to_string(g_bPreview);
        return m_nStartResult != 0;
    }
};

} // namespace

// Settings are read, never written; switch spelling rules; a preview needs a host.
TEST(CSpectrumApp, StartUpLoadsTheSettingsThenStartsTheChosenMode)
{
    // clang-format off
    const std::tuple<QStringList, int, bool, std::string> cases[] = {
        {{}, 1, false, "settings:0:3:0"}, {{"-P", "1234"}, 1, true, "preview:1234:3:1"}, {{"/p", "77"}, 0, false, "preview:77:3:1"},
        {{"/p", "-5"}, 1, false, ""}, {{"/p"}, 1, false, ""}, {{"/S"}, 1, true, "saver:0:3:0"}, {{"/s"}, 0, false, "saver:0:3:0"}, {{"/C"}, 1, false, ""},
        {{"/c:1234"}, 1, false, "settings:0:3:0"}, {{"xc"}, 1, false, "settings:0:3:0"}, {{"c"}, 1, false, ""}, {{"/p:1234"}, 1, false, ""},
        {{"p", " 12abc"}, 1, true, "preview:12:3:1"}, {{"s"}, 1, true, "saver:0:3:0"}, {{"/scr"}, 1, false, ""}, {{"//s"}, 1, false, ""},
        {{"\\s"}, 1, false, ""}, {{"/ſ"}, 1, false, ""}, {{"/x", "/s"}, 1, false, ""}, {{"1234", "/p"}, 1, false, ""}, {{"/pq"}, 1, false, ""},
    };
    // clang-format on
    for (const auto &[args, nStartResult, bExpected, strCall] : cases) {
        SetProfileStore(nullptr);
        g_DisplaySettings = DisplaySettings{};
        g_Version = g_bPreview = 0;
        RecordingApp app(args);
        app.m_nStartResult = nStartResult;
        EXPECT_EQ(app.InitInstance(), bExpected) << strCall;
        EXPECT_EQ(app.m_strCalls, strCall);
        EXPECT_EQ(std::tuple(GetProfileStore(), g_DisplaySettings.Type, g_Version,
                             app.m_pRawStore->WriteLog().isEmpty(), app.m_pRawStore->FlushCount()),
                  std::tuple(static_cast<const IProfileStore *>(app.m_pRawStore), 3, 1, true, 0));
    }
    g_DisplaySettings = DisplaySettings{};
    EXPECT_EQ(std::pair(MatchSwitch(u"/sc", u"scr"), ProgramBaseName("/a/my.saver.scr")),
              std::pair(true, QString("my.saver")));
}

// Host handles: signed decimal as strtoll reads it, saturating past 64 bits.
TEST(CSpectrumApp, HandleArgumentsReadAsSignedDecimals)
{
    // clang-format off
    const std::pair<const char16_t *, qint64> cases[] = {
        {u"4711", 4711}, {u" \t 42", 42}, {u"+7", 7}, {u"-9x1", -9}, {u"12ab3", 12}, {u"", 0},
        {u"abc", 0}, {u"- 5", 0}, {u"99999999999999999999", std::numeric_limits<qint64>::max()},
        {u"-9223372036854775808", std::numeric_limits<qint64>::min()}};
    // clang-format on
    for (const auto &[psz, nExpected] : cases)
        EXPECT_EQ(ReadHandleArgument(QStringView(psz)), nExpected)
            << QStringView(psz).toString().toStdString();
}

// The modes that show the spectrum, against the dialog and an unknown switch.
TEST(CSpectrumApp, ShowsSpectrumForEveryViewAndNotForTheDialog)
{
    ExtraOptions window;
    window.bWindow = true;
    ExtraOptions root;
    root.bRoot = true;
    ExtraOptions windowId;
    windowId.nWindowId = 0x2a00007;
    // clang-format off
    const std::tuple<const char *, ExtraOptions, QStringList, QString, bool> cases[] = {
        {"no argument: the dialog",       {},       {},             {},          false},
        {"/c",                            {},       {"/c"},         {},          false},
        {"an unknown switch",             {},       {"/x"},         {},          false},
        {"/p, its window missing",        {},       {"/p"},         {},          true},
        {"/s",                            {},       {"/s"},         {},          true},
        {"/p and a window",               {},       {"/p", "1234"}, {},          true},
        {"--window",                      window,   {},             {},          true},
        {"--root",                        root,     {},             {},          true},
        {"--window-id",                   windowId, {},             {},          true},
        {"started by XScreenSaver",       {},       {},             "0x2a00007", true},
        {"/c beside XScreenSaver's window", {},     {"/c"},         "0x2a00007", false},
    };
    // clang-format on
    for (const auto &[pszWhat, options, args, strEnvWindow, bExpected] : cases)
        EXPECT_EQ(ShowsSpectrum(options, args, strEnvWindow), bExpected) << pszWhat;
}
