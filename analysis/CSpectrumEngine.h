#pragma once

#include "analysis/CFFT.h"
#include "audio/CWave.h"
#include "audio/CWaveDevice.h"

#include <cstdint>
#include <memory>

struct DisplaySettings;

// The capture and analysis behind the spectrum views: the ten-second ring,
// its wave device, the two transforms (A: the left channel of the stereo
// types, or the mean of both; B: the right channel) and the search for where
// each analysis window starts. Any number of views may share one engine;
// each frame tick is captured and analysed once, however many views ask.
//
// Per frame tick a view calls NextFrame with the number of the last frame
// it showed. The first view to ask after that frame starts the next one
// (the frame number advances and, when it asks for it, the analysis runs);
// every later view in the same tick just gets the number back and reads
// the same spectra between LockSpectra and UnlockSpectra.
//
// The engine sets no timers: its views' timers call Open, Stop and Refill.
// User-interface thread only; nothing on the per-frame path allocates.
class CSpectrumEngine
{
public:
    enum OpenResult
    {
        OPEN_OK = 0,
        OPEN_MEMORYERROR = 1, // no ring of the row's size
        OPEN_DEVICEERROR = 2, // the device refused to record
    };

    // The spectra of the current frame, valid until UnlockSpectra.
    struct Spectra
    {
        const float *pA = nullptr;
        float fMaxA = 0.0f;
        const float *pB = nullptr;
        float fMaxB = 0.0f;
    };

    explicit CSpectrumEngine(const DisplaySettings &settings);
    ~CSpectrumEngine();
    CSpectrumEngine(const CSpectrumEngine &) = delete;
    CSpectrumEngine &operator=(const CSpectrumEngine &) = delete;

    // The sound input; only before CreateDevice. Without it the process-wide
    // driver factory gives one.
    void SetWaveInDriver(std::unique_ptr<IWaveInDriver> pDriver);
    int CreateDevice();

    // The rate and transform size of the row the settings choose: by
    // Frange, the keyboard always the last row, an unknown range the first.
    static void PickRow(const DisplaySettings &settings, int *pRate, int *pSize);

    // Starts capture at the row the settings choose and sets the transforms
    // up for the display type. A capture already running at that row, mode
    // and channel use is kept, so that every view of the engine may ask.
    OpenResult Open();
    void Stop();
    // The device holds blocks of the ring.
    bool IsCapturing() const { return m_wave.AnySlotInUse() != 0; }
    // The stream broke after it opened (the sound server went away).
    bool StreamFailed() const { return m_device.m_bStreamFailed != 0; }
    // The ring has memory to read.
    bool HasRing() const { return m_wave.m_dwFrames > 0; }

    // The frame tick: see the class comment. Returns the current frame number.
    uint32_t NextFrame(uint32_t nShown, bool bAnalyse);
    // Analyses the newest window now, outside the tick count, for a view's
    // first frame; bSync also searches the window's start first.
    void AnalyseFirstFrame(bool bSync);
    uint32_t FrameNumber() const { return m_nFrame; }
    // The same number by reference, for elements that pace themselves by it.
    const uint32_t &FrameCounter() const { return m_nFrame; }
    // How many times the transforms ran, for the views' tests.
    int AnalysisCount() const { return m_nAnalyses; }

    // Chooses where the next analysis window lies: just behind the newest
    // recorded frame, moved to start a quarter window before the loudest
    // sample nearby so that a steady waveform stands still.
    void FindSyncStart(uint32_t *pStart, uint32_t *pEnd);
    uint32_t AnalysisStart() const { return m_dwAnalysisStart; }
    // One past the analysis window's last frame; the trace ends there.
    uint32_t SyncPos() const { return m_dwSyncPos; }
    void SetSyncPos(uint32_t dwPos) { m_dwSyncPos = dwPos; }

    Spectra LockSpectra();
    void UnlockSpectra();

    // Marker mode: a half the device handed back is marked again a second
    // later. TakeRefill notes a half handed back since the last call (true:
    // call Refill in a second); Refill marks it.
    bool TakeRefill();
    void Refill();

    int Rate() const { return m_nRate; }
    int Size() const { return m_nSize; }
    CWave &Wave() { return m_wave; }
    const CWave &Wave() const { return m_wave; }
    CWaveDevice &Device() { return m_device; }
    CFFT &TransformA() { return m_fftA; }
    CFFT &TransformB() { return m_fftB; }

private:
    void Analyse();

    const DisplaySettings &m_settings;
    // The device outlives the ring: the ring hands its blocks back to it.
    CWaveDevice m_device;
    CWave m_wave;
    CFFT m_fftA;
    CFFT m_fftB;
    int m_nRate = 11025;
    int m_nSize = 256;
    bool m_bStereo = false;
    int m_nFillMode = 0;
    uint32_t m_dwSyncPos = 0;
    uint32_t m_dwAnalysisStart = 0;
    uint32_t m_nFrame = 0;
    bool m_bAnalysed = false; // the current frame's transforms ran
    int m_nAnalyses = 0;
    int m_nPendingRefill = 0;
};
