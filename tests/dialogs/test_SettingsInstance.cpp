#include "dialogs/SettingsInstance.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

// Each test's sockets in a folder of its own (the guard puts them in TMPDIR).
class SettingsInstanceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
    }
    void TearDown() override { qputenv("TMPDIR", m_oldTmp); }

    static QString PathFor(const QString &strLocation)
    {
        return CSettingsInstance::SocketPath(SettingsServerName(strLocation));
    }
    static bool Exists(const QString &strPath)
    {
        struct stat st;
        return ::lstat(QFile::encodeName(strPath).constData(), &st) == 0;
    }

    QTemporaryDir m_dir;
    QByteArray m_oldTmp;
};

// A socket bound under the path and closed without being taken away, as a
// dialog that was killed leaves it.
void LeaveDeadSocket(const QString &strPath)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(strPath);
    ASSERT_LT(size_t(path.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)), 0);
    ::close(fd);
}

} // namespace

TEST_F(SettingsInstanceTest, NamePerUserAndSettingsFile)
{
    const QString strA = SettingsServerName(QStringLiteral("/home/a/.config/tanuwel/vexlor.conf"));
    EXPECT_EQ(strA, SettingsServerName(QStringLiteral("/home/a/.config/tanuwel/vexlor.conf")));
    EXPECT_NE(strA, SettingsServerName(QStringLiteral("/home/a/.config/tanuwel/copy.conf")));
    EXPECT_TRUE(strA.startsWith(QStringLiteral("vexlor-settings-%1-").arg(::getuid())))
        << qPrintable(strA);
    EXPECT_EQ(CSettingsInstance::SocketPath(strA), m_dir.path() + QLatin1Char('/') + strA);
}

// The second dialog of a file ends and brings the first, minimised and
// hidden, to the front; a dialog of another file runs beside them.
TEST_F(SettingsInstanceTest, LaterDialogOfTheFileBringsTheFirstForward)
{
    const QString strFile = QStringLiteral("/home/a/.config/tanuwel/vexlor.conf");
    CSettingsInstance first(strFile);
    ASSERT_TRUE(first.Claim());
    EXPECT_TRUE(first.IsListening());
    struct stat st;
    ASSERT_EQ(::lstat(QFile::encodeName(PathFor(strFile)).constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "only this user may ask";

    QWidget window;
    window.setWindowState(Qt::WindowMinimized);
    first.SetWindow(&window);
    ASSERT_FALSE(window.isVisible());

    CSettingsInstance second(strFile);
    EXPECT_FALSE(second.Claim());
    EXPECT_FALSE(second.IsListening());
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 5000));
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);

    // Asked again once it is hidden: it comes back again.
    window.hide();
    EXPECT_FALSE(CSettingsInstance(strFile).Claim());
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 5000));

    CSettingsInstance other(QStringLiteral("/home/a/.config/tanuwel/copy.conf"));
    EXPECT_TRUE(other.Claim());
    EXPECT_TRUE(other.IsListening());
}

// A request while no window is set yet is dropped, not a crash; a dialog
// that closes takes its socket with it, and the next one listens.
TEST_F(SettingsInstanceTest, ClosedDialogLeavesNothingBehind)
{
    const QString strFile = QStringLiteral("/home/b/vexlor.conf");
    {
        CSettingsInstance first(strFile);
        ASSERT_TRUE(first.Claim());
        EXPECT_FALSE(CSettingsInstance(strFile).Claim());
        QTest::qWait(50);
        ASSERT_TRUE(Exists(PathFor(strFile)));
    }
    EXPECT_FALSE(Exists(PathFor(strFile)));
    CSettingsInstance next(strFile);
    EXPECT_TRUE(next.Claim());
    EXPECT_TRUE(next.IsListening());
}

// What may lie under the name before the dialog starts.
TEST_F(SettingsInstanceTest, WhatLiesUnderTheName)
{
    struct Case
    {
        const char *pszWhat;
        bool bOtherUser; // needs root to set up
        bool bSocket;    // else a plain file
        bool bListens;   // the dialog takes the name over
    };
    const Case cases[] = {
        {"a socket of ours whose process died", false, true, true},
        {"a plain file of ours", false, false, false},
        {"a socket of another user", true, true, false},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pszWhat);
        if (c.bOtherUser && ::geteuid() != 0)
            continue; // only root can give a file away
        const QString strFile = QStringLiteral("/home/c/%1.conf").arg(++n);
        const QString strPath = PathFor(strFile);
        if (c.bSocket) {
            LeaveDeadSocket(strPath);
        } else {
            QFile file(strPath);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        if (c.bOtherUser) {
            ASSERT_EQ(::lchown(QFile::encodeName(strPath).constData(), 65534, 65534), 0);
        }
        CSettingsInstance instance(strFile);
        EXPECT_TRUE(instance.Claim()) << "the dialog always shows, guarded or not";
        EXPECT_EQ(instance.IsListening(), c.bListens);
        struct stat st;
        ASSERT_EQ(::lstat(QFile::encodeName(strPath).constData(), &st), 0);
        EXPECT_EQ(bool(S_ISSOCK(st.st_mode)), c.bSocket) << "left as it was or taken over";
        EXPECT_EQ(st.st_uid, c.bOtherUser ? 65534u : ::getuid());
    }
}

// A temporary folder too long for a socket's address: the dialog runs unguarded.
TEST_F(SettingsInstanceTest, FolderTooLongForASocketRunsUnguarded)
{
    const QString strLong = m_dir.path() + QLatin1Char('/') + QString(120, QLatin1Char('d'));
    ASSERT_TRUE(QDir().mkpath(strLong));
    qputenv("TMPDIR", QFile::encodeName(strLong));
    CSettingsInstance first(QStringLiteral("/home/d/vexlor.conf"));
    EXPECT_TRUE(first.Claim());
    EXPECT_FALSE(first.IsListening());
    EXPECT_TRUE(CSettingsInstance(QStringLiteral("/home/d/vexlor.conf")).Claim());
}
