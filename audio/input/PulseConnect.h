#pragma once

#include <string>

struct pa_threaded_mainloop;
struct pa_context;

// The first steps of every conversation with the sound server: a threaded
// mainloop, a context on it named "Vexlor" whose state changes go to
// fnState(context, pUser), and the connection begun to the server libpulse
// finds on its own (PULSE_SERVER, the user's runtime directory), never one
// spawned for us. The mainloop is not started yet. Returns the reason of a
// failure, or nothing; whatever was made is in *ppMainloop and *ppContext
// either way, for the caller's tear-down to free.
std::string BeginPulseConnection(pa_threaded_mainloop **ppMainloop, pa_context **ppContext,
                                 void (*fnState)(pa_context *, void *), void *pUser);
