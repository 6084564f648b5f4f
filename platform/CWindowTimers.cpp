#include "platform/CWindowTimers.h"

#include <QObject>

void CWindowTimers::SetTimer(int nId, int nMs)
{
    Entry *pFree = nullptr;
    for (Entry &e : m_entries) {
        if (e.nId == nId) {
            e.timer.start(nMs, Qt::CoarseTimer, m_pOwner);
            return;
        }
        if (!pFree && e.nId == 0)
            pFree = &e;
    }
    if (!pFree)
        return; // more timers than a window ever uses
    pFree->nId = nId;
    pFree->timer.start(nMs, Qt::CoarseTimer, m_pOwner);
}

void CWindowTimers::KillTimer(int nId)
{
    for (Entry &e : m_entries) {
        if (e.nId == nId) {
            e.timer.stop();
            e.nId = 0;
        }
    }
}

void CWindowTimers::KillAll()
{
    for (Entry &e : m_entries) {
        e.timer.stop();
        e.nId = 0;
    }
}

bool CWindowTimers::IsActive(int nId) const
{
    for (const Entry &e : m_entries) {
        if (e.nId == nId)
            return e.timer.isActive();
    }
    return false;
}

int CWindowTimers::IdForEvent(int nQtTimerId) const
{
    for (const Entry &e : m_entries) {
        if (e.nId != 0 && e.timer.timerId() == nQtTimerId)
            return e.nId;
    }
    return -1;
}
