#include "app/CSpectrumApp.h"

#include "app/CSaverSet.h"
#include "app/CSaverWnd.h"
#include "audio/CWaveDevice.h"
#include "audio/input/DemoSignal.h"
#include "audio/input/PulseSourceList.h"
#include "audio/input/PulseWaveInDriver.h"
#include "audio/input/WavFileWaveInDriver.h"
#include "dialogs/CSettingsDlg.h"
#include "dialogs/ColorPageCursors.h"
#include "dialogs/PageSupport.h"
#include "dialogs/SettingsInstance.h"
#include "display/CSpectrumWnd.h"
#include "platform/X11HostWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "platform/ProfileStore.h"
#include "settings/SettingValues.h"
#include "settings/Settings.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <utility>

namespace {

// ASCII A-Z only: a host passes plain ASCII switches, and no other letter
// may compare equal to 'p' or 's' by folding.
char16_t FoldAsciiUpper(char16_t ch)
{
    return (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch - u'A' + u'a') : ch;
}

// The white space of C's isspace in the "C" locale.
bool IsCSpace(char16_t ch)
{
    return ch == u' ' || ch == u'\t' || ch == u'\n' || ch == u'\v' || ch == u'\f' || ch == u'\r';
}

// The termination signals' pipe: the handler writes, the event loop reads.
int g_anTerminationPipe[2] = {-1, -1};
// What the handler sees: where to write, and whether a signal came before.
volatile std::sig_atomic_t g_nTerminationFd = -1;
volatile std::sig_atomic_t g_nTerminationSignals = 0;

extern "C" void OnTerminationSignal(int nSignal)
{
    // Only async-signal-safe calls here. Both signals are blocked while the
    // handler runs, so the flag cannot be raced.
    // A second signal: the event loop has not answered the first, maybe
    // because it is stuck in a call that does not return; end at once.
    if (g_nTerminationSignals != 0)
        ::_exit(128 + nSignal);
    g_nTerminationSignals = 1;
    // errno belongs to the code interrupted.
    const int nSavedErrno = errno;
    const char ch = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_nTerminationFd, &ch, 1);
    errno = nSavedErrno;
}

bool MakeSignalPipe(int anFds[2])
{
    if (::pipe(anFds) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        // Non-blocking: a full pipe must never stop the handler, and the
        // reader empties it without waiting.
        ::fcntl(anFds[i], F_SETFL, ::fcntl(anFds[i], F_GETFL) | O_NONBLOCK);
        ::fcntl(anFds[i], F_SETFD, FD_CLOEXEC);
    }
    return true;
}

// Device pixels per logical pixel of the screens a host's window is on.
double HostRatio()
{
    const QScreen *pScreen = QGuiApplication::primaryScreen();
    return pScreen && pScreen->devicePixelRatio() > 0 ? pScreen->devicePixelRatio() : 1.0;
}

// Puts pWnd (a native window of its own) inside the foreign window pHost,
// filling its w x h client area, shows it, and ends the process with exit
// code 0 when the host goes. fnResized, when given, hears of a new host size
// after pWnd has taken it.
void EmbedInHost(QWidget *pWnd, const std::shared_ptr<X11HostWindow> &pHost, QWindow *pHostWindow,
                 int w, int h, std::function<void(int, int)> fnResized = {})
{
    pWnd->winId(); // a native window, so that it can live inside the host's
    pWnd->windowHandle()->setParent(pHostWindow);
    pWnd->setGeometry(0, 0, w, h);
    pWnd->show();

    // Exit rather than quit: with an embedded window quit() was seen not to
    // end the event loop.
    auto *pWatch = new QTimer(pWnd);
    QObject::connect(pWatch, &QTimer::timeout, pWnd, [pWnd, pHost, fnResized] {
        int nWidth = 0, nHeight = 0;
        if (!pHost->ClientSize(&nWidth, &nHeight)) {
            QCoreApplication::exit(0);
            return;
        }
        const double dRatio = HostRatio();
        nWidth = int(std::lround(nWidth / dRatio));
        nHeight = int(std::lround(nHeight / dRatio));
        if (fnResized && nWidth > 0 && nHeight > 0 && QSize(nWidth, nHeight) != pWnd->size()) {
            pWnd->setGeometry(0, 0, nWidth, nHeight);
            fnResized(nWidth, nHeight);
        }
    });
    pWatch->start(500);
}

} // namespace

bool EndOnTerminationSignals()
{
    if (g_anTerminationPipe[0] >= 0)
        return true;
    if (!MakeSignalPipe(g_anTerminationPipe))
        return false;
    // Owned by the application object.
    auto *pNotifier = new QSocketNotifier(g_anTerminationPipe[0], QSocketNotifier::Read,
                                          QCoreApplication::instance());
    QObject::connect(pNotifier, &QSocketNotifier::activated, pNotifier, [] {
        char buffer[64];
        while (::read(g_anTerminationPipe[0], buffer, sizeof buffer) > 0) {
        }
        QCoreApplication::exit(0);
    });
    CatchTerminationSignals(g_anTerminationPipe[1]);
    return true;
}

void CatchTerminationSignals(int nWriteFd)
{
    g_nTerminationFd = nWriteFd;
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGINT);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

bool MatchSwitch(QStringView strArg, QStringView strWord)
{
    if (!strArg.isEmpty() && (strArg.front() == u'-' || strArg.front() == u'/'))
        strArg = strArg.sliced(1);
    if (strArg.isEmpty())
        return false;
    for (qsizetype i = 0; i < strArg.size(); ++i) {
        // Past its end the word holds its terminating NUL, which no argument
        // character equals: a longer argument never matches.
        const char16_t chWord = i < strWord.size() ? strWord[i].unicode() : u'\0';
        if (FoldAsciiUpper(strArg[i].unicode()) != FoldAsciiUpper(chWord))
            return false;
    }
    return true;
}

qint64 ReadHandleArgument(QStringView strArg)
{
    qsizetype i = 0;
    while (i < strArg.size() && IsCSpace(strArg[i].unicode()))
        ++i;
    bool bNegative = false;
    if (i < strArg.size() && (strArg[i] == u'-' || strArg[i] == u'+')) {
        bNegative = strArg[i] == u'-';
        ++i;
    }
    // Accumulate as a negative number so that the most negative value fits.
    constexpr qint64 kMin = std::numeric_limits<qint64>::min();
    qint64 nValue = 0;
    for (; i < strArg.size(); ++i) {
        const char16_t ch = strArg[i].unicode();
        if (ch < u'0' || ch > u'9')
            break;
        const int nDigit = ch - u'0';
        if (nValue < (kMin + nDigit) / 10) {
            nValue = kMin;
            break;
        }
        nValue = nValue * 10 - nDigit;
    }
    if (bNegative)
        return nValue;
    return nValue == kMin ? std::numeric_limits<qint64>::max() : -nValue;
}

RunChoice ChooseRunMode(const QStringList &args)
{
    RunChoice choice;
    if (args.isEmpty()) {
        choice.eMode = RunMode::Settings;
        return choice;
    }
    const QString &strFirst = args.front();
    // Only the second character counts, and only in lower case: /c, -c, /c:1234
    // and even xc; /C is not the settings switch.
    if (strFirst.size() >= 2 && strFirst[1] == u'c') {
        choice.eMode = RunMode::Settings;
    } else if (MatchSwitch(strFirst, u"p")) {
        choice.eMode = RunMode::Preview;
        choice.nHostWindow = args.size() >= 2 ? ReadHandleArgument(args[1]) : 0;
    } else if (MatchSwitch(strFirst, u"s")) {
        choice.eMode = RunMode::Saver;
    }
    return choice;
}

bool ShowsSpectrum(const ExtraOptions &options, const QStringList &args,
                   const QString &strEnvWindow)
{
    const RunMode eMode = ChooseRunMode(args).eMode;
    return options.bWindow || ChooseHostWindow(options, args, strEnvWindow).bHosted ||
           eMode == RunMode::Preview || eMode == RunMode::Saver;
}

QString ProgramBaseName(const QString &strProgramPath)
{
    return QFileInfo(strProgramPath).completeBaseName();
}

CSpectrumApp::CSpectrumApp(QStringList args, QString strProfileName, ExtraOptions options)
    : m_args(std::move(args)), m_strProfileName(std::move(strProfileName)),
      m_options(std::move(options))
{
    g_bSettingsChanged = 0;
}

CSpectrumApp::~CSpectrumApp() = default;

bool CSpectrumApp::InitInstance()
{
    // The three-dimensional look of dialog controls that start-up would enable
    // first is a Windows 3.x matter with no Qt counterpart; nothing depends on it.

    // Every setting is a per-user value under the company key from here on.
    SetProfileStore(CreateProfileStore());

    // The colour page's three cursors (hover, pressed, off); only that page uses them.
    LoadColorPageCursors();

    // Settings are read once, in every mode, an unrecognised command line included.
    LoadSettings();
    // Defaults in place of a file the user may have meant to be used: say why, once.
    if (const QString strProblem = LoadSettingsProblem(); !strProblem.isEmpty())
        std::fprintf(stderr, "%s: %s\n", qPrintable(m_strProfileName), qPrintable(strProblem));

    InstallSoundSource(
        ShowsSpectrum(m_options, m_args, qEnvironmentVariable("XSCREENSAVER_WINDOW")));
    if (m_options.bWindow) {
        ApplyOneRunSettings();
        return StartWindow();
    }

    // XScreenSaver's conventions come before the host switches they stand beside.
    const HostWindowChoice host =
        ChooseHostWindow(m_options, m_args, qEnvironmentVariable("XSCREENSAVER_WINDOW"));
    if (host.bHosted) {
        const quint64 nWindow = host.nWindow ? host.nWindow : X11HostWindow::DefaultRoot();
        if (nWindow == 0) {
            Fail(QStringLiteral("-root: no X display to draw on"));
            return false;
        }
        ApplyOneRunSettings();
        return StartHostedSaver(nWindow);
    }

    const RunChoice choice = ChooseRunMode(m_args);
    switch (choice.eMode) {
    case RunMode::Settings:
        RunSettingsDialog();
        // The dialog has run its course; this mode has no event loop.
        return false;
    case RunMode::Preview:
        g_bPreview = 1;
        // X11 window ids are positive; 0 stands for a missing or unreadable
        // argument. Without a host window there is nothing to draw into.
        if (choice.nHostWindow <= 0) {
            Fail(QStringLiteral("%1: no window id to draw into").arg(m_args.front()));
            return false;
        }
        ApplyOneRunSettings();
        return StartPreview(choice.nHostWindow);
    case RunMode::Saver:
        ApplyOneRunSettings();
        return StartSaver();
    case RunMode::None:
        break;
    }
    return false;
}

void CSpectrumApp::ApplyOneRunSettings()
{
    // Only the display modes come here, and they never save, so the stored
    // values stay as they were.
    if (m_options.nType >= 0)
        g_DisplaySettings.Type = m_options.nType;
    if (m_options.nBands > 0)
        g_DisplaySettings.Fdiv = m_options.nBands;
}

void CSpectrumApp::RunSettingsDialog()
{
    // One dialog per settings file: a second one would save over the first
    // one's changes, so it brings the first forward and ends instead.
    const IProfileStore *pStore = GetProfileStore();
    std::unique_ptr<CSettingsInstance> pInstance;
    if (pStore && !pStore->Location().isEmpty()) {
        pInstance = std::make_unique<CSettingsInstance>(pStore->Location());
        if (!pInstance->Claim())
            return;
    }
    // Modal and without a parent; no event loop runs after it, so the dialog
    // is the whole of this run mode.
    CSettingsDlg dlg;
    if (pInstance)
        pInstance->SetWindow(&dlg);
    if (dlg.exec() != QDialog::Accepted)
        return; // Esc, the title-bar close: what the pages changed goes with the process
    QString strWhere;
    if (!SaveSettingsChecked(&strWhere)) {
        Choosers().showMessage(nullptr, QStringLiteral("設定を保存できませんでした。\n%1")
                                            .arg(QDir::toNativeSeparators(strWhere)));
        m_nExitCode = 1;
    }
}

std::unique_ptr<IProfileStore> CSpectrumApp::CreateProfileStore() const
{
    return std::make_unique<QSettingsProfileStore>(QString::fromLatin1(kRegistryCompanyKey),
                                                   m_strProfileName);
}

namespace {

// A window of another program to draw into, with its real client size: that
// comes from the X server, as Qt sees a foreign window as 0 x 0, and is in
// device pixels; the size returned is in logical ones, as the window that
// goes inside is sized. False when the window does not exist or has no area.
bool FindHostWindow(uint64_t nId, std::shared_ptr<X11HostWindow> *ppHost, QWindow **ppWindow,
                    int *pWidth, int *pHeight)
{
    auto pHost = std::make_shared<X11HostWindow>(nId);
    if (!pHost->ClientSize(pWidth, pHeight) || *pWidth <= 0 || *pHeight <= 0)
        return false;
    const double dRatio = HostRatio();
    *pWidth = std::max(1, int(std::lround(*pWidth / dRatio)));
    *pHeight = std::max(1, int(std::lround(*pHeight / dRatio)));
    *ppWindow = QWindow::fromWinId(WId(nId));
    if (!*ppWindow)
        return false;
    *ppHost = std::move(pHost);
    return true;
}

} // namespace

bool CSpectrumApp::StartPreview(qint64 nHostWindow)
{
    std::shared_ptr<X11HostWindow> pHost;
    QWindow *pHostWindow = nullptr;
    int w = 0, h = 0;
    if (!FindHostWindow(uint64_t(nHostWindow), &pHost, &pHostWindow, &w, &h)) {
        Fail(QStringLiteral("no window %1 to draw into (or it has no area)").arg(nHostWindow));
        return false;
    }

    auto *pWnd = new CSpectrumWnd(g_DisplaySettings, true);
    pWnd->SetArea(RECT{3, 15, w - 3, h - 15});
    pWnd->SetPreview(true);
    if (!pWnd->CreateSpectrumWindow(RECT{0, 0, w, h}, nullptr)) {
        delete pWnd;
        return false;
    }
    // The preview lives as long as its host window.
    EmbedInHost(pWnd, pHost, pHostWindow, w, h);
    ArmSnapshot(pWnd);
    return true;
}

bool CSpectrumApp::StartSaver()
{
    // A Wayland compositor blanks and locks the screen itself and lets no
    // client watch for idleness, so /s can only show the display full screen.
    if (QGuiApplication::platformName().startsWith(u"wayland"))
        std::fprintf(stderr,
                     "%s: under Wayland, screen saving belongs to the compositor; showing the "
                     "display full screen\n",
                     qPrintable(m_strProfileName));
    m_pSaverSet = std::make_unique<CSaverSet>(g_DisplaySettings);
    if (!m_pSaverSet->Start()) {
        m_pSaverSet.reset();
        return false;
    }
    ArmSnapshot(m_pSaverSet->Window(0));
    return true;
}

bool CSpectrumApp::StartHostedSaver(quint64 nHostWindow)
{
    std::shared_ptr<X11HostWindow> pHost;
    QWindow *pHostWindow = nullptr;
    int w = 0, h = 0;
    if (!FindHostWindow(uint64_t(nHostWindow), &pHost, &pHostWindow, &w, &h)) {
        Fail(QStringLiteral("no window 0x%1 to draw into (or it has no area)")
                 .arg(nHostWindow, 0, 16));
        return false;
    }

    // A window over several monitors (the root window of a desktop of two)
    // shows one display per monitor, never one across a seam.
    QRect rcRoot;
    std::vector<QRect> panes;
    if (pHost->RootGeometry(&rcRoot))
        panes = CSaverSet::MonitorPanes(rcRoot, pHost->Monitors(), HostRatio());
    if (!panes.empty()) {
        auto *pContainer = new QWidget; // lives as long as the host's window
        QPalette palette = pContainer->palette();
        palette.setColor(QPalette::Window, Qt::black);
        pContainer->setPalette(palette);
        pContainer->setAutoFillBackground(true);
        m_pSaverSet = std::make_unique<CSaverSet>(g_DisplaySettings);
        if (!m_pSaverSet->StartPanes(pContainer, panes)) {
            m_pSaverSet.reset();
            delete pContainer;
            return false;
        }
        EmbedInHost(pContainer, pHost, pHostWindow, w, h);
        ArmSnapshot(m_pSaverSet->Window(0));
        return true;
    }

    auto *pWnd = new CSaverWnd(g_DisplaySettings);
    if (!pWnd->CreateHostedSaverWindow(w, h)) {
        delete pWnd;
        return false;
    }
    // XScreenSaver's preview pane may change size; its full-screen window
    // does not, and when it goes the hack goes with it.
    EmbedInHost(pWnd, pHost, pHostWindow, w, h,
                [pWnd](int nWidth, int nHeight) { pWnd->SetScreenSize(nWidth, nHeight); });
    ArmSnapshot(pWnd);
    return true;
}

bool CSpectrumApp::StartWindow()
{
    const QSize size = m_options.windowSize;
    auto *pWnd = new CSpectrumWnd(g_DisplaySettings, true);
    pWnd->SetAreaFollowsSize(true);
    pWnd->SetArea(RECT{0, 0, size.width(), size.height()});
    if (!pWnd->CreateSpectrumWindow(RECT{0, 0, size.width(), size.height()}, nullptr)) {
        delete pWnd;
        return false;
    }
    pWnd->setWindowTitle(QStringLiteral("Vexlor"));
    pWnd->show();
    ArmSnapshot(pWnd);
    return true;
}

void CSpectrumApp::InstallSoundSource(bool bDisplay)
{
    if (!m_options.strInput.isEmpty()) {
        const QString strPath = m_options.strInput;
        SetWaveInDriverFactory(
            [strPath] { return std::make_unique<WavFileWaveInDriver>(strPath); });
        return;
    }
    bool bDemo = m_options.bDemo;
    const std::string strSource =
        ChooseInputSource(m_options, g_DisplaySettings.InputSource).toStdString();
    const bool bNamed = !strSource.empty() && strSource != kInputDefaultSource;
    if (!bDemo && (m_options.bWindow || (bNamed && bDisplay))) {
        // A window for people to look at: when no sound server answers, show
        // the built-in signal rather than a device error. A source chosen by
        // name that the server does not have is said once here; the display
        // shows the device error and keeps trying, in case it comes.
        PulseSourceList sources;
        if (!sources.Start() || !sources.Wait()) {
            if (m_options.bWindow) {
                std::fprintf(stderr,
                             "%s: no sound server answered (%s); showing the built-in "
                             "demo signal\n",
                             qPrintable(m_strProfileName), sources.Error().c_str());
                bDemo = true;
            }
        } else if (bNamed && bDisplay &&
                   std::none_of(sources.Sources().begin(), sources.Sources().end(),
                                [&](const PulseSourceInfo &source) {
                                    return source.strName == strSource;
                                })) {
            std::fprintf(stderr,
                         "%s: the sound server has no source named %s (see --list-sources)\n",
                         qPrintable(m_strProfileName), strSource.c_str());
        }
    }
    if (bDemo) {
        const QByteArray demo = SynthesizeDemoWav();
        SetWaveInDriverFactory(
            [demo] { return std::make_unique<WavFileWaveInDriver>(demo, QStringLiteral("demo")); });
        return;
    }
    SetWaveInDriverFactory([strSource] { return std::make_unique<PulseWaveInDriver>(strSource); });
}

void CSpectrumApp::Fail(const QString &strWhy)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(m_strProfileName), qPrintable(strWhy));
    m_nExitCode = 1;
}

namespace {

// Writes the picture as a PNG file. A regular file, or a new one, is written
// under another name and renamed into place once all of it is on disk, so a
// full disk leaves no cut picture behind; anything else (a device, a pipe) is
// written in place, as it cannot be replaced. False with the reason.
bool WritePng(const QImage &image, const QString &strPath, QString *pError)
{
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        *pError = QStringLiteral("the picture could not be encoded");
        return false;
    }
    const QFileInfo info(strPath);
    if (info.exists() && !info.isFile()) {
        QFile file(strPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size() || !file.flush()) {
            *pError = file.errorString();
            return false;
        }
        return true;
    }
    // Flushed before commit(), which was seen to rename a file into place
    // although its last write had failed (no space left): the file is then
    // discarded.
    QSaveFile file(strPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size() || !file.flush()) {
        *pError = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *pError = file.errorString();
        return false;
    }
    return true;
}

} // namespace

void CSpectrumApp::ArmSnapshot(CSpectrumWnd *pWnd)
{
    if (m_options.strSnapshot.isEmpty())
        return;
    const QString strPath = m_options.strSnapshot;
    const QString strProgram = m_strProfileName;
    // Precise: a coarse timer may fire 5 % early (--after 13 at 12.6 s).
    auto *pTimer = new QTimer(pWnd); // owned by the window
    pTimer->setSingleShot(true);
    pTimer->setTimerType(Qt::PreciseTimer);
    pTimer->setInterval(int(std::llround(m_options.dAfterSeconds * 1000)));
    QObject::connect(pTimer, &QTimer::timeout, pWnd, [pWnd, strPath, strProgram] {
        QString strError;
        if (!WritePng(pWnd->BackingImage(), strPath, &strError)) {
            std::fprintf(stderr, "%s: cannot write %s: %s\n", qPrintable(strProgram),
                         qPrintable(strPath), qPrintable(strError));
            QCoreApplication::exit(1);
            return;
        }
        QCoreApplication::exit(0);
    });
    pTimer->start();
}
