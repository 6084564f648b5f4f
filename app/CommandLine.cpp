#include "app/CommandLine.h"

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
    args = rest;
    return true;
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
               "Options:\n"
               "  --window [WxH]      the display in an ordinary window (default 800x300)\n"
               "  --input FILE.wav    play a WAV file in real time as the sound input\n"
               "  --demo              use the built-in music-like demo signal as the input\n"
               "  --snapshot FILE.png write the window's picture to FILE.png and exit\n"
               "  --after SECONDS     when to take the snapshot (default 2)\n"
               "  --help              this text\n")
        .arg(strProgram);
}
