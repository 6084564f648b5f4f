#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QtGlobal>

// Options beyond the screen-saver host's switches, for people and for tests.
// They are taken out of the arguments before the switches are looked at, so
// /s, /p, /c and the rest keep their meaning (and their silence).
struct ExtraOptions
{
    bool bHelp = false;
    bool bWindow = false;     // --window [WxH]: an ordinary top-level window
    QSize windowSize{800, 300};
    QString strInput;         // --input FILE.wav: the WAV file instead of the sound server
    bool bDemo = false;       // --demo: the built-in music-like signal
    QString strSnapshot;      // --snapshot FILE.png: write the picture and exit
    double dAfterSeconds = 2.0; // --after SECONDS: when to take the snapshot
    // XScreenSaver's conventions (one dash, as its hacks take them; two work too).
    bool bRoot = false;    // -root: draw into XScreenSaver's window, else the root window
    quint64 nWindowId = 0; // -window-id ID: draw into that window (decimal or 0x hex)
};

// Reads an X window id as XScreenSaver writes one: decimal digits, or 0x and
// hexadecimal digits, nothing else. False for 0 and for values beyond 32 bits.
bool ReadWindowId(QStringView strText, quint64 *pId);

// The window that the saver is to draw into for XScreenSaver, if any.
struct HostWindowChoice
{
    bool bHosted = false;
    quint64 nWindow = 0; // 0 with bHosted: the root window of the default screen
};

// -window-id wins; then -root takes the window that XScreenSaver names in
// XSCREENSAVER_WINDOW (strEnvWindow), or the root window when the variable is
// missing or holds no window id; then, with no other argument at all (args:
// what is left after ParseExtraOptions), a window id in XSCREENSAVER_WINDOW
// means XScreenSaver started the program, which draws into that window rather
// than opening the settings dialog. Otherwise the host's switches decide.
HostWindowChoice ChooseHostWindow(const ExtraOptions &options, const QStringList &args,
                                  const QString &strEnvWindow);

// Takes the extra options out of args. False on bad use, with one line for
// the user in *pError ("--input: no such file: x.wav").
bool ParseExtraOptions(QStringList &args, ExtraOptions *pOptions, QString *pError);

// The text --help prints.
QString ExtraOptionsHelp(const QString &strProgram);
