#include "audio/input/PulseConnect.h"

#include <pulse/pulseaudio.h>

std::string BeginPulseConnection(pa_threaded_mainloop **ppMainloop, pa_context **ppContext,
                                 void (*fnState)(pa_context *, void *), void *pUser)
{
    *ppMainloop = pa_threaded_mainloop_new();
    if (!*ppMainloop)
        return "cannot create the PulseAudio mainloop";
    *ppContext = pa_context_new(pa_threaded_mainloop_get_api(*ppMainloop), "Vexlor");
    if (!*ppContext)
        return "cannot create a PulseAudio context";
    pa_context_set_state_callback(*ppContext, fnState, pUser);
    // Never start a server of our own: without one, connecting fails.
    if (pa_context_connect(*ppContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return std::string("cannot connect to the sound server: ") +
               pa_strerror(pa_context_errno(*ppContext));
    return {};
}
