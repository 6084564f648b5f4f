#include "app/CommandLine.h"

#include "audio/input/WavFileWaveInDriver.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

bool LooksLikeOption(const QString &s)
{
    return s.startsWith(u'-') || s.startsWith(u'/');
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

    bool bAfterGiven = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == u"--help" || a == u"-h") {
            pOptions->bHelp = true;
        } else if (a == u"--window") {
            pOptions->bWindow = true;
            // The size is optional: the next argument is it unless it is an option.
            if (i + 1 < args.size() && !LooksLikeOption(args[i + 1])) {
                static const QRegularExpression size(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
                const QRegularExpressionMatch m = size.match(args[++i]);
                const int w = m.hasMatch() ? m.captured(1).toInt() : 0;
                const int h = m.hasMatch() ? m.captured(2).toInt() : 0;
                if (w < 1 || h < 1) {
                    *pError = QStringLiteral("--window: size must be WIDTHxHEIGHT, such as "
                                             "800x300, not '%1'")
                                  .arg(args[i]);
                    return false;
                }
                pOptions->windowSize = QSize(w, h);
            }
        } else if (a == u"--input") {
            if (!takeValue(i, a, &pOptions->strInput))
                return false;
            if (!QFileInfo(pOptions->strInput).isFile()) {
                *pError = QStringLiteral("--input: no such file: %1").arg(pOptions->strInput);
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
            if (!bOk || pOptions->dAfterSeconds < 0 || pOptions->dAfterSeconds > 86400) {
                *pError = QStringLiteral("--after: not a number of seconds: %1").arg(strValue);
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
    if (!pOptions->strInput.isEmpty() && pOptions->bDemo) {
        *pError = QStringLiteral("--input and --demo: choose one sound source");
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

QString ExtraOptionsHelp(const QString &strProgram)
{
    return QStringLiteral(
               "Usage: %1 [/s | /p <window id> | /c] [options]\n"
               "\n"
               "  /s                  full-screen screen saver\n"
               "  /p <window id>      live preview inside the host window\n"
               "  /c, or nothing      settings dialog\n"
               "\n"
               "For XScreenSaver:\n"
               "  -root               draw into the window named by XSCREENSAVER_WINDOW\n"
               "                      (the root window without it)\n"
               "  -window-id ID       draw into window ID (decimal or 0x hex)\n"
               "  (no argument)       with XSCREENSAVER_WINDOW set: as -root\n"
               "\n"
               "Options:\n"
               "  --window [WxH]      the display in an ordinary window (default 800x300)\n"
               "  --input FILE.wav    play a WAV file in real time as the sound input\n"
               "  --demo              use the built-in music-like demo signal as the input\n"
               "  --snapshot FILE.png write the window's picture to FILE.png and exit\n"
               "  --after SECONDS     when to take the snapshot (default 2)\n"
               "  --help              this text\n")
        .arg(strProgram);
}
