#include "graphics/CCoordMapper.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using Preset = void (CCoordMapper::*)();
// The presets about the origin: X = a x + b y, Y = c x + d y (90 turns x onto y).
struct PresetCase
{
    Preset set;
    int a, b, c, d;
};
const PresetCase kPresets[] = {{&CCoordMapper::SetAngle0, 1, 0, 0, 1},
                               {&CCoordMapper::SetAngle90, 0, -1, 1, 0},
                               {&CCoordMapper::SetAngle180, -1, 0, 0, -1},
                               {&CCoordMapper::SetAngle270, 0, 1, -1, 0}};

const POINT kPoints[] = {{0, 0}, {1, 0}, {0, 1}, {3, -2}, {-7, 5}, {120, 45}, {-1000, -999}};

POINT Mapped(const CCoordMapper &map, int x, int y)
{
    POINT pt{x, y};
    map.MapPoint(pt);
    return pt;
}

POINT Unmapped(const CCoordMapper &map, POINT pt)
{
    map.UnmapPoint(pt);
    return pt;
}

void ExpectRoundTrips(const CCoordMapper &map)
{
    for (const POINT &pt : kPoints)
        EXPECT_EQ(Unmapped(map, Mapped(map, pt.x, pt.y)), pt) << pt.x << "," << pt.y;
}

} // namespace

// Each preset acts about the origin, then translates, and unmaps back; Reset
// returns to the identity without origin or translation.
TEST(CCoordMapperTest, PresetsRotateAboutTheOriginThenTranslateAndRoundTrip)
{
    for (const PresetCase &p : kPresets) {
        for (const POINT &o : {POINT{0, 0}, POINT{10, 20}, POINT{-33, 7}}) {
            CCoordMapper map;
            map.SetOrigin(o.x, o.y);
            map.tx = 100;
            map.ty = -50;
            (map.*p.set)();
            EXPECT_TRUE(map.IsAxisAligned());
            for (const POINT &pt : kPoints) {
                const int x = pt.x - o.x, y = pt.y - o.y;
                EXPECT_EQ(Mapped(map, pt.x, pt.y),
                          (POINT{p.a * x + p.b * y + o.x + 100, p.c * x + p.d * y + o.y - 50}))
                    << p.a << p.b << p.c << p.d << " point " << pt.x << "," << pt.y;
            }
            ExpectRoundTrips(map);
            map.Compose(2, 0, 0, 3);
            map.Reset();
            EXPECT_EQ(Mapped(map, 17, -4), (POINT{17, -4}));
            EXPECT_EQ(Unmapped(map, {17, -4}), (POINT{17, -4}));
        }
    }
}

TEST(CCoordMapperTest, SetupForRectMakesTheGraphAreaMapperReplacingARotation)
{
    CCoordMapper map;
    map.SetAngle90();
    RECT rc{10, 20, 110, 220};
    map.SetupForRect(rc);
    EXPECT_EQ(rc, (RECT{0, 200, 100, 0}));
    // Area point (x, y) lands on (left + x, bottom - y).
    EXPECT_EQ(Mapped(map, 7, 3), (POINT{17, 217}));
    ExpectRoundTrips(map);
    rc = {1, 2, 3, 4};
    map.MapRect(rc); // both corners, not normalised
    EXPECT_EQ(rc, (RECT{11, 218, 13, 216}));
    map.UnmapRect(rc);
    EXPECT_EQ(rc, (RECT{1, 2, 3, 4}));
}

TEST(CCoordMapperTest, ComposeMirrorsBeforeTheRotationScalesAndRounds)
{
    // preset, mirror sx, sy, point in, point out (about the origin 100, 200).
    const int cases[][7] = {{0, -1, 1, 3, 4, -3, 4},   {0, 1, -1, 3, 4, 3, -4},
                            {0, -1, -1, 3, 4, -3, -4}, {1, -1, 1, 1, 2, -2, -1},
                            {1, 1, -1, 1, 2, 2, 1},    {3, -1, 1, 1, 2, 2, 1},
                            {2, 1, -1, 5, 6, -5, 6}};
    for (const auto &c : cases) {
        CCoordMapper map;
        map.SetOrigin(100, 200);
        (map.*kPresets[c[0]].set)();
        map.Compose(c[1], 0, 0, c[2]);
        EXPECT_EQ(Mapped(map, 100 + c[3], 200 + c[4]), (POINT{100 + c[5], 200 + c[6]})) << c[0];
        EXPECT_TRUE(map.IsAxisAligned());
        ExpectRoundTrips(map);
    }
    // Other linear parts: doubles, rounded to nearest with halves upwards.
    CCoordMapper half;
    half.Compose(0.5, 0, 0, 0.5);
    EXPECT_FALSE(half.IsAxisAligned());
    EXPECT_EQ(Mapped(half, 3, 5), (POINT{2, 3}));     // 1.5, 2.5
    EXPECT_EQ(Mapped(half, -3, -5), (POINT{-1, -2})); // -1.5, -2.5
    EXPECT_EQ(Mapped(half, 2, -1), (POINT{1, 0}));    // 1.0, -0.5
    CCoordMapper skew;
    skew.Compose(2, 1, 1, 3); // X = 2x + y, Y = x + 3y; det 5
    EXPECT_FALSE(skew.IsAxisAligned());
    EXPECT_EQ(Mapped(skew, 3, -1), (POINT{5, 0}));
    ExpectRoundTrips(skew);
    // Integer linear parts that are no quarter turn or mirror.
    for (const auto &m : {std::array{1, 0, 1, 1}, {0, 1, 2, 0}, {2, 0, 0, 1}, {1, 1, 0, 1}}) {
        CCoordMapper other;
        other.Compose(m[0], m[1], m[2], m[3]);
        EXPECT_FALSE(other.IsAxisAligned()) << m[0] << m[1] << m[2] << m[3];
    }
}
