#include "platform/ProfileStore.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

const QString kSection = QStringLiteral("Config");
constexpr std::uint32_t kUntouched = 0xDEADBEEF;

struct NumberCase
{
    QVariant value;
    std::uint32_t dwExpected;
};

QByteArray ReadAll(const QString &strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool WriteAll(const QString &strPath, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(strPath).path());
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data) == data.size();
}

// Every file and folder below a folder, with sizes, for "nothing was added" checks.
QStringList Listing(const QString &strDir)
{
    QStringList list;
    const QFileInfoList infos = QDir(strDir).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &info : infos) {
        list << info.fileName() + u' ' + QString::number(info.size());
        if (info.isDir())
            for (const QString &strSub : Listing(info.filePath()))
                list << info.fileName() + u'/' + strSub;
    }
    return list;
}

} // namespace

TEST(ProfileStoreConversion, NumbersAreAcceptedInUnsignedAndSignedForm)
{
    const std::vector<NumberCase> cases = {
        {QStringLiteral("0"), 0u},
        {QStringLiteral("42"), 42u},
        {QStringLiteral("+7"), 7u},
        {QStringLiteral("-60"), 4294967236u}, // a hand edit in signed form
        {QStringLiteral("4294967168"), 0xFFFFFF80u},
        {QStringLiteral("4294967295"), 0xFFFFFFFFu},
        {QStringLiteral("2147483648"), 0x80000000u},
        {QStringLiteral("-2147483648"), 0x80000000u},
        {QStringLiteral("-0"), 0u},
        {QVariant(int(-60)), 4294967236u}, // a REG_DWORD as QSettings reads it on Windows
        {QVariant::fromValue<uint>(4294967168u), 4294967168u},
        {QVariant(qlonglong(4294967295LL)), 4294967295u},
        {QVariant(qlonglong(-2147483648LL)), 0x80000000u},
        {QVariant(qulonglong(5)), 5u},
    };
    for (const NumberCase &c : cases) {
        std::uint32_t dwValue = kUntouched;
        EXPECT_EQ(ProfileNumberFromVariant(c.value, dwValue), ProfileValueState::Present)
            << c.value.toString().toStdString();
        EXPECT_EQ(dwValue, c.dwExpected) << c.value.toString().toStdString();
    }
}

TEST(ProfileStoreConversion, DamagedNumbersAreRefusedAndLeaveTheOutputAlone)
{
    const std::vector<QVariant> cases = {
        QStringLiteral(""),
        QStringLiteral("abc"),
        QStringLiteral("1.5"),
        QStringLiteral("12abc"),
        QStringLiteral(" 7"),
        QStringLiteral("0x10"),
        QStringLiteral("-"),
        QStringLiteral("+"),
        QStringLiteral("--5"),
        QStringLiteral("4294967296"),
        QStringLiteral("-2147483649"),
        QStringLiteral("99999999999999999999999"),
        QStringLiteral("４２"), // full-width digits are not decimal digits here
        QVariant(QStringList{QStringLiteral("1"), QStringLiteral("2")}),
        QVariant(QByteArray("12")),
        QVariant(true),
        QVariant(1.0),
        QVariant(qlonglong(4294967296LL)),
        QVariant(qlonglong(-2147483649LL)),
        QVariant(qulonglong(1ULL << 40)),
    };
    for (const QVariant &value : cases) {
        std::uint32_t dwValue = kUntouched;
        EXPECT_EQ(ProfileNumberFromVariant(value, dwValue), ProfileValueState::WrongType)
            << value.toString().toStdString();
        EXPECT_EQ(dwValue, kUntouched) << value.toString().toStdString();
    }
    std::uint32_t dwValue = kUntouched;
    EXPECT_EQ(ProfileNumberFromVariant(QVariant(), dwValue), ProfileValueState::Absent);
    EXPECT_EQ(dwValue, kUntouched);
}

TEST(ProfileStoreConversion, OnlyStringsAreTexts)
{
    QString strValue = QStringLiteral("untouched");
    EXPECT_EQ(ProfileTextFromVariant(QStringLiteral("sp.bmp"), strValue),
              ProfileValueState::Present);
    EXPECT_EQ(strValue, QStringLiteral("sp.bmp"));
    EXPECT_EQ(ProfileTextFromVariant(QString(""), strValue), ProfileValueState::Present);
    EXPECT_TRUE(strValue.isEmpty());

    const std::vector<QVariant> refused = {QVariant(5), QVariant::fromValue<uint>(5u),
                                           QVariant(QStringList{QStringLiteral("a")}),
                                           QVariant(QByteArray("a"))};
    for (const QVariant &value : refused) {
        strValue = QStringLiteral("untouched");
        EXPECT_EQ(ProfileTextFromVariant(value, strValue), ProfileValueState::WrongType);
        EXPECT_EQ(strValue, QStringLiteral("untouched"));
    }
    EXPECT_EQ(ProfileTextFromVariant(QVariant(), strValue), ProfileValueState::Absent);
    EXPECT_EQ(strValue, QStringLiteral("untouched"));
}

TEST(MemoryProfileStore, KeepsValuesPerSectionAndLogsWritesInOrder)
{
    MemoryProfileStore store;
    store.WriteNumber(kSection, QStringLiteral("FontCharSet"), 0xFFFFFF80u);
    store.WriteText(kSection, QStringLiteral("BmpName"), QStringLiteral("背景.bmp"));
    store.WriteNumber(QStringLiteral("Other"), QStringLiteral("FontCharSet"), 3u);
    store.SetRaw(kSection, QStringLiteral("Planted"), QStringLiteral("9"));

    EXPECT_EQ(store.WriteLog(),
              (QStringList{QStringLiteral("Config/FontCharSet"), QStringLiteral("Config/BmpName"),
                           QStringLiteral("Other/FontCharSet")}));
    EXPECT_EQ(store.Count(), 4);
    EXPECT_EQ(store.FlushCount(), 0);
    store.Flush();
    EXPECT_EQ(store.FlushCount(), 1);

    std::uint32_t dwValue = 0;
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("FontCharSet"), dwValue),
              ProfileValueState::Present);
    EXPECT_EQ(dwValue, 4294967168u);
    EXPECT_EQ(store.ReadNumber(QStringLiteral("Other"), QStringLiteral("FontCharSet"), dwValue),
              ProfileValueState::Present);
    EXPECT_EQ(dwValue, 3u);
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("Planted"), dwValue),
              ProfileValueState::Present);
    EXPECT_EQ(dwValue, 9u);
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("Missing"), dwValue),
              ProfileValueState::Absent);
    EXPECT_EQ(store.ReadNumber(QStringLiteral("config"), QStringLiteral("FontCharSet"), dwValue),
              ProfileValueState::Absent);

    QString strValue;
    EXPECT_EQ(store.ReadText(kSection, QStringLiteral("BmpName"), strValue),
              ProfileValueState::Present);
    EXPECT_EQ(strValue, QStringLiteral("背景.bmp"));
    // A number where a text belongs, and a text where a number belongs.
    EXPECT_EQ(store.ReadText(kSection, QStringLiteral("FontCharSet"), strValue),
              ProfileValueState::WrongType);
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("BmpName"), dwValue),
              ProfileValueState::WrongType);

    store.SetRaw(kSection, QStringLiteral("Planted"), QVariant());
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("Planted"), dwValue),
              ProfileValueState::Absent);
    EXPECT_EQ(store.WriteLog().size(), 3);
}

class QSettingsProfileStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // Each test gets its own folder, so no two tests share a file (QSettings
        // keeps parsed files cached by name).
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    }

    QString ConfPath(const QString &strApp) const
    {
        return m_dir.path() + QStringLiteral("/tanuwel/") + strApp + QStringLiteral(".conf");
    }

    QTemporaryDir m_dir;
};

TEST_F(QSettingsProfileStoreTest, RoundTripThroughTheFile)
{
    const QString strName = QStringLiteral("C:/絵/背景, 1.bmp"); // a comma must not make a list
    {
        QSettingsProfileStore store(QStringLiteral("tanuwel"), QStringLiteral("vexlor"));
        EXPECT_EQ(store.Location(), ConfPath(QStringLiteral("vexlor")));
        store.WriteNumber(kSection, QStringLiteral("FontCharSet"), 0xFFFFFF80u);
        store.WriteNumber(kSection, QStringLiteral("Lmin"), static_cast<std::uint32_t>(-60));
        store.WriteNumber(kSection, QStringLiteral("Type"), 0u);
        store.WriteText(kSection, QStringLiteral("BmpName"), strName);
        store.WriteText(kSection, QStringLiteral("bmpName1"), QString());
        store.WriteText(kSection, QStringLiteral("FontFaceName"),
                        QStringLiteral("ＭＳ Ｐゴシック"));
        store.Flush();
    }

    const QByteArray content = ReadAll(ConfPath(QStringLiteral("vexlor")));
    EXPECT_TRUE(content.startsWith("[Config]\n")) << content.constData();
    EXPECT_TRUE(content.contains("\nFontCharSet=4294967168\n")) << content.constData();
    EXPECT_TRUE(content.contains("\nLmin=4294967236\n")) << content.constData();
    EXPECT_TRUE(content.contains(QStringLiteral("\nFontFaceName=ＭＳ Ｐゴシック\n").toUtf8()))
        << content.constData();

    QSettingsProfileStore store(QStringLiteral("tanuwel"), QStringLiteral("vexlor"));
    std::uint32_t dwValue = 0;
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("FontCharSet"), dwValue),
              ProfileValueState::Present);
    EXPECT_EQ(dwValue, 0xFFFFFF80u);
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("Lmin"), dwValue),
              ProfileValueState::Present);
    EXPECT_EQ(static_cast<std::int32_t>(dwValue), -60);
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("Type"), dwValue),
              ProfileValueState::Present);
    EXPECT_EQ(dwValue, 0u);
    QString strValue;
    EXPECT_EQ(store.ReadText(kSection, QStringLiteral("BmpName"), strValue),
              ProfileValueState::Present);
    EXPECT_EQ(strValue, strName);
    EXPECT_EQ(store.ReadText(kSection, QStringLiteral("bmpName1"), strValue),
              ProfileValueState::Present);
    EXPECT_TRUE(strValue.isEmpty());
    EXPECT_EQ(store.ReadText(kSection, QStringLiteral("FontFaceName"), strValue),
              ProfileValueState::Present);
    EXPECT_EQ(strValue, QStringLiteral("ＭＳ Ｐゴシック"));
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("Missing"), dwValue),
              ProfileValueState::Absent);
}

TEST_F(QSettingsProfileStoreTest, HandEditedValuesReadAsTheyShould)
{
    ASSERT_TRUE(WriteAll(ConfPath(QStringLiteral("vexlor")), "[Config]\n"
                                                             "Lmin=-60\n"
                                                             "Fdiv=abc\n"
                                                             "Ldiv=1.5\n"
                                                             "LPeek=\n"
                                                             "Lmax=1, 2\n"
                                                             "KeyOn=4294967296\n"
                                                             "BmpName=@ByteArray(sp.bmp)\n"
                                                             "bmpName2=1, 2\n"
                                                             "[Other]\n"
                                                             "Type=3\n"));
    QSettingsProfileStore store(QStringLiteral("tanuwel"), QStringLiteral("vexlor"));
    std::uint32_t dwValue = kUntouched;
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("Lmin"), dwValue),
              ProfileValueState::Present);
    EXPECT_EQ(static_cast<std::int32_t>(dwValue), -60);
    for (const char *pszKey : {"Fdiv", "Ldiv", "LPeek", "Lmax", "KeyOn"}) {
        dwValue = kUntouched;
        EXPECT_EQ(store.ReadNumber(kSection, QString::fromLatin1(pszKey), dwValue),
                  ProfileValueState::WrongType)
            << pszKey;
        EXPECT_EQ(dwValue, kUntouched) << pszKey;
    }
    QString strValue;
    EXPECT_EQ(store.ReadText(kSection, QStringLiteral("BmpName"), strValue),
              ProfileValueState::WrongType);
    EXPECT_EQ(store.ReadText(kSection, QStringLiteral("bmpName2"), strValue),
              ProfileValueState::WrongType);
    // Another section's value is not this section's.
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("Type"), dwValue),
              ProfileValueState::Absent);
}

TEST_F(QSettingsProfileStoreTest, ReadingNeverWritesTheFile)
{
    const QString strPath = ConfPath(QStringLiteral("vexlor"));
    ASSERT_TRUE(WriteAll(strPath, "[Config]\nType=3\nFdiv=abc\nBmpName=sp.bmp\n"));
    // Put the file's time an hour back, so a rewrite within the same second shows.
    const QDateTime past = QDateTime::currentDateTime().addSecs(-3600);
    {
        QFile file(strPath);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(past, QFileDevice::FileModificationTime));
    }
    const QDateTime mtime = QFileInfo(strPath).lastModified();
    const QByteArray content = ReadAll(strPath);
    const QStringList listing = Listing(m_dir.path());

    {
        QSettingsProfileStore store(QStringLiteral("tanuwel"), QStringLiteral("vexlor"));
        std::uint32_t dwValue = 0;
        QString strValue;
        store.ReadNumber(kSection, QStringLiteral("Type"), dwValue);
        store.ReadNumber(kSection, QStringLiteral("Fdiv"), dwValue);
        store.ReadNumber(kSection, QStringLiteral("Missing"), dwValue);
        store.ReadText(kSection, QStringLiteral("BmpName"), strValue);
        store.ReadText(kSection, QStringLiteral("Type"), strValue);
        store.Flush(); // nothing pending: must not touch the file either
    }

    EXPECT_EQ(ReadAll(strPath), content);
    EXPECT_EQ(QFileInfo(strPath).lastModified(), mtime);
    EXPECT_EQ(Listing(m_dir.path()), listing);
}

TEST_F(QSettingsProfileStoreTest, ReadingAMissingFileCreatesNothing)
{
    {
        QSettingsProfileStore store(QStringLiteral("tanuwel"), QStringLiteral("vexlor"));
        std::uint32_t dwValue = kUntouched;
        EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("Type"), dwValue),
                  ProfileValueState::Absent);
        EXPECT_EQ(dwValue, kUntouched);
        store.Flush();
    }
    EXPECT_TRUE(Listing(m_dir.path()).isEmpty()) << Listing(m_dir.path()).join(u',').toStdString();
}

// The default location comes from the environment when QSettings is first
// used, so it is checked in a fresh process: this test runs itself again
// with VEXLOR_PROFILE_CHILD set, and that run writes one value.
TEST(QSettingsProfileStoreLocation, DefaultFileIsTanuwelConfUnderTheUserConfigFolder)
{
    if (qEnvironmentVariableIsSet("VEXLOR_PROFILE_CHILD")) {
        QSettingsProfileStore store(QStringLiteral("tanuwel"), QStringLiteral("vexlor"));
        store.WriteNumber(kSection, QStringLiteral("FontCharSet"), 0xFFFFFF80u);
        store.Flush();
        return;
    }

    struct Case
    {
        bool bSetXdg;
        QString strExpectedRelative;
    };
    const std::vector<Case> cases = {
        {true, QStringLiteral("xdg/tanuwel/vexlor.conf")},
        {false, QStringLiteral(".config/tanuwel/vexlor.conf")},
    };
    for (const Case &c : cases) {
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        if (c.bSetXdg)
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/xdg"));
        else
            env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.insert(QStringLiteral("VEXLOR_PROFILE_CHILD"), QStringLiteral("1"));

        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=QSettingsProfileStoreLocation."
                                    "DefaultFileIsTanuwelConfUnderTheUserConfigFolder")});
        ASSERT_TRUE(child.waitForFinished(60000));
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().constData();

        const QStringList files = Listing(home.path()).filter(QStringLiteral(".conf "));
        ASSERT_EQ(files.size(), 1) << files.join(u',').toStdString();
        EXPECT_TRUE(files.front().startsWith(c.strExpectedRelative + u' '))
            << files.front().toStdString();
        const QByteArray content = ReadAll(home.path() + u'/' + c.strExpectedRelative);
        EXPECT_EQ(content, QByteArray("[Config]\nFontCharSet=4294967168\n"));
    }
}
