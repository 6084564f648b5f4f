#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class CWave;

// Analysis flags for CFFT::Analyze. The spectrum display always uses 0x2D:
// FFT_REMOVEDC | FFT_WINDOW | FFT_SINGLE | FFT_FASTMAG.
inline constexpr uint32_t FFT_FASTMAG = 0x01;    // |re| + |im|/3 style estimate instead of sqrt
inline constexpr uint32_t FFT_RESET = 0x02;      // empty the history before anything else
inline constexpr uint32_t FFT_SINGLE = 0x04;     // the output is this frame alone
inline constexpr uint32_t FFT_WINDOW = 0x08;     // multiply the samples by the Hann window
inline constexpr uint32_t FFT_CUMULATIVE = 0x10; // average of every frame since the last reset
inline constexpr uint32_t FFT_REMOVEDC = 0x20;   // subtract the mean of the N samples
inline constexpr uint32_t FFT_PEAKHOLD = 0x40;   // hold each bin's peak
inline constexpr uint32_t FFT_PEAKDECAY = 0x80;  // hold peaks, decaying by 0.9 per frame

// The spectrum engine. Each Analyze takes N consecutive samples of one
// channel (or the mean of both) from a capture buffer, optionally removes
// their mean and applies a periodic Hann window, runs an N-point complex
// radix-2 transform in double precision and leaves N/2 magnitudes as floats
// in m_pSpectrum, with their largest and smallest value in m_fMax / m_fMin.
// Output bin k stands for k * rate / N Hz. Magnitudes are scaled so that a
// sinusoid of amplitude A centred on a bin reads A without the window and
// A/2 with it (samples are in units where full scale is +-10000).
//
// Besides the single-frame mode there are a moving average over the last H
// frames, a cumulative average since the last reset and a peak hold with or
// without decay.
//
// All arrays live in one block sized by Setup, so Analyze never allocates.
// The block is "locked" only while Setup, Analyze or a LockSpectrum /
// UnlockSpectrum bracket runs; the array pointers are meaningful only then.
// Only the user-interface thread calls the engine; there is no locking.
class CFFT
{
public:
    CFFT();
    virtual ~CFFT();
    CFFT(const CFFT &) = delete;
    CFFT &operator=(const CFFT &) = delete;

    // Sizes the engine for N = nSize samples (a power of two) and
    // H = nHistory history slots and builds its tables. With the same N and H
    // as now only the channel changes and the history contents survive; the
    // frame count and ring slot are reset in either case. Returns 1 on
    // success, 0 when the engine was left unsized.
    int Setup(int nSize, int nHistory, int nChannel);

    // Analyses N samples of pWave starting at frame *pnStart. Does nothing
    // (apart from FFT_RESET) without a wave, without history slots, without a
    // block, or when the wave holds fewer than N frames; the previous output,
    // maximum and minimum then stay.
    void Analyze(CWave *pWave, const int *pnStart, uint32_t dwFlags);
    // Analyze on this engine and on other, on the same samples of each one's
    // channel, in one transform where both are ready and of one size (else
    // each on its own). The spectra equal those of two Analyze calls to
    // within rounding.
    void AnalyzePair(CFFT &other, CWave *pWave, const int *pnStart, uint32_t dwFlags);

    // Locks the block and returns the N/2 output values, or null when there
    // is no block. Locking an already locked block does not nest: one
    // UnlockSpectrum ends it.
    float *LockSpectrum();
    void UnlockSpectrum();

    // Releases the block and returns every field to its construction value.
    void FreeBuffers();

    float m_fMax = 0.0f;                  // largest output value after the last analysis
    float m_fMin = 0.0f;                  // smallest output value after the last analysis
    int m_nHistory = 0;                   // H, number of history slots
    int m_nSize = 256;                    // N, transform size in samples
    int m_nChannel = 3;                   // 0 silence, 1 left, 2 right, 3 mean of both
    std::unique_ptr<std::byte[]> m_hData; // the one block holding every array below
    std::byte *m_pData = nullptr;         // base of the block while locked
    float *m_pHistory = nullptr;          // H slots of N/2 floats
    float *m_pSpectrum = nullptr;         // output, N/2 floats
    double *m_pReal = nullptr;            // N doubles; the transform works in place
    double *m_pImag = nullptr;            // N doubles
    int m_nFrames = 0;                    // frames held in the history (0 after a reset)
    int m_nRing = 0;                      // history slot the next frame goes to
    float *m_pWindow = nullptr;           // Hann window, N floats
    double *m_pSin = nullptr;             // sin(-2*pi*k/N), N/2 doubles
    double *m_pCos = nullptr;             // cos(2*pi*k/N), N/2 doubles
    int m_nBlockBytes = 0;                // size of m_hData in bytes; 0 without a block

private:
    int Lock();
    void Unlock();
    // An analysis in steps: Begin (the reset, the checks, the lock), Run
    // (load, transform, Finish), Finish (magnitudes and history, unlock).
    bool Begin(CWave *pWave, uint32_t dwFlags);
    void Run(CWave *pWave, const int *pnStart, uint32_t dwFlags);
    void Finish(uint32_t dwFlags);
    static bool LockSamples(CWave *pWave, const int *pnStart);
    void LoadSamples(CWave *pWave, const int *pnStart, uint32_t dwFlags);
    void LoadChannel(const CWave *pWave, uint32_t dwStart, int nChannel, double *pDest,
                     uint32_t dwFlags) const;
    void Transform();
    void Magnitudes(float *pDest, uint32_t dwFlags, bool bAccumulate);
    void FinishSingle();
    void FinishAverage(bool bCumulative);
};
