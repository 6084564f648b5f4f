#pragma once

#include <QBasicTimer>

class QObject;

// Window timers keyed by the window's own ids (1001, 1002, ...): setting a
// running id restarts it with the new period, as a window timer does. The
// owner's timerEvent asks IdForEvent which of its timers fired.
class CWindowTimers
{
public:
    explicit CWindowTimers(QObject *pOwner) : m_pOwner(pOwner) {}

    void SetTimer(int nId, int nMs);
    void KillTimer(int nId);
    void KillAll();
    bool IsActive(int nId) const;
    // The window's id of a fired Qt timer, or -1 when it is not one of these.
    int IdForEvent(int nQtTimerId) const;

private:
    static constexpr int kMaxTimers = 16;
    struct Entry
    {
        int nId = 0;
        QBasicTimer timer;
    };
    QObject *m_pOwner;
    Entry m_entries[kMaxTimers];
};
