#include "audio/input/DemoSignal.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;

double NoteHz(int nMidi)
{
    return 440.0 * std::pow(2.0, (nMidi - 69) / 12.0);
}

void PutLe32(char *p, uint32_t v)
{
    qToLittleEndian(v, p);
}
void PutLe16(char *p, uint16_t v)
{
    qToLittleEndian(v, p);
}

} // namespace

QByteArray SynthesizeDemoWav(int nSeconds, int nRate)
{
    const uint32_t nFrames = uint32_t(std::max(1, nSeconds) * nRate);
    QByteArray wav(44 + qsizetype(nFrames) * 4, '\0');
    char *p = wav.data();
    std::memcpy(p, "RIFF", 4);
    PutLe32(p + 4, uint32_t(wav.size() - 8));
    std::memcpy(p + 8, "WAVEfmt ", 8);
    PutLe32(p + 16, 16);
    PutLe16(p + 20, 1); // PCM
    PutLe16(p + 22, 2);
    PutLe32(p + 24, uint32_t(nRate));
    PutLe32(p + 28, uint32_t(nRate) * 4);
    PutLe16(p + 32, 4);
    PutLe16(p + 34, 16);
    std::memcpy(p + 36, "data", 4);
    PutLe32(p + 40, nFrames * 4);

    // Two bars a second and a half long each, four chords a bar.
    const int aChordRoots[8] = {57, 53, 60, 55, 57, 53, 62, 64}; // A F C G A F D E
    const int aMelody[16] = {76, 74, 72, 74, 76, 76, 76, 79, 81, 79, 77, 76, 74, 72, 74, 71};
    const double beat = 0.375; // seconds
    uint32_t noise = 0x12345678;

    char *pData = p + 44;
    for (uint32_t i = 0; i < nFrames; ++i) {
        const double t = double(i) / nRate;
        const int nBeat = int(t / beat);
        const double tb = t - nBeat * beat; // time into the beat
        const int nRoot = aChordRoots[(nBeat / 2) % 8];

        // Bass: the root two octaves down, plucked on every beat.
        double left = 0.0, right = 0.0;
        const double bass = std::sin(2 * kPi * NoteHz(nRoot - 24) * t) * std::exp(-tb * 6.0);
        left += 0.35 * bass;
        right += 0.35 * bass;

        // Chord: root, third, fifth with a few harmonics, held.
        const int aChord[3] = {
            nRoot, nRoot + ((nRoot % 12 == 9 || nRoot % 12 == 2 || nRoot % 12 == 4) ? 3 : 4),
            nRoot + 7};
        double chord = 0.0;
        for (int n : aChord) {
            const double f = NoteHz(n);
            for (int h = 1; h <= 4; ++h)
                chord += std::sin(2 * kPi * f * h * t) / (h * h);
        }
        left += 0.08 * chord;
        right += 0.06 * chord;

        // Melody: one note a half beat, brighter, panned right.
        const int nHalfBeat = int(t / (beat / 2));
        const double th = t - nHalfBeat * (beat / 2);
        const double fm = NoteHz(aMelody[nHalfBeat % 16]);
        const double melody = (std::sin(2 * kPi * fm * t) + 0.5 * std::sin(4 * kPi * fm * t) +
                               0.25 * std::sin(6 * kPi * fm * t)) *
                              std::exp(-th * 5.0);
        left += 0.10 * melody;
        right += 0.18 * melody;

        // Drums: a kick on beats 0 and 2, a noise snare on 1 and 3, hi-hats
        // on every half beat, for the highest bands.
        noise = noise * 1664525u + 1013904223u;
        const double white = double(int32_t(noise)) / 2147483648.0;
        if (nBeat % 2 == 0) {
            const double kick = std::sin(2 * kPi * (50.0 + 80.0 * std::exp(-tb * 30.0)) * tb);
            left += 0.5 * kick * std::exp(-tb * 12.0);
            right += 0.5 * kick * std::exp(-tb * 12.0);
        } else {
            left += 0.25 * white * std::exp(-tb * 18.0);
            right += 0.25 * white * std::exp(-tb * 18.0);
        }
        const double hat = white * std::exp(-th * 60.0) * 0.12;
        left += hat;
        right += hat * 0.8;

        const auto l = int16_t(std::clamp(left * 20000.0, -32767.0, 32767.0));
        const auto r = int16_t(std::clamp(right * 20000.0, -32767.0, 32767.0));
        qToLittleEndian(l, pData + size_t(i) * 4);
        qToLittleEndian(r, pData + size_t(i) * 4 + 2);
    }
    return wav;
}
