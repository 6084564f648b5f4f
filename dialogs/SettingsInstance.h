#pragma once

#include <QPointer>
#include <QString>

#include <memory>

class QLocalServer;
class QWidget;

// The local socket name under which the settings dialog of one settings file
// listens: the same for every process of this user that edits strLocation.
QString SettingsServerName(const QString &strLocation);

// Keeps one settings dialog per user and settings file. Two dialogs open at
// once would each save everything they hold, so the one closed last would
// undo the other's changes. The first dialog's process listens on a local
// socket; a later one connects, which asks the first to come to the front,
// and ends without a dialog of its own.
class CSettingsInstance
{
public:
    explicit CSettingsInstance(const QString &strLocation);
    ~CSettingsInstance();
    CSettingsInstance(const CSettingsInstance &) = delete;
    CSettingsInstance &operator=(const CSettingsInstance &) = delete;

    // True when this process may show the dialog: no other one answered (a
    // socket left by one that died is cleared away first). False when another
    // one has been asked to come forward.
    bool Claim();
    // The window to bring forward when a later process asks.
    void SetWindow(QWidget *pWindow) { m_pWindow = pWindow; }

private:
    void BringForward();

    QString m_strName;
    std::unique_ptr<QLocalServer> m_pServer;
    QPointer<QWidget> m_pWindow;
};
