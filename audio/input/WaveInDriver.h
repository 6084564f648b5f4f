#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The wave-input driver: what the capture code needs of a recording back end,
// and nothing more. It records into blocks that the caller supplies, in the
// order they were added; it tells the caller on the user-interface thread
// when a block is full; and it counts the frames recorded since it was
// opened. Implementations: the sound server (libpulse), a WAV file played in
// real time, and a scripted driver for tests.

// Format of the frames the caller wants: the fields of the wave format record.
struct WaveFormat
{
    uint16_t wFormatTag = 1; // PCM
    uint16_t nChannels = 1;
    uint32_t nSamplesPerSec = 22050;
    uint32_t nAvgBytesPerSec = 22050;
    uint16_t nBlockAlign = 1;
    uint16_t wBitsPerSample = 8;
    uint16_t cbSize = 0;
};

// One caller-supplied block. The caller owns the header and the memory it
// points to; both stay valid from AddBuffer until the block is handed back
// or the driver is reset.
struct WaveHeader
{
    uint8_t *lpData = nullptr;
    uint32_t dwBufferLength = 0; // bytes
    uint32_t dwBytesRecorded = 0;
    uintptr_t dwUser = 0; // the caller's own value (the device keeps its slot index here)
    uint32_t dwFlags = 0;
};

constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

// Receives the driver's notices. Called on the user-interface thread only,
// never from inside a call into the driver.
class IWaveInClient
{
public:
    virtual ~IWaveInClient() = default;
    // A block is full (or was given back by Reset) and belongs to the caller again.
    virtual void OnWaveInData(WaveHeader *pHdr) = 0;
    // The stream broke after a successful open (the sound server went away).
    // Nothing more will be recorded; the caller should close and retry later.
    virtual void OnWaveInFailed() {}
};

class IWaveInDriver
{
public:
    virtual ~IWaveInDriver() = default;

    // Whether Open would accept this format (a format check only).
    virtual bool IsFormatSupported(const WaveFormat &format) = 0;
    // Opens the default input for the format. Notices go to pClient.
    virtual bool Open(const WaveFormat &format, IWaveInClient *pClient) = 0;
    virtual bool IsOpen() const = 0;
    virtual bool PrepareHeader(WaveHeader *pHdr) = 0;
    virtual bool UnprepareHeader(WaveHeader *pHdr) = 0;
    virtual bool AddBuffer(WaveHeader *pHdr) = 0;
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
    // Gives back every queued block. Its notices are not delivered: once Reset
    // has returned, the driver no longer touches those headers.
    virtual bool Reset() = 0;
    virtual bool Close() = 0;
    // Frames recorded since Open. 64 bits wide so that the count never wraps.
    virtual bool GetPosition(uint64_t *pFrames) = 0;
    // The last failure in words, for the command line and tests.
    virtual std::string LastError() const { return {}; }
};

// Makes the driver that a new capture device uses. The application sets it
// once at start-up (sound server or WAV file); tests set their own.
using WaveInDriverFactory = std::unique_ptr<IWaveInDriver> (*)();
