#include "app/Settings.h"
#include "platform/ProfileStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace
{

QByteArray ReadAll(const QString &strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The settings with the real QSettings store, its user folder redirected to a
// folder of the test's own.
class SettingsQSettingsFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        g_DisplaySettings = DisplaySettings{};
        g_Version = 0;
    }

    void TearDown() override { SetProfileStore(nullptr); }

    void UseFileStore()
    {
        SetProfileStore(std::make_unique<QSettingsProfileStore>(QStringLiteral("tanuwel"),
                                                                QStringLiteral("vexlor")));
    }

    QString ConfPath() const { return m_dir.path() + QStringLiteral("/tanuwel/vexlor.conf"); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SettingsQSettingsFile, SaveAndLoadRoundTripThroughTheFile)
{
    UseFileStore();
    LoadSettings();
    DisplaySettings &s = g_DisplaySettings;
    s.Type = 3;
    s.Lmin = -45;
    s.Cbackground = 0x102030;
    s.BmpName = QStringLiteral("/home/user/背景, 1.bmp");
    s.ImageList[0].bmpName = s.BmpName;
    s.ImageList[0].bmpLeftRight = 10 * 65536 + 12;
    s.ImageList[5].bmpTypeEtc = 0x41013;
    s.Font.lfHeight = -14;
    s.Font.lfCharSet = 128;
    s.Font.lfPitchAndFamily = 0x22;
    SetFaceName(s.Font.lfFaceName, QStringLiteral("Noto Sans CJK JP"));
    g_PwinPosX1 = -5;
    SaveSettings();

    const QByteArray content = ReadAll(ConfPath());
    EXPECT_TRUE(content.startsWith("[Config]\n")) << content.constData();
    for (const char *pszLine : {"\nVersion=1\n", "\nType=3\n", "\nLmin=4294967251\n",
                                "\nFontCharSet=4294967168\n", "\nFontHeight=4294967282\n",
                                "\nPwinPosX1=4294967291\n", "\nbmpLeftRight1=655372\n",
                                "\nbmpTypeEtc5=266259\n", "\nFontFaceName=Noto Sans CJK JP\n"})
        EXPECT_TRUE(content.contains(pszLine)) << pszLine;
    EXPECT_EQ(content.count('\n'), 73); // the section line and 72 values

    const DisplaySettings saved = g_DisplaySettings;
    g_DisplaySettings = DisplaySettings{};
    g_PwinPosX1 = 0;
    g_Version = 0;
    UseFileStore();
    LoadSettings();
    EXPECT_TRUE(g_DisplaySettings == saved);
    EXPECT_EQ(g_DisplaySettings.BmpName, QStringLiteral("/home/user/背景, 1.bmp"));
    EXPECT_EQ(g_DisplaySettings.Font.lfCharSet, 128);
    EXPECT_EQ(g_PwinPosX1, -5);
    EXPECT_EQ(g_Version, 1);
}

TEST_F(SettingsQSettingsFile, LoadingNeverWritesTheFile)
{
    UseFileStore();
    LoadSettings();
    g_DisplaySettings.Type = 2;
    SaveSettings();
    SetProfileStore(nullptr);

    // Damage one value by hand, then put the file's time an hour back so that
    // even a rewrite within the same second would show.
    {
        QFile file(ConfPath());
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("Fdiv=abc\n");
    }
    {
        QFile file(ConfPath());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                     QFileDevice::FileModificationTime));
    }
    const QByteArray content = ReadAll(ConfPath());
    const QDateTime mtime = QFileInfo(ConfPath()).lastModified();
    const QStringList entries = QDir(m_dir.path() + QStringLiteral("/tanuwel"))
                                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    UseFileStore();
    LoadSettings();
    EXPECT_EQ(g_DisplaySettings.Type, 2);
    EXPECT_EQ(g_DisplaySettings.Fdiv, 16);
    SetProfileStore(nullptr); // the store goes away as it does at process end

    EXPECT_EQ(ReadAll(ConfPath()), content);
    EXPECT_EQ(QFileInfo(ConfPath()).lastModified(), mtime);
    EXPECT_EQ(QDir(m_dir.path() + QStringLiteral("/tanuwel"))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              entries);
}

TEST_F(SettingsQSettingsFile, LoadingWithoutAFileCreatesNone)
{
    UseFileStore();
    LoadSettings();
    EXPECT_EQ(g_Version, 1);
    EXPECT_EQ(g_DisplaySettings.KeyDiv, 21);
    SetProfileStore(nullptr);
    EXPECT_TRUE(QDir(m_dir.path())
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
}
