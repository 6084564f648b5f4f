#include "graphics/CCoordMapper.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using Preset = void (CCoordMapper::*)();
// The presets about the origin: X = a x + b y, Y = c x + d y (90 turns x onto y).
// clang-format off
const Preset kSets[] = {&CCoordMapper::SetAngle0, &CCoordMapper::SetAngle90,
                        &CCoordMapper::SetAngle180, &CCoordMapper::SetAngle270};
const int kLinear[][4] = {{1, 0, 0, 1}, {0, -1, 1, 0}, {-1, 0, 0, -1}, {0, 1, -1, 0}};
// clang-format on

const POINT kPoints[] = {{0, 0}, {1, 0}, {0, 1}, {3, -2}, {-7, 5}, {120, 45}, {-1000, -999}};

const auto Mapped = [](const CCoordMapper &map, int x, int y) {
    POINT pt{x, y};
    map.MapPoint(pt);
    return pt;
};
const auto Unmapped = [](const CCoordMapper &map, POINT pt) {
    map.UnmapPoint(pt);
    return pt;
};

void ExpectRoundTrips(const CCoordMapper &map)
{
    for (const POINT &pt : kPoints)
        EXPECT_EQ(Unmapped(map, Mapped(map, pt.x, pt.y)), pt) << pt.x << "," << pt.y;
}

} // namespace

// A preset after a mirror acts about the origin, then translates; Reset gives the identity.
TEST(CCoordMapperTest, PresetsMirroredFirstActAboutTheOriginOtherLinearPartsRoundToNearest)
{
    for (int k = 0; k < 4; ++k)
        for (const POINT &o : {POINT{0, 0}, POINT{10, 20}, POINT{-33, 7}})
            for (const POINT &m : {POINT{1, 1}, POINT{-1, 1}, POINT{1, -1}, POINT{-1, -1}}) {
                const int *p = kLinear[k];
                CCoordMapper map;
                map.SetOrigin(o.x, o.y);
                map.tx = 100;
                map.ty = -50;
                (map.*kSets[k])();
                map.Compose(m.x, 0, 0, m.y);
                EXPECT_TRUE(map.IsAxisAligned());
                for (const POINT &pt : kPoints) {
                    const int x = m.x * (pt.x - o.x), y = m.y * (pt.y - o.y);
                    EXPECT_EQ(Mapped(map, pt.x, pt.y), (POINT{p[0] * x + p[1] * y + o.x + 100,
                                                              p[2] * x + p[3] * y + o.y - 50}))
                        << k << " mirror " << m.x << m.y << " point " << pt.x << "," << pt.y;
                }
                ExpectRoundTrips(map);
                map.Reset();
                EXPECT_EQ(std::pair(Mapped(map, 17, -4), Unmapped(map, {17, -4})),
                          std::pair(POINT{17, -4}, POINT{17, -4}));
            }
    CCoordMapper half; // other linear parts: doubles, rounded to nearest with halves upwards
    half.Compose(0.5, 0, 0, 0.5);
    EXPECT_EQ(
        std::tuple(half.IsAxisAligned(), Mapped(half, 3, 5), Mapped(half, -3, -5),
                   Mapped(half, 2, -1)),
        std::tuple(false, POINT{2, 3}, POINT{-1, -2}, POINT{1, 0})); // 1.5, 2.5; -1.5, -2.5; -0.5
    CCoordMapper skew;
    skew.Compose(2, 1, 1, 3); // X = 2x + y, Y = x + 3y; det 5
    EXPECT_EQ(Mapped(skew, 3, -1), (POINT{5, 0}));
    ExpectRoundTrips(skew);
    // Integer linear parts that are no quarter turn or mirror.
    for (const auto &m : {std::array{1, 0, 1, 1}, {0, 1, 2, 0}, {2, 0, 0, 1}, {1, 1, 0, 1}}) {
        CCoordMapper other;
        other.Compose(m[0], m[1], m[2], m[3]);
        EXPECT_FALSE(other.IsAxisAligned()) << m[0] << m[1] << m[2] << m[3];
    }
}
