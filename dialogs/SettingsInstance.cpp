#include "dialogs/SettingsInstance.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The socket's address, or false when the path does not fit one.
bool MakeAddress(const QString &strPath, sockaddr_un *pAddress)
{
    const QByteArray path = QFile::encodeName(strPath);
    std::memset(pAddress, 0, sizeof(*pAddress));
    pAddress->sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof(pAddress->sun_path))
        return false;
    std::memcpy(pAddress->sun_path, path.constData(), size_t(path.size()));
    return true;
}

enum class Answer
{
    Listening,
    Nobody,
    NotOurs
};

// Whether a process of this user listens at the address. The connect does
// not wait: a listener whose queue is full still counts as one.
Answer AskListener(const sockaddr_un &address)
{
    struct stat st;
    if (::lstat(address.sun_path, &st) != 0)
        return Answer::Nobody;
    // Something of another user (or not a socket) under our name: we neither
    // talk to it nor take it away.
    if (!S_ISSOCK(st.st_mode) || st.st_uid != ::getuid())
        return Answer::NotOurs;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Answer::Nobody;
    int nResult;
    do
        nResult = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address));
    while (nResult != 0 && errno == EINTR);
    const bool bListening = nResult == 0 || errno == EAGAIN || errno == EINPROGRESS;
    ::close(fd);
    return bListening ? Answer::Listening : Answer::Nobody;
}

} // namespace

QString SettingsServerName(const QString &strLocation)
{
    // The user's id keeps users apart in the shared socket folder; the file's
    // hash lets dialogs of different settings files (a renamed copy of the
    // program, another HOME) run side by side.
    const QByteArray hash =
        QCryptographicHash::hash(strLocation.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("vexlor-settings-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash));
}

QString CSettingsInstance::SocketPath(const QString &strName)
{
    return QDir::tempPath() + QLatin1Char('/') + strName;
}

CSettingsInstance::CSettingsInstance(const QString &strLocation)
    : m_strPath(SocketPath(SettingsServerName(strLocation)))
{}

CSettingsInstance::~CSettingsInstance()
{
    if (!m_pNotifier)
        return;
    const int fd = int(m_pNotifier->socket());
    m_pNotifier.reset();
    ::close(fd);
    // The name goes with the dialog, so the next one need not clear it.
    ::unlink(QFile::encodeName(m_strPath).constData());
}

bool CSettingsInstance::Claim()
{
    sockaddr_un address;
    // Without a socket the dialog still runs, only unguarded.
    if (m_pNotifier || !MakeAddress(m_strPath, &address))
        return true;
    switch (AskListener(address)) {
    case Answer::Listening:
        return false; // the connection itself was the request to come forward
    case Answer::NotOurs:
        return true;
    case Answer::Nobody:
        break;
    }
    // Whatever is left under the name is a socket of ours whose process
    // ended without taking it away.
    ::unlink(address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return true;
    }
    // Only this user may connect (writing to a socket is what connecting takes).
    ::chmod(address.sun_path, S_IRUSR | S_IWUSR);
    if (::listen(fd, 8) != 0) {
        ::close(fd);
        ::unlink(address.sun_path);
        return true;
    }
    m_pNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, m_pNotifier.get(),
                     [this] { Accept(); });
    return true;
}

bool CSettingsInstance::IsListening() const
{
    return m_pNotifier != nullptr;
}

void CSettingsInstance::Accept()
{
    // Every connection waiting is one request; nothing is read from them.
    bool bAny = false;
    for (;;) {
        const int fd = ::accept4(int(m_pNotifier->socket()), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            // Out of descriptors or the like: the request would stay queued
            // and wake us again at once, so stop listening rather than spin.
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                m_pNotifier->setEnabled(false);
            break;
        }
        ::close(fd);
        bAny = true;
    }
    if (bAny)
        BringForward();
}

void CSettingsInstance::BringForward()
{
    if (!m_pWindow)
        return;
    m_pWindow->setWindowState(m_pWindow->windowState() & ~Qt::WindowMinimized);
    m_pWindow->show();
    m_pWindow->raise();
    m_pWindow->activateWindow();
    // A page open over the dialog stays on top of it.
    QWidget *pModal = QApplication::activeModalWidget();
    if (pModal && pModal != m_pWindow) {
        pModal->raise();
        pModal->activateWindow();
    }
}
