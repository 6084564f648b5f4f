#include "app/CSpectrumApp.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    // The settings are stored under the program file's own base name, so a
    // renamed copy keeps settings of its own.
    QString strName = ProgramBaseName(argc > 0 ? QString::fromLocal8Bit(argv[0]) : QString());
    if (strName.isEmpty())
        strName = QStringLiteral("vexlor");
    QCoreApplication::setApplicationName(strName);

    // The program speaks Japanese whatever the locale; Qt's own choosers
    // (colour, font, file) and buttons should say the same. Without the
    // translation installed they stay in English.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTranslator);

    // QApplication has taken out the options that are its own (-platform, -display, ...).
    QStringList args = QCoreApplication::arguments().mid(1);
    ExtraOptions options;
    QString strError;
    if (!ParseExtraOptions(args, &options, &strError)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(strName), qPrintable(strError));
        return 2;
    }
    if (options.bHelp) {
        std::fputs(qPrintable(ExtraOptionsHelp(strName)), stdout);
        return 0;
    }
    CSpectrumApp theApp(args, strName, options);
    if (!theApp.InitInstance())
        return theApp.ExitCode();
    // A window runs: SIGTERM (XScreenSaver's way of ending a hack) and Ctrl+C
    // end the event loop, so the process exits cleanly with code 0.
    EndOnTerminationSignals();
    return QApplication::exec();
}
