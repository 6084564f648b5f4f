// Chip columns on a full-HD picture: a full repaint of the stereo
// side-by-side display with 40 bands a side (80 columns), one incremental
// frame with a music-like level pattern, the level computation, and the full
// repaint once more with the rows drawn as one line each, the way the device
// would be driven without the rectangle fill.

#include "display/CChipColumn.h"
#include "graphics/CDC.h"
#include "settings/SettingValues.h"

#include <QFont>
#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kBands = 40;
constexpr int kColumns = 2 * kBands;
constexpr int kPatternFrames = 512;
constexpr int kBins = 256; // N = 512

// A column whose rows go to the device one line each.
class CLineChipColumn : public CChipColumn
{
public:
    using CChipColumn::CChipColumn;
    void FillRows(CDC *pDC, RECT rc, const CPen *pPen) override
    {
        if (m_bSuppress)
            return;
        rc.Normalize();
        FillRowsByLines(pDC, rc, &m_mapLocal, pPen);
    }
};

// The stereo side-by-side layout of a 1920 x 1080 full-screen window without
// background picture: a graph inset by three frame widths of 3 pixels, 82
// column widths of 23 pixels centred in it, the columns hanging from the top.
template <class Column> struct Display
{
    explicit Display(bool bLabels)
    {
        image.fill(qRgb(0, 0, 0));
        RECT graph{9, 9, kWidth - 9, kHeight - 9};
        mapper.SetupForRect(graph);
        const int W = graph.right - graph.left;
        const int H = graph.top - graph.bottom;
        const int k = kBands + 1;
        const int cw = (W - 4) / (2 * k);
        const int left = (W - 2 * k * cw) / 2;

        POINT origin{left, 0};
        for (int i = 0; i < kColumns; ++i) {
            auto pCol = std::make_unique<Column>(g_DisplaySettings, nFrame);
            SIZE size{cw, H};
            if (i == 0) {
                const SIZE used = pCol->SetGeometry(origin, size, 0);
                origin.y += H - used.cy;
                nLength = used.cy;
            }
            if (i == kBands)
                origin.x = left + (kBands + 2) * cw;
            size.cy = nLength;
            pCol->SetGeometry(origin, size, 0);
            pCol->SetMapper(&mapper);
            // A label on every third band, as the band mapping gives for 80 columns.
            pCol->SetBins({2 + 6 * (i % kBands), 1 + (i % kBands) / 4,
                           bLabels && (i % kBands) % 3 == 0 ? QStringLiteral("1k") : QString()});
            origin.x += cw;
            columns.push_back(std::move(pCol));
        }
        font.setPixelSize(11);
        dc.SelectFont(&font);
        dc.SetBkMode(CDC::TRANSPARENT);
        dc.SetTextColor(COLORREF(g_DisplaySettings.FontColor));
    }

    QImage image{kWidth, kHeight, QImage::Format_RGB32};
    CDC dc{&image};
    QFont font{QStringLiteral("DejaVu Sans")};
    CCoordMapper mapper;
    uint32_t nFrame = 0; // the frame ticks, whose parity paces slow peaks
    std::vector<std::unique_ptr<Column>> columns;
    int nLength = 0;
};

void UseDefaults()
{
    ResetSettings();
    g_DisplaySettings.Type = TYPE_STEREO;
    g_DisplaySettings.Fdiv = kBands;
}

// Levels of a piece of music, frame by frame: a spectrum falling towards the
// treble, a beat every 10 frames (sharp attack, slow decay) strongest in the
// bass, a melody wandering over the middle bands, and noise.
std::vector<float> MusicLevels(int nColumns)
{
    std::mt19937 rng(2024);
    std::normal_distribution<double> noise(0.0, 2.5);
    std::vector<float> levels(size_t(kPatternFrames) * nColumns);
    for (int f = 0; f < kPatternFrames; ++f) {
        const double beat = std::exp(-(f % 10) / 3.0);
        const double melody = kBands * (0.45 + 0.25 * std::sin(f * 0.07));
        for (int c = 0; c < nColumns; ++c) {
            const int band = c % kBands;
            double dB = -38.0 - 0.35 * band + noise(rng);
            dB += beat * 14.0 * std::exp(-band / 8.0);
            dB += 8.0 * std::exp(-std::pow((band - melody) / 3.0, 2));
            levels[size_t(f) * nColumns + c] = float(32767.0 * std::pow(10.0, dB / 20.0));
        }
    }
    return levels;
}

// Chips repainted per frame by the pattern, worked out once without painting.
double ChangedChipsPerFrame(const std::vector<float> &levels)
{
    Display<CChipColumn> display(false);
    std::vector<int> before;
    long changed = 0;
    for (int f = 0; f < kPatternFrames; ++f) {
        ++display.nFrame;
        for (int c = 0; c < kColumns; ++c) {
            CChipColumn &col = *display.columns[size_t(c)];
            before.assign(col.m_pChipStates.get(), col.m_pChipStates.get() + col.m_nChips);
            col.m_fLevel = levels[size_t(f) * kColumns + c];
            col.DrawUpdateSuppressed(&display.dc, nullptr);
            for (int i = 0; i < col.m_nChips; ++i)
                changed += before[size_t(i)] != col.ChipState(i);
        }
    }
    return double(changed) / kPatternFrames;
}

// Argument 1: the default settings (divider lines, labels); 0: the chips alone.
template <class Column> void DrawFullRepaint(benchmark::State &state)
{
    UseDefaults();
    if (state.range(0) == 0) {
        g_DisplaySettings.SpectFrameDraw = 0;
        g_DisplaySettings.FreqStrSw = 0;
    }
    Display<Column> display(true);
    PenTable pens;
    const int nChips = display.columns[0]->m_nChips;
    for (auto _ : state) {
        BuildPens(g_DisplaySettings, pens);
        for (int c = 0; c < kColumns; ++c) {
            Column &col = *display.columns[size_t(c)];
            col.m_nTop = (c * 37) % nChips; // some lit, some not
            col.DrawFull(&display.dc, &pens);
        }
        display.dc.ClearDirty();
        benchmark::DoNotOptimize(display.image.constBits());
    }
    state.counters["chips"] = double(nChips) * kColumns;
    state.counters["column_px"] = double(display.columns[0]->m_size.cx) * display.nLength;
}

void BM_DrawFull80Columns(benchmark::State &state)
{
    DrawFullRepaint<CChipColumn>(state);
}
BENCHMARK(BM_DrawFull80Columns)->ArgName("defaults")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_DrawFull80ColumnsLinePerRow(benchmark::State &state)
{
    DrawFullRepaint<CLineChipColumn>(state);
}
BENCHMARK(BM_DrawFull80ColumnsLinePerRow)
    ->ArgName("defaults")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMicrosecond);

void BM_DrawUpdateFrame(benchmark::State &state)
{
    UseDefaults();
    const std::vector<float> levels = MusicLevels(kColumns);
    const double changed = ChangedChipsPerFrame(levels);
    Display<CChipColumn> display(true);
    PenTable pens;
    BuildPens(g_DisplaySettings, pens);
    for (auto &pCol : display.columns)
        pCol->DrawFull(&display.dc, &pens);
    int f = 0;
    for (auto _ : state) {
        ++display.nFrame;
        BuildPens(g_DisplaySettings, pens);
        const float *pLevels = &levels[size_t(f) * kColumns];
        for (int c = 0; c < kColumns; ++c) {
            CChipColumn &col = *display.columns[size_t(c)];
            col.m_fLevel = pLevels[c];
            col.DrawUpdate(&display.dc, &pens);
        }
        display.dc.ClearDirty();
        f = (f + 1) % kPatternFrames;
    }
    state.counters["changed_chips_per_frame"] = changed;
}
BENCHMARK(BM_DrawUpdateFrame)->Unit(benchmark::kMicrosecond);

void BM_ComputeLevel80Columns(benchmark::State &state)
{
    UseDefaults();
    Display<CChipColumn> display(false);
    std::vector<float> spectrum(kBins);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> value(0.0f, 3000.0f);
    for (float &v : spectrum)
        v = value(rng);
    // Log-spaced bands up to the last bin, as the band mapping lays them.
    for (int c = 0; c < kColumns; ++c) {
        const int band = c % kBands;
        const double lo = 2.0 * std::pow(kBins / 2.0, double(band) / kBands);
        const double hi = 2.0 * std::pow(kBins / 2.0, double(band + 1) / kBands);
        const int first = std::max(1, int(lo));
        display.columns[size_t(c)]->SetBins({first, std::max(1, int(hi) - first), {}});
        display.columns[size_t(c)]->SetSpectrum(spectrum.data(), 3000.0f);
    }
    for (auto _ : state) {
        for (auto &pCol : display.columns)
            pCol->ComputeLevel();
        benchmark::DoNotOptimize(display.columns[0]->m_fLevel);
    }
}
BENCHMARK(BM_ComputeLevel80Columns);

} // namespace

// Text needs a GUI application; the offscreen platform does without a display.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
