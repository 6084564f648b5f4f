// libFuzzer target: arbitrary text as the program's settings file. It is read
// the way the program reads it at start-up (QSettingsProfileStore, the INI
// file of the platform's native format, section [Config], then LoadSettings),
// and a display window is started with what was read in the offscreen
// platform: its start-up timers by hand, a second of a recorded signal and a
// few frame ticks, the idle watchdog included. The sanitizers catch what the
// settings can make the display do wrong.
//
// A background picture named by the settings is replaced by one of three
// files of the fuzzer's own (a valid bitmap, a damaged one, a missing one),
// so that the text cannot make the display open a device or a large file.
#include "audio/input/DemoSignal.h"
#include "audio/input/ScriptedWaveInDriver.h"
#include "display/CSpectrumWnd.h"
#include "platform/ProfileStore.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>

namespace {

constexpr int kFrames = 4;
constexpr int kFrameMs = 50;
constexpr int kHeaderBytes = 44; // the demo is a plain 16-bit stereo PCM file
constexpr int kFrameBytes = 4;

QTemporaryDir *g_pDir = nullptr;
QString g_strPictures[3];

// The demo signal at each rate, two seconds of it, made once.
const QByteArray &DemoAt(int nRate)
{
    static std::map<int, QByteArray> demos;
    auto it = demos.find(nRate);
    if (it == demos.end())
        it = demos.emplace(nRate, SynthesizeDemoWav(2, nRate)).first;
    return it->second;
}

// A 2 x 2 24-bit bitmap file.
QByteArray SmallBitmap()
{
    QByteArray b("BM", 2);
    const auto le = [&b](uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            b.append(char(v >> (8 * i)));
    };
    le(14 + 40 + 16, 4);
    le(0, 4);
    le(14 + 40, 4);
    le(40, 4);
    le(2, 4);
    le(2, 4);
    le(1, 2);
    le(24, 2);
    for (int i = 0; i < 6; ++i)
        le(0, 4);
    b.append(QByteArray("\x00\x00\xFF\x00\xFF\x00\x00\x00\xFF\x00\x00\xFF\xFF\xFF\x00\x00", 16));
    return b;
}

void WriteFile(const QString &strPath, const QByteArray &bytes)
{
    QFile file(strPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    g_pDir = new QTemporaryDir;
    // QSettings finds the settings file under here.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(g_pDir->path()));
    static int argc = 1;
    static char name[] = "fuzz_settings";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);

    g_strPictures[0] = g_pDir->filePath(QStringLiteral("good.bmp"));
    g_strPictures[1] = g_pDir->filePath(QStringLiteral("damaged.bmp"));
    g_strPictures[2] = g_pDir->filePath(QStringLiteral("missing.bmp"));
    WriteFile(g_strPictures[0], SmallBitmap());
    WriteFile(g_strPictures[1], SmallBitmap().left(40));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    // A file of its own for every input: QSettings keeps the files it has
    // read and would not notice new text of the same size in the same
    // millisecond.
    static int nRun = 0;
    const QString strApplication = QStringLiteral("s%1").arg(nRun++);
    const QString strFile = g_pDir->filePath(QStringLiteral("fuzz/%1.conf").arg(strApplication));
    QDir().mkpath(g_pDir->filePath(QStringLiteral("fuzz")));
    WriteFile(strFile, QByteArray(reinterpret_cast<const char *>(pData), qsizetype(nSize)));

    SetProfileStore(
        std::make_unique<QSettingsProfileStore>(QStringLiteral("fuzz"), strApplication));
    LoadSettings();
    SetProfileStore(nullptr);
    QFile::remove(strFile);

    DisplaySettings settings = g_DisplaySettings;
    if (!settings.BmpName.isEmpty())
        settings.BmpName = g_strPictures[qHash(settings.BmpName) % 3];
    int nSettingsChanged = 0;

    auto *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    {
        CSpectrumWnd wnd(settings);
        wnd.SetChangeFlag(&nSettingsChanged);
        wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
        const RECT rc{0, 0, 400, 240};
        wnd.SetArea(rc);
        if (wnd.CreateSpectrumWindow(rc, nullptr)) {
            wnd.OnTimer(CSpectrumWnd::TIMER_START);
            wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
            const int nRate = wnd.Engine().Rate();
            if (nRate > 0 && nRate <= 48000) {
                const QByteArray &wav = DemoAt(nRate);
                qsizetype nOffset = kHeaderBytes;
                // A second of sound first, so the analysis window is full.
                const qsizetype nLead = qsizetype(nRate) * kFrameBytes;
                pDriver->Record(wav.constData() + nOffset, size_t(nLead));
                nOffset += nLead;
                wnd.OnTimer(CSpectrumWnd::TIMER_FIRSTFRAME);
                const qsizetype nTick = qsizetype(nRate) * kFrameMs / 1000 * kFrameBytes;
                for (int i = 0; i < kFrames && nOffset + nTick <= wav.size(); ++i) {
                    pDriver->Record(wav.constData() + nOffset, size_t(nTick));
                    nOffset += nTick;
                    wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
                }
                wnd.OnTimer(CSpectrumWnd::TIMER_WATCHDOG);
                wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
            }
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
