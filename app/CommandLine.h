#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QtGlobal>

// Options beyond the screen-saver host's switches, for people and for tests.
// They are taken out of the arguments before the switches are looked at, so
// /s, /p, /c and the rest keep their meaning (and their silence). All of this
// is read before Qt's application object exists, so that --help, --version
// and bad use need no display.
struct ExtraOptions
{
    bool bHelp = false;
    bool bVersion = false; // --version: "vexlor" and the version number
    QString strPlatform;   // -platform NAME, one of Qt's own options
    bool bWindow = false;  // --window [WxH]: an ordinary top-level window
    QSize windowSize{800, 300};
    QString strInput;           // --input FILE.wav: the WAV file instead of the sound server
    bool bDemo = false;         // --demo: the built-in music-like signal
    QString strSnapshot;        // --snapshot FILE.png: write the picture and exit
    double dAfterSeconds = 2.0; // --after SECONDS: when to take the snapshot
    // For one run, never saved: what XScreenSaver's Settings... offer.
    int nType = -1; // --type N: the display type (Type, 0..4); -1 keeps the stored one
    int nBands = 0; // --bands N: the number of bands (Fdiv, 1..80); 0 keeps the stored one
    // XScreenSaver's conventions: two dashes, as its installed descriptions
    // spell them; one dash, as its older hacks take them, works too.
    bool bRoot = false;    // --root: draw into XScreenSaver's window, else the root window
    quint64 nWindowId = 0; // --window-id ID: draw into that window (decimal or 0x hex)
    // --source NAME: what the sound server input records for this run, in
    // InputSource's own form (see InputSourceFromOption).
    bool bSource = false;
    QString strSource;
    bool bListSources = false; // --list-sources: print the server's sources and exit
};

// --source's value as the InputSource setting holds it: "monitor" is what is
// playing (empty), "default" the default input (kInputDefaultSource), any
// other text the name of a source.
QString InputSourceFromOption(const QString &strValue);
// What the sound input records: --source when given, else the stored InputSource.
QString ChooseInputSource(const ExtraOptions &options, const QString &strStored);

// The largest --window: a side of 16384 pixels, and a picture of 256 MiB
// (4 bytes a pixel) behind it.
inline constexpr int kMaxWindowSide = 16384;
inline constexpr qint64 kMaxWindowPixels = 256LL * 1024 * 1024 / 4;

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

// Takes the extra options out of args, and Qt's own options too (-platform,
// -display, -style=..., which QApplication reads from the raw arguments).
// False on bad use, with one line for the user in *pError ("--input: no such
// file: x.wav").
bool ParseExtraOptions(QStringList &args, ExtraOptions *pOptions, QString *pError);

// Whether what ParseExtraOptions left in args goes with the options: the
// host's switch with its window id at most (no argument at all with -root,
// -window-id or --window), and --snapshot only with a mode that shows the
// display. An unrecognised switch is not judged: it ends the process
// silently. strEnvWindow: XSCREENSAVER_WINDOW. False with one line in *pError.
bool CheckArgumentUse(const ExtraOptions &options, const QStringList &args,
                      const QString &strEnvWindow, QString *pError);

// Whether Qt can show anything: strPlatform is -platform or QT_QPA_PLATFORM
// (a list separated by ';' tries each in turn); xcb and wayland, the default
// included, need a display server named by DISPLAY or WAYLAND_DISPLAY, the
// others (offscreen, minimal, ...) draw without one.
bool DisplayAvailable(const QString &strPlatform, const QString &strDisplay,
                      const QString &strWaylandDisplay);
// The text --help prints.
QString ExtraOptionsHelp(const QString &strProgram);
