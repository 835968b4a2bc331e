// SPDX-License-Identifier: MIT
// The gateway's TLS port in-process: real TLS clients (QSslSocket) chat with
// plain ones, handshakes that never finish are dropped at their deadline, and
// whatever arrives on the wrong port ends only that connection.
#include "TlsServer.h"
#include "gateway/GatewayTestClient.h"
#include "support/TlsMemoryClient.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <memory>
#include <vector>

#include <fcntl.h>

using namespace GatewayTest;

namespace {

// A chat client over TLS that trusts the test certificate.
struct TlsClient
{
    TlsClient(quint16 port, const QByteArray &clientName, const QSslCertificate &ca,
              QSsl::SslProtocol protocol = QSsl::TlsV1_2OrLater)
        : name(clientName)
    {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setCaCertificates({ca});
        config.setProtocol(protocol);
        socket.setSslConfiguration(config);
        socket.setPeerVerifyName(QStringLiteral("localhost"));
        QObject::connect(&socket, &QSslSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    }
    // The gateway runs in this thread too, so nothing here may block.
    bool encrypted() { return QTest::qWaitFor([this] { return socket.isEncrypted(); }, kTimeout); }
    // Each piece leaves as its own TLS record.
    void write(const QByteArray &data, qsizetype piece = 1 << 20)
    {
        for (qsizetype at = 0; at < data.size(); at += piece) {
            socket.write(data.mid(at, piece));
            socket.flush();
            if (piece < 16)
                QTest::qWait(1);
        }
    }
    bool waitFor(const QByteArray &bytes, int timeoutMs = kTimeout)
    {
        return QTest::qWaitFor([&] { return received.contains(bytes); }, timeoutMs);
    }
    bool waitUnconnected()
    {
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, kTimeout);
    }

    QSslSocket socket;
    QByteArray name;
    QByteArray received;
};

// A raw, non-blocking socket to a local port, for bytes no client library sends.
int rawSocket(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// True once the server has closed the raw socket (end of stream or reset).
bool serverClosed(int fd)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
            return true;
        if (n < 0)
            return false;
    }
}

const QByteArray kChannelLines = "1007 CHANNEL \"Lobby\"\r\n";

// A talk line of the channel's operator.
QByteArray operatorTalk(const QByteArray &name, const QByteArray &text)
{
    return "1005 TALK " + name + " 0002 \"" + text + "\"\r\n";
}

} // namespace

class tst_gateway_tls : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_cert;
    QString m_key;
    QSslCertificate m_ca;
    Gateway gw;

    bool start(GatewayLimits limits = {})
    {
        if (!gw.start(limits))
            return false;
        QString error;
        std::unique_ptr<TlsServerContext> context = TlsServerContext::load(m_cert, m_key, &error);
        return context && gw.server->listenTls(QHostAddress::LocalHost, 0, std::move(context));
    }
    quint16 tlsPort() const { return gw.server->tlsPort(); }
    QString log() const { return gw.log.join(u'\n'); }

    // alice and bob log in on the plain port and chat.
    bool plainChatGoesOn(const QByteArray &text)
    {
        if (!gw.logIn({"alice", "bob"}))
            return false;
        gw["bob"].write(text + "\r\n");
        return gw["alice"].waitFor(talk("bob", text));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(TlsTest::makeCertificate(m_dir.path(), &m_cert, &m_key));
        const QList<QSslCertificate> certs = QSslCertificate::fromPath(m_cert);
        QCOMPARE(certs.size(), 1);
        m_ca = certs.first();
        QVERIFY(QSslSocket::supportsSsl());
    }

    // A TLS user and a plain user in one channel see each other's lines; the
    // bytes inside TLS are the plain protocol's, whatever the record sizes.
    void chatOverTls_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<int>("piece"); // bytes per TLS record the client writes

        QTest::newRow("TLS 1.3, whole lines") << int(QSsl::TlsV1_3) << (1 << 20);
        QTest::newRow("TLS 1.2, whole lines") << int(QSsl::TlsV1_2) << (1 << 20);
        QTest::newRow("TLS 1.3, one byte at a time") << int(QSsl::TlsV1_3) << 1;
        QTest::newRow("TLS 1.2, one byte at a time") << int(QSsl::TlsV1_2) << 1;
    }
    void chatOverTls()
    {
        QFETCH(int, protocol);
        QFETCH(int, piece);
        GatewayLimits limits;
        limits.lineRate = 0;
        QVERIFY(start(limits));
        QVERIFY(gw.logIn({"bob"}));
        TlsClient alice(tlsPort(), "alice", m_ca, QSsl::SslProtocol(protocol));
        QVERIFY2(alice.encrypted(), qPrintable(alice.socket.errorString()));
        alice.write(loginBytes("alice", "pw"), piece);
        QVERIFY2(alice.waitFor(welcome("alice")), alice.received);
        QCOMPARE(alice.received, kChannelLines + "1001 USER bob 0002\r\n1001 USER alice 0010\r\n" + welcome("alice"));
        QVERIFY(log().contains(u"connected (TLS)"));

        alice.write("hello from TLS\r\n", piece);
        QVERIFY(gw["bob"].waitFor(talk("alice", "hello from TLS")));
        gw["bob"].write("hello from plain\r\n");
        QVERIFY(alice.waitFor(operatorTalk("bob", "hello from plain")));

        // Many lines at once leave in few records and arrive whole and in order.
        QByteArray lines, expected;
        for (int i = 0; i < 300; ++i) {
            lines += "line " + QByteArray::number(i) + "\r\n";
            expected += operatorTalk("bob", "line " + QByteArray::number(i));
        }
        gw["bob"].write(lines);
        QVERIFY(alice.waitFor(operatorTalk("bob", "line 299")));
        QVERIFY(alice.received.endsWith(expected));

        // A close-notify ends the login like a plain disconnect.
        alice.socket.disconnectFromHost();
        QVERIFY(gw["bob"].waitFor("1003 LEAVE alice 0010\r\n"));
        QTRY_COMPARE(gw.server->connectionCount(), 1);
    }

    // Hundreds of clients that start a TLS handshake, or not even that, and
    // then sit: each is dropped at the deadline, meanwhile the plain users chat
    // on, and a TLS user who finished in time stays.
    void idleHandshakes()
    {
        constexpr int kIdle = 240;
        GatewayLimits limits;
        limits.maxPerAddress = 1000;
        limits.maxUnfinishedPerAddress = 1000;
        limits.tlsHandshakeTimeoutMs = 1500;
        QVERIFY(start(limits));
        TlsClient carol(tlsPort(), "carol", m_ca);
        QVERIFY(carol.encrypted());
        carol.write(loginBytes("carol", "pw"));
        QVERIFY(carol.waitFor(welcome("carol")));

        TlsTest::MemoryClient hello;
        hello.handshakeStep();
        const QByteArray clientHello = hello.output();
        QVERIFY(clientHello.size() > 10);
        std::vector<int> idle;
        for (int i = 0; i < kIdle; ++i) {
            if (i % 20 == 0) // the listening socket's backlog is short; let the gateway accept
                QTRY_COMPARE(gw.server->connectionCount(), i + 1);
            const int fd = rawSocket(tlsPort());
            QVERIFY(fd >= 0);
            idle.push_back(fd);
            // Nothing; a hello cut short; a whole hello and no answer to the reply.
            const QByteArray sent = i % 3 == 0 ? QByteArray() : i % 3 == 1 ? clientHello.left(10) : clientHello;
            if (!sent.isEmpty())
                QCOMPARE(::send(fd, sent.constData(), size_t(sent.size()), MSG_NOSIGNAL), sent.size());
        }
        QTRY_COMPARE(gw.server->connectionCount(), kIdle + 1);
        QVERIFY(plainChatGoesOn("while they wait"));
        QTRY_COMPARE_WITH_TIMEOUT(gw.server->connectionCount(), 3, 10 * 1000);
        for (int fd : idle) {
            QVERIFY(serverClosed(fd));
            ::close(fd);
        }
        QCOMPARE(gw.log.filter(QStringLiteral("TLS handshake not done within 1500 ms")).size(), kIdle);
        carol.write("still here\r\n");
        QVERIFY(gw["alice"].waitFor(operatorTalk("carol", "still here")));
    }

    // TLS connections count as unfinished logins of their address from accept
    // until they log in. Open first: I an idle TLS connection, T a TLS login;
    // then one more on the plain port, or on the TLS port, and what it gets.
    void unfinishedCap_data()
    {
        QTest::addColumn<QByteArray>("open");
        QTest::addColumn<bool>("lastOverTls");
        QTest::addColumn<QByteArray>("reply"); // empty: closed without a word

        const QByteArray full = info("Too many unfinished logins from your address.");
        QTest::newRow("idle TLS fill the cap") << QByteArray("II") << false << full;
        QTest::newRow("logged-in TLS do not count") << QByteArray("TTI") << false << welcome("last");
        QTest::newRow("over the cap on the TLS port") << QByteArray("II") << true << QByteArray();
    }
    void unfinishedCap()
    {
        QFETCH(QByteArray, open);
        QFETCH(bool, lastOverTls);
        QFETCH(QByteArray, reply);
        GatewayLimits limits;
        limits.maxUnfinishedPerAddress = 2;
        QVERIFY(start(limits));
        std::vector<std::unique_ptr<TlsClient>> tls;
        for (qsizetype i = 0; i < open.size(); ++i) {
            tls.push_back(std::make_unique<TlsClient>(tlsPort(), "t" + QByteArray::number(i), m_ca));
            QVERIFY(tls.back()->encrypted());
            if (open[i] == 'T') {
                tls.back()->write(loginBytes(tls.back()->name, "pw"));
                QVERIFY(tls.back()->waitFor(welcome(tls.back()->name)));
            }
        }
        QTRY_COMPARE(gw.server->connectionCount(), open.size());
        if (lastOverTls) {
            TlsClient last(tlsPort(), "last", m_ca);
            QVERIFY(last.waitUnconnected());
            QVERIFY(last.received.isEmpty());
        } else {
            Client &last = gw.add("last");
            last.write(loginBytes("last", "pw"));
            QVERIFY(last.waitFor(reply));
            QVERIFY(last.received.endsWith(reply));
        }
        QCOMPARE(gw.server->connectionCount(), open.size() + (reply.contains("Welcome") ? 1 : 0));
    }

    // What ends a connection on either port, and only that connection.
    void wrongPeers_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QString>("logged"); // part of the gateway's log line about it

        QTest::newRow("garbage on the TLS port") << "garbage" << "TLS handshake failed";
        QTest::newRow("plain client to the TLS port") << "plain to TLS" << "TLS handshake failed";
        QTest::newRow("TLS client to the plain port") << "TLS to plain" << "refused: Unsupported protocol.";
        QTest::newRow("TLS client vanishes after login") << "TLS abort" << "dave disconnected";
        QTest::newRow("bad record after login") << "TLS then garbage" << "dave disconnected (";
    }
    void wrongPeers()
    {
        QFETCH(QString, peer);
        QFETCH(QString, logged);
        QVERIFY(start());
        if (peer == "garbage") {
            const int fd = rawSocket(tlsPort());
            const QByteArray garbage = QByteArray("\x16\x03\x01\x00\x05hello, this is no TLS record", 30).repeated(10);
            QCOMPARE(::send(fd, garbage.constData(), size_t(garbage.size()), MSG_NOSIGNAL), garbage.size());
            QVERIFY(QTest::qWaitFor([fd] { return serverClosed(fd); }, kTimeout));
            ::close(fd);
        } else if (peer == "plain to TLS") {
            Client plain(tlsPort(), "dave");
            plain.write(loginBytes("dave", "pw"));
            QTRY_COMPARE(plain.socket.state(), QAbstractSocket::UnconnectedState);
            QVERIFY(!plain.received.contains("Welcome"));
        } else if (peer == "TLS to plain") {
            TlsClient tls(gw.server->serverPort(), "dave", m_ca);
            QVERIFY(tls.waitUnconnected());
            QVERIFY(!tls.socket.isEncrypted());
        } else {
            TlsClient dave(tlsPort(), "dave", m_ca);
            QVERIFY(dave.encrypted());
            dave.write(loginBytes("dave", "pw"));
            QVERIFY(dave.waitFor(welcome("dave")));
            if (peer == "TLS abort") {
                dave.socket.abort();
            } else {
                // Raw bytes after the handshake: not a record of this session.
                const int fd = int(dave.socket.socketDescriptor());
                QCOMPARE(::send(fd, "\x17\x03\x03\x00\x04junk", 9, MSG_NOSIGNAL), 9);
                QVERIFY(dave.waitUnconnected());
            }
        }
        QTRY_COMPARE(gw.server->connectionCount(), 0);
        QVERIFY2(log().contains(logged), qPrintable(log()));
        QVERIFY(plainChatGoesOn("after " + peer.toUtf8()));
    }
};

QTEST_GUILESS_MAIN(tst_gateway_tls)
#include "tst_gateway_tls.moc"
