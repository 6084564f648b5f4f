#pragma once

#include "platform/GdiTypes.h"

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
    // The linear part as whole numbers while its entries are 0 and +-1 only.
    bool m_bUnit = true;
    int m_anUnit[4] = {1, 0, 0, 1};
};
