#include "dialogs/BackgroundImageList.h"
#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

DisplaySettings &ds = g_DisplaySettings;
auto &list = g_DisplaySettings.ImageList;

const auto Area = [] { return std::tie(ds.AreaLeft, ds.AreaTop, ds.AreaRight, ds.AreaBottom); };

const auto Options = [] {
    return std::tuple(ds.Type, ds.Fdiv, ds.Ldiv, ds.FwaveDisp, ds.FwaveZan, ds.FclockDisp,
                      ds.FreqStrSw);
};

// Bits: Type 16-19, Fdiv 8-15, Ldiv 4-7, wave 2-3 (0 off, else afterimage + 1), clock 1, labels 0.
TEST(BackgroundImageList, PackedDisplayWord)
{
    ds.FwaveZan = 2;
    UnpackDisplayState(0x1213); // waveform off keeps the afterimage
    EXPECT_EQ(Options(), std::tuple(0, 18, 1, 0, 2, 1, 1));
    UnpackDisplayState(0x41029);
    EXPECT_EQ(std::pair(Options(), PackDisplayState()),
              std::pair(std::tuple(4, 16, 2, 1, 1, 0, 1), 0x41029));
    ds.FwaveDisp = 0; // waveform off packs as 0 whatever the afterimage
    EXPECT_EQ(PackDisplayState(), 0x41021);
    UnpackDisplayState(1 << 2); // no bands count as one
    EXPECT_EQ(std::tuple(ds.FwaveDisp, ds.FwaveZan, ds.Fdiv), std::tuple(1, 0, 1));
}

TEST(BackgroundImageList, StoredFirstMovedToTheFrontAndApplied)
{
    ResetSettings();
    for (int i = 1; i <= 7; ++i) { // the newest six stay, newest first
        std::tie(ds.BmpName, ds.AreaLeft) = std::tuple(QStringLiteral("/p/%1.bmp").arg(i), i);
        StoreCurrentImage(true);
    }
    for (int i = 0; i < kImageListSize; ++i)
        EXPECT_EQ(list[i].bmpName, QStringLiteral("/p/%1.bmp").arg(7 - i));
    EXPECT_EQ(std::tuple(list[0].bmpLeftRight, list[0].bmpTopBottom, list[0].bmpTypeEtc),
              std::tuple(7 * 65536 + 114, 69 * 65536 + 21, PackDisplayState()));
    for (int i = 0; i < kImageListSize; ++i)
        list[i] = {list[i].bmpName, (i + 1) * 65536 + 2, 3 * 65536 + i + 4, 0x41029 + i};
    const auto before = list;
    MoveImageEntryToFront(3); // the rest keep their order
    for (int i = 0; i < kImageListSize; ++i)
        EXPECT_EQ(list[i], before[i == 0 ? 3 : i <= 3 ? i - 1 : i]) << i;
    ApplyFirstImageEntry();
    EXPECT_EQ(Area(), std::tuple(4, 3, 2, 7));
    EXPECT_EQ(Options(), std::tuple(4, 16, 2, 1, 2, 0, 0)); // from 0x4102C
    const auto order = list;
    std::tie(ds.BmpName, ds.AreaTop, ds.AreaRight) =
        std::tuple(QStringLiteral("/p/a.bmp"), 40000, 65535);
    StoreCurrentImage(false); // in place; margins above 32767 come back whole, read unsigned
    EXPECT_TRUE(std::equal(list.begin() + 1, list.end(), order.begin() + 1));
    ds.AreaTop = ds.AreaRight = 0;
    ApplyFirstImageEntry();
    EXPECT_EQ(Area(), std::tuple(4, 40000, 65535, 7));
}

} // namespace
