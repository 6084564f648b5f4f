#include "analysis/CFFT.h"

#include "audio/CWave.h"
#include "settings/SettingValues.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>

namespace {
// Deliberately this literal and not the full-precision value: the tables are
// defined in terms of it.
constexpr double kPi = 3.14159265359;
// Weight of the smaller component in the fast magnitude estimate
// max(|re|, |im|) + min(|re|, |im|) / 3, which lies within 2*sqrt(2)/3
// (0.9428, at equal components) and sqrt(10)/3 (1.0541) of the true magnitude.
constexpr double kThird = 0.3333333333333333;
// Factor by which a held peak falls per frame with FFT_PEAKDECAY.
constexpr float kPeakDecay = 0.9f;

bool IsPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}
} // namespace

CFFT::CFFT() = default;

CFFT::~CFFT()
{
    Unlock();
    m_hData.reset();
}

int CFFT::Setup(int nSize, int nHistory, int nChannel)
{
    m_nFrames = 0;
    m_nRing = 0;

    // Same sizes: keep the block, tables and history contents. (On an unsized
    // engine, Setup(256, 0, ...) therefore still allocates nothing.)
    if (nSize == m_nSize && nHistory == m_nHistory) {
        m_nChannel = nChannel;
        return m_hData ? 1 : 0;
    }

    FreeBuffers();
    // Only powers of two are transform sizes; 1 would leave no output bins.
    if (!IsPowerOfTwo(nSize) || nSize < 2 || nHistory < 0)
        return 0;

    // 4 * (7N + N(H+1)/2) bytes, which is exactly the arrays laid out in Lock:
    // 8N + 8N + 4N + 4N + 4N + 2N + 2NH. The sum is formed in 64 bits so that a
    // size that does not fit a 32-bit int is refused instead of wrapping.
    const int64_t n = nSize;
    const int64_t nBytes = 4 * (7 * n + n * (int64_t(nHistory) + 1) / 2);
    if (nBytes <= 0 || nBytes > std::numeric_limits<int32_t>::max())
        return 0;

    // Zero-filled, so that sizes below 4 (which build no tables) still read
    // defined values.
    m_hData.reset(new (std::nothrow) std::byte[static_cast<size_t>(nBytes)]());
    if (!m_hData)
        return 0;
    m_nBlockBytes = static_cast<int>(nBytes);
    m_nSize = nSize;
    m_nHistory = nHistory;
    m_nChannel = nChannel;
    if (!Lock()) {
        FreeBuffers();
        return 0;
    }

    if (nSize >= 4) {
        const double x = (kPi + kPi) / nSize;
        // A periodic Hann window: window[0] is 0 and window[N/2] is 1.
        for (int i = 0; i < nSize; ++i)
            m_pWindow[i] = static_cast<float>((1.0 - std::cos(i * x)) * 0.5);
        // Twiddle factors e^(-i k x) as cos and negated sin.
        for (int k = 0; k < nSize / 2; ++k) {
            m_pCos[k] = std::cos(k * x);
            m_pSin[k] = std::sin(-(k * x));
        }
        std::fill_n(m_pSpectrum, nSize / 2, 0.0f);
    }
    Unlock();
    return 1;
}

void CFFT::Analyze(CWave *pWave, const int *pnStart, uint32_t dwFlags)
{
    if (Begin(pWave, dwFlags))
        Run(pWave, pnStart, dwFlags);
}

void CFFT::AnalyzePair(CFFT &other, CWave *pWave, const int *pnStart, uint32_t dwFlags)
{
    const bool bThis = Begin(pWave, dwFlags);
    const bool bOther = &other != this && other.Begin(pWave, dwFlags);
    if (bThis && bOther && other.m_nSize == m_nSize && LockSamples(pWave, pnStart)) {
        // A transform is linear: with this channel as the real parts and the
        // other's as the imaginary parts, Z = A + iB, and the spectra of two
        // real signals are each other's mirror: A[k] = (Z[k] + conj Z[N-k]) / 2,
        // B[k] = (Z[k] - conj Z[N-k]) / 2i. One transform instead of two.
        const auto dwStart = static_cast<uint32_t>(*pnStart);
        LoadChannel(pWave, dwStart, m_nChannel, m_pReal, dwFlags);
        LoadChannel(pWave, dwStart, other.m_nChannel, m_pImag, dwFlags);
        pWave->Unlock();
        Transform();
        const int n = m_nSize;
        for (int k = 0; k < n / 2; ++k) {
            // N - k lies above N/2 (k = 0 reads bin 0 itself): nothing
            // written here is read again.
            const int j = (n - k) & (n - 1);
            const double zr = m_pReal[k], zi = m_pImag[k], wr = m_pReal[j], wi = m_pImag[j];
            m_pReal[k] = (zr + wr) * 0.5;
            m_pImag[k] = (zi - wi) * 0.5;
            other.m_pReal[k] = (zi + wi) * 0.5;
            other.m_pImag[k] = (wr - zr) * 0.5;
        }
        Finish(dwFlags);
        other.Finish(dwFlags);
        return;
    }
    if (bThis)
        Run(pWave, pnStart, dwFlags);
    if (bOther)
        other.Run(pWave, pnStart, dwFlags);
}

void CFFT::Run(CWave *pWave, const int *pnStart, uint32_t dwFlags)
{
    LoadSamples(pWave, pnStart, dwFlags);
    Transform();
    Finish(dwFlags);
}

bool CFFT::Begin(CWave *pWave, uint32_t dwFlags)
{
    // A reset takes effect even when the analysis itself is skipped.
    if (dwFlags & FFT_RESET) {
        m_nFrames = 0;
        m_nRing = 0;
    }
    if (!pWave || m_nHistory == 0 || !m_hData || pWave->m_dwFrames < uint32_t(m_nSize))
        return false;
    return Lock() != 0;
}

void CFFT::Finish(uint32_t dwFlags)
{
    const int nBins = m_nSize / 2;
    if (dwFlags & (FFT_PEAKHOLD | FFT_PEAKDECAY)) {
        Magnitudes(m_pSpectrum, dwFlags, false);
        float *pHeld = m_pHistory; // slot 0 holds the peaks
        if (m_nFrames == 0) {
            std::copy_n(m_pSpectrum, nBins, pHeld);
        } else {
            const float f = (dwFlags & FFT_PEAKDECAY) ? kPeakDecay : 1.0f;
            // Bin 0 (DC) is never held: it always shows the current frame.
            for (int k = 1; k < nBins; ++k) {
                const float h = pHeld[k] * f;
                pHeld[k] = h;
                if (m_pSpectrum[k] > h)
                    pHeld[k] = m_pSpectrum[k];
                else
                    m_pSpectrum[k] = h;
            }
        }
        m_nFrames = 1;
        FinishSingle();
    } else if (dwFlags & FFT_SINGLE) {
        Magnitudes(m_pSpectrum, dwFlags, false);
        m_nFrames = 1;
        FinishSingle();
    } else {
        const bool bCumulative = (dwFlags & FFT_CUMULATIVE) != 0;
        // The cumulative mode sums every frame into slot 0.
        if (bCumulative)
            m_nRing = 0;
        Magnitudes(m_pHistory + size_t(m_nRing) * size_t(nBins), dwFlags,
                   bCumulative && m_nFrames > 0);
        if (++m_nRing >= m_nHistory)
            m_nRing = 0;
        ++m_nFrames;
        if (!bCumulative && m_nFrames > m_nHistory)
            m_nFrames = m_nHistory;
        FinishAverage(bCumulative);
    }
    Unlock();
}

float *CFFT::LockSpectrum()
{
    return Lock() ? m_pSpectrum : nullptr;
}

void CFFT::UnlockSpectrum()
{
    Unlock();
}

void CFFT::FreeBuffers()
{
    Unlock();
    m_hData.reset();
    m_nBlockBytes = 0;
    m_nSize = 256;
    m_nHistory = 0;
    m_nChannel = CHANNEL_MEAN;
    m_fMax = 0.0f;
    m_fMin = 0.0f;
    m_nFrames = 0;
    m_nRing = 0;
    m_pWindow = nullptr;
    m_pSin = nullptr;
    m_pCos = nullptr;
}

// Points the arrays into the block. Layout, in this order: real parts
// (N doubles), imaginary parts (N doubles), negated sines (N/2 doubles),
// cosines (N/2 doubles), window (N floats), output (N/2 floats), history
// (H slots of N/2 floats). The doubles come first so that every array is
// naturally aligned.
int CFFT::Lock()
{
    if (m_pData)
        return 1;
    if (!m_hData)
        return 0;
    const size_t n = size_t(m_nSize);
    m_pData = m_hData.get();
    m_pReal = reinterpret_cast<double *>(m_pData);
    m_pImag = m_pReal + n;
    m_pSin = m_pImag + n;
    m_pCos = m_pSin + n / 2;
    m_pWindow = reinterpret_cast<float *>(m_pCos + n / 2);
    m_pSpectrum = m_pWindow + n;
    m_pHistory = m_pSpectrum + n / 2;
    return 1;
}

// The window and twiddle pointers are left in place: the block does not move.
void CFFT::Unlock()
{
    m_pData = nullptr;
    m_pHistory = nullptr;
    m_pSpectrum = nullptr;
    m_pReal = nullptr;
    m_pImag = nullptr;
}

// Locks the wave's samples for loading, unless the start index is past the
// end of the buffer (or there is none).
bool CFFT::LockSamples(CWave *pWave, const int *pnStart)
{
    // Compared unsigned, so a negative start counts as past the end.
    return pnStart && static_cast<uint32_t>(*pnStart) <= pWave->m_dwFrames && pWave->GetData(0);
}

// Fills the real parts with N samples of the engine's channel and clears the
// imaginary parts. Where LockSamples refuses nothing is loaded: the transform
// then runs on whatever the arrays hold.
void CFFT::LoadSamples(CWave *pWave, const int *pnStart, uint32_t dwFlags)
{
    if (!LockSamples(pWave, pnStart))
        return;
    LoadChannel(pWave, static_cast<uint32_t>(*pnStart), m_nChannel, m_pReal, dwFlags);
    std::fill_n(m_pImag, m_nSize, 0.0);
    pWave->Unlock();
}

// N samples of one channel into pDest, mean removed and windowed as the flags ask.
void CFFT::LoadChannel(const CWave *pWave, uint32_t dwStart, int nChannel, double *pDest,
                       uint32_t dwFlags) const
{
    const int n = m_nSize;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double v = pWave->GetSampleFloat(dwStart + uint32_t(i), nChannel);
        pDest[i] = v;
        sum += v;
    }
    const double mean = (dwFlags & FFT_REMOVEDC) ? sum / n : 0.0;
    const bool bWindow = (dwFlags & FFT_WINDOW) != 0;
    for (int i = 0; i < n; ++i) {
        pDest[i] = pDest[i] - mean;
        if (bWindow)
            pDest[i] = m_pWindow[i] * pDest[i];
    }
}

// In-place radix-2 transform. The butterflies take the data in natural order
// and the twiddles in bit-reversed order, so the result comes out bit-reversed
// and is put back into natural order at the end. Afterwards
// X[k] = (1/N) sum_n x[n] e^(-2 pi i k n / N).
void CFFT::Transform()
{
    const int n = m_nSize;
    double *re = m_pReal;
    double *im = m_pImag;

    for (int a = n / 2; a >= 1; a /= 2) {
        int b = 0; // twiddle index, stepped in bit-reversed order
        for (int g = 0; g < n; g += 2 * a) {
            const double cb = m_pCos[b];
            const double sb = m_pSin[b];
            for (int q = g; q < g + a; ++q) {
                const int r = q + a;
                const double tr = cb * re[r] - sb * im[r];
                const double ti = sb * re[r] + cb * im[r];
                re[r] = re[q] - tr;
                im[r] = im[q] - ti;
                re[q] = re[q] + tr;
                im[q] = im[q] + ti;
            }
            // Increment b with the carry running from the top bit downwards.
            int e = n / 4;
            while (b >= e) {
                b -= e;
                e /= 2;
                if (e == 0)
                    break;
            }
            b += e;
        }
    }

    // n is a power of two: multiplying by its reciprocal is exact, and
    // cheaper than a division per value.
    const double scale = 1.0 / n;
    for (int i = 0; i < n; ++i) {
        re[i] *= scale;
        im[i] *= scale;
    }

    int j = 0;
    for (int i = 0; i < n - 1; ++i) {
        if (i <= j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        int m = n / 2;
        while (m <= j) {
            j -= m;
            m /= 2;
        }
        j += m;
    }
}

// Writes (or, with bAccumulate, adds) twice the magnitude of bins 0 .. N/2-1
// into pDest; the factor 2 folds in the mirrored negative-frequency half.
void CFFT::Magnitudes(float *pDest, uint32_t dwFlags, bool bAccumulate)
{
    const int nBins = m_nSize / 2;
    if (!bAccumulate)
        std::fill_n(pDest, nBins, 0.0f);

    if (dwFlags & FFT_FASTMAG) {
        for (int k = 0; k < nBins; ++k) {
            // The absolute values are left in the arrays.
            const double a = m_pReal[k] = std::fabs(m_pReal[k]);
            const double b = m_pImag[k] = std::fabs(m_pImag[k]);
            const double m = a > b ? a + b * kThird : b + a * kThird;
            pDest[k] = static_cast<float>(pDest[k] + 2.0 * m);
        }
    } else {
        for (int k = 0; k < nBins; ++k) {
            const double re = m_pReal[k];
            const double im = m_pImag[k];
            pDest[k] = static_cast<float>(pDest[k] + 2.0 * std::sqrt(re * re + im * im));
        }
    }
}

// The strict comparisons keep the first of equal extremes.
void CFFT::FinishSingle()
{
    if (m_nFrames == 0 || !m_hData)
        return;
    const int nBins = m_nSize / 2;
    m_fMax = m_fMin = m_pSpectrum[0];
    for (int k = 1; k < nBins; ++k) {
        if (m_pSpectrum[k] < m_fMin)
            m_fMin = m_pSpectrum[k];
        if (m_pSpectrum[k] > m_fMax)
            m_fMax = m_pSpectrum[k];
    }
}

// Output = (slot 0 with the cumulative sum, else the sum of the filled slots)
// divided by the number of frames it holds.
void CFFT::FinishAverage(bool bCumulative)
{
    if (m_nFrames == 0 || !m_hData)
        return;
    const size_t nBins = size_t(m_nSize / 2);
    const int nSlots = bCumulative ? 1 : m_nFrames;
    const float fFrames = static_cast<float>(m_nFrames);
    for (size_t k = 0; k < nBins; ++k) {
        float sum = m_pHistory[k];
        for (int s = 1; s < nSlots; ++s)
            sum += m_pHistory[size_t(s) * nBins + k];
        const float v = sum / fFrames;
        m_pSpectrum[k] = v;
        if (k == 0) {
            m_fMax = m_fMin = v;
        } else {
            if (v < m_fMin)
                m_fMin = v;
            if (v > m_fMax)
                m_fMax = v;
        }
    }
}
