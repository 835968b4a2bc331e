// SPDX-License-Identifier: MIT
#include "Accounts.h"
#include "GatewayLimits.h"
#include "GatewayServer.h"
#include "Names.h"
#include "TlsServer.h"
#include "protocol/LineFramer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>

#include <cstdio>
#include <optional>
#include <vector>

namespace {

void printToStderr(const QString &message)
{
    std::fprintf(stderr, "vesk-gateway: %s\n", qPrintable(message));
}

// One numeric option: its name, what it means, and where its value goes.
struct LimitOption
{
    QCommandLineOption option;
    double minimum;
    std::function<void(double)> apply;
};

QCommandLineOption numberOption(const QString &name, const QString &meaning, const QString &unit,
                                double defaultValue)
{
    return QCommandLineOption(name, QStringLiteral("%1 (default %2).").arg(meaning).arg(defaultValue, 0, 'g', 12),
                              unit, QString::number(defaultValue, 'g', 12));
}

std::vector<LimitOption> limitOptions(GatewayLimits &limits)
{
    const QString count = QStringLiteral("N");
    const QString bytes = QStringLiteral("BYTES");
    const QString seconds = QStringLiteral("SECONDS");
    return {
        {numberOption(QStringLiteral("max-connections"),
                      QStringLiteral("Connections in total; the default is the open-file limit less %1")
                              .arg(kReservedFiles),
                      count, limits.maxConnections),
         1, [&limits](double v) { limits.maxConnections = int(v); }},
        {numberOption(QStringLiteral("max-per-address"), QStringLiteral("Connections per client address"),
                      count, limits.maxPerAddress),
         1, [&limits](double v) { limits.maxPerAddress = int(v); }},
        {numberOption(QStringLiteral("max-unfinished-per-address"),
                      QStringLiteral("Connections per client address that have not logged in yet"), count,
                      limits.maxUnfinishedPerAddress),
         1, [&limits](double v) { limits.maxUnfinishedPerAddress = int(v); }},
        {numberOption(QStringLiteral("login-timeout"),
                      QStringLiteral("Seconds a connection may take to log in"), seconds,
                      limits.loginTimeoutMs / 1000.0),
         0.001, [&limits](double v) { limits.loginTimeoutMs = int(v * 1000); }},
        {numberOption(QStringLiteral("line-rate"),
                      QStringLiteral("Lines per second a user may send in the long run; a faster "
                                     "user is no longer read until it is within the rate, 0 for no limit"),
                      count, limits.lineRate),
         0, [&limits](double v) { limits.lineRate = v; }},
        {numberOption(QStringLiteral("line-burst"),
                      QStringLiteral("Lines a user may send at once before the line rate applies"), count,
                      limits.lineBurst),
         1, [&limits](double v) { limits.lineBurst = int(v); }},
        {numberOption(QStringLiteral("max-queue"),
                      QStringLiteral("Unsent bytes per client; above it the client's channel waits for "
                                     "it (up to the queue hold), and after the queue grace the client "
                                     "is dropped"),
                      bytes, double(limits.maxQueueBytes)),
         1, [&limits](double v) { limits.maxQueueBytes = qint64(v); }},
        {numberOption(QStringLiteral("queue-hold"),
                      QStringLiteral("Seconds senders wait at most for a client above --max-queue"),
                      seconds, limits.queueHoldMs / 1000.0),
         0, [&limits](double v) { limits.queueHoldMs = int(v * 1000); }},
        {numberOption(QStringLiteral("queue-grace"),
                      QStringLiteral("Seconds a client's unsent output may stay above --max-queue"),
                      seconds, limits.queueGraceMs / 1000.0),
         0.001, [&limits](double v) { limits.queueGraceMs = int(v * 1000); }},
        {numberOption(QStringLiteral("total-queue"),
                      QStringLiteral("Unsent bytes of all clients together; above it the client "
                                     "furthest behind is dropped first"),
                      bytes, double(limits.totalQueueBytes)),
         1, [&limits](double v) { limits.totalQueueBytes = qint64(v); }},
        {numberOption(QStringLiteral("max-bans"),
                      QStringLiteral("Bans per channel, forgotten when the channel empties"), count,
                      limits.maxBansPerChannel),
         0, [&limits](double v) { limits.maxBansPerChannel = int(v); }},
    };
}

// Loads the accounts file into the server; false after saying why.
bool loadAccounts(const QString &path, GatewayServer &server)
{
    QString error;
    std::optional<Accounts> accounts = Accounts::load(path, &error, Names::nameProblem);
    if (!accounts) {
        printToStderr(error);
        return false;
    }
    for (const QByteArray &name : accounts->plainNames())
        printToStderr(Accounts::plainWarning(name));
    server.setAccounts(std::move(*accounts));
    return true;
}

// The TLS options, checked before anything listens.
struct TlsOptions
{
    QCommandLineOption port{QStringLiteral("tls-port"),
                            QStringLiteral("TCP port for TLS connections (default 6113); only with --tls-cert and "
                                           "--tls-key."),
                            QStringLiteral("N"), QStringLiteral("6113")};
    QCommandLineOption cert{QStringLiteral("tls-cert"),
                            QStringLiteral("PEM certificate (chain) for the TLS port; without it there is no TLS port."),
                            QStringLiteral("FILE")};
    QCommandLineOption key{QStringLiteral("tls-key"),
                           QStringLiteral("PEM private key of --tls-cert, without a passphrase."),
                           QStringLiteral("FILE")};
};

// Loads the certificate and key for the TLS port, if there is one. The exit
// code on failure, or 0.
int loadTls(const QCommandLineParser &parser, const TlsOptions &options,
            std::unique_ptr<TlsServerContext> *context, quint16 *tlsPort)
{
    if (!parser.isSet(options.cert) && !parser.isSet(options.key))
        return 0;
    if (!parser.isSet(options.cert) || !parser.isSet(options.key)) {
        printToStderr(QStringLiteral("--tls-cert and --tls-key go together"));
        return 2;
    }
    bool portOk = false;
    const uint port = parser.value(options.port).toUInt(&portOk);
    if (!portOk || port > 65535) {
        printToStderr(QStringLiteral("invalid TLS port \"%1\"").arg(parser.value(options.port)));
        return 2;
    }
    QString error;
    *context = TlsServerContext::load(parser.value(options.cert), parser.value(options.key), &error);
    if (!*context) {
        printToStderr(error);
        return 1;
    }
    *tlsPort = quint16(port);
    return 0;
}

bool listenTls(const QHostAddress &address, quint16 port, std::unique_ptr<TlsServerContext> context,
               GatewayServer &server)
{
    if (!server.listenTls(address, port, std::move(context))) {
        printToStderr(QStringLiteral("cannot listen for TLS on %1:%2: %3")
                              .arg(address.toString())
                              .arg(port)
                              .arg(server.tlsErrorString()));
        return false;
    }
    printToStderr(QStringLiteral("listening for TLS on %1:%2").arg(address.toString()).arg(server.tlsPort()));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vesk-gateway"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VESK_GATEWAY_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Local chat server for Vesk Chat. Lines are at most %1 bytes; user and channel names "
            "at most %2 bytes; user names are printable ASCII without spaces or double quotes.")
                                             .arg(LineFramer::kMaxLineBytes)
                                             .arg(Names::kMaxNameLength));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("TCP port to listen on (default 6112)."),
                                        QStringLiteral("N"), QStringLiteral("6112"));
    const QCommandLineOption listenOption(QStringLiteral("listen"),
                                          QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                          QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption accountsOption(
            QStringLiteral("accounts"),
            QStringLiteral("File of name:hash lines (from --hash-password; old name:password lines still work); "
                           "only these accounts and the anonymous names may log in."),
            QStringLiteral("FILE"));
    const QCommandLineOption hashOption(
            QStringLiteral("hash-password"),
            QStringLiteral("Read a password from standard input, print the accounts file line for NAME with its "
                           "argon2id hash, and exit."),
            QStringLiteral("NAME"));
    const TlsOptions tlsOptions;
    const QCommandLineOption clusterOption(
            QStringLiteral("cluster"),
            QStringLiteral("Join the chat network of these NATS servers (nats://HOST:PORT, several separated by "
                           "commas; JetStream enabled): users of all its gateways share channels and names. "
                           "Needs --node."),
            QStringLiteral("URLS"));
    const QCommandLineOption nodeOption(
            QStringLiteral("node"),
            QStringLiteral("This gateway's name in the chat network, unique there: 1 to 64 letters, digits, "
                           "'-' or '_'."),
            QStringLiteral("NAME"));
    // For fault tests: a small queue makes this gateway fall behind the network at once.
    QCommandLineOption clusterQueueOption(QStringLiteral("cluster-queue"),
                                          QStringLiteral("Messages from the network waiting to be handled, at most."),
                                          QStringLiteral("COUNT"), QStringLiteral("50000"));
    clusterQueueOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({portOption, listenOption, accountsOption, hashOption, tlsOptions.port, tlsOptions.cert,
                       tlsOptions.key, clusterOption, nodeOption, clusterQueueOption});
    GatewayLimits limits;
    const std::vector<LimitOption> limitsOptions = limitOptions(limits);
    for (const LimitOption &limit : limitsOptions)
        parser.addOption(limit.option);
    parser.process(app);
    if (parser.isSet(hashOption))
        return printHashedPasswordLine(parser.value(hashOption).toUtf8(), Names::nameProblem);

    for (const LimitOption &limit : limitsOptions) {
        bool ok = false;
        const QString text = parser.value(limit.option);
        const double value = text.toDouble(&ok);
        if (!ok || value < limit.minimum || value > 1e15) {
            printToStderr(QStringLiteral("invalid --%1 \"%2\"").arg(limit.option.names().first(), text));
            return 2;
        }
        limit.apply(value);
    }

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

    std::unique_ptr<TlsServerContext> tlsContext;
    quint16 tlsPort = 0;
    if (const int failed = loadTls(parser, tlsOptions, &tlsContext, &tlsPort); failed != 0)
        return failed;

    GatewayServer server(limits);
    if (parser.isSet(accountsOption) && !loadAccounts(parser.value(accountsOption), server))
        return 2;

    QObject::connect(&server, &GatewayServer::logMessage, &server,
                     [](const QString &message) { printToStderr(message); });

    if (parser.isSet(clusterOption) != parser.isSet(nodeOption)) {
        printToStderr(QStringLiteral("--cluster and --node go together"));
        return 2;
    }
    if (parser.isSet(clusterOption)) {
        const QStringList urls = parser.value(clusterOption).split(u',', Qt::SkipEmptyParts);
        for (const QString &url : urls) {
            if (!url.startsWith(QLatin1String("nats://")) || url.size() <= 7) {
                printToStderr(QStringLiteral("invalid --cluster URL \"%1\" (nats://HOST:PORT)").arg(url));
                return 2;
            }
        }
        bool queueOk = false;
        const int queue = parser.value(clusterQueueOption).toInt(&queueOk);
        if (!queueOk || queue < 1) {
            printToStderr(QStringLiteral("invalid --cluster-queue \"%1\"").arg(parser.value(clusterQueueOption)));
            return 2;
        }
        const QString problem = server.joinCluster(urls, parser.value(nodeOption).toUtf8(), 15000, queue);
        if (!problem.isEmpty()) {
            printToStderr(QStringLiteral("cannot join the cluster: %1").arg(problem));
            return 2;
        }
    }

    if (!server.listen(address, quint16(port))) {
        printToStderr(QStringLiteral("cannot listen on %1:%2: %3")
                           .arg(address.toString())
                           .arg(port)
                           .arg(server.errorString()));
        return 1;
    }
    printToStderr(QStringLiteral("listening on %1:%2").arg(address.toString()).arg(server.serverPort()));
    if (!tlsContext) {
        printToStderr(QStringLiteral("no TLS port: start with --tls-cert FILE and --tls-key FILE to accept TLS "
                                     "connections"));
    } else if (!listenTls(address, tlsPort, std::move(tlsContext), server)) {
        return 1;
    }
    return app.exec();
}
