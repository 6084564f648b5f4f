#include "app/CSpectrumApp.h"
#include "app/Settings.h"
#include "platform/ProfileStore.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

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
        {"/p", "p", true},
        {"-p", "p", true},
        {"p", "p", true},
        {"/P", "p", true},
        {"-P", "p", true},
        {"P", "p", true},
        {"/s", "s", true},
        {"/S", "s", true},
        {"-s", "s", true},
        {"s", "s", true},
        {"/scr", "s", false}, // longer than the word
        {"/pq", "p", false},
        {"/p:1234", "p", false},
        {"/", "s", false}, // nothing left after the prefix
        {"-", "p", false},
        {"", "p", false},
        {"//s", "s", false}, // only one prefix character is skipped
        {"-/s", "s", false},
        {"/-s", "s", false},
        {"/x", "s", false},
        {"\\s", "s", false}, // a backslash is no prefix
        {" /s", "s", false},
        {"/s ", "s", false},
        {"/Ｓ", "s", false}, // full-width S: only ASCII A-Z are folded
        {"/ſ", "s", false},  // long s, which Unicode folds to s
        {"/x", "X", true},   // folding applies to the word as well
        {"/sc", "scr", true}, // an argument that runs out first matches
        {"/scr", "scr", true},
        {"/scrx", "scr", false},
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
    // clang-format off
    const std::vector<Case> cases = {
        {{}, RunMode::Settings, 0},
        {{"/c"}, RunMode::Settings, 0},
        {{"-c"}, RunMode::Settings, 0},
        {{"/c:1234"}, RunMode::Settings, 0},
        {{"xc"}, RunMode::Settings, 0}, // only the second character is looked at
        {{"sc"}, RunMode::Settings, 0}, // before the "s" test
        {{"/cp", "99"}, RunMode::Settings, 0},
        {{"c"}, RunMode::None, 0},
        {{"/C"}, RunMode::None, 0},
        {{"-C"}, RunMode::None, 0},
        {{"/p", "1234"}, RunMode::Preview, 1234},
        {{"-P", "1234"}, RunMode::Preview, 1234},
        {{"p", "1234"}, RunMode::Preview, 1234},
        {{"/p", "1234", "extra"}, RunMode::Preview, 1234},
        {{"/p"}, RunMode::Preview, 0},
        {{"/p", " -12abc"}, RunMode::Preview, -12},
        {{"/p", "0x10"}, RunMode::Preview, 0},
        {{"/p:1234"}, RunMode::None, 0},
        {{"/pq"}, RunMode::None, 0},
        {{"/s"}, RunMode::Saver, 0},
        {{"/S"}, RunMode::Saver, 0},
        {{"-s"}, RunMode::Saver, 0},
        {{"s"}, RunMode::Saver, 0},
        {{"/s", "1234"}, RunMode::Saver, 0},
        {{"/scr"}, RunMode::None, 0},
        {{"/"}, RunMode::None, 0},
        {{""}, RunMode::None, 0}, // an empty argument is an argument
        {{"/x", "/s"}, RunMode::None, 0}, // only the first argument chooses
        {{"1234", "/p"}, RunMode::None, 0},
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
        {"1234", 1234},
        {" -12abc", -12},
        {" \t\n\v\f\r42", 42},
        {"+7", 7},
        {"00012", 12},
        {"12 34", 12},
        {"4294967295", 4294967295LL},
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {"+-5", 0},
        {"- 5", 0},
        {"0x1F", 0},
        {"\u00a042", 0}, // no-break space is not C white space
        {"9223372036854775807", kMax},
        {"-9223372036854775808", kMin},
        {"99999999999999999999", kMax}, // out of range saturates, as strtol does
        {"-99999999999999999999", kMin},
    };
    // clang-format on
    for (const Case &c : cases)
        EXPECT_EQ(ReadHandleArgument(c.strArg), c.nExpected) << c.strArg.toStdString();
}

TEST(RunModeProgramName, IsTheFileBaseNameWithoutExtension)
{
    EXPECT_EQ(ProgramBaseName("vexlor"), "vexlor");
    EXPECT_EQ(ProgramBaseName("/usr/bin/vexlor"), "vexlor");
    EXPECT_EQ(ProgramBaseName("./build/app/vexlor.scr"), "vexlor");
    EXPECT_EQ(ProgramBaseName("/opt/my.saver.scr"), "my.saver");
}

namespace {

// Records which run mode start-up chose and what the settings held by then.
// The store is an in-memory one handed over at start-up.
class RecordingApp : public CSpectrumApp
{
public:
    RecordingApp(QStringList args, std::unique_ptr<MemoryProfileStore> pStore)
        : CSpectrumApp(std::move(args), QStringLiteral("vexlor")), m_pStore(std::move(pStore))
    {}

    void RunSettingsDialog() override
    {
        m_calls.push_back({"settings", 0, g_DisplaySettings.Type, g_bPreview});
    }

    struct Call
    {
        std::string strWhat;
        qint64 nHostWindow;
        int nTypeSeen;
        int nPreviewSeen;
    };
    std::vector<Call> m_calls;
    bool m_bStartResult = true;

protected:
    std::unique_ptr<IProfileStore> CreateProfileStore() const override
    {
        return std::move(m_pStore);
    }
    bool StartPreview(qint64 nHostWindow) override
    {
        m_calls.push_back({"preview", nHostWindow, g_DisplaySettings.Type, g_bPreview});
        return m_bStartResult;
    }
    bool StartSaver() override
    {
        m_calls.push_back({"saver", 0, g_DisplaySettings.Type, g_bPreview});
        return m_bStartResult;
    }

private:
    mutable std::unique_ptr<MemoryProfileStore> m_pStore; // handed over once, at start-up
};

// The application exactly as it is, but with an in-memory store.
class MemoryStoreApp : public CSpectrumApp
{
public:
    MemoryStoreApp(QStringList args, std::unique_ptr<MemoryProfileStore> pStore)
        : CSpectrumApp(std::move(args), QStringLiteral("vexlor")), m_pStore(std::move(pStore))
    {}

protected:
    std::unique_ptr<IProfileStore> CreateProfileStore() const override
    {
        return std::move(m_pStore);
    }

private:
    mutable std::unique_ptr<MemoryProfileStore> m_pStore;
};

class SpectrumAppInit : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_DisplaySettings = DisplaySettings{};
        g_Version = 0;
        g_bPreview = 0;
        g_bSettingsChanged = 0;
    }
    void TearDown() override
    {
        SetProfileStore(nullptr);
        g_bPreview = 0;
    }

    // A store whose settings count (Version 1) and differ from the defaults (Type 3).
    static std::unique_ptr<MemoryProfileStore> StoreWithType3()
    {
        auto pStore = std::make_unique<MemoryProfileStore>();
        pStore->SetRaw(QStringLiteral("Config"), QStringLiteral("Version"), 1u);
        pStore->SetRaw(QStringLiteral("Config"), QStringLiteral("Type"), 3u);
        return pStore;
    }
};

} // namespace

TEST_F(SpectrumAppInit, ConstructionClearsTheSettingsChangedFlag)
{
    g_bSettingsChanged = 1;
    RecordingApp app({}, StoreWithType3());
    EXPECT_EQ(g_bSettingsChanged, 0);
}

TEST_F(SpectrumAppInit, SettingsModeRunsTheDialogAfterLoadingAndHasNoEventLoop)
{
    for (const QStringList &args : {QStringList{}, QStringList{"/c"}, QStringList{"xc", "1"}}) {
        SetUp();
        RecordingApp app(args, StoreWithType3());
        EXPECT_FALSE(app.InitInstance()) << Show(args);
        ASSERT_EQ(app.m_calls.size(), 1u) << Show(args);
        EXPECT_EQ(app.m_calls[0].strWhat, "settings");
        EXPECT_EQ(app.m_calls[0].nTypeSeen, 3); // loaded before the dialog ran
        EXPECT_EQ(g_bPreview, 0);
        TearDown();
    }
}

TEST_F(SpectrumAppInit, PreviewModeRaisesThePreviewFlagAndGetsTheHostWindow)
{
    RecordingApp app({"-P", "1234"}, StoreWithType3());
    EXPECT_TRUE(app.InitInstance());
    ASSERT_EQ(app.m_calls.size(), 1u);
    EXPECT_EQ(app.m_calls[0].strWhat, "preview");
    EXPECT_EQ(app.m_calls[0].nHostWindow, 1234);
    EXPECT_EQ(app.m_calls[0].nTypeSeen, 3);
    EXPECT_EQ(app.m_calls[0].nPreviewSeen, 1);

    SetUp();
    RecordingApp failing({"/p", "77"}, StoreWithType3());
    failing.m_bStartResult = false; // the window could not be created
    EXPECT_FALSE(failing.InitInstance());
    ASSERT_EQ(failing.m_calls.size(), 1u);
    EXPECT_EQ(failing.m_calls[0].nHostWindow, 77);
}

TEST_F(SpectrumAppInit, PreviewWithoutAHostWindowEndsAtOnce)
{
    for (const QStringList &args : {QStringList{"/p"}, QStringList{"/p", "0"},
                                    QStringList{"/p", "abc"}, QStringList{"/p", "-5"}}) {
        SetUp();
        RecordingApp app(args, StoreWithType3());
        EXPECT_FALSE(app.InitInstance()) << Show(args);
        EXPECT_TRUE(app.m_calls.empty()) << Show(args);
        EXPECT_EQ(g_DisplaySettings.Type, 3) << Show(args);
        TearDown();
    }
}

TEST_F(SpectrumAppInit, SaverModeStartsTheSaver)
{
    RecordingApp app({"/S"}, StoreWithType3());
    EXPECT_TRUE(app.InitInstance());
    ASSERT_EQ(app.m_calls.size(), 1u);
    EXPECT_EQ(app.m_calls[0].strWhat, "saver");
    EXPECT_EQ(app.m_calls[0].nTypeSeen, 3);
    EXPECT_EQ(app.m_calls[0].nPreviewSeen, 0);
}

TEST_F(SpectrumAppInit, UnrecognisedArgumentStillLoadsTheSettings)
{
    for (const QStringList &args : {QStringList{"/scr"}, QStringList{"/C"}, QStringList{"/p:1234"},
                                    QStringList{"/"}, QStringList{"c"}}) {
        SetUp();
        auto pStore = StoreWithType3();
        MemoryProfileStore *pRaw = pStore.get();
        RecordingApp app(args, std::move(pStore));
        EXPECT_FALSE(app.InitInstance()) << Show(args);
        EXPECT_TRUE(app.m_calls.empty()) << Show(args);
        EXPECT_EQ(GetProfileStore(), pRaw);
        EXPECT_EQ(g_DisplaySettings.Type, 3) << Show(args);
        EXPECT_EQ(g_Version, 1);
        EXPECT_EQ(g_bPreview, 0);
        TearDown();
    }
}

// The windows of the three modes are not part of the program yet: every mode
// ends start-up, and none of them writes the settings.
TEST_F(SpectrumAppInit, EveryModeEndsCleanlyAndNoneWritesTheSettings)
{
    for (const QStringList &args : {QStringList{}, QStringList{"/c"}, QStringList{"/p", "1234"},
                                    QStringList{"/s"}, QStringList{"/x"}}) {
        SetUp();
        auto pStore = StoreWithType3();
        MemoryProfileStore *pRaw = pStore.get();
        MemoryStoreApp app(args, std::move(pStore));
        EXPECT_FALSE(app.InitInstance()) << Show(args);
        EXPECT_EQ(g_DisplaySettings.Type, 3) << Show(args);
        EXPECT_TRUE(pRaw->WriteLog().isEmpty()) << Show(args);
        EXPECT_EQ(pRaw->FlushCount(), 0) << Show(args);
        TearDown();
    }
}

TEST_F(SpectrumAppInit, SettingsLiveUnderTanuwelAndTheProgramName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    CSpectrumApp app({"/x"}, QStringLiteral("vexlor-test"));
    EXPECT_FALSE(app.InitInstance());
    const auto *pStore = dynamic_cast<const QSettingsProfileStore *>(GetProfileStore());
    ASSERT_NE(pStore, nullptr);
    EXPECT_EQ(pStore->Location(), dir.path() + QStringLiteral("/tanuwel/vexlor-test.conf"));
    EXPECT_EQ(g_Version, 1);
    // Start-up only read: nothing was created.
    SetProfileStore(nullptr);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}
