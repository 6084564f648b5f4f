#include "app/CSpectrumApp.h"
#include "settings/Settings.h"
#include "platform/ProfileStore.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

namespace {

std::string Show(const QStringList &args)
{
    return ('{' + args.join(u'|') + '}').toStdString();
}

} // namespace

TEST(MatchSwitch, FollowsTheSwitchRules)
{
    struct Case
    {
        QString strArg;
        QString strWord;
        bool bExpected;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"/p", "p", true}, {"-p", "p", true}, {"p", "p", true}, {"/P", "p", true}, {"-P", "p", true},
        {"/s", "s", true}, {"/S", "s", true}, {"-s", "s", true}, {"s", "s", true},
        {"/scr", "s", false}, {"/pq", "p", false}, {"/p:1234", "p", false}, {"/s ", "s", false},
        {"/", "s", false}, {"-", "p", false}, {"", "p", false}, // nothing left after the prefix
        {"//s", "s", false}, {"/-s", "s", false},               // only one prefix character
        {"\\s", "s", false},                                    // a backslash is no prefix
        {"/Ｓ", "s", false}, {"/ſ", "s", false}, // only ASCII A-Z fold (ſ folds to s in Unicode)
        {"/x", "X", true},                        // the word is folded too
        {"/sc", "scr", true}, {"/scrx", "scr", false}, // an argument that runs out first matches
    };
    // clang-format on
    for (const Case &c : cases)
        EXPECT_EQ(MatchSwitch(c.strArg, c.strWord), c.bExpected)
            << c.strArg.toStdString() << " ~ " << c.strWord.toStdString();
}

TEST(ChooseRunMode, FollowsTheFiveSteps)
{
    struct Case
    {
        QStringList args;
        RunMode eMode;
        qint64 nHostWindow;
    };
    const RunMode kSettings = RunMode::Settings, kPreview = RunMode::Preview,
                  kSaver = RunMode::Saver, kNone = RunMode::None;
    // clang-format off
    const std::vector<Case> cases = {
        {{}, kSettings, 0}, {{"/c"}, kSettings, 0}, {{"-c"}, kSettings, 0},
        {{"/c:1234"}, kSettings, 0}, {{"xc"}, kSettings, 0}, {{"sc"}, kSettings, 0},
        {{"c"}, kNone, 0}, {{"/C"}, kNone, 0}, {{"-C"}, kNone, 0},
        {{"/p", "1234"}, kPreview, 1234}, {{"-P", "1234"}, kPreview, 1234},
        {{"p", "1234"}, kPreview, 1234}, {{"/p"}, kPreview, 0}, {{"/p", " -12abc"}, kPreview, -12},
        {{"/p:1234"}, kNone, 0}, {{"/pq"}, kNone, 0},
        {{"/s"}, kSaver, 0}, {{"/S"}, kSaver, 0}, {{"-s"}, kSaver, 0}, {{"s"}, kSaver, 0},
        {{"/scr"}, kNone, 0}, {{"/"}, kNone, 0}, {{""}, kNone, 0},
        {{"/x", "/s"}, kNone, 0}, {{"1234", "/p"}, kNone, 0}, // only the first argument chooses
    };
    // clang-format on
    for (const Case &c : cases) {
        const RunChoice choice = ChooseRunMode(c.args);
        EXPECT_EQ(choice.eMode, c.eMode) << Show(c.args);
        EXPECT_EQ(choice.nHostWindow, c.nHostWindow) << Show(c.args);
    }
}

TEST(RunModeHandleArgument, IsReadLikeAtol)
{
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    constexpr qint64 kMin = std::numeric_limits<qint64>::min();
    struct Case
    {
        QString strArg;
        qint64 nExpected;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"1234", 1234}, {" -12abc", -12}, {" \t\n\v\f\r+42", 42}, {"12 34", 12},
        {"4294967295", 4294967295LL}, {"", 0}, {"abc", 0}, {"-", 0}, {"+-5", 0}, {"0x1F", 0},
        {"\u00a042", 0}, // no-break space is not C white space
        {"99999999999999999999", kMax}, {"-99999999999999999999", kMin}, // saturate like strtol
    };
    // clang-format on
    for (const Case &c : cases)
        EXPECT_EQ(ReadHandleArgument(c.strArg), c.nExpected) << c.strArg.toStdString();
}

TEST(RunModeProgramName, IsTheFileBaseNameWithoutExtension)
{
    EXPECT_EQ(ProgramBaseName("/usr/bin/vexlor"), "vexlor");
    EXPECT_EQ(ProgramBaseName("./vexlor.scr"), "vexlor");
    EXPECT_EQ(ProgramBaseName("/opt/my.saver.scr"), "my.saver");
}

namespace {

// Records the run-mode hooks start-up calls, with the host window, the Type
// and g_bPreview each one saw; the store is an in-memory one whose settings
// count (Version 1) and differ from the defaults (Type 3).
class RecordingApp : public CSpectrumApp
{
public:
    explicit RecordingApp(QStringList args)
        : CSpectrumApp(std::move(args), QStringLiteral("vexlor")),
          m_pStore(std::make_unique<MemoryProfileStore>()), m_pRawStore(m_pStore.get())
    {
        m_pStore->SetRaw("Config", "Version", 1u);
        m_pStore->SetRaw("Config", "Type", 3u);
    }

    void RunSettingsDialog() override
    {
        Record("settings", 0);
        // The hub runs modally; the title-bar close ends it, saving nothing.
        QTimer::singleShot(0, [] {
            if (QWidget *pHub = QApplication::activeModalWidget())
                pHub->close();
        });
        CSpectrumApp::RunSettingsDialog();
    }

    std::string m_strCalls;
    int m_nStartResult = -1; // -1: the real windows; else the result to give
    mutable std::unique_ptr<MemoryProfileStore> m_pStore; // handed over at start-up
    MemoryProfileStore *m_pRawStore;                      // then owned by the store slot

protected:
    std::unique_ptr<IProfileStore> CreateProfileStore() const override
    {
        return std::move(m_pStore);
    }
    bool StartPreview(qint64 nHostWindow) override
    {
        Record("preview", nHostWindow);
        return m_nStartResult < 0 ? CSpectrumApp::StartPreview(nHostWindow) : m_nStartResult;
    }
    bool StartSaver() override
    {
        Record("saver", 0);
        return m_nStartResult < 0 ? CSpectrumApp::StartSaver() : m_nStartResult;
    }

private:
    void Record(const char *pszWhat, qint64 nHostWindow)
    {
        m_strCalls += std::string(pszWhat) + ':' + std::to_string(nHostWindow) + ':' +
                      std::to_string(g_DisplaySettings.Type) + ':' + std::to_string(g_bPreview);
    }
};

void ResetGlobals()
{
    SetProfileStore(nullptr);
    g_DisplaySettings = DisplaySettings{};
    g_Version = g_bPreview = g_bSettingsChanged = 0;
}

} // namespace

TEST(SpectrumAppInit, LoadsTheSettingsThenStartsTheChosenMode)
{
    struct Case
    {
        QStringList args;
        int nStartResult;    // what the mode's window gives, -1 for the program as it is
        bool bExpected;      // InitInstance's result: true only when a window runs
        std::string strCall; // the hook called, with the host window, Type and g_bPreview seen
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{}, -1, false, "settings:0:3:0"}, {{"xc", "1"}, -1, false, "settings:0:3:0"},
        {{"-P", "1234"}, 1, true, "preview:1234:3:1"}, {{"/p", "77"}, 0, false, "preview:77:3:1"},
        {{"/p", "1234"}, -1, false, "preview:1234:3:1"},
        {{"/p"}, 1, false, ""}, {{"/p", "0"}, 1, false, ""}, {{"/p", "-5"}, 1, false, ""}, // no host
        {{"/S"}, 1, true, "saver:0:3:0"}, {{"/s"}, 0, false, "saver:0:3:0"},
        // Unrecognised: nothing starts, but the settings are read all the same.
        {{"/scr"}, 1, false, ""}, {{"/C"}, 1, false, ""}, {{"c"}, 1, false, ""},
    };
    // clang-format on
    for (const Case &c : cases) {
        ResetGlobals();
        g_bSettingsChanged = 1;
        RecordingApp app(c.args);
        EXPECT_EQ(g_bSettingsChanged, 0); // cleared when the application object is made
        app.m_nStartResult = c.nStartResult;
        EXPECT_EQ(app.InitInstance(), c.bExpected) << Show(c.args);
        EXPECT_EQ(app.m_strCalls, c.strCall) << Show(c.args);
        EXPECT_EQ(GetProfileStore(), app.m_pRawStore);
        EXPECT_EQ(g_DisplaySettings.Type, 3) << Show(c.args);
        EXPECT_EQ(g_Version, 1);
        // Start-up never writes the settings, nor does a hub closed without 閉じる.
        EXPECT_TRUE(app.m_pRawStore->WriteLog().isEmpty()) << Show(c.args);
        EXPECT_EQ(app.m_pRawStore->FlushCount(), 0);
    }
    ResetGlobals();
}

TEST(SpectrumAppInit, SettingsLiveUnderTanuwelAndTheProgramName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    CSpectrumApp app({"/x"}, QStringLiteral("vexlor-test"));
    EXPECT_FALSE(app.InitInstance());
    const auto *pStore = dynamic_cast<const QSettingsProfileStore *>(GetProfileStore());
    ASSERT_NE(pStore, nullptr);
    EXPECT_EQ(pStore->Location(), dir.path() + QStringLiteral("/tanuwel/vexlor-test.conf"));
    ResetGlobals();
    // Start-up only read: nothing was created.
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}
