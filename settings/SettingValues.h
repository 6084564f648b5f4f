#pragma once

#include "settings/Settings.h"

// Names for the numbers the settings store: what a stored Type, Frange,
// LPeek, ... means. The store keeps them as the 32-bit integers of
// DisplaySettings; these only name them.

// Type: how the bands are laid out.
enum DisplayType : int
{
    TYPE_MONO = 0,             // one group of columns, both channels mixed
    TYPE_STEREO = 1,           // left group, then right group, side by side
    TYPE_STEREO_LEFTRIGHT = 2, // columns lying down, left growing right, right growing left
    TYPE_STEREO_TOPBOTTOM = 3, // upper group grows up, lower group grows down
    TYPE_KEYBOARD = 4,         // a piano keyboard, one key per semitone
};

// The display types with a second group of columns for the right channel.
constexpr bool IsStereoType(int nType)
{
    return nType >= TYPE_STEREO && nType <= TYPE_STEREO_TOPBOTTOM;
}

// Which samples of a frame a transform or a sample read takes.
enum ChannelCode : int
{
    CHANNEL_NONE = 0,  // silence
    CHANNEL_LEFT = 1,  // the left channel, or the only one
    CHANNEL_RIGHT = 2, // the right channel
    CHANNEL_MEAN = 3,  // the mean of both
};

// LPeek: how the peak chip moves once the column falls below it.
enum PeakType : int
{
    PEAK_HOLD = 0,     // stays for a while, then drops to the column
    PEAK_SLOWDOWN = 1, // sinks slowly
    PEAK_UP = 2,       // thrown up by a rising column, then falls faster and faster
};

// Ldiv: the level axis' resolution, which fixes the chip size.
enum LevelDivision : int
{
    LDIV_FINE = 0,
    LDIV_STANDARD = 1,
    LDIV_COARSE = 2,
    LDIV_COARSEST = 3, // the largest value a column accepts
};

// Frange: the frequency range, a row of the rate and transform size table.
// The keyboard always uses a row of its own.
enum FrequencyRange : int
{
    FRANGE_5K = 0,  // 100 Hz to 5 kHz
    FRANGE_10K = 1, // 100 Hz to 10 kHz
    FRANGE_20K = 2, // 100 Hz to 20 kHz
    FRANGE_KEYBOARD = 3,
};

// FwaveZan: the waveform's afterimage.
enum AfterimageMode : int
{
    AFTERIMAGE_NONE = 0,
    AFTERIMAGE_FAINT = 1,
    AFTERIMAGE_DARK = 2,
};

// WaveRecMode: how the capture ring tells recorded frames from stale ones.
enum WaveRecordMode : int
{
    WAVEREC_POSITION = 0, // by the device's recording position
    WAVEREC_MARKER = 1,   // by a marker written into every half handed back
};

// SaverMode: bits of the screen saver's options.
enum SaverModeBits : int
{
    SAVERMODE_MOVE = 1, // move the graph to a random place every 30 s
};

// The fill modes of CWave::Start and CWave::Fill.
enum WaveFillMode : int
{
    FILL_NONE = 0,
    FILL_SILENCE = 1,
    FILL_MARKER = 2,
};

// Every setting at its default, in a block of its own: the process-wide
// block and the integers beside it stay as they are.
DisplaySettings DefaultDisplaySettings();

// The most frequency bands a display type lays out: 80 columns in all, so
// 40 a channel when the right channel has a group of its own.
constexpr int MaxFdiv(int nType)
{
    return IsStereoType(nType) ? 40 : 80;
}

// The band count the display lays out for a type: Fdiv within 1 .. MaxFdiv.
constexpr int UsableFdiv(int nType, int nFdiv)
{
    return nFdiv < 1 ? 1 : nFdiv > MaxFdiv(nType) ? MaxFdiv(nType) : nFdiv;
}

// The block with every value the display, the pages and the store act on
// brought into the range the settings pages can set (a damaged or hand-edited
// store may hold anything): a choice outside its list takes the one the
// display would have shown for it, a flag becomes 0 or 1, a number goes to
// the nearer end of its range, a colour loses its top byte. Every value
// already inside its range is kept as it is, so a block from the pages passes
// unchanged; texts, the picture list, the values nothing reads and the saver's
// graph size (any whole number, cut to the screen where it is used) are kept too.
DisplaySettings BoundedForUse(const DisplaySettings &settings);

// InputSource: what the sound input records. Empty (also when the store has
// no such key): what is playing, the monitor of the sound server's default
// output, followed when the output changes. kInputDefaultSource: the
// server's default input. Anything else: the name of one source.
inline constexpr char kInputDefaultSource[] = "@DEFAULT_SOURCE@";
