#include "app/CSpectrumApp.h"
#include "audio/input/PulseSourceList.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

int main(int argc, char *argv[])
{
    // The settings are stored under the program file's own base name, so a
    // renamed copy keeps settings of its own.
    QString strName = ProgramBaseName(argc > 0 ? QString::fromLocal8Bit(argv[0]) : QString());
    if (strName.isEmpty())
        strName = QStringLiteral("vexlor");

    // The command line is read before QApplication exists: making one without
    // a display ends the process, and help, the version and bad use need none.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    ExtraOptions options;
    QString strError;
    const QString strEnvWindow = qEnvironmentVariable("XSCREENSAVER_WINDOW");
    if (!ParseExtraOptions(args, &options, &strError) ||
        (!options.bHelp && !options.bVersion && !options.bListSources &&
         !CheckArgumentUse(options, args, strEnvWindow, &strError))) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(strName), qPrintable(strError));
        return 2;
    }
    if (options.bHelp) {
        std::fputs(qPrintable(ExtraOptionsHelp(strName)), stdout);
        return 0;
    }
    if (options.bVersion) {
        std::puts("vexlor " VEXLOR_VERSION);
        return 0;
    }
    if (options.bListSources) {
        // No display needed: one line per source, its name, a tab, its description.
        PulseSourceList sources;
        if (!sources.Start() || !sources.Wait()) {
            std::fprintf(stderr, "%s: --list-sources: no sound server answered (%s)\n",
                         qPrintable(strName), sources.Error().c_str());
            return 1;
        }
        for (const PulseSourceInfo &source : sources.Sources())
            std::printf("%s\t%s\n", source.strName.c_str(), source.strDescription.c_str());
        return 0;
    }
    const bool bSpectrum = ShowsSpectrum(options, args, strEnvWindow);
    const bool bShows = bSpectrum || ChooseRunMode(args).eMode == RunMode::Settings;
    const QString strPlatform = options.strPlatform.isEmpty()
                                    ? qEnvironmentVariable("QT_QPA_PLATFORM")
                                    : options.strPlatform;
    if (!DisplayAvailable(strPlatform, qEnvironmentVariable("DISPLAY"),
                          qEnvironmentVariable("WAYLAND_DISPLAY"))) {
        // An unrecognised switch ends silently, display or not.
        if (!bShows)
            return 0;
        std::fprintf(stderr, "%s: no display (DISPLAY or WAYLAND_DISPLAY is unset)\n",
                     qPrintable(strName));
        return 1;
    }

    // Showing the spectrum, the program wakes twenty times a second for a
    // frame and for nothing else, and Qt's own event loop costs less a wake-up
    // than GLib's. The settings dialog keeps GLib's, which the desktop's own
    // choosers may need. A QT_NO_GLIB of the user's own stays as it is.
    if (bSpectrum && !qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(strName);
    // SIGTERM (XScreenSaver's way of ending a hack) and Ctrl+C end the event
    // loop, so the process exits cleanly with code 0; a second one ends it at
    // once. From here on, so that a mode stuck before its loop runs ends too.
    EndOnTerminationSignals();

    // The program speaks Japanese whatever the locale; Qt's own choosers
    // (colour, font, file) and buttons should say the same. Without the
    // translation installed they stay in English.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTranslator);

    CSpectrumApp theApp(args, strName, options);
    if (!theApp.InitInstance())
        return theApp.ExitCode();
    return QApplication::exec();
}
