#pragma once

#include "display/CBandElement.h"
#include "graphics/GdiTypes.h"

class CDC;
struct DisplaySettings;

// Fills the window's pen table for the keyboard: entries 0..5 are a white key
// at intensity 0..5 (white towards red), entries 6..11 a black key at
// intensity 0..5 (black towards red). Every entry is set.
void BuildKeyPens(PenTable &pens);

// The colour of every key's outline.
constexpr COLORREF kKeyOutlineColor = RGB(128, 128, 128);

// One key of the keyboard display, tuned to one semitone. The loudest keys
// light from their resting colour towards red; m_nTop holds the displayed
// intensity - 1, so -1 is a key at rest.
//
// Element coordinates: the key's origin m_origin = (x, y), its width
// m_size.cx = w and length m_size.cy = L, both stored positive; m_mapLocal
// only mirrors an axis whose size was given negative. A white key that a
// black key overlaps is drawn with a notch: from the notch height upwards it
// is narrower by the overlap on that side.
//
// User-interface thread only; nothing on the per-frame path (ComputeLevel,
// DrawUpdate, FillRows) allocates.
class CKeyElement : public CBandElement
{
public:
    static constexpr int kKind = 4;
    // Intensities run 0 (at rest) to kMaxIntensity.
    static constexpr int kMaxIntensity = 5;

    // The key reads settings, which must outlive it.
    explicit CKeyElement(DisplaySettings &settings);
    ~CKeyElement() override;

    // Places the key; any angle is treated as 0. Returns the size as given.
    SIZE SetGeometry(POINT position, SIZE size, int nAngle) override;
    void DrawUpdate(CDC *pDC, const PenTable *pPens) override;
    void DrawFull(CDC *pDC, const PenTable *pPens) override;
    void ComputeLevel() override;
    // rc in element coordinates: rows top..bottom, each from left to right
    // with the right end left out, narrowed by the notches from the notch
    // height up.
    void FillRows(CDC *pDC, RECT rc, const CPen *pPen) override;
    // The band maximum with jitter and gain, halved when the loudest of more
    // than two bins sits at either end of the key (it then belongs mostly to
    // the neighbouring semitone). 0 while the frame's maximum is below 0.001.
    float BandLevel() override;
    // Outline of rc in element coordinates, notched like the fill.
    void DrawFrame(CDC *pDC, RECT rc, const CPen *pPen) override;

    // Brightness 0..5 for the current level against the frame's maximum, on
    // a decibel scale from KeyOn up to that maximum, at least 5 dB wide.
    int Intensity() const;

    // Shapes a white key around the black keys before (pPrev) and after
    // (pNext) it, either of which may be null; the black keys lose any
    // notches of their own.
    void LinkNeighbours(CKeyElement *pPrev, CKeyElement *pNext);

    int m_bBlack = 0;
    int m_nLeftNotch = 0;   // width the previous black key overlaps this key
    int m_nRightNotch = 0;  // width the next black key overlaps this key
    int m_nNotchHeight = 0; // element y where the notches start; <= 0: no notches

private:
    const CPen *KeyPen(int e, const PenTable *pPens, const CPen *pFallback) const;
};
