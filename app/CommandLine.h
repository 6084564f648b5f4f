#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

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
};

// Takes the extra options out of args. False on bad use, with one line for
// the user in *pError ("--input: no such file: x.wav").
bool ParseExtraOptions(QStringList &args, ExtraOptions *pOptions, QString *pError);

// The text --help prints.
QString ExtraOptionsHelp(const QString &strProgram);
