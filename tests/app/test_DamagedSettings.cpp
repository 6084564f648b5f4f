// Settings as a damaged or hand-edited store may hold them, loaded the way
// the program loads them (an in-memory store and LoadSettings) and run
// through the whole display: the start-up chain, a few seconds of frames on
// a loud stereo signal, a lost sound stream with the big clock and its
// message, and the retry that brings the spectrum back. Every display type.
#include "app/CSaverWnd.h"
#include "settings/SettingValues.h"
#include "display/CChipColumn.h"
#include "display/CKeyElement.h"
#include "display/CSpectrumWnd.h"
#include "platform/ProfileStore.h"
#include "audio/input/ScriptedWaveInDriver.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include <climits>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int kFrames = 40; // two seconds of 50 ms frames
// A column of more chips than this means the layout ran away (one chip takes
// at least two rows, and no screen has thousands of rows).
constexpr int kMaxSaneChips = 4096;

struct Planted
{
    const char *pszKey;
    qint64 nValue;
};

// Loads the defaults with every display option on (waveform, afterimage,
// clock, labels), the display type and the planted values, through the store.
void LoadWith(const std::vector<Planted> &values, int nType, const QString &strPicture = {})
{
    auto pStore = std::make_unique<MemoryProfileStore>();
    auto plant = [&](const char *pszKey, const QVariant &value) {
        pStore->SetRaw(QStringLiteral("Config"), QString::fromLatin1(pszKey), value);
    };
    for (const Planted p :
         {Planted{"Version", 1}, Planted{"Type", nType}, Planted{"FwaveDisp", 1},
          Planted{"FclockDisp", 1}, Planted{"FwaveZan", 2}, Planted{"FreqStrSw", 1}})
        plant(p.pszKey, p.nValue);
    plant("BmpName", strPicture);
    for (const Planted &p : values)
        plant(p.pszKey, p.nValue);
    SetProfileStore(std::move(pStore));
    LoadSettings();
    SetProfileStore(nullptr);
    g_bPreview = 0;
    g_bSettingsChanged = 0;
}

// Records 50 ms of a loud stereo signal (1 kHz left, 3.5 kHz right, a 200 Hz
// hum in both) into the scripted input, continuing where the last call ended.
class SignalFeed
{
public:
    explicit SignalFeed(ScriptedWaveInDriver *pDriver) : m_pDriver(pDriver) {}
    void Frame()
    {
        const int nRate = int(m_pDriver->m_format.nSamplesPerSec);
        const int n = nRate / 20;
        std::vector<int16_t> samples(size_t(2 * n));
        for (int i = 0; i < n; ++i, ++m_nDone) {
            const double t = double(m_nDone) / nRate;
            const double hum = 3000 * std::sin(2 * std::numbers::pi * 200 * t);
            samples[size_t(2 * i)] =
                int16_t(hum + 12000 * std::sin(2 * std::numbers::pi * 1000 * t));
            samples[size_t(2 * i + 1)] =
                int16_t(hum + 12000 * std::sin(2 * std::numbers::pi * 3500 * t));
        }
        m_pDriver->Record(samples.data(), samples.size() * sizeof(int16_t));
    }

private:
    ScriptedWaveInDriver *m_pDriver;
    long long m_nDone = 0;
};

int ElementCount(const CSpectrumWnd &wnd)
{
    int n = 0;
    for (int i = 0; i < CSpectrumWnd::kMaxElements; ++i)
        n += wnd.Element(i) != nullptr;
    return n;
}

// Drives the window as its timers would: start-up, frames with a watchdog
// tick every second, a lost stream, the retry and more frames. Each step's
// state is checked on the way.
void RunDisplay(CSpectrumWnd &wnd, ScriptedWaveInDriver *pDriver, const std::string &strCase)
{
    SignalFeed feed(pDriver);
    wnd.OnTimer(CSpectrumWnd::TIMER_START);
    wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
    wnd.OnTimer(CSpectrumWnd::TIMER_FIRSTFRAME);
    ASSERT_EQ(wnd.State(), CSpectrumWnd::DS_SPECTRUM) << strCase;
    ASSERT_TRUE(wnd.IsTimerActive(CSpectrumWnd::TIMER_FRAME)) << strCase;
    auto frames = [&](int nCount, bool bFeed) {
        for (int i = 0; i < nCount; ++i) {
            if (bFeed)
                feed.Frame();
            wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
            if (i % 20 == 19)
                wnd.OnTimer(CSpectrumWnd::TIMER_WATCHDOG);
        }
    };
    frames(kFrames, true);

    pDriver->FailStream();
    frames(8, false); // the big clock with "Device error" under it
    ASSERT_EQ(wnd.State(), CSpectrumWnd::DS_DEVICEERROR) << strCase;
    wnd.OnTimer(CSpectrumWnd::TIMER_WATCHDOG);
    ASSERT_TRUE(wnd.IsTimerActive(CSpectrumWnd::TIMER_RETRY)) << strCase;
    wnd.OnTimer(CSpectrumWnd::TIMER_RETRY);
    ASSERT_EQ(wnd.State(), CSpectrumWnd::DS_SPECTRUM) << strCase;
    wnd.OnTimer(CSpectrumWnd::TIMER_FIRSTFRAME);
    frames(10, true);
    wnd.InvalidateErase();
}

// What any run must leave: the running state, a bounded layout of the right
// kind of elements, and something drawn inside the area.
void ExpectSane(const CSpectrumWnd &wnd, const RECT &rcArea, const std::string &strCase)
{
    EXPECT_EQ(wnd.State(), CSpectrumWnd::DS_SPECTRUM) << strCase;
    EXPECT_TRUE(wnd.IsTimerActive(CSpectrumWnd::TIMER_FRAME)) << strCase;
    const int nCount = ElementCount(wnd);
    EXPECT_GE(nCount, 1) << strCase;
    EXPECT_LE(nCount, CSpectrumWnd::kMaxElements) << strCase;
    const int nKind = g_DisplaySettings.Type == TYPE_KEYBOARD ? CKeyElement::kKind : CChipColumn::kKind;
    for (int i = 0; i < CSpectrumWnd::kMaxElements; ++i) {
        const CBandElement *p = wnd.Element(i);
        if (!p)
            continue;
        EXPECT_EQ(p->m_nKind, nKind) << strCase;
        if (const auto *pColumn = dynamic_cast<const CChipColumn *>(p)) {
            EXPECT_LE(pColumn->m_nChips, kMaxSaneChips) << strCase;
        }
    }

    // The graph stays inside the area, whatever the picture's margins say.
    RECT rcGraph = wnd.GraphRect();
    rcGraph.Normalize();
    EXPECT_TRUE(rcGraph.left >= rcArea.left && rcGraph.right <= rcArea.right &&
                rcGraph.top >= rcArea.top && rcGraph.bottom <= rcArea.bottom)
        << strCase;

    const QImage &img = wnd.BackingImage();
    const COLORREF bg = COLORREF(g_DisplaySettings.Cbackground);
    const QRgb bgPixel = qRgb(GetRValue(bg), GetGValue(bg), GetBValue(bg));
    const QRect rc =
        QRect(QPoint(rcArea.left, rcArea.top), QPoint(rcArea.right - 1, rcArea.bottom - 1))
            .intersected(img.rect());
    int nDrawn = 0;
    for (int y = rc.top(); y <= rc.bottom(); ++y)
        for (int x = rc.left(); x <= rc.right(); ++x)
            nDrawn += img.pixel(x, y) != bgPixel;
    EXPECT_GT(nDrawn, 0) << strCase;
}

// A small real background picture, 32 x 16, in a folder of its own.
QString WritePicture(const QTemporaryDir &dir)
{
    QImage picture(32, 16, QImage::Format_RGB32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            picture.setPixel(x, y, qRgb(8 * x, 16 * y, 100));
    const QString strPath = dir.filePath(QStringLiteral("picture.bmp"));
    EXPECT_TRUE(picture.save(strPath, "BMP"));
    return strPath;
}

struct Damage
{
    const char *pszId; // the test's name
    std::vector<Planted> values;
    bool bPicture = false;
};

const std::vector<Damage> &Damages()
{
    static const std::vector<Damage> damages = {
        {"Fdiv0", {{"Fdiv", 0}}},
        {"FdivMinus5", {{"Fdiv", -5}}},
        {"Fdiv100000", {{"Fdiv", 100000}}},
        {"KeyDiv0", {{"KeyDiv", 0}}},
        {"Ldiv7", {{"Ldiv", 7}}},
        {"LminAboveLmax", {{"Lmin", -20}, {"Lmax", -70}}},
        {"LminAndLmaxAtTheEndsOfTheRange", {{"Lmin", INT_MAX}, {"Lmax", INT_MIN}}},
        {"FontHeight0", {{"FontHeight", 0}}},
        {"FontHeightMinus2147483648", {{"FontHeight", INT_MIN}}},
        {"BaseKey0", {{"BaseKey", 0}}},
        {"BaseKeyMinus440", {{"BaseKey", -440}}},
        // Top bytes set; the low three bytes keep the frame and chips visible
        // on the background.
        {"ColoursAbove0xFFFFFF",
         {{"Cframe", 0xFFFFFFFFLL},
          {"Coutline", 0xFF808080LL},
          {"Cpeekchip", 0x8000FFFFLL},
          {"Cbackground", 0xFF000000LL},
          {"Cchip1", 0x01FFFF00LL},
          {"Cchip2", 0xFFFF80FFLL},
          {"Cwline", 0xFFC080FFLL},
          {"FontColor", 0xFFFFFFFFLL}}},
        {"AreaMarginsLargerThanThePicture",
         {{"AreaLeft", 1000}, {"AreaRight", 900}, {"AreaTop", 500}, {"AreaBottom", 400}},
         true},
        {"AreaMarginsAtTheEndOfTheRange",
         {{"AreaLeft", INT_MAX},
          {"AreaRight", INT_MAX},
          {"AreaTop", INT_MAX},
          {"AreaBottom", INT_MAX}},
         true},
        {"AllTogether",
         {{"Fdiv", 0},
          {"KeyDiv", 0},
          {"Ldiv", 7},
          {"Lmin", -20},
          {"Lmax", -70},
          {"FontHeight", INT_MIN},
          {"BaseKey", 0},
          {"Cframe", 0xFFFFFFFFLL},
          {"Cbackground", 0xFF000000LL},
          {"AreaLeft", 1000},
          {"AreaRight", 900},
          {"AreaTop", 500},
          {"AreaBottom", 400}},
         true},
    };
    return damages;
}

// The value of a planted key, or nDefault.
qint64 PlantedValue(const std::vector<Planted> &values, const char *pszKey, qint64 nDefault)
{
    for (const Planted &p : values) {
        if (std::string(p.pszKey) == pszKey)
            return p.nValue;
    }
    return nDefault;
}

void RestoreSettings()
{
    ResetSettings();
    g_Version = 1;
    g_bSettingsChanged = 0;
}

class DamagedSettings : public ::testing::TestWithParam<Damage>
{
protected:
    void TearDown() override { RestoreSettings(); }
    QTemporaryDir m_dir;
};

} // namespace

TEST_P(DamagedSettings, RunsInEveryDisplayType)
{
    const Damage &damage = GetParam();
    ASSERT_TRUE(m_dir.isValid());
    const QString strPicture = damage.bPicture ? WritePicture(m_dir) : QString();
    const RECT rcArea{0, 0, 400, 200};
    for (int nType = 0; nType <= 4; ++nType) {
        const std::string strCase = std::string(damage.pszId) + ", Type " + std::to_string(nType);
        LoadWith(damage.values, nType, strPicture);
        // The store's values arrive as they are.
        ASSERT_EQ(g_DisplaySettings.Fdiv, PlantedValue(damage.values, "Fdiv", 16)) << strCase;
        ASSERT_EQ(g_DisplaySettings.Font.lfHeight, PlantedValue(damage.values, "FontHeight", -11))
            << strCase;

        auto *pDriver = new ScriptedWaveInDriver; // owned by the window's device
        CSpectrumWnd wnd{g_DisplaySettings};
        wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
        wnd.CreateSpectrumWindow(rcArea, nullptr);
        wnd.SetArea(rcArea);
        g_bSettingsChanged = 0;
        ASSERT_NO_FATAL_FAILURE(RunDisplay(wnd, pDriver, strCase));
        if (damage.bPicture) {
            EXPECT_TRUE(wnd.HasBackgroundImage()) << strCase << ": the picture did not load";
        }
        ExpectSane(wnd, rcArea, strCase);
        // A band count below 1 is laid out as one band a channel, and the
        // second column must then show the second channel.
        if (PlantedValue(damage.values, "Fdiv", 16) < 1 && nType >= 1 && nType <= 3) {
            ASSERT_TRUE(wnd.Element(0) && wnd.Element(1)) << strCase;
            EXPECT_NE(wnd.Element(0)->m_pBins, wnd.Element(1)->m_pBins) << strCase;
        }
        // The columns rewrite a level resolution outside 0 to 3 as 2.
        if (PlantedValue(damage.values, "Ldiv", 1) == 7 && nType != 4) {
            EXPECT_EQ(g_DisplaySettings.Ldiv, 2) << strCase;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Stored, DamagedSettings, ::testing::ValuesIn(Damages()),
                         [](const ::testing::TestParamInfo<Damage> &param) {
                             return std::string(param.param.pszId);
                         });

namespace {

struct SaverSize
{
    const char *pszId;
    int nSizeX, nSizeY;
    RECT rcGraph; // on a 640 x 480 screen
    bool bShown;  // false: the graph is empty or inverted
};

// Twice the default label height and 2: the strip of a rotated label.
constexpr int kLabelSlack = 2 * 11 + 2;

class DamagedSaverSize : public ::testing::TestWithParam<SaverSize>
{
protected:
    void TearDown() override { RestoreSettings(); }
};

} // namespace

// The saver's graph rectangle from stored sizes, and the display drawn in it
// and nowhere else.
TEST_P(DamagedSaverSize, PlacesTheGraphAndDrawsOnlyInIt)
{
    const SaverSize &c = GetParam();
    for (int nType = 0; nType <= 4; ++nType) {
        const std::string strCase = std::string(c.pszId) + ", Type " + std::to_string(nType);
        LoadWith({{"SaverSizeX", c.nSizeX}, {"SaverSizeY", c.nSizeY}, {"SaverMode", 0}}, nType);
        auto *pDriver = new ScriptedWaveInDriver; // owned by the window's device
        CSaverWnd wnd(g_DisplaySettings, false);
        wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
        ASSERT_EQ(wnd.CreateHostedSaverWindow(640, 480), 1) << strCase;
        g_bSettingsChanged = 0;
        EXPECT_EQ(wnd.m_rcGraph, c.rcGraph) << strCase;
        ASSERT_NO_FATAL_FAILURE(RunDisplay(wnd, pDriver, strCase));

        const QImage &img = wnd.BackingImage();
        ASSERT_EQ(img.size(), QSize(640, 480)) << strCase;
        if (!qEnvironmentVariableIsEmpty("VEXLOR_KEEP_SNAPSHOTS"))
            img.save(qEnvironmentVariable("VEXLOR_KEEP_SNAPSHOTS") +
                     QStringLiteral("/saver-%1-%2.png").arg(QLatin1String(c.pszId)).arg(nType));
        // An empty or inverted graph has nothing in it, but its zero-sized
        // columns and keys may still put their labels or a sliver of one
        // pixel at its place: allow the width of a rotated label strip.
        RECT rcNorm = c.rcGraph;
        rcNorm.Normalize();
        const int nSlack = c.bShown ? 0 : kLabelSlack;
        const QRect rcAllowed =
            QRect(QPoint(rcNorm.left, rcNorm.top), QPoint(rcNorm.right - 1, rcNorm.bottom - 1))
                .adjusted(-nSlack, -nSlack, nSlack, nSlack);
        int nInside = 0, nOutside = 0;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                if (img.pixel(x, y) != qRgb(0, 0, 0))
                    (rcAllowed.contains(x, y) ? nInside : nOutside) += 1;
            }
        }
        EXPECT_EQ(nOutside, 0) << strCase;
        if (c.bShown) {
            EXPECT_GT(nInside, 1000) << strCase;
        }
    }
}

// Hand-worked on 640 x 480: a size is cut to the screen less 30, the graph
// centred with (640 - w) / 2 and (480 - h) / 2; a negative size is kept and
// gives an inverted rectangle.
INSTANTIATE_TEST_SUITE_P(
    Stored, DamagedSaverSize,
    ::testing::Values(SaverSize{"Width0", 0, 151, {320, 164, 320, 315}, false},
                      SaverSize{"Height0", 545, 0, {47, 240, 592, 240}, false},
                      SaverSize{"WidthNegative", -100, 151, {370, 164, 270, 315}, false},
                      SaverSize{"HeightNegative", 545, -1, {47, 240, 592, 239}, false},
                      SaverSize{"Width100000", 100000, 151, {15, 164, 625, 315}, true},
                      SaverSize{"Height100000", 545, 100000, {47, 15, 592, 465}, true},
                      SaverSize{"Both100000", 100000, 100000, {15, 15, 625, 465}, true}),
    [](const ::testing::TestParamInfo<SaverSize> &param) {
        return std::string(param.param.pszId);
    });
