#pragma once

#include <QPointer>
#include <QString>

#include <memory>

class QSocketNotifier;
class QWidget;

// The local socket name under which the settings dialog of one settings file
// listens: the same for every process of this user that edits strLocation.
QString SettingsServerName(const QString &strLocation);

// Keeps one settings dialog per user and settings file. Two dialogs open at
// once would each save everything they hold, so the one closed last would
// undo the other's changes. The first dialog's process listens on a local
// socket in the temporary folder; a later one connects, which asks the first
// to come to the front, and ends without a dialog of its own.
//
// A plain Unix socket rather than Qt's local server: the guard is all the
// program would need Qt Network for, and that library (with the Kerberos and
// proxy libraries it brings) would be loaded by every view of the spectrum.
class CSettingsInstance
{
public:
    explicit CSettingsInstance(const QString &strLocation);
    ~CSettingsInstance();
    CSettingsInstance(const CSettingsInstance &) = delete;
    CSettingsInstance &operator=(const CSettingsInstance &) = delete;

    // True when this process may show the dialog: no other one answered (a
    // socket left by one that died is cleared away first), or the socket
    // cannot be made (the dialog then runs unguarded). False when another
    // one has been asked to come forward. Never waits.
    bool Claim();
    // True while this process listens for later ones.
    bool IsListening() const;
    // The window to bring forward when a later process asks.
    void SetWindow(QWidget *pWindow) { m_pWindow = pWindow; }

    // Where the socket lies for strName: the temporary folder.
    static QString SocketPath(const QString &strName);

private:
    void Accept();
    void BringForward();

    QString m_strPath;
    // Holds the listening socket while there is one.
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    QPointer<QWidget> m_pWindow;
};
