#include "audio/input/PulseSourceList.h"

#include "audio/input/PulseConnect.h"

#include <pulse/pulseaudio.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace {
QEvent::Type AnswerEventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
} // namespace

class PulseSourceList::Receiver : public QObject
{
public:
    explicit Receiver(PulseSourceList *pList) : m_pList(pList) {}
    bool event(QEvent *pEvent) override
    {
        if (pEvent->type() != AnswerEventType())
            return QObject::event(pEvent);
        m_pList->Deliver();
        return true;
    }

private:
    PulseSourceList *m_pList; // the owner
};

PulseSourceList::PulseSourceList() = default;

PulseSourceList::~PulseSourceList()
{
    TearDown();
}

bool PulseSourceList::Start(std::function<void()> fnDone)
{
    m_fnDone = std::move(fnDone);
    m_bNotify = static_cast<bool>(m_fnDone);
    if (m_bNotify)
        m_pReceiver = std::make_unique<Receiver>(this);
    auto fail = [this](const std::string &why) {
        TearDown();
        m_strError = why;
        m_bDone = true;
        return false;
    };
    if (std::string why =
            BeginPulseConnection(&m_pMainloop, &m_pContext, &PulseSourceList::OnContextState, this);
        !why.empty())
        return fail(why);
    pa_threaded_mainloop_lock(m_pMainloop);
    m_pTimeout = pa_context_rttime_new(m_pContext, pa_rtclock_now() + kTimeoutMs * PA_USEC_PER_MSEC,
                                       &PulseSourceList::OnTimeout, this);
    pa_threaded_mainloop_unlock(m_pMainloop);
    if (pa_threaded_mainloop_start(m_pMainloop) < 0)
        return fail("cannot start the PulseAudio mainloop thread");
    return true;
}

bool PulseSourceList::Wait()
{
    if (m_pMainloop) {
        pa_threaded_mainloop_lock(m_pMainloop);
        while (!m_bDone)
            pa_threaded_mainloop_wait(m_pMainloop);
        pa_threaded_mainloop_unlock(m_pMainloop);
        m_bNotify = false;
        TearDown();
    }
    return Answered();
}

void PulseSourceList::Deliver()
{
    TearDown();
    if (m_bNotify && m_fnDone) {
        m_bNotify = false;
        m_fnDone();
    }
}

void PulseSourceList::Finish(std::string strWhy)
{
    if (m_bDone)
        return;
    m_strError = std::move(strWhy);
    m_bDone = true;
    pa_threaded_mainloop_signal(m_pMainloop, 0);
    if (m_bNotify)
        QCoreApplication::postEvent(m_pReceiver.get(), new QEvent(AnswerEventType()));
}

void PulseSourceList::TearDown()
{
    if (!m_pMainloop)
        return;
    pa_threaded_mainloop_lock(m_pMainloop);
    if (m_pTimeout) {
        pa_threaded_mainloop_get_api(m_pMainloop)->time_free(m_pTimeout);
        m_pTimeout = nullptr;
    }
    if (m_pContext) {
        pa_context_set_state_callback(m_pContext, nullptr, nullptr);
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(m_pContext)))
            pa_context_disconnect(m_pContext);
        pa_context_unref(m_pContext);
        m_pContext = nullptr;
    }
    pa_threaded_mainloop_unlock(m_pMainloop);
    // Joins the mainloop thread, which never waits for this one.
    pa_threaded_mainloop_stop(m_pMainloop);
    pa_threaded_mainloop_free(m_pMainloop);
    m_pMainloop = nullptr;
}

void PulseSourceList::OnContextState(pa_context *pContext, void *pUser)
{
    auto *pThis = static_cast<PulseSourceList *>(pUser);
    const pa_context_state_t state = pa_context_get_state(pContext);
    if (state == PA_CONTEXT_READY) {
        pa_operation *pOp =
            pa_context_get_source_info_list(pContext, &PulseSourceList::OnSourceInfo, pUser);
        if (pOp)
            pa_operation_unref(pOp);
        else
            pThis->Finish(std::string("cannot ask the sound server for its sources: ") +
                          pa_strerror(pa_context_errno(pContext)));
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        pThis->Finish(std::string("cannot connect to the sound server: ") +
                      pa_strerror(pa_context_errno(pContext)));
    }
}

void PulseSourceList::OnSourceInfo(pa_context *pContext, const pa_source_info *pInfo, int nEol,
                                   void *pUser)
{
    auto *pThis = static_cast<PulseSourceList *>(pUser);
    if (nEol < 0) {
        pThis->Finish(std::string("the sound server did not list its sources: ") +
                      pa_strerror(pa_context_errno(pContext)));
    } else if (nEol > 0) {
        pThis->Finish({});
    } else if (pInfo && pInfo->name && !pThis->m_bDone) {
        pThis->m_sources.push_back(
            {pInfo->name, pInfo->description ? pInfo->description : std::string()});
    }
}

void PulseSourceList::OnTimeout(pa_mainloop_api * /*pApi*/, pa_time_event * /*pEvent*/,
                                const struct timeval * /*pTime*/, void *pUser)
{
    auto *pThis = static_cast<PulseSourceList *>(pUser);
    pThis->Finish("timed out waiting for the sound server");
}
