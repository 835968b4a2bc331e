// SPDX-License-Identifier: MIT
#include "session/ProxySetting.h"
#include "support/SocksProxy.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {
// A SOCKS5 peer that accepts no authentication, records the connect
// request and answers success, so a test can see what the client asked for.
class RecordingSocks : public QObject
{
public:
    RecordingSocks()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *peer = server.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, this, [this, peer] {
                received += peer->readAll();
                if (received.size() == 3 && !greeted) {
                    greeted = true;
                    peer->write(QByteArray("\x05\x00", 2));
                } else if (greeted && received.size() > 3 && !answered) {
                    answered = true;
                    peer->write(QByteArray("\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x50", 10));
                }
            });
        });
    }
    QTcpServer server;
    QByteArray received;
    bool greeted = false;
    bool answered = false;
};
} // namespace

class tst_proxysetting : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("error"); // a part of the error, or empty
        const int none = int(ProxySetting::Kind::None), sys = int(ProxySetting::Kind::System),
                  socks = int(ProxySetting::Kind::Socks5);
        QTest::newRow("empty") << "" << none << "" << 0 << "" << "" << "";
        QTest::newRow("blanks") << "  " << none << "" << 0 << "" << "" << "";
        QTest::newRow("system") << "system" << sys << "" << 0 << "" << "" << "";
        QTest::newRow("System, blanks") << " System " << sys << "" << 0 << "" << "" << "";
        QTest::newRow("socks5") << "socks5://127.0.0.1:9050" << socks << "127.0.0.1" << 9050 << "" << "" << "";
        QTest::newRow("socks5h") << "socks5h://proxy.example.net:1080" << socks << "proxy.example.net" << 1080
                                 << "" << "" << "";
        QTest::newRow("user and password") << "socks5://al%40ice:p%3Ass@h:1" << socks << "h" << 1 << "al@ice"
                                           << "p:ss" << "";
        QTest::newRow("ipv6") << "socks5://[::1]:1080" << socks << "::1" << 1080 << "" << "" << "";
        QTest::newRow("trailing slash") << "socks5://h:1080/" << socks << "h" << 1080 << "" << "" << "";
        QTest::newRow("no port") << "socks5://h" << none << "" << 0 << "" << "" << "port is missing";
        QTest::newRow("port zero") << "socks5://h:0" << none << "" << 0 << "" << "" << "port is missing";
        QTest::newRow("port too big") << "socks5://h:70000" << none << "" << 0 << "" << "" << "SOCKS5";
        QTest::newRow("no host") << "socks5://:1080" << none << "" << 0 << "" << "" << "host is missing";
        QTest::newRow("http") << "http://h:8080" << none << "" << 0 << "" << "" << "only SOCKS5";
        QTest::newRow("socks4") << "socks4://h:1080" << none << "" << 0 << "" << "" << "only SOCKS5";
        QTest::newRow("bare host") << "h:1080" << none << "" << 0 << "" << "" << "only SOCKS5";
        QTest::newRow("path") << "socks5://h:1080/x" << none << "" << 0 << "" << "" << "no path";
        QTest::newRow("words") << "use the proxy" << none << "" << 0 << "" << "" << "only SOCKS5";
    }
    void parse()
    {
        QFETCH(QString, setting);
        QFETCH(int, kind);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, error);
        const ProxySetting parsed = parseProxySetting(setting);
        QVERIFY2(parsed.error.contains(error) && parsed.isValid() == error.isEmpty(), qPrintable(parsed.error));
        QCOMPARE(int(parsed.kind), kind);
        QCOMPARE(parsed.host, host);
        QCOMPARE(int(parsed.port), port);
        QCOMPARE(parsed.user, user);
        QCOMPARE(parsed.password, password);
    }

    void errorNeverShowsThePassword()
    {
        const ProxySetting parsed = parseProxySetting(QStringLiteral("socks5://bob:hunter2@h"));
        QVERIFY(!parsed.isValid());
        QVERIFY(!parsed.error.contains(QLatin1String("hunter2")));
    }

    void errorTexts_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        using E = QAbstractSocket::SocketError;
        QTest::newRow("proxy refused") << int(E::ProxyConnectionRefusedError)
                                       << "Could not reach the proxy 10.0.0.1:1080: connection refused.";
        QTest::newRow("proxy auth") << int(E::ProxyAuthenticationRequiredError)
                                    << "The proxy 10.0.0.1:1080 refused the user name or password.";
        QTest::newRow("server refused") << int(E::ConnectionRefusedError)
                                        << "The proxy 10.0.0.1:1080 could not connect to [::1]:6667: connection refused.";
        QTest::newRow("server unknown") << int(E::HostNotFoundError)
                                        << "The proxy 10.0.0.1:1080 could not find the server [::1]:6667.";
        QTest::newRow("after the connection") << int(E::RemoteHostClosedError) << "";
    }
    void errorTexts()
    {
        QFETCH(int, error);
        QFETCH(QString, text);
        const QNetworkProxy proxy(QNetworkProxy::Socks5Proxy, QStringLiteral("10.0.0.1"), 1080);
        QCOMPARE(proxyErrorText(proxy, QAbstractSocket::SocketError(error), QStringLiteral("::1"), 6667), text);
        QCOMPARE(proxyErrorText(QNetworkProxy(QNetworkProxy::NoProxy), QAbstractSocket::SocketError(error),
                                QStringLiteral("::1"), 6667),
                 QString());
    }

    void nameResolvedAtTheProxy()
    {
        RecordingSocks socks;
        QTcpSocket socket;
        socket.setProxy(proxyForConnection(
            parseProxySetting(QStringLiteral("socks5://127.0.0.1:%1").arg(socks.server.serverPort())),
            QStringLiteral("chat.invalid"), 6667));
        QSignalSpy connected(&socket, &QAbstractSocket::connected);
        socket.connectToHost(QStringLiteral("chat.invalid"), 6667);
        QVERIFY2(connected.wait(5000), qPrintable(socket.errorString())); // the peer answers from this thread
        // CONNECT, address type 3 (a host name), the name, port 6667.
        QCOMPARE(socks.received.mid(3), QByteArray("\x05\x01\x00\x03\x0c" "chat.invalid\x1a\x0b", 19));
    }

    void throughMicrosocks_data()
    {
        QTest::addColumn<QStringList>("proxyArguments");
        QTest::addColumn<QString>("credentials");
        QTest::addColumn<bool>("targetListens");
        QTest::addColumn<QString>("error"); // the expected text with PROXY and TARGET, or empty to connect
        QTest::newRow("open proxy") << QStringList() << "" << true << "";
        QTest::newRow("user and password") << QStringList{"-u", "alice", "-P", "s3cret"} << "alice:s3cret@" << true << "";
        QTest::newRow("wrong password") << QStringList{"-u", "alice", "-P", "s3cret"} << "alice:wrong@" << true
                                        << "The proxy PROXY refused the user name or password.";
        QTest::newRow("no password given") << QStringList{"-u", "alice", "-P", "s3cret"} << "" << true
                                           << "The proxy PROXY refused the user name or password.";
        QTest::newRow("server not listening") << QStringList() << "" << false
                                              << "The proxy PROXY could not connect to TARGET: connection refused.";
    }
    void throughMicrosocks()
    {
        QFETCH(QStringList, proxyArguments);
        QFETCH(QString, credentials);
        QFETCH(bool, targetListens);
        QFETCH(QString, error);
        SocksProxy socks;
        if (!socks.start(proxyArguments))
            QSKIP(kNoSocksServer);
        QTcpServer target;
        QVERIFY(target.listen(QHostAddress::LocalHost, 0));
        const quint16 targetPort = target.serverPort();
        if (!targetListens)
            target.close();

        const ProxySetting parsed = parseProxySetting(
            QStringLiteral("socks5://") + credentials + QStringLiteral("127.0.0.1:%1").arg(socks.port));
        QVERIFY(parsed.isValid());
        const QNetworkProxy proxy = proxyForConnection(parsed, QStringLiteral("localhost"), targetPort);
        QTcpSocket socket;
        socket.setProxy(proxy);
        QSignalSpy failed(&socket, &QAbstractSocket::errorOccurred);
        socket.connectToHost(QStringLiteral("localhost"), targetPort);
        if (error.isEmpty()) {
            QVERIFY2(socket.waitForConnected(5000), qPrintable(socket.errorString()));
            QVERIFY(target.waitForNewConnection(5000));
            QTcpSocket *peer = target.nextPendingConnection();
            QByteArray atTarget, atClient;
            socket.write("ping\n");
            QTRY_COMPARE((atTarget += peer->readAll()), QByteArray("ping\n"));
            peer->write("pong\n");
            QTRY_COMPARE((atClient += socket.readAll()), QByteArray("pong\n"));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 5000);
        QCOMPARE(proxyErrorText(proxy, socket.error(), QStringLiteral("localhost"), targetPort),
                 QString(error)
                     .replace(QLatin1String("PROXY"), QStringLiteral("127.0.0.1:%1").arg(socks.port))
                     .replace(QLatin1String("TARGET"), QStringLiteral("localhost:%1").arg(targetPort)));
    }
};

QTEST_GUILESS_MAIN(tst_proxysetting)
#include "tst_proxysetting.moc"
