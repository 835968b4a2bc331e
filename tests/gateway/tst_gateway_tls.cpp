// SPDX-License-Identifier: MIT
// The gateway's TLS port in-process: real TLS clients (QSslSocket) chat with
// plain ones, handshakes that never finish are dropped at their deadline, and
// whatever arrives on the wrong port ends only that connection.
#include "TlsServer.h"
#include "gateway/GatewayTestClient.h"
#include "support/TestCerts.h"
#include "support/TlsMemoryClient.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include <fcntl.h>

using namespace GatewayTest;

namespace {

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

// True once the server has closed the raw socket (end of stream or reset);
// what it sent before goes to *answer.
bool serverClosed(int fd, QByteArray *answer = nullptr)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
            return true;
        if (n < 0)
            return false;
        if (answer)
            answer->append(buffer, n);
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
        QVERIFY(TestCerts::makeCertificate(m_dir.path(), &m_cert, &m_key));
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

        // Any bytes but line ends pass unchanged both ways: 8-bit text, long lines.
        for (const QByteArray &text : {QByteArray("hello from TLS"), QByteArray("caf\xe9 \x80\xff gr\xc3\xbc\xc3\x9f"),
                                       QByteArray(480, 'L')}) {
            alice.write(text + "\r\n", piece);
            QVERIFY(gw["bob"].waitFor(talk("alice", text)));
        }
        for (const QByteArray &text : {QByteArray("hello from plain"), QByteArray("\xe4\xb8\xad \x01\x7f"),
                                       QByteArray(490, 'P')}) {
            gw["bob"].write(text + "\r\n");
            QVERIFY(alice.waitFor(operatorTalk("bob", text)));
        }

        // Many lines at once, either way, arrive whole and in order.
        QByteArray lines, expected, expectedByBob;
        for (int i = 0; i < 300; ++i) {
            lines += "line " + QByteArray::number(i) + "\r\n";
            expected += operatorTalk("bob", "line " + QByteArray::number(i));
            expectedByBob += talk("alice", "line " + QByteArray::number(i));
        }
        gw["bob"].write(lines);
        QVERIFY(alice.waitFor(operatorTalk("bob", "line 299")));
        QVERIFY(alice.received.endsWith(expected));
        alice.write(lines, piece == 1 ? 4096 : piece);
        QVERIFY(gw["bob"].waitFor(talk("alice", "line 299")));
        QVERIFY(gw["bob"].received.endsWith(expectedByBob));

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
        QTest::addColumn<QByteArray>("bytes"); // what a raw peer sends to the TLS port
        QTest::addColumn<QString>("logged");   // part of the gateway's log line about it

        QByteArray random(3000, Qt::Uninitialized);
        quint32 seed = 12345;
        for (char &c : random) {
            seed = seed * 1103515245 + 12345;
            c = char(seed >> 16);
        }
        const QString failed = QStringLiteral("TLS handshake failed");
        QTest::newRow("garbage in handshake records")
                << "raw" << QByteArray("\x16\x03\x01\x00\x05hello, this is no TLS record", 30).repeated(10) << failed;
        QTest::newRow("HTTP request") << "raw" << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << failed;
        QTest::newRow("random bytes") << "raw" << random << failed;
        QTest::newRow("handshake record with a huge length")
                << "raw" << QByteArray("\x16\x03\x01\xff\xff\x01\x00\xff\xfb", 9) + QByteArray(500, '\x03') << failed;
        QTest::newRow("SSL 2 hello") << "raw"
                                     << QByteArray("\x80\x2e\x01\x00\x02\x00\x15\x00\x00\x00\x10", 11) + QByteArray(37, '\x01')
                                     << failed;
        QTest::newRow("nothing, then close") << "raw" << QByteArray() << "disconnected";
        QTest::newRow("plain client to the TLS port") << "plain to TLS" << QByteArray() << failed;
        QTest::newRow("TLS client to the plain port") << "TLS to plain" << QByteArray()
                                                      << "refused: Unsupported protocol.";
        QTest::newRow("TLS client vanishes after login") << "TLS abort" << QByteArray() << "dave disconnected";
        QTest::newRow("bad record after login") << "TLS then garbage" << QByteArray() << "dave disconnected (";
    }
    void wrongPeers()
    {
        QFETCH(QString, peer);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, logged);
        QVERIFY(start());
        if (peer == "raw") {
            const int fd = rawSocket(tlsPort());
            QVERIFY(fd >= 0);
            if (bytes.isEmpty()) {
                QTRY_COMPARE(gw.server->connectionCount(), 1);
                ::shutdown(fd, SHUT_WR);
            } else {
                QCOMPARE(::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL), bytes.size());
            }
            QByteArray answer;
            QVERIFY(QTest::qWaitFor([&] { return serverClosed(fd, &answer); }, kTimeout));
            ::close(fd);
            // At most a TLS alert came back, never chat text.
            QVERIFY2(answer.isEmpty() || answer.startsWith('\x15'), answer.toHex().constData());
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
        // A peer that just goes away is an ordinary disconnect, with no failure given as the reason.
        const bool ordinary = logged.endsWith(u"disconnected");
        QVERIFY2(std::any_of(gw.log.cbegin(), gw.log.cend(),
                             [&](const QString &line) { return ordinary ? line.endsWith(logged) : line.contains(logged); }),
                 qPrintable(log()));
        QVERIFY(plainChatGoesOn("after " + peer.toUtf8()));
    }
};

QTEST_GUILESS_MAIN(tst_gateway_tls)
#include "tst_gateway_tls.moc"
