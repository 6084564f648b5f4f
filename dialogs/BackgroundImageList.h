#pragma once

#include <QString>

#include <cstdint>

// The six most recently chosen background pictures, kept in the settings'
// ImageList, each with the graph area inside it and a packed word of the
// display options last used with it. Slot 0 is the most recent. Everything
// works on g_DisplaySettings, on the user-interface thread.

// The file-name part of a path: what follows the last separator ('/' here,
// '/' or '\\' on Windows), else what follows a drive colon in the second
// character, else the whole path. Paths shorter than 2 characters are their
// own file-name part.
QString FileNamePart(const QString &strPath);

// The first non-empty slot whose path has the same file-name part as strPath
// (compared exactly, case included), or -1.
int FindImageEntry(const QString &strPath);

// Slot nSlot (1..5) becomes slot 0; slots 0..nSlot-1 move down by one.
void MoveImageEntryToFront(int nSlot);

// Copies slot 0 into BmpName, the four Area margins and the display options.
void ApplyFirstImageEntry();

// Writes BmpName, the margins and the options into slot 0, after moving every
// slot down by one (the last is dropped) when bShift is true. Does nothing
// while BmpName is empty: having no picture is never remembered.
void StoreCurrentImage(bool bShift);

// The display options as one word: bit 0 frequency labels, bit 1 clock,
// bits 2-3 waveform (0 off, else afterimage + 1), bits 4-7 Ldiv, bits 8-15
// Fdiv, bits 16-19 Type.
std::int32_t PackDisplayState();
void UnpackDisplayState(std::int32_t nWord);
