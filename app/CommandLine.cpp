#include "app/CommandLine.h"

#include "app/CSpectrumApp.h"
#include "audio/input/WavFileWaveInDriver.h"
#include "settings/SettingValues.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

namespace {

bool LooksLikeOption(const QString &s)
{
    return s.startsWith(u'-') || s.startsWith(u'/');
}

// Qt's own options, with one dash or two: those that take the next
// argument, and those that stand alone. QApplication takes them out of the
// arguments itself; here they are only stepped over.
// clang-format off
constexpr const char16_t *kQtValueOptions[] = {
    u"platform", u"platformpluginpath", u"platformtheme", u"plugin", u"qwindowgeometry",
    u"geometry", u"qwindowicon", u"icon", u"qwindowtitle", u"title", u"session", u"display",
    u"name", u"visual", u"style", u"stylesheet", u"qmljsdebugger"};
constexpr const char16_t *kQtFlagOptions[] = {u"reverse", u"widgetcount", u"nograb", u"dograb",
                                              u"sync"};
// clang-format on

// The option's name without its dashes and without "=value", when it is
// one of Qt's; else empty.
QString QtOptionName(const QString &a, bool *pTakesValue)
{
    if (!a.startsWith(u'-'))
        return {};
    QString strName = a.mid(a.startsWith(u"--") ? 2 : 1);
    const qsizetype nEquals = strName.indexOf(u'=');
    if (nEquals >= 0)
        strName.truncate(nEquals);
    for (const char16_t *psz : kQtValueOptions)
        if (strName == QStringView(psz)) {
            *pTakesValue = nEquals < 0;
            return strName;
        }
    for (const char16_t *psz : kQtFlagOptions)
        if (nEquals < 0 && strName == QStringView(psz)) {
            *pTakesValue = false;
            return strName;
        }
    return {};
}

// --window's size: WIDTHxHEIGHT, each at least 1 and within the limits.
bool ReadWindowSize(const QString &strValue, QSize *pSize, QString *pError)
{
    static const QRegularExpression size(QStringLiteral("^(\\d+)x(\\d+)$"));
    const QRegularExpressionMatch m = size.match(strValue);
    bool bWidth = false, bHeight = false;
    const qint64 w = m.hasMatch() ? m.captured(1).toLongLong(&bWidth) : 0;
    const qint64 h = m.hasMatch() ? m.captured(2).toLongLong(&bHeight) : 0;
    if (!m.hasMatch() || (bWidth && w < 1) || (bHeight && h < 1)) {
        *pError = QStringLiteral("--window: size must be WIDTHxHEIGHT, such as 800x300, not '%1'")
                      .arg(strValue);
        return false;
    }
    // Digits beyond 64 bits are too large as well.
    if (!bWidth || !bHeight || w > kMaxWindowSide || h > kMaxWindowSide ||
        w * h > kMaxWindowPixels) {
        *pError = QStringLiteral("--window: %1 is too large (at most %2 pixels a side and %3 "
                                 "pixels in all)")
                      .arg(strValue)
                      .arg(kMaxWindowSide)
                      .arg(kMaxWindowPixels);
        return false;
    }
    *pSize = QSize(int(w), int(h));
    return true;
}

// A whole number from nMin to nMax, digits only (as XScreenSaver writes one).
bool ReadCount(const QString &strValue, int nMin, int nMax, int *pValue)
{
    static const QRegularExpression digits(QStringLiteral("^\\d{1,9}$"));
    if (!digits.match(strValue).hasMatch())
        return false;
    const int n = strValue.toInt();
    if (n < nMin || n > nMax)
        return false;
    *pValue = n;
    return true;
}

} // namespace

bool ParseExtraOptions(QStringList &args, ExtraOptions *pOptions, QString *pError)
{
    QStringList rest;
    auto takeValue = [&](int &i, const QString &strOption, QString *pValue) {
        if (i + 1 >= args.size()) {
            *pError = strOption + QStringLiteral(": missing value");
            return false;
        }
        *pValue = args[++i];
        return true;
    };
    // A size, or a try at one ("-5x3"), rather than an option or a switch.
    static const QRegularExpression sizeLike(QStringLiteral("^[-+]?\\d*x[-+]?\\d*$"));

    bool bAfterGiven = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        bool bTakesValue = false;
        const QString strQtOption = QtOptionName(a, &bTakesValue);
        if (!strQtOption.isEmpty()) {
            QString strValue;
            if (bTakesValue && !takeValue(i, a, &strValue))
                return false;
            if (strQtOption == u"platform")
                pOptions->strPlatform = bTakesValue ? strValue : a.section(u'=', 1);
        } else if (a == u"--help" || a == u"-h") {
            pOptions->bHelp = true;
        } else if (a == u"--version") {
            pOptions->bVersion = true;
        } else if (a == u"--window") {
            pOptions->bWindow = true;
            // The size is optional: the next argument is it unless it is an option.
            if (i + 1 < args.size() &&
                (!LooksLikeOption(args[i + 1]) || sizeLike.match(args[i + 1]).hasMatch()) &&
                !ReadWindowSize(args[++i], &pOptions->windowSize, pError))
                return false;
        } else if (a == u"--input") {
            if (!takeValue(i, a, &pOptions->strInput))
                return false;
            const QFileInfo info(pOptions->strInput);
            if (!info.exists()) {
                *pError = QStringLiteral("--input: no such file: %1").arg(pOptions->strInput);
                return false;
            }
            if (!info.isFile()) {
                *pError = QStringLiteral("--input: not a regular file: %1").arg(pOptions->strInput);
                return false;
            }
        } else if (a == u"-root" || a == u"--root") {
            pOptions->bRoot = true;
        } else if (a == u"-window-id" || a == u"--window-id") {
            QString strValue;
            if (!takeValue(i, a, &strValue))
                return false;
            if (!ReadWindowId(strValue, &pOptions->nWindowId)) {
                *pError = QStringLiteral("%1: not a window id: '%2'").arg(a, strValue);
                return false;
            }
        } else if (a == u"--source") {
            QString strValue;
            if (!takeValue(i, a, &strValue))
                return false;
            if (strValue.isEmpty()) {
                *pError = QStringLiteral("--source: give monitor, default or a source's name");
                return false;
            }
            pOptions->bSource = true;
            pOptions->strSource = InputSourceFromOption(strValue);
        } else if (a == u"--list-sources") {
            pOptions->bListSources = true;
        } else if (a == u"--type") {
            QString strValue;
            if (!takeValue(i, a, &strValue))
                return false;
            if (!ReadCount(strValue, TYPE_MONO, TYPE_KEYBOARD, &pOptions->nType)) {
                *pError = QStringLiteral("--type: not a display type from %1 to %2: '%3'")
                              .arg(int(TYPE_MONO))
                              .arg(int(TYPE_KEYBOARD))
                              .arg(strValue);
                return false;
            }
        } else if (a == u"--bands") {
            QString strValue;
            if (!takeValue(i, a, &strValue))
                return false;
            if (!ReadCount(strValue, 1, MaxFdiv(TYPE_MONO), &pOptions->nBands)) {
                *pError = QStringLiteral("--bands: not a number of bands from 1 to %1: '%2'")
                              .arg(MaxFdiv(TYPE_MONO))
                              .arg(strValue);
                return false;
            }
        } else if (a == u"--demo") {
            pOptions->bDemo = true;
        } else if (a == u"--snapshot") {
            if (!takeValue(i, a, &pOptions->strSnapshot))
                return false;
        } else if (a == u"--after") {
            QString strValue;
            if (!takeValue(i, a, &strValue))
                return false;
            bool bOk = false;
            pOptions->dAfterSeconds = strValue.toDouble(&bOk);
            // NaN passes every comparison, so it is refused by name.
            if (!bOk || !std::isfinite(pOptions->dAfterSeconds) || pOptions->dAfterSeconds < 0 ||
                pOptions->dAfterSeconds > 86400) {
                *pError = QStringLiteral("--after: not a number of seconds from 0 to 86400: %1")
                              .arg(strValue);
                return false;
            }
            bAfterGiven = true;
        } else if (a.startsWith(u"--")) {
            *pError = QStringLiteral("unknown option %1 (see --help)").arg(a);
            return false;
        } else {
            rest << a;
        }
    }
    if (bAfterGiven && pOptions->strSnapshot.isEmpty()) {
        *pError = QStringLiteral("--after: goes with --snapshot");
        return false;
    }
    if (int(!pOptions->strInput.isEmpty()) + int(pOptions->bDemo) + int(pOptions->bSource) > 1) {
        *pError = QStringLiteral("--input, --demo and --source: choose one sound source");
        return false;
    }
    // Refused here, with the reason, rather than as a silent device error later.
    if (const QString strWhy =
            pOptions->strInput.isEmpty() ? QString() : CheckWavFile(pOptions->strInput);
        !strWhy.isEmpty()) {
        *pError = QStringLiteral("%1: not a playable WAV file: %2").arg(pOptions->strInput, strWhy);
        return false;
    }
    args = rest;
    return true;
}

bool CheckArgumentUse(const ExtraOptions &options, const QStringList &args,
                      const QString &strEnvWindow, QString *pError)
{
    const bool bOwnWindow = options.bWindow || options.bRoot || options.nWindowId != 0;
    const bool bHosted = ChooseHostWindow(options, args, strEnvWindow).bHosted;
    const RunMode eMode = bOwnWindow || bHosted ? RunMode::None : ChooseRunMode(args).eMode;
    // How many arguments the mode takes: the switch, and the preview's window
    // (a settings switch may come with its parent window as well).
    qsizetype nTaken = args.size();
    if (bOwnWindow)
        nTaken = 0;
    else if (eMode == RunMode::Saver)
        nTaken = 1;
    else if (eMode == RunMode::Preview || eMode == RunMode::Settings)
        nTaken = 2;
    if (args.size() > nTaken) {
        *pError = QStringLiteral("unexpected argument '%1' (see --help)").arg(args[nTaken]);
        return false;
    }
    const bool bShows =
        bOwnWindow || bHosted || eMode == RunMode::Saver || eMode == RunMode::Preview;
    if ((options.nType >= 0 || options.nBands > 0) && !bShows) {
        // The settings dialog saves what it holds: a value for one run stays out of it.
        *pError = QStringLiteral("--type and --bands go with a display mode (/s, /p, --window, "
                                 "--root or --window-id)");
        return false;
    }
    if (!options.strSnapshot.isEmpty() && !bShows) {
        *pError = QStringLiteral("--snapshot goes with a display mode (/s, /p, --window, -root "
                                 "or -window-id)");
        return false;
    }
    return true;
}

bool DisplayAvailable(const QString &strPlatform, const QString &strDisplay,
                      const QString &strWaylandDisplay)
{
    if (!strDisplay.isEmpty() || !strWaylandDisplay.isEmpty())
        return true;
    for (const QString &strEntry : strPlatform.split(u';', Qt::SkipEmptyParts)) {
        const QString strName = strEntry.section(u':', 0, 0).trimmed();
        if (!strName.isEmpty() && strName != u"xcb" && !strName.startsWith(u"wayland"))
            return true;
    }
    return false;
}

bool ReadWindowId(QStringView strText, quint64 *pId)
{
    int nBase = 10;
    if (strText.startsWith(u"0x") || strText.startsWith(u"0X")) {
        strText = strText.sliced(2);
        nBase = 16;
    }
    if (strText.isEmpty())
        return false;
    quint64 nValue = 0;
    for (const QChar ch : strText) {
        const char16_t c = ch.unicode();
        int nDigit = -1;
        if (c >= u'0' && c <= u'9')
            nDigit = c - u'0';
        else if (nBase == 16 && c >= u'a' && c <= u'f')
            nDigit = c - u'a' + 10;
        else if (nBase == 16 && c >= u'A' && c <= u'F')
            nDigit = c - u'A' + 10;
        if (nDigit < 0)
            return false;
        nValue = nValue * quint64(nBase) + quint64(nDigit);
        if (nValue > 0xFFFFFFFFu)
            return false; // X ids are 32-bit values
    }
    if (nValue == 0)
        return false;
    *pId = nValue;
    return true;
}

HostWindowChoice ChooseHostWindow(const ExtraOptions &options, const QStringList &args,
                                  const QString &strEnvWindow)
{
    HostWindowChoice choice;
    if (options.nWindowId != 0) {
        choice.bHosted = true;
        choice.nWindow = options.nWindowId;
        return choice;
    }
    quint64 nEnvWindow = 0;
    const bool bEnvWindow = ReadWindowId(strEnvWindow.trimmed(), &nEnvWindow);
    if (options.bRoot) {
        choice.bHosted = true;
        choice.nWindow = bEnvWindow ? nEnvWindow : 0;
    } else if (args.isEmpty() && bEnvWindow) {
        choice.bHosted = true;
        choice.nWindow = nEnvWindow;
    }
    return choice;
}

QString InputSourceFromOption(const QString &strValue)
{
    if (strValue == u"monitor")
        return {};
    if (strValue == u"default")
        return QString::fromLatin1(kInputDefaultSource);
    return strValue;
}

QString ChooseInputSource(const ExtraOptions &options, const QString &strStored)
{
    return options.bSource ? options.strSource : strStored;
}

QString ExtraOptionsHelp(const QString &strProgram)
{
    return QStringLiteral(
               "Usage: %1 [/s | /p <window id> | /c] [options]\n"
               "\n"
               "  /s                  full-screen screen saver\n"
               "  /p <window id>      live preview inside the host window\n"
               "  /c, or nothing      settings dialog\n"
               "\n"
               "For XScreenSaver (one dash works as well as two):\n"
               "  --root              draw into the window named by XSCREENSAVER_WINDOW\n"
               "                      (the root window without it)\n"
               "  --window-id ID      draw into window ID (decimal or 0x hex)\n"
               "  (no argument)       with XSCREENSAVER_WINDOW set: as --root\n"
               "\n"
               "Options:\n"
               "  --window [WxH]      the display in an ordinary window (default 800x300)\n"
               "  --input FILE.wav    play a WAV file in real time as the sound input\n"
               "  --demo              use the built-in music-like demo signal as the input\n"
               "  --source NAME       record NAME for this run: monitor (what is playing, the\n"
               "                      default), default (the default input) or a source's\n"
               "                      name from --list-sources\n"
               "  --list-sources      print the sound server's sources (name, tab,\n"
               "                      description) and exit\n"
               "  --snapshot FILE.png write the window's picture to FILE.png and exit\n"
               "  --after SECONDS     when to take the snapshot (default 2)\n"
               "  --type N            display type for this run, not saved: 0 mono,\n"
               "                      1 stereo, 2 stereo left/right, 3 stereo top/bottom,\n"
               "                      4 keyboard\n"
               "  --bands N           number of bands for this run, not saved: 1 to 80\n"
               "                      (at most 40 are shown with a stereo type)\n"
               "  --help              this text\n"
               "  --version           the program's version\n")
        .arg(strProgram);
}
