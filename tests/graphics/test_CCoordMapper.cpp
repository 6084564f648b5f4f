#include "graphics/CCoordMapper.h"

#include <gtest/gtest.h>

namespace {

enum Preset
{
    kAngle0,
    kAngle90,
    kAngle180,
    kAngle270
};

void Apply(CCoordMapper &map, Preset preset)
{
    switch (preset) {
    case kAngle0:
        map.SetAngle0();
        break;
    case kAngle90:
        map.SetAngle90();
        break;
    case kAngle180:
        map.SetAngle180();
        break;
    case kAngle270:
        map.SetAngle270();
        break;
    }
}

POINT Mapped(const CCoordMapper &map, int x, int y)
{
    POINT pt{x, y};
    map.MapPoint(pt);
    return pt;
}

POINT Unmapped(const CCoordMapper &map, int x, int y)
{
    POINT pt{x, y};
    map.UnmapPoint(pt);
    return pt;
}

// The effect of each rotation on a point about the origin 0.
POINT Rotated(Preset preset, int x, int y)
{
    switch (preset) {
    case kAngle0:
        return {x, y};
    case kAngle90:
        return {-y, x};
    case kAngle180:
        return {-x, -y};
    case kAngle270:
        return {y, -x};
    }
    return {};
}

const POINT kPoints[] = {{0, 0}, {1, 0}, {0, 1}, {3, -2}, {-7, 5}, {120, 45}, {-1000, -999}};

} // namespace

TEST(CCoordMapperTest, StartsAsIdentityAndResetReturnsThere)
{
    CCoordMapper map;
    EXPECT_EQ(Mapped(map, 17, -4), (POINT{17, -4}));
    map.SetAngle90();
    map.tx = 5;
    map.ty = 6;
    map.SetOrigin(7, 8);
    map.Reset();
    EXPECT_EQ(map.tx, 0);
    EXPECT_EQ(map.ty, 0);
    EXPECT_EQ(map.ox, 0);
    EXPECT_EQ(map.oy, 0);
    EXPECT_EQ(Mapped(map, 17, -4), (POINT{17, -4}));
    EXPECT_EQ(Unmapped(map, 17, -4), (POINT{17, -4}));
}

TEST(CCoordMapperTest, PresetsRotateAboutTheOrigin)
{
    for (Preset preset : {kAngle0, kAngle90, kAngle180, kAngle270}) {
        CCoordMapper map;
        Apply(map, preset);
        for (const POINT &pt : kPoints)
            EXPECT_EQ(Mapped(map, pt.x, pt.y), Rotated(preset, pt.x, pt.y))
                << "preset " << preset << " point " << pt.x << "," << pt.y;
    }
}

TEST(CCoordMapperTest, Angle90TurnsTheAxesAnticlockwise)
{
    CCoordMapper map;
    map.SetAngle90();
    EXPECT_EQ(Mapped(map, 1, 0), (POINT{0, 1}));
    EXPECT_EQ(Mapped(map, 0, 1), (POINT{-1, 0}));
}

TEST(CCoordMapperTest, PresetsActAboutTheOriginThenTranslate)
{
    for (Preset preset : {kAngle0, kAngle90, kAngle180, kAngle270}) {
        CCoordMapper map;
        map.SetOrigin(10, 20);
        map.tx = 100;
        map.ty = -50;
        Apply(map, preset);
        // Setting a rotation keeps the origin and translation.
        EXPECT_EQ(map.ox, 10);
        EXPECT_EQ(map.oy, 20);
        EXPECT_EQ(map.tx, 100);
        EXPECT_EQ(map.ty, -50);
        for (const POINT &pt : kPoints) {
            const POINT r = Rotated(preset, pt.x - 10, pt.y - 20);
            EXPECT_EQ(Mapped(map, pt.x, pt.y), (POINT{r.x + 10 + 100, r.y + 20 - 50}))
                << "preset " << preset;
        }
    }
}

TEST(CCoordMapperTest, MapXYMatchesMapPoint)
{
    CCoordMapper map;
    map.SetOrigin(3, 4);
    map.tx = 9;
    map.SetAngle270();
    int x = 12, y = -8;
    map.MapXY(x, y);
    EXPECT_EQ((POINT{x, y}), Mapped(map, 12, -8));
}

TEST(CCoordMapperTest, EveryPresetRoundTrips)
{
    const POINT origins[] = {{0, 0}, {10, 20}, {-33, 7}};
    for (Preset preset : {kAngle0, kAngle90, kAngle180, kAngle270}) {
        for (const POINT &o : origins) {
            CCoordMapper map;
            map.SetOrigin(o.x, o.y);
            map.tx = -12;
            map.ty = 31;
            Apply(map, preset);
            for (const POINT &pt : kPoints) {
                const POINT there = Mapped(map, pt.x, pt.y);
                EXPECT_EQ(Unmapped(map, there.x, there.y), pt) << "preset " << preset;
            }
        }
    }
}

TEST(CCoordMapperTest, SetupForRectMakesTheGraphAreaMapper)
{
    CCoordMapper map;
    RECT rc{10, 20, 110, 220};
    map.SetupForRect(rc);
    EXPECT_EQ(rc, (RECT{0, 200, 100, 0}));
    EXPECT_EQ(Mapped(map, 0, 0), (POINT{10, 220}));
    EXPECT_EQ(Mapped(map, 100, 200), (POINT{110, 20}));
    // Area point (x, y) lands on (left + x, bottom - y).
    EXPECT_EQ(Mapped(map, 7, 3), (POINT{17, 217}));
    for (const POINT &pt : kPoints) {
        const POINT there = Mapped(map, pt.x, pt.y);
        EXPECT_EQ(Unmapped(map, there.x, there.y), pt);
    }
}

TEST(CCoordMapperTest, SetupForRectReplacesAnEarlierRotation)
{
    CCoordMapper map;
    map.SetAngle90();
    RECT rc{0, 0, 40, 30};
    map.SetupForRect(rc);
    EXPECT_EQ(rc, (RECT{0, 30, 40, 0}));
    EXPECT_EQ(Mapped(map, 5, 1), (POINT{5, 29}));
}

TEST(CCoordMapperTest, MapRectMapsTheTwoCornersWithoutNormalising)
{
    CCoordMapper map;
    map.SetAngle180();
    RECT rc{1, 2, 3, 4};
    map.MapRect(rc);
    EXPECT_EQ(rc, (RECT{-1, -2, -3, -4}));
    map.UnmapRect(rc);
    EXPECT_EQ(rc, (RECT{1, 2, 3, 4}));
}

TEST(CCoordMapperTest, ComposeWithADiagonalMirrorsBeforeTheRotation)
{
    struct Case
    {
        Preset preset;
        int sx, sy;
        POINT in, out;
    };
    // Mirror first, then rotate: (x, y) -> (sx x, sy y) -> rotation.
    const Case cases[] = {
        {kAngle0, -1, 1, {3, 4}, {-3, 4}},   {kAngle0, 1, -1, {3, 4}, {3, -4}},
        {kAngle0, -1, -1, {3, 4}, {-3, -4}}, {kAngle90, -1, 1, {1, 2}, {-2, -1}},
        {kAngle90, 1, -1, {1, 2}, {2, 1}},   {kAngle270, -1, 1, {1, 2}, {2, 1}},
        {kAngle180, 1, -1, {5, 6}, {-5, 6}},
    };
    for (const Case &c : cases) {
        CCoordMapper map;
        map.SetOrigin(100, 200);
        Apply(map, c.preset);
        map.Compose(c.sx, 0, 0, c.sy);
        EXPECT_EQ(Mapped(map, 100 + c.in.x, 200 + c.in.y), (POINT{100 + c.out.x, 200 + c.out.y}))
            << "preset " << c.preset << " signs " << c.sx << "," << c.sy;
        EXPECT_TRUE(map.IsAxisAligned());
        for (const POINT &pt : kPoints) {
            const POINT there = Mapped(map, pt.x, pt.y);
            EXPECT_EQ(Unmapped(map, there.x, there.y), pt);
        }
    }
}

TEST(CCoordMapperTest, ComposeRecomputesTheInverse)
{
    CCoordMapper map;
    map.SetAngle90();
    map.Compose(-1, 0, 0, 1);
    // Forward: X = -y, Y = -x; so is its own inverse.
    EXPECT_DOUBLE_EQ(map.m[0], 0);
    EXPECT_DOUBLE_EQ(map.m[1], -1);
    EXPECT_DOUBLE_EQ(map.m[2], -1);
    EXPECT_DOUBLE_EQ(map.m[3], 0);
    EXPECT_DOUBLE_EQ(map.q[0], 0);
    EXPECT_DOUBLE_EQ(map.q[1], -1);
    EXPECT_DOUBLE_EQ(map.q[2], -1);
    EXPECT_DOUBLE_EQ(map.q[3], 0);

    CCoordMapper scale;
    scale.Compose(2, 0, 0, 4);
    EXPECT_DOUBLE_EQ(scale.q[0], 0.5);
    EXPECT_DOUBLE_EQ(scale.q[3], 0.25);
    EXPECT_EQ(Mapped(scale, 3, 5), (POINT{6, 20}));
    EXPECT_EQ(Unmapped(scale, 6, 20), (POINT{3, 5}));
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
    EXPECT_TRUE(map.IsAxisAligned());
    for (Preset preset : {kAngle0, kAngle90, kAngle180, kAngle270}) {
        Apply(map, preset);
        EXPECT_TRUE(map.IsAxisAligned());
        map.Compose(-1, 0, 0, 1);
        EXPECT_TRUE(map.IsAxisAligned());
    }
    RECT rc{5, 5, 50, 60};
    map.SetupForRect(rc);
    EXPECT_TRUE(map.IsAxisAligned());

    CCoordMapper scaled;
    scaled.Compose(2, 0, 0, 1);
    EXPECT_FALSE(scaled.IsAxisAligned());
    CCoordMapper sheared;
    sheared.Compose(1, 0, 1, 1);
    EXPECT_FALSE(sheared.IsAxisAligned());
    CCoordMapper turned;
    turned.Compose(0.70710678, 0.70710678, -0.70710678, 0.70710678);
    EXPECT_FALSE(turned.IsAxisAligned());
}
