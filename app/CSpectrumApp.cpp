#include "app/CSpectrumApp.h"

#include "app/Settings.h"
#include "platform/ProfileStore.h"

#include <QFileInfo>

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

} // namespace

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

QString ProgramBaseName(const QString &strProgramPath)
{
    return QFileInfo(strProgramPath).completeBaseName();
}

CSpectrumApp::CSpectrumApp(QStringList args, QString strProfileName)
    : m_args(std::move(args)), m_strProfileName(std::move(strProfileName))
{
    g_bSettingsChanged = 0;
}

bool CSpectrumApp::InitInstance()
{
    // The three-dimensional look of dialog controls that start-up would enable
    // first is a Windows 3.x matter with no Qt counterpart; nothing depends on it.

    // Every setting is a per-user value under the company key from here on.
    SetProfileStore(CreateProfileStore());

    // The colour page's three cursors (hover, pressed, off) are not loaded
    // here: the program has no cursor resources yet, and the colour page that
    // alone uses them will load them at this point when it arrives.

    // Settings are read once, in every mode, an unrecognised command line included.
    LoadSettings();

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
        if (choice.nHostWindow <= 0)
            return false;
        return StartPreview(choice.nHostWindow);
    case RunMode::Saver:
        return StartSaver();
    case RunMode::None:
        break;
    }
    return false;
}

void CSpectrumApp::RunSettingsDialog()
{
    // The settings dialog is not part of the program yet. When it is, it runs
    // here modally without a parent, and SaveSettings is called only when it
    // ends with its close button; any other ending saves nothing. Until then
    // this mode shows nothing and, having nothing confirmed, saves nothing.
}

std::unique_ptr<IProfileStore> CSpectrumApp::CreateProfileStore() const
{
    return std::make_unique<QSettingsProfileStore>(QString::fromLatin1(kRegistryCompanyKey),
                                                   m_strProfileName);
}

bool CSpectrumApp::StartPreview(qint64 nHostWindow)
{
    // The spectrum window is not part of the program yet, so there is nothing
    // to show inside the host window: the mode ends here, as it does when the
    // window cannot be created.
    Q_UNUSED(nHostWindow);
    return false;
}

bool CSpectrumApp::StartSaver()
{
    // The screen-saver window is not part of the program yet: the mode ends
    // here, as it does when the window cannot be created.
    return false;
}
