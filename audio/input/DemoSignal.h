#pragma once

#include <QByteArray>

// A short music-like signal, synthesised at run time as a 16-bit stereo WAV
// file in memory: a bass line, chords with harmonics, a melody and drum hits,
// so that every part of the spectrum moves. Used when no sound server
// answers, and for snapshots and benchmarks. nSeconds long at nRate.
QByteArray SynthesizeDemoWav(int nSeconds = 8, int nRate = 22050);
