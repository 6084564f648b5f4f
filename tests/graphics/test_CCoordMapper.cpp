#include "graphics/CCoordMapper.h"

#include <gtest/gtest.h>

namespace {

using Preset = void (CCoordMapper::*)();
// The presets with their effect about the origin: X = a x + b y, Y = c x + d y
// (90 turns the x axis onto y, anticlockwise).
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

TEST(CCoordMapperTest, StartsAsIdentityAndResetReturnsThere)
{
    CCoordMapper map;
    EXPECT_EQ(Mapped(map, 17, -4), (POINT{17, -4}));
    map.Compose(2, 0, 0, 3);
    map.tx = 5;
    map.ty = 6;
    map.SetOrigin(7, 8);
    map.Reset();
    EXPECT_EQ((POINT{map.ox, map.oy}), (POINT{0, 0})); // an origin cancels out under identity
    EXPECT_TRUE(map.IsAxisAligned());
    EXPECT_EQ(Mapped(map, 17, -4), (POINT{17, -4}));
    EXPECT_EQ(Unmapped(map, {17, -4}), (POINT{17, -4}));
}

// Each preset acts about the origin, then translates, keeps origin and
// translation, and unmaps back.
TEST(CCoordMapperTest, PresetsRotateAboutTheOriginThenTranslateAndRoundTrip)
{
    const POINT origins[] = {{0, 0}, {10, 20}, {-33, 7}};
    for (const PresetCase &p : kPresets) {
        for (const POINT &o : origins) {
            CCoordMapper map;
            map.SetOrigin(o.x, o.y);
            map.tx = 100;
            map.ty = -50;
            (map.*p.set)();
            for (const POINT &pt : kPoints) {
                const int x = pt.x - o.x, y = pt.y - o.y;
                EXPECT_EQ(Mapped(map, pt.x, pt.y),
                          (POINT{p.a * x + p.b * y + o.x + 100, p.c * x + p.d * y + o.y - 50}))
                    << p.a << p.b << p.c << p.d << " point " << pt.x << "," << pt.y;
            }
            ExpectRoundTrips(map);
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
    EXPECT_EQ(Mapped(map, 0, 0), (POINT{10, 220}));
    EXPECT_EQ(Mapped(map, 7, 3), (POINT{17, 217}));
    ExpectRoundTrips(map);

    // MapRect maps both corners, without normalising; UnmapRect undoes it.
    rc = {1, 2, 3, 4};
    map.MapRect(rc);
    EXPECT_EQ(rc, (RECT{11, 218, 13, 216}));
    map.UnmapRect(rc);
    EXPECT_EQ(rc, (RECT{1, 2, 3, 4}));
}

TEST(CCoordMapperTest, ComposeWithADiagonalMirrorsBeforeTheRotation)
{
    struct Case
    {
        int preset, sx, sy;
        POINT in, out;
    };
    // Mirror first, then rotate: (x, y) -> (sx x, sy y) -> rotation.
    const Case cases[] = {
        {0, -1, 1, {3, 4}, {-3, 4}},  {0, 1, -1, {3, 4}, {3, -4}}, {0, -1, -1, {3, 4}, {-3, -4}},
        {1, -1, 1, {1, 2}, {-2, -1}}, {1, 1, -1, {1, 2}, {2, 1}},  {3, -1, 1, {1, 2}, {2, 1}},
        {2, 1, -1, {5, 6}, {-5, 6}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.preset << " " << c.sx << "," << c.sy);
        CCoordMapper map;
        map.SetOrigin(100, 200);
        (map.*kPresets[c.preset].set)();
        map.Compose(c.sx, 0, 0, c.sy);
        EXPECT_EQ(Mapped(map, 100 + c.in.x, 200 + c.in.y), (POINT{100 + c.out.x, 200 + c.out.y}));
        EXPECT_TRUE(map.IsAxisAligned());
        ExpectRoundTrips(map);
    }

    // A scale: its inverse unmaps.
    CCoordMapper scale;
    scale.Compose(2, 0, 0, 4);
    EXPECT_EQ(Mapped(scale, 3, 5), (POINT{6, 20}));
    EXPECT_EQ(Unmapped(scale, {6, 20}), (POINT{3, 5}));
}

TEST(CCoordMapperTest, ResultsRoundToNearestWithHalvesUpwards)
{
    CCoordMapper map;
    map.Compose(0.5, 0, 0, 0.5);
    EXPECT_EQ(Mapped(map, 3, 5), (POINT{2, 3}));     // 1.5, 2.5
    EXPECT_EQ(Mapped(map, -3, -5), (POINT{-1, -2})); // -1.5, -2.5
    EXPECT_EQ(Mapped(map, 2, -1), (POINT{1, 0}));    // 1.0, -0.5
    CCoordMapper third;
    third.Compose(1.0 / 3, 0, 0, 2.0 / 3);
    EXPECT_EQ(Mapped(third, 4, 4), (POINT{1, 3})); // 1.33, 2.67
}

TEST(CCoordMapperTest, AxisAlignedOnlyForSwapsAndMirrors)
{
    CCoordMapper map;
    for (const PresetCase &p : kPresets) {
        (map.*p.set)();
        EXPECT_TRUE(map.IsAxisAligned());
        map.Compose(-1, 0, 0, 1);
        EXPECT_TRUE(map.IsAxisAligned());
    }
    const double other[][4] = {
        {2, 0, 0, 1}, {1, 0, 1, 1}, {0.70710678, 0.70710678, -0.70710678, 0.70710678}};
    for (const auto &n : other) {
        CCoordMapper m;
        m.Compose(n[0], n[1], n[2], n[3]);
        EXPECT_FALSE(m.IsAxisAligned()) << n[0] << "," << n[1] << "," << n[2] << "," << n[3];
    }
}
