#include "dialogs/BackgroundImageList.h"
#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

class BackgroundImageListTest : public ::testing::Test
{
protected:
    void SetUp() override { ResetSettings(); }
    void TearDown() override { ResetSettings(); }

    // What the frame page does after the user picked strPath.
    static void Pick(const QString &strPath)
    {
        DisplaySettings &ds = g_DisplaySettings;
        ds.BmpName = strPath;
        const int nSlot = FindImageEntry(strPath);
        if (nSlot < 0) {
            ds.AreaTop = ds.AreaBottom = ds.AreaLeft = ds.AreaRight = 10;
            StoreCurrentImage(true);
            return;
        }
        MoveImageEntryToFront(nSlot);
        ds.ImageList[0].bmpName = strPath;
        ApplyFirstImageEntry();
    }
    static QString Slot(int i) { return g_DisplaySettings.ImageList[i].bmpName; }
    static auto Options()
    {
        const DisplaySettings &ds = g_DisplaySettings;
        return std::tuple(ds.Type, ds.Fdiv, ds.Ldiv, ds.FwaveDisp, ds.FwaveZan, ds.FclockDisp,
                          ds.FreqStrSw);
    }
};

TEST_F(BackgroundImageListTest, PicturesAreFoundByTheirExactFileName)
{
    // A backslash is an ordinary file-name character here.
    const std::pair<const char *, const char *> names[] = {{"", ""},
                                                           {"a", "a"},
                                                           {"/home/u/sp.bmp", "sp.bmp"},
                                                           {"/home/u/dir/", ""},
                                                           {"C:sunset.bmp", "sunset.bmp"},
                                                           {"/pics/we\\ird.bmp", "we\\ird.bmp"}};
    for (const auto &[pszPath, pszName] : names)
        EXPECT_EQ(FileNamePart(QString::fromUtf8(pszPath)), QString::fromUtf8(pszName));
    auto &list = g_DisplaySettings.ImageList;
    list[1].bmpName = QStringLiteral("/a/Sky.bmp");
    list[3].bmpName = QStringLiteral("/b/sea.bmp");
    list[4].bmpName = QStringLiteral("/c/sea.bmp");
    EXPECT_EQ(FindImageEntry(QStringLiteral("/elsewhere/sea.bmp")), 3);
    EXPECT_EQ(FindImageEntry(QStringLiteral("/a/sky.bmp")), -1);
    EXPECT_EQ(FindImageEntry(QStringLiteral("Sky.bmp")), 1);
    // Free slots hold an empty path, which must not match an empty file name.
    EXPECT_EQ(FindImageEntry(QStringLiteral("/dir/")), -1);
}

TEST_F(BackgroundImageListTest, PackedDisplayWord)
{
    DisplaySettings &ds = g_DisplaySettings;
    std::tie(ds.Type, ds.Fdiv, ds.Ldiv, ds.FwaveDisp, ds.FwaveZan, ds.FclockDisp, ds.FreqStrSw) =
        std::tuple(4, 16, 2, 1, 1, 0, 1);
    EXPECT_EQ(PackDisplayState(), 0x41029);
    ResetSettings();
    UnpackDisplayState(0x41029);
    EXPECT_EQ(Options(), std::tuple(4, 16, 2, 1, 1, 0, 1));
    // The waveform field is 0 when the waveform is off, else the afterimage + 1.
    ds.FwaveZan = 2;
    ds.FwaveDisp = 0;
    EXPECT_EQ((PackDisplayState() >> 2) & 3, 0);
    // Type 0, 18 bands, resolution 1, waveform field 0 (off, afterimage left
    // alone), clock and labels.
    UnpackDisplayState(0x1213);
    EXPECT_EQ(Options(), std::tuple(0, 18, 1, 0, 2, 1, 1));
    EXPECT_EQ(PackDisplayState(), 0x1213);
    UnpackDisplayState(1 << 2);
    EXPECT_EQ(std::tuple(ds.FwaveDisp, ds.FwaveZan, ds.Fdiv), std::tuple(1, 0, 1));
}

TEST_F(BackgroundImageListTest, NewPicturesGoFirstAndTheNewestSixStay)
{
    for (int i = 1; i <= 7; ++i)
        Pick(QStringLiteral("/p/%1.bmp").arg(i));
    for (int i = 0; i < kImageListSize; ++i)
        EXPECT_EQ(Slot(i), QStringLiteral("/p/%1.bmp").arg(7 - i));
    EXPECT_EQ(g_DisplaySettings.ImageList[0].bmpLeftRight, 10 * 65536 + 10);
    EXPECT_EQ(g_DisplaySettings.ImageList[0].bmpTopBottom, 10 * 65536 + 10);
}

TEST_F(BackgroundImageListTest, PickingARememberedPictureRestoresItsAreaAndOptions)
{
    DisplaySettings &ds = g_DisplaySettings;
    for (int i = 0; i < kImageListSize; ++i)
        ds.ImageList[i] = ImageEntry{QStringLiteral("/old/%1.bmp").arg(i), (i + 1) * 65536 + 2,
                                     3 * 65536 + (i + 4), 0x41029 + i};
    const auto before = ds.ImageList;
    Pick(QStringLiteral("/new/place/3.bmp"));
    EXPECT_EQ(Slot(0), QStringLiteral("/new/place/3.bmp"));
    for (int i = 1; i < kImageListSize; ++i)
        EXPECT_EQ(ds.ImageList[i], before[i <= 3 ? i - 1 : i]) << i;
    EXPECT_EQ(std::tuple(ds.AreaLeft, ds.AreaRight, ds.AreaTop, ds.AreaBottom),
              std::tuple(4, 2, 3, 7));
    // 0x41029 + 3 = 0x4102C: labels and clock off, waveform field 3, Ldiv 2.
    EXPECT_EQ(Options(), std::tuple(4, 16, 2, 1, 2, 0, 0));

    // The picture in slot 0 keeps its place but takes the new path.
    const auto order = ds.ImageList;
    Pick(QStringLiteral("/moved/3.bmp"));
    EXPECT_EQ(Slot(0), QStringLiteral("/moved/3.bmp"));
    for (int i = 1; i < kImageListSize; ++i)
        EXPECT_EQ(ds.ImageList[i], order[i]);
}

TEST_F(BackgroundImageListTest, StoreWithoutPictureOrShift)
{
    DisplaySettings &ds = g_DisplaySettings;
    const auto before = ds.ImageList;
    ds.BmpName.clear();
    StoreCurrentImage(true);
    EXPECT_EQ(ds.ImageList, before);

    ds.BmpName = QStringLiteral("/p/a.bmp");
    std::tie(ds.AreaLeft, ds.AreaRight, ds.AreaTop, ds.AreaBottom) = std::tuple(1, 65535, 40000, 0);
    StoreCurrentImage(false);
    EXPECT_EQ(Slot(0), QStringLiteral("/p/a.bmp"));
    EXPECT_EQ(ds.ImageList[0].bmpLeftRight, 65536 + 65535);
    EXPECT_EQ(static_cast<std::uint32_t>(ds.ImageList[0].bmpTopBottom), 40000u * 65536u);
    for (int i = 1; i < kImageListSize; ++i)
        EXPECT_EQ(ds.ImageList[i], before[i]);
    // Margins above 32767 come back whole: the packed value is read unsigned.
    ds.AreaTop = ds.AreaLeft = 0;
    ApplyFirstImageEntry();
    EXPECT_EQ(std::tuple(ds.AreaLeft, ds.AreaTop, ds.AreaRight), std::tuple(1, 40000, 65535));
}

} // namespace
