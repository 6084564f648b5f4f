#include "settings/Settings.h"
#include "dialogs/BackgroundImageList.h"

#include <gtest/gtest.h>

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
};

TEST_F(BackgroundImageListTest, FileNamePart)
{
    const struct
    {
        const char *pszPath;
        const char *pszName;
    } cases[] = {
        {"", ""},
        {"a", "a"},
        {"sp.bmp", "sp.bmp"},
        {"/home/u/pictures/sp.bmp", "sp.bmp"},
        {"/home/u/dir/", ""},
        {"C:sunset.bmp", "sunset.bmp"},
#ifdef Q_OS_WIN
        {"C:\\pics\\a.bmp", "a.bmp"},
        {"C:\\pics/b/a.bmp", "a.bmp"},
#else
        // A backslash is an ordinary file-name character here.
        {"/pics/we\\ird.bmp", "we\\ird.bmp"},
#endif
    };
    for (const auto &c : cases)
        EXPECT_EQ(FileNamePart(QString::fromUtf8(c.pszPath)), QString::fromUtf8(c.pszName))
            << c.pszPath;
}

TEST_F(BackgroundImageListTest, FindComparesFileNamesExactlyAndSkipsFreeSlots)
{
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

TEST_F(BackgroundImageListTest, PackedWordRoundTrips)
{
    DisplaySettings &ds = g_DisplaySettings;
    ds.Type = 4;
    ds.Fdiv = 16;
    ds.Ldiv = 2;
    ds.FwaveDisp = 1;
    ds.FwaveZan = 1;
    ds.FclockDisp = 0;
    ds.FreqStrSw = 1;
    EXPECT_EQ(PackDisplayState(), 0x41029);

    ResetSettings();
    UnpackDisplayState(0x41029);
    EXPECT_EQ(ds.Type, 4);
    EXPECT_EQ(ds.Fdiv, 16);
    EXPECT_EQ(ds.Ldiv, 2);
    EXPECT_EQ(ds.FwaveDisp, 1);
    EXPECT_EQ(ds.FwaveZan, 1);
    EXPECT_EQ(ds.FclockDisp, 0);
    EXPECT_EQ(ds.FreqStrSw, 1);

    // The default word: type 0, 18 bands, resolution 1, no waveform, clock and labels.
    UnpackDisplayState(0x1213);
    EXPECT_EQ(PackDisplayState(), 0x1213);
    EXPECT_EQ(ds.Fdiv, 18);
}

TEST_F(BackgroundImageListTest, WaveformFieldAndZeroDivisions)
{
    DisplaySettings &ds = g_DisplaySettings;
    ds.FwaveDisp = 1;
    ds.FwaveZan = 0;
    EXPECT_EQ((PackDisplayState() >> 2) & 3, 1);
    ds.FwaveDisp = 0;
    ds.FwaveZan = 2;
    EXPECT_EQ((PackDisplayState() >> 2) & 3, 0);

    // A zero waveform field turns the waveform off and leaves the afterimage alone.
    UnpackDisplayState(0);
    EXPECT_EQ(ds.FwaveDisp, 0);
    EXPECT_EQ(ds.FwaveZan, 2);
    EXPECT_EQ(ds.Fdiv, 1);
    UnpackDisplayState(1 << 2);
    EXPECT_EQ(ds.FwaveDisp, 1);
    EXPECT_EQ(ds.FwaveZan, 0);
}

TEST_F(BackgroundImageListTest, SevenPicksKeepTheNewestSix)
{
    for (int i = 1; i <= 7; ++i)
        Pick(QStringLiteral("/p/%1.bmp").arg(i));
    for (int i = 0; i < kImageListSize; ++i)
        EXPECT_EQ(Slot(i), QStringLiteral("/p/%1.bmp").arg(7 - i));
    const ImageEntry &newest = g_DisplaySettings.ImageList[0];
    EXPECT_EQ(newest.bmpLeftRight, 10 * 65536 + 10);
    EXPECT_EQ(newest.bmpTopBottom, 10 * 65536 + 10);
}

TEST_F(BackgroundImageListTest, PickingARememberedPictureRestoresItsAreaAndOptions)
{
    DisplaySettings &ds = g_DisplaySettings;
    for (int i = 0; i < kImageListSize; ++i) {
        ds.ImageList[i] = ImageEntry{QStringLiteral("/old/%1.bmp").arg(i), (i + 1) * 65536 + 2,
                                     3 * 65536 + (i + 4), 0x41029 + i};
    }
    const auto before = ds.ImageList;

    Pick(QStringLiteral("/new/place/3.bmp"));
    EXPECT_EQ(Slot(0), QStringLiteral("/new/place/3.bmp"));
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(ds.ImageList[i], before[i - 1]);
    EXPECT_EQ(ds.ImageList[4], before[4]);
    EXPECT_EQ(ds.ImageList[5], before[5]);
    EXPECT_EQ(ds.BmpName, QStringLiteral("/new/place/3.bmp"));
    EXPECT_EQ(ds.AreaLeft, 4);
    EXPECT_EQ(ds.AreaRight, 2);
    EXPECT_EQ(ds.AreaTop, 3);
    EXPECT_EQ(ds.AreaBottom, 7);
    EXPECT_EQ(ds.Type, 4);
    EXPECT_EQ(ds.Fdiv, 16);
    // 0x41029 + 3 = 0x4102C: labels and clock off, waveform field 3, Ldiv 2.
    EXPECT_EQ(ds.FreqStrSw, 0);
    EXPECT_EQ(ds.FclockDisp, 0);
    EXPECT_EQ(ds.FwaveDisp, 1);
    EXPECT_EQ(ds.FwaveZan, 2);
    EXPECT_EQ(ds.Ldiv, 2);

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
    ds.AreaLeft = 1;
    ds.AreaRight = 65535;
    ds.AreaTop = 40000;
    ds.AreaBottom = 0;
    StoreCurrentImage(false);
    EXPECT_EQ(Slot(0), QStringLiteral("/p/a.bmp"));
    EXPECT_EQ(ds.ImageList[0].bmpLeftRight, 65536 + 65535);
    EXPECT_EQ(static_cast<std::uint32_t>(ds.ImageList[0].bmpTopBottom), 40000u * 65536u);
    for (int i = 1; i < kImageListSize; ++i)
        EXPECT_EQ(ds.ImageList[i], before[i]);

    // Margins above 32767 come back whole: the packed value is read unsigned.
    ds.AreaTop = ds.AreaLeft = 0;
    ApplyFirstImageEntry();
    EXPECT_EQ(ds.AreaTop, 40000);
    EXPECT_EQ(ds.AreaRight, 65535);
}

} // namespace
