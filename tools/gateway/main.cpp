#include "GatewayServer.h"
#include "Protocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>

#include <cstdio>

namespace {

void printToStderr(const QString &message)
{
    std::fprintf(stderr, "vesk-gateway: %s\n", qPrintable(message));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vesk-gateway"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local chat server for Vesk Chat."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("TCP port to listen on (default 6112)."),
                                        QStringLiteral("N"), QStringLiteral("6112"));
    const QCommandLineOption listenOption(QStringLiteral("listen"),
                                          QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                          QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption accountsOption(
            QStringLiteral("accounts"),
            QStringLiteral("File of name:password lines; only these accounts and the anonymous names may log in."),
            QStringLiteral("FILE"));
    parser.addOptions({portOption, listenOption, accountsOption});
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        printToStderr(QStringLiteral("invalid port \"%1\"").arg(parser.value(portOption)));
        return 2;
    }
    const QString listenValue = parser.value(listenOption);
    const QHostAddress address = listenValue == QLatin1String("localhost")
            ? QHostAddress(QHostAddress::LocalHost)
            : QHostAddress(listenValue);
    if (address.isNull()) {
        printToStderr(QStringLiteral("invalid listen address \"%1\"").arg(parser.value(listenOption)));
        return 2;
    }

    GatewayServer server;
    if (parser.isSet(accountsOption)) {
        const QString path = parser.value(accountsOption);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            printToStderr(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            return 2;
        }
        QString error;
        const auto accounts = Protocol::parseAccounts(file.readAll(), &error);
        if (!accounts) {
            printToStderr(QStringLiteral("%1: %2").arg(path, error));
            return 2;
        }
        server.setAccounts(*accounts);
    }

    QObject::connect(&server, &GatewayServer::logMessage, &server,
                     [](const QString &message) { printToStderr(message); });

    if (!server.listen(address, quint16(port))) {
        printToStderr(QStringLiteral("cannot listen on %1:%2: %3")
                           .arg(address.toString())
                           .arg(port)
                           .arg(server.errorString()));
        return 1;
    }
    printToStderr(QStringLiteral("listening on %1:%2").arg(address.toString()).arg(server.serverPort()));
    return app.exec();
}
