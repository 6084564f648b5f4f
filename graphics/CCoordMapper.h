#pragma once

#include "graphics/GdiTypes.h"

// Maps logical points to device pixels and back: a 2x2 linear part with its
// inverse, acting about an origin, then a translation. Results are whole
// pixels, rounded to nearest. Copied by value: the window hands a copy of
// its graph-area mapper to every element.
class CCoordMapper
{
public:
    void Reset();
    void SetOrigin(int x, int y);
    void SetAngle0();
    void SetAngle90();
    void SetAngle180();
    void SetAngle270();
    // Forward becomes forward x N, N given in storage order (X = a x + c y,
    // Y = b x + d y); the inverse is recomputed.
    void Compose(double a, double b, double c, double d);

    void MapPoint(POINT &pt) const;
    void MapXY(int &x, int &y) const;
    // Maps the corners (left, top) and (right, bottom); no normalisation.
    void MapRect(RECT &rc) const;
    void UnmapPoint(POINT &pt) const;
    void UnmapRect(RECT &rc) const;
    // Becomes the mapper of the graph area rc (y up, origin at its bottom-left
    // corner) and turns rc into area coordinates.
    void SetupForRect(RECT &rc);

    // Whether the linear part only swaps or mirrors axes (every preset and
    // diagonal composition): then rectangles map to rectangles.
    bool IsAxisAligned() const;
    // Recomputes the cached whole-number form of the linear part; every
    // operation that changes m calls it.
    void RefreshUnit();

    double m[4] = {1, 0, 0, 1};
    double q[4] = {1, 0, 0, 1};
    int tx = 0;
    int ty = 0;
    int ox = 0;
    int oy = 0;

private:
    // MapXY for a linear part with other entries: double products, rounded.
    void MapXYReal(int &x, int &y) const;

    // The linear part as whole numbers while its entries are 0 and +-1 only.
    bool m_bUnit = true;
    int m_anUnit[4] = {1, 0, 0, 1};
};

// Inline: the drawing path maps a few points for every chip it paints.
inline void CCoordMapper::MapXY(int &x, int &y) const
{
    if (!m_bUnit) {
        MapXYReal(x, y);
        return;
    }
    // Entries of 0 and +-1 map whole pixels to whole pixels exactly.
    const int ix = x - ox, iy = y - oy;
    const int nx = m_anUnit[0] * ix + m_anUnit[2] * iy + tx + ox;
    y = m_anUnit[1] * ix + m_anUnit[3] * iy + ty + oy;
    x = nx;
}

inline void CCoordMapper::MapRect(RECT &rc) const
{
    MapXY(rc.left, rc.top);
    MapXY(rc.right, rc.bottom);
}
