#include "graphics/CCoordMapper.h"

namespace {

// Rounds to the nearest integer, halves upwards: floor(v + 0.5) for any
// value in the int range, without a library call on the drawing path.
inline int Nearest(double v)
{
    const double t = v + 0.5;
    const int i = static_cast<int>(t);
    return t < i ? i - 1 : i;
}

inline void SetBoth(CCoordMapper &map, double a, double b, double c, double d)
{
    map.m[0] = map.q[0] = a;
    map.m[1] = map.q[1] = b;
    map.m[2] = map.q[2] = c;
    map.m[3] = map.q[3] = d;
    map.RefreshUnit();
}

inline bool IsUnit(double v)
{
    return v == 1.0 || v == -1.0;
}

} // namespace

void CCoordMapper::RefreshUnit()
{
    m_bUnit = (IsUnit(m[0]) && m[1] == 0.0 && m[2] == 0.0 && IsUnit(m[3])) ||
              (m[0] == 0.0 && IsUnit(m[1]) && IsUnit(m[2]) && m[3] == 0.0);
    for (int i = 0; i < 4; ++i)
        m_anUnit[i] = m_bUnit ? int(m[i]) : 0;
}

void CCoordMapper::Reset()
{
    SetBoth(*this, 1, 0, 0, 1);
    tx = ty = 0;
    ox = oy = 0;
}

void CCoordMapper::SetOrigin(int x, int y)
{
    ox = x;
    oy = y;
}

// Each rotation is its own inverse's transpose; in the storage order used
// here (X = m0 x + m2 y, Y = m1 x + m3 y against x = q0 X + q1 Y,
// y = q2 X + q3 Y) both read the same four numbers.
void CCoordMapper::SetAngle0()
{
    SetBoth(*this, 1, 0, 0, 1);
}

void CCoordMapper::SetAngle90()
{
    SetBoth(*this, 0, 1, -1, 0);
}

void CCoordMapper::SetAngle180()
{
    SetBoth(*this, -1, 0, 0, -1);
}

void CCoordMapper::SetAngle270()
{
    SetBoth(*this, 0, -1, 1, 0);
}

void CCoordMapper::Compose(double a, double b, double c, double d)
{
    const double n0 = m[0] * a + m[2] * b;
    const double n1 = m[1] * a + m[3] * b;
    const double n2 = m[0] * c + m[2] * d;
    const double n3 = m[1] * c + m[3] * d;
    m[0] = n0;
    m[1] = n1;
    m[2] = n2;
    m[3] = n3;
    RefreshUnit();
    // A singular product leaves the inverse as it was: there is none to take.
    const double det = n0 * n3 - n1 * n2;
    if (det == 0.0)
        return;
    q[0] = n3 / det;
    q[1] = -n2 / det;
    q[2] = -n1 / det;
    q[3] = n0 / det;
}

void CCoordMapper::MapXYReal(int &x, int &y) const
{
    const double dx = double(x) - ox;
    const double dy = double(y) - oy;
    const int nx = Nearest(m[0] * dx + m[2] * dy) + tx + ox;
    const int ny = Nearest(m[1] * dx + m[3] * dy) + ty + oy;
    x = nx;
    y = ny;
}

void CCoordMapper::MapPoint(POINT &pt) const
{
    MapXY(pt.x, pt.y);
}

void CCoordMapper::UnmapPoint(POINT &pt) const
{
    const double u = double(pt.x) - ox - tx;
    const double v = double(pt.y) - oy - ty;
    const int nx = Nearest(q[0] * u + q[1] * v) + ox;
    const int ny = Nearest(q[2] * u + q[3] * v) + oy;
    pt.x = nx;
    pt.y = ny;
}

void CCoordMapper::UnmapRect(RECT &rc) const
{
    POINT a{rc.left, rc.top};
    POINT b{rc.right, rc.bottom};
    UnmapPoint(a);
    UnmapPoint(b);
    rc = {a.x, a.y, b.x, b.y};
}

void CCoordMapper::SetupForRect(RECT &rc)
{
    SetBoth(*this, 1, 0, 0, -1);
    tx = rc.left;
    ty = rc.bottom;
    UnmapRect(rc);
}

bool CCoordMapper::IsAxisAligned() const
{
    return m_bUnit;
}
