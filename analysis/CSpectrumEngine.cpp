#include "analysis/CSpectrumEngine.h"

#include "settings/SettingValues.h"

namespace {

// Analysis flags of every frame: mean removed, Hann window, single frame,
// fast magnitudes.
constexpr uint32_t kAnalyzeFlags = FFT_REMOVEDC | FFT_WINDOW | FFT_SINGLE | FFT_FASTMAG;

struct RateRow
{
    int nRate;
    int nSize;
};
// By Frange; the last row is always the keyboard's.
constexpr RateRow kRateTable[4] = {{11025, 256}, {22050, 512}, {44100, 512}, {11025, 1024}};

// The ring holds ten seconds of stereo 16-bit frames.
constexpr int kRingSeconds = 10;

// The 16-bit sample that marker mode writes into every frame of a half it
// hands back to the driver: a frame still holding it was not recorded yet.
constexpr int kMarker = 0x2222;
constexpr int kMarkerRun = 10;

// Frame index arithmetic in the ring: indices below 0 wrap by adding len.
int64_t WrapBelow(int64_t i, int64_t len)
{
    while (i < 0 && len > 0)
        i += len;
    return i;
}

} // namespace

CSpectrumEngine::CSpectrumEngine(const DisplaySettings &settings) : m_settings(settings) {}

CSpectrumEngine::~CSpectrumEngine()
{
    m_wave.Stop();
}

void CSpectrumEngine::SetWaveInDriver(std::unique_ptr<IWaveInDriver> pDriver)
{
    if (!m_device.m_bCreated)
        m_device.m_pDriver = std::move(pDriver);
}

int CSpectrumEngine::CreateDevice()
{
    return m_device.CreateDeviceWindow();
}

void CSpectrumEngine::PickRow(const DisplaySettings &settings, int *pRate, int *pSize)
{
    int nRow = settings.Frange;
    if (nRow < FRANGE_5K || nRow > FRANGE_KEYBOARD)
        nRow = FRANGE_5K;
    if (settings.Type == TYPE_KEYBOARD)
        nRow = FRANGE_KEYBOARD;
    *pRate = kRateTable[nRow].nRate;
    *pSize = kRateTable[nRow].nSize;
}

CSpectrumEngine::OpenResult CSpectrumEngine::Open()
{
    int nRate = 0, nSize = 0;
    PickRow(m_settings, &nRate, &nSize);
    const bool bStereo = IsStereoType(m_settings.Type);
    const int nFillMode = m_settings.WaveRecMode == WAVEREC_MARKER ? FILL_MARKER : FILL_NONE;
    if (IsCapturing() && nRate == m_nRate && nSize == m_nSize && bStereo == m_bStereo &&
        nFillMode == m_nFillMode && !StreamFailed())
        return OPEN_OK;

    m_nRate = nRate;
    m_nSize = nSize;
    m_bStereo = bStereo;
    m_nFillMode = nFillMode;
    OpenResult eResult = OPEN_OK;
    m_wave.Stop();
    m_wave.SetFormat(uint32_t(nRate), 16, 2);
    if (!m_wave.Allocate(uint32_t(nRate) * kRingSeconds)) {
        eResult = OPEN_MEMORYERROR;
    } else {
        m_wave.SetDevice(&m_device);
        if (!m_wave.Start(nFillMode))
            eResult = OPEN_DEVICEERROR;
    }
    if (bStereo) {
        m_fftA.Setup(nSize, 1, CHANNEL_LEFT);
        m_fftB.Setup(nSize, 1, CHANNEL_RIGHT);
    } else {
        m_fftA.Setup(nSize, 1, CHANNEL_MEAN);
    }
    return eResult;
}

void CSpectrumEngine::Stop()
{
    m_wave.Stop();
}

uint32_t CSpectrumEngine::NextFrame(uint32_t nShown, bool bAnalyse)
{
    if (nShown == m_nFrame) {
        ++m_nFrame;
        m_bAnalysed = false;
    }
    if (bAnalyse && !m_bAnalysed) {
        uint32_t dwStart = 0, dwEnd = 0;
        FindSyncStart(&dwStart, &dwEnd);
        Analyse();
        m_bAnalysed = true;
    }
    return m_nFrame;
}

void CSpectrumEngine::AnalyseFirstFrame(bool bSync)
{
    if (bSync) {
        uint32_t dwStart = 0, dwEnd = 0;
        FindSyncStart(&dwStart, &dwEnd);
    }
    Analyse();
}

void CSpectrumEngine::Analyse()
{
    const int nStart = int(m_dwAnalysisStart);
    if (IsStereoType(m_settings.Type))
        m_fftA.AnalyzePair(m_fftB, &m_wave, &nStart, kAnalyzeFlags);
    else
        m_fftA.Analyze(&m_wave, &nStart, kAnalyzeFlags);
    ++m_nAnalyses;
}

void CSpectrumEngine::FindSyncStart(uint32_t *pStart, uint32_t *pEnd)
{
    const int64_t len = m_wave.m_dwFrames;
    const int64_t N = m_nSize;
    int64_t newest = 0;
    // A few thousand left samples a frame.
    const CWave::LeftSampleReader left = m_wave.LeftSamples();
    if (len > 0 && m_settings.WaveRecMode != WAVEREC_POSITION) {
        int64_t p = m_dwSyncPos % len;
        int64_t nExamined = 0;
        // Stepped without a division per frame: the scan covers a frame's worth of samples.
        const auto next = [len](int64_t i) { return i + 1 == len ? 0 : i + 1; };
        while (nExamined < len && left(uint32_t(p)) == kMarker) {
            p = next(p);
            ++nExamined;
        }
        int nRun = 0;
        while (nExamined < len) {
            const int v = left(uint32_t(p));
            p = next(p);
            ++nExamined;
            if (v == kMarker) {
                if (++nRun == kMarkerRun)
                    break;
            } else {
                nRun = 0;
            }
        }
        // Back over the markers to the first of the run; the frame before it
        // is the newest one recorded.
        newest = WrapBelow(p - nRun - 1, len);
    } else if (len > 0) {
        newest = WrapBelow(int64_t(m_wave.GetPosition()) - m_wave.MsToFrames(100), len);
    }

    const int64_t last = WrapBelow(newest - N, len);
    const int64_t d = m_wave.MsToFrames(70);
    int64_t pa = last;
    int va = -32768;
    for (int64_t i = last; i < last + N; ++i) {
        const int v = left(uint32_t(i));
        if (v > va) {
            va = v;
            pa = i;
        }
    }
    int64_t pb = WrapBelow(last - d, len);
    int vb = -32768;
    for (int64_t j = last - d; j < last; ++j) {
        const int64_t i = WrapBelow(j, len);
        const int v = left(uint32_t(i));
        if (v > vb) {
            vb = v;
            pb = i;
        }
    }
    const int64_t chosen = vb > 2 * va ? pb : pa;
    const int64_t start = chosen > last + N / 4 ? last : WrapBelow(chosen - N / 4, len);
    *pStart = uint32_t(start);
    *pEnd = uint32_t(start + N);
    m_dwSyncPos = *pEnd;
    m_dwAnalysisStart = *pStart;
}

CSpectrumEngine::Spectra CSpectrumEngine::LockSpectra()
{
    Spectra spectra;
    spectra.pA = m_fftA.LockSpectrum();
    spectra.fMaxA = m_fftA.m_fMax;
    spectra.pB = m_fftB.LockSpectrum();
    spectra.fMaxB = m_fftB.m_fMax;
    return spectra;
}

void CSpectrumEngine::UnlockSpectra()
{
    m_fftB.UnlockSpectrum();
    m_fftA.UnlockSpectrum();
}

bool CSpectrumEngine::TakeRefill()
{
    if (!m_wave.m_nHalfDone)
        return false;
    m_nPendingRefill = m_wave.m_nHalfDone;
    m_wave.m_nHalfDone = 0;
    return true;
}

void CSpectrumEngine::Refill()
{
    m_wave.Fill(m_nPendingRefill);
    m_nPendingRefill = 0;
}
