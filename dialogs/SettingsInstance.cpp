#include "dialogs/SettingsInstance.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <unistd.h>

namespace {

// How long a later process waits for the first one's socket to take it.
constexpr int kConnectMs = 2000;

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

CSettingsInstance::CSettingsInstance(const QString &strLocation)
    : m_strName(SettingsServerName(strLocation))
{}

CSettingsInstance::~CSettingsInstance() = default;

bool CSettingsInstance::Claim()
{
    {
        QLocalSocket socket;
        socket.connectToServer(m_strName);
        // The connection itself is the request to come forward.
        if (socket.waitForConnected(kConnectMs)) {
            socket.disconnectFromServer();
            return false;
        }
    }
    // Nobody listens: whatever is left under the name belongs to a process
    // that ended without taking it away.
    QLocalServer::removeServer(m_strName);
    auto pServer = std::make_unique<QLocalServer>();
    pServer->setSocketOptions(QLocalServer::UserAccessOption);
    // Without the socket the dialog still runs, only unguarded.
    if (!pServer->listen(m_strName))
        return true;
    QObject::connect(pServer.get(), &QLocalServer::newConnection, pServer.get(),
                     [this, pServer = pServer.get()] {
                         while (QLocalSocket *pSocket = pServer->nextPendingConnection())
                             pSocket->deleteLater();
                         BringForward();
                     });
    m_pServer = std::move(pServer);
    return true;
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
