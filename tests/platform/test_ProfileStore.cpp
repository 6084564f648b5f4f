#include "platform/ProfileStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

const QString kSection = QStringLiteral("Config");
constexpr std::uint32_t kUntouched = 0xDEADBEEF;

// Every file below a folder, relative to it.
QStringList FilesBelow(const QString &strDir)
{
    QStringList files;
    QDirIterator it(strDir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(strDir).relativeFilePath(it.next());
    return files;
}

} // namespace

TEST(ProfileStoreConversion, AcceptsOnly32BitNumbersAndStrings)
{
    struct Case
    {
        QVariant value;
        std::uint32_t dwExpected;
    };
    // clang-format off
    const std::vector<Case> accepted = {
        {QStringLiteral("0"), 0u}, {QStringLiteral("+7"), 7u},
        {QStringLiteral("-60"), 4294967236u}, // a hand edit in signed form
        {QStringLiteral("4294967168"), 0xFFFFFF80u}, {QStringLiteral("4294967295"), 0xFFFFFFFFu},
        {QStringLiteral("-2147483648"), 0x80000000u},
        {QVariant(int(-60)), 4294967236u}, // a REG_DWORD as QSettings reads it on Windows
        {QVariant::fromValue<uint>(4294967168u), 4294967168u},
    };
    const std::vector<QVariant> refused = {
        QStringLiteral(""), QStringLiteral("abc"), QStringLiteral("1.5"), QStringLiteral("12abc"),
        QStringLiteral(" 7"), QStringLiteral("0x10"), QStringLiteral("-"), QStringLiteral("４２"),
        QStringLiteral("4294967296"), QStringLiteral("-2147483649"),
        QStringLiteral("99999999999999999999999"), QVariant(QStringList{"1", "2"}),
        QVariant(QByteArray("12")), QVariant(true), QVariant(1.0), QVariant(qlonglong(1LL << 32)),
    };
    // clang-format on
    for (const Case &c : accepted) {
        std::uint32_t dwValue = kUntouched;
        EXPECT_EQ(ProfileNumberFromVariant(c.value, dwValue), ProfileValueState::Present);
        EXPECT_EQ(dwValue, c.dwExpected) << c.value.toString().toStdString();
    }
    for (const QVariant &value : refused) {
        std::uint32_t dwValue = kUntouched;
        EXPECT_EQ(ProfileNumberFromVariant(value, dwValue), ProfileValueState::WrongType)
            << value.toString().toStdString();
        EXPECT_EQ(dwValue, kUntouched);
    }
    std::uint32_t dwValue = kUntouched;
    EXPECT_EQ(ProfileNumberFromVariant(QVariant(), dwValue), ProfileValueState::Absent);

    QString strValue = QStringLiteral("untouched");
    for (const QVariant &value :
         {QVariant(5), QVariant(QStringList{"a"}), QVariant(QByteArray("a"))})
        EXPECT_EQ(ProfileTextFromVariant(value, strValue), ProfileValueState::WrongType);
    EXPECT_EQ(ProfileTextFromVariant(QVariant(), strValue), ProfileValueState::Absent);
    EXPECT_EQ(strValue, QStringLiteral("untouched"));
    EXPECT_EQ(ProfileTextFromVariant(QString(""), strValue), ProfileValueState::Present);
    EXPECT_TRUE(strValue.isEmpty());
}

TEST(QSettingsProfileStore, ReadsAHandEditedFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/tanuwel")));
    QFile file(dir.path() + QStringLiteral("/tanuwel/vexlor.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Config]\nLmin=-60\nFontCharSet=4294967168\nFdiv=abc\nLPeek=\nLmax=1, 2\n"
               "BmpName=\"C:/絵/背景, 1.bmp\"\nbmpName1=@ByteArray(sp.bmp)\n[Other]\nType=3\n");
    file.close();

    QSettingsProfileStore store(QStringLiteral("tanuwel"), QStringLiteral("vexlor"));
    EXPECT_EQ(store.Location(), file.fileName());
    std::uint32_t dwValue = kUntouched;
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("Lmin"), dwValue),
              ProfileValueState::Present);
    EXPECT_EQ(dwValue, 4294967236u);
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("FontCharSet"), dwValue),
              ProfileValueState::Present);
    EXPECT_EQ(dwValue, 0xFFFFFF80u);
    for (const char *pszKey : {"Fdiv", "LPeek", "Lmax", "BmpName"})
        EXPECT_EQ(store.ReadNumber(kSection, QString::fromLatin1(pszKey), dwValue),
                  ProfileValueState::WrongType)
            << pszKey;
    // Another section's value is not this section's.
    EXPECT_EQ(store.ReadNumber(kSection, QStringLiteral("Type"), dwValue),
              ProfileValueState::Absent);
    QString strValue;
    EXPECT_EQ(store.ReadText(kSection, QStringLiteral("BmpName"), strValue),
              ProfileValueState::Present);
    EXPECT_EQ(strValue, QStringLiteral("C:/絵/背景, 1.bmp"));
    EXPECT_EQ(store.ReadText(kSection, QStringLiteral("bmpName1"), strValue),
              ProfileValueState::WrongType);
}

// The default location comes from the environment when QSettings is first
// used, so it is checked in a fresh process: this test runs itself again with
// VEXLOR_PROFILE_CHILD set, and that run writes one value and flushes.
TEST(QSettingsProfileStoreLocation, IsTanuwelConfUnderTheUserConfigFolder)
{
    if (qEnvironmentVariableIsSet("VEXLOR_PROFILE_CHILD")) {
        QSettingsProfileStore store(QStringLiteral("tanuwel"), QStringLiteral("vexlor"));
        store.WriteNumber(kSection, QStringLiteral("FontCharSet"), 0xFFFFFF80u);
        store.Flush();
        return;
    }
    for (const bool bSetXdg : {true, false}) {
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        if (bSetXdg)
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/xdg"));
        env.insert(QStringLiteral("VEXLOR_PROFILE_CHILD"), QStringLiteral("1"));
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=QSettingsProfileStoreLocation.*")});
        ASSERT_TRUE(child.waitForFinished(60000));
        EXPECT_EQ(child.exitCode(), 0);

        const QString strExpected = bSetXdg ? QStringLiteral("xdg/tanuwel/vexlor.conf")
                                            : QStringLiteral(".config/tanuwel/vexlor.conf");
        EXPECT_EQ(FilesBelow(home.path()), QStringList{strExpected});
        QFile file(home.path() + u'/' + strExpected);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), QByteArray("[Config]\nFontCharSet=-128\n"));
    }
}
