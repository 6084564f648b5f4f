#pragma once

#include "app/CommandLine.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QtGlobal>

#include <memory>

class IProfileStore;
class CSpectrumWnd;
class CSaverSet;

// The first level under the per-user software key where the settings live.
inline constexpr char kRegistryCompanyKey[] = "tanuwel";

// The run modes the screen-saver host asks for on the command line.
enum class RunMode
{
    None,     // unrecognised command line: end at once, showing nothing
    Settings, // no argument, or /c: the modal settings dialog
    Preview,  // /p <window>: the live preview inside the host's window
    Saver,    // /s: the full-screen screen saver
};

struct RunChoice
{
    RunMode eMode = RunMode::None;
    // Preview only: the host window as read from the second argument; 0 when
    // that argument is missing or holds no digits.
    qint64 nHostWindow = 0;
};

// True when the argument names the switch word: after skipping one leading -
// or /, the rest equals the word exactly, ASCII A-Z folded to lower case on
// both sides and nothing else folded. An empty rest never matches.
bool MatchSwitch(QStringView strArg, QStringView strWord);

// Reads an argument as C's atol does: leading white space, an optional sign,
// then decimal digits up to the first non-digit; no digits gives 0. Values
// beyond the 64-bit range saturate.
qint64 ReadHandleArgument(QStringView strArg);

// The run mode for the arguments that follow the program name. Looks at the
// first argument only, plus the second one for the preview's window.
RunChoice ChooseRunMode(const QStringList &args);

// Whether the command line shows the spectrum (a window of its own, a view
// inside a host's or XScreenSaver's window, the preview or the saver) rather
// than the settings dialog or nothing. args and strEnvWindow as for
// ChooseHostWindow.
bool ShowsSpectrum(const ExtraOptions &options, const QStringList &args,
                   const QString &strEnvWindow);

// The program file's base name without folder and (last) extension: the
// application name under which the settings are stored.
QString ProgramBaseName(const QString &strProgramPath);

// Makes SIGTERM and SIGINT end the event loop with exit code 0 (XScreenSaver
// ends its hacks with SIGTERM). The handler only writes to a pipe, which the
// event loop watches; a second signal ends the process at once, as the loop
// may be stuck. Call once, on the user-interface thread, after the
// QCoreApplication exists. False when the pipe cannot be made.
bool EndOnTerminationSignals();
// The handler's half of that, without the event loop: the first SIGTERM or
// SIGINT writes one byte to nWriteFd, the second one ends the process with
// _exit(128 + the signal number).
void CatchTerminationSignals(int nWriteFd);

// The application object: fixes where the settings live, reads them, and
// starts the run mode the command line asks for. Runs on the user-interface
// thread before the event loop starts.
class CSpectrumApp
{
public:
    // args: the command-line arguments after the program name.
    // strProfileName: the application name the settings are stored under.
    CSpectrumApp(QStringList args, QString strProfileName, ExtraOptions options = {});
    virtual ~CSpectrumApp();
    CSpectrumApp(const CSpectrumApp &) = delete;
    CSpectrumApp &operator=(const CSpectrumApp &) = delete;

    // Start-up. True when a window of the run mode now runs and the event loop
    // should be entered; false when the process should end (settings mode
    // after its dialog, an unrecognised command line, a mode that could not
    // start).
    bool InitInstance();
    // The process's exit code when InitInstance returned false: 0, or 1 when
    // a mode could not start or the settings dialog's values could not be
    // saved (a message says why).
    int ExitCode() const { return m_nExitCode; }

    // The settings-dialog run mode: the dialog runs modally and the settings
    // are saved only when it ends with its close button (OK).
    virtual void RunSettingsDialog();

protected:
    // The store the settings are read from and saved to: the per-user store of
    // kRegistryCompanyKey and the profile name.
    virtual std::unique_ptr<IProfileStore> CreateProfileStore() const;
    // Shows the preview inside the host window nHostWindow (> 0); true when it runs.
    virtual bool StartPreview(qint64 nHostWindow);
    // Shows the full-screen screen saver; true when it runs.
    virtual bool StartSaver();
    // The display in an ordinary top-level window (--window); true when it runs.
    virtual bool StartWindow();
    // The saver's display inside a window that XScreenSaver hosts (nHostWindow
    // > 0, the root window included), ended by the host: by SIGTERM or by the
    // window going away. True when it runs.
    virtual bool StartHostedSaver(quint64 nHostWindow);

private:
    // Chooses where every capture device of the process records from;
    // bDisplay: the run mode shows the display (not the settings dialog).
    void InstallSoundSource(bool bDisplay);
    // --type and --bands over the loaded settings, for the display modes.
    void ApplyOneRunSettings();
    // With --snapshot: writes the window's picture after the delay and ends.
    void ArmSnapshot(CSpectrumWnd *pWnd);
    // A mode that cannot start: one line on stderr, and exit code 1.
    void Fail(const QString &strWhy);

    QStringList m_args;
    QString m_strProfileName;
    ExtraOptions m_options;
    int m_nExitCode = 0;
    // The saver's windows, one per screen or per monitor of a host's window,
    // and the engine they share; lives until the event loop has ended.
    std::unique_ptr<CSaverSet> m_pSaverSet;
};
