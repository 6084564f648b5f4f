#pragma once

#include "audio/input/WaveInDriver.h"

#include <cstdint>

// What the wave device needs of the memory it queues to the driver: the
// owner of the frames (CWave) lends blocks of them and hears when they come
// back. The device knows its owners only through this, so the ring can hold
// a device without the device knowing the ring.
class IWaveBlockOwner
{
public:
    virtual ~IWaveBlockOwner() = default;

    virtual const WaveFormat &BlockFormat() const = 0;
    // Frames the owner holds; blocks lie within them.
    virtual uint32_t FrameCount() const = 0;
    // The address of a frame, valid while the block is queued.
    virtual uint8_t *GetData(uint32_t dwFrame) = 0;
    // A block of the owner was queued in device slot nSlot, or left it.
    virtual void MarkSlot(int nSlot) = 0;
    virtual void ClearSlot(int nSlot) = 0;
    // A block came back, or recording stopped, at this frame index.
    virtual void OnInputDone(uint32_t dwPosition) = 0;
};
