// The settings file that is there but not used: the user hears why, once.
#include "platform/ProfileStore.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// A settings folder of its own for each use, holding pszFile as
// <folder>/tanuwel/vexlor.conf (nullptr: no file; "/": a folder in its
// place), and the store that reads it.
struct SettingsFolder
{
    QTemporaryDir dir;
    QString strFile;

    explicit SettingsFolder(const char *pszFile = nullptr)
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QDir().mkpath(dir.path() + QStringLiteral("/tanuwel"));
        strFile = dir.path() + QStringLiteral("/tanuwel/vexlor.conf");
        if (pszFile && std::string(pszFile) == "/") {
            QDir().mkpath(strFile);
        } else if (pszFile) {
            QFile file(strFile);
            if (file.open(QIODevice::WriteOnly))
                file.write(pszFile);
        }
        // The store reads the file when it is made.
        SetProfileStore(std::make_unique<QSettingsProfileStore>(QStringLiteral("tanuwel"),
                                                                QStringLiteral("vexlor")));
    }
    ~SettingsFolder() { SetProfileStore(nullptr); }
};

} // namespace

TEST(SettingsFile, AFileThatIsNotUsedIsExplainedOnce)
{
    struct Case
    {
        const char *pszFile;    // nullptr: no file; "/": a folder where the file belongs
        const char *pszProblem; // a word the explanation holds; nullptr: no explanation
        int nType;
    };
    const Case cases[] = {
        {nullptr, nullptr, 0}, // a first run: nothing to explain
        {"[Config]\nVersion=1\nType=3\n", nullptr, 3},
        {"[Config]\nVersion=0\nType=3\n", "Version", 0},
        {"[Config]\nType=3\n", "Version", 0}, // a hand edit without the marker
        {"/", "cannot read", 0},
    };
    for (const Case &c : cases) {
        const std::string strCase = c.pszFile ? c.pszFile : "(none)";
        SettingsFolder folder(c.pszFile);
        LoadSettings();
        EXPECT_EQ(g_DisplaySettings.Type, c.nType) << strCase;
        const QString strProblem = LoadSettingsProblem();
        if (!c.pszProblem) {
            EXPECT_TRUE(strProblem.isEmpty()) << strCase << ": " << strProblem.toStdString();
            continue;
        }
        EXPECT_TRUE(strProblem.contains(QString::fromLatin1(c.pszProblem))) << strCase;
        EXPECT_TRUE(strProblem.contains(folder.strFile)) << strProblem.toStdString();
        EXPECT_FALSE(strProblem.contains(u'\n'));
    }
}
