// SPDX-License-Identifier: MIT
#include "settings/ListFile.h"
#include "ui/TorvalMod1.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

namespace {

constexpr char kDescription[] =
        "Desktop chat client for the text gateway of a chat network (TCP port 6112).";

QStringList argumentList(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// One "name: path" line per list file, the path it would be read from; exit
// status 1 when one of them is missing. For checking an installation.
int printListFiles()
{
    int status = 0;
    for (const char *name : {"Servers.txt", "Channels.txt"}) {
        const QString path = listFilePath(QLatin1String(name));
        std::printf("%s: %s\n", name, qPrintable(path));
        if (!FileExistsWithOpen(path))
            status = 1;
    }
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("vesk-chat"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VESK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(kDescription));
    // Single-dash words are Qt's own options (-platform, -reverse); read as
    // bundles of letters they would contain -h or -v.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    QCommandLineOption listFilesOption(QStringLiteral("list-files"),
                                       QStringLiteral("Print where each list file is read from."));
    listFilesOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(listFilesOption);

    // These answers need no window, so they are given before the GUI
    // application exists: without a display, creating it aborts the program.
    // Errors wait for process() below, once Qt has taken its own options out.
    parser.parse(argumentList(argc, argv));
    if (parser.isSet(helpOption) || parser.isSet(versionOption) || parser.isSet(listFilesOption)) {
        QCoreApplication console(argc, argv);
        if (parser.isSet(listFilesOption))
            return printListFiles();
        if (parser.isSet(versionOption))
            parser.showVersion();
        parser.showHelp(0);
    }

    QApplication app(argc, argv);
    // Ties the windows to the desktop entry (its icon and name) under Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("chat.vesk.VeskChat"));
    parser.process(app);
    TorvalMod1::Main();
    return app.exec();
}
