// SPDX-License-Identifier: MIT
// TLS sessions for the gateway: certificate loading, records in memory, and
// real TLS clients (QSslSocket) that reach the gateway through a session.
#include "TlsServer.h"
#include "gateway/GatewayTestClient.h"
#include "support/TlsMemoryClient.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace GatewayTest;
using TlsTest::MemoryClient;
using Status = TlsSession::Status;

namespace {

// A TLS port in front of the gateway's plain one: each accepted socket runs
// through its own TlsSession, and the plain side is a connection to the
// gateway. Records what passed in each direction, and how each link ended.
class TlsFront : public QObject
{
public:
    struct Link
    {
        std::unique_ptr<TlsSession> tls;
        QTcpSocket *outer = nullptr;
        QTcpSocket *inner = nullptr;
        QByteArray toGateway;
        QByteArray fromGateway;
        QString end; // "failed: ...", "close-notify", "disconnected"
    };

    TlsFront(const TlsServerContext &context, quint16 gatewayPort) : m_context(context), m_gatewayPort(gatewayPort)
    {
        connect(&m_server, &QTcpServer::newConnection, this, &TlsFront::accept);
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    quint16 port() const { return m_server.serverPort(); }
    QStringList ends() const
    {
        QStringList result;
        for (const auto &link : links)
            if (!link->end.isEmpty())
                result << link->end;
        return result;
    }

    std::vector<std::unique_ptr<Link>> links;

private:
    void accept()
    {
        while (QTcpSocket *outer = m_server.nextPendingConnection()) {
            auto owned = std::make_unique<Link>();
            Link *link = owned.get();
            link->tls = std::make_unique<TlsSession>(m_context);
            link->outer = outer;
            link->inner = new QTcpSocket(outer);
            connect(outer, &QTcpSocket::readyRead, this, [this, link] { fromClient(link); });
            connect(outer, &QTcpSocket::disconnected, this, [link] {
                if (link->end.isEmpty())
                    link->end = QStringLiteral("disconnected");
                link->inner->disconnectFromHost();
            });
            connect(link->inner, &QTcpSocket::readyRead, this, [link] {
                const QByteArray plain = link->inner->readAll();
                link->fromGateway += plain;
                link->tls->write(plain);
                sendOut(link);
            });
            connect(link->inner, &QTcpSocket::disconnected, this, [link] {
                link->tls->shutdown();
                sendOut(link);
                link->outer->disconnectFromHost();
            });
            links.push_back(std::move(owned));
        }
    }

    static void sendOut(Link *link)
    {
        const QByteArray ciphertext = link->tls->takeOutput();
        if (!ciphertext.isEmpty() && link->outer->state() == QAbstractSocket::ConnectedState)
            link->outer->write(ciphertext);
    }

    void fromClient(Link *link)
    {
        QByteArray plain;
        const Status status = link->tls->feed(link->outer->readAll(), &plain);
        if (!plain.isEmpty()) {
            if (link->inner->state() == QAbstractSocket::UnconnectedState)
                link->inner->connectToHost(QHostAddress::LocalHost, m_gatewayPort);
            link->toGateway += plain;
            link->inner->write(plain);
        }
        sendOut(link);
        if (status == Status::Failed && link->end.isEmpty()) {
            link->end = QStringLiteral("failed: ") + link->tls->errorString();
            link->inner->abort();
            link->outer->disconnectFromHost();
        } else if (status == Status::Closed && link->end.isEmpty()) {
            link->end = QStringLiteral("close-notify");
            link->inner->disconnectFromHost();
            link->outer->disconnectFromHost();
        }
    }

    const TlsServerContext &m_context;
    const quint16 m_gatewayPort;
    QTcpServer m_server;
};

// A chat client over TLS that trusts the test certificate.
struct TlsClient
{
    TlsClient(quint16 port, const QByteArray &clientName, const QSslCertificate &ca, QSsl::SslProtocol protocol)
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
    // The gateway side runs in this thread too, so nothing here may block.
    bool encrypted() { return QTest::qWaitFor([this] { return socket.isEncrypted(); }, kTimeout); }
    // Each piece leaves as its own TLS record, in its own TCP segment when
    // pieces are small.
    void write(const QByteArray &data, qsizetype piece)
    {
        for (qsizetype at = 0; at < data.size(); at += piece) {
            socket.write(data.mid(at, piece));
            socket.flush();
            if (piece < 16) {
                (void)QTest::qWaitFor([this] { return socket.bytesToWrite() == 0 && socket.encryptedBytesToWrite() == 0; });
                QTest::qWait(2);
            }
            sent += data.mid(at, piece);
        }
    }
    bool waitFor(const QByteArray &bytes)
    {
        return QTest::qWaitFor([&] { return received.contains(bytes); }, kTimeout);
    }

    QSslSocket socket;
    QByteArray name;
    QByteArray received;
    QByteArray sent;
};

} // namespace

class tst_secure_tls : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_cert;
    QString m_key;
    std::unique_ptr<TlsServerContext> m_context;
    QSslCertificate m_ca;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    bool openssl(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral("openssl"), arguments);
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
                && process.exitCode() == 0;
    }
    bool writeFile(const QString &name, const QByteArray &content)
    {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }
    QByteArray readFile(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(TlsTest::makeCertificate(m_dir.path(), &m_cert, &m_key));
        QString error;
        m_context = TlsServerContext::load(m_cert, m_key, &error);
        QVERIFY2(m_context, qPrintable(error));
        const QList<QSslCertificate> certs = QSslCertificate::fromPath(m_cert);
        QCOMPARE(certs.size(), 1);
        m_ca = certs.first();
        QVERIFY(QSslSocket::supportsSsl());
    }

    // --- Loading the certificate and key: one clear line for each problem.

    void load_data()
    {
        QTest::addColumn<QString>("cert");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("error"); // a part of the error; empty: loads

        // Other files next to the good pair.
        QVERIFY(openssl({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-out",
                         path("other-key.pem")}));
        QVERIFY(openssl({"pkey", "-in", m_key, "-aes256", "-passout", "pass:secret", "-out",
                         path("encrypted-key.pem")}));
        QVERIFY(openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=localhost",
                         "-keyout", path("rsa-key.pem"), "-out", path("rsa-cert.pem")}));
        QVERIFY(writeFile("garbage.pem", "this is not a certificate\n"));
        QVERIFY(writeFile("empty.pem", ""));
        const QByteArray pem = readFile(m_cert);
        QVERIFY(writeFile("cut.pem", pem.left(pem.size() / 2)));
        QVERIFY(writeFile("cert-and-key.pem", pem + readFile(m_key)));

        const QString cert = m_cert;
        const QString key = m_key;
        QTest::newRow("good pair") << cert << key << QString();
        QTest::newRow("good RSA pair") << path("rsa-cert.pem") << path("rsa-key.pem") << QString();
        QTest::newRow("certificate and key in one file") << path("cert-and-key.pem") << path("cert-and-key.pem")
                                                         << QString();
        QTest::newRow("missing certificate") << path("nothing.pem") << key
                                             << "TLS certificate " + path("nothing.pem") + ": No such file";
        QTest::newRow("missing key") << cert << path("nothing.pem") << "TLS key " + path("nothing.pem") + ": No such file";
        QTest::newRow("certificate is a folder") << m_dir.path() << key << QStringLiteral("is a folder");
        QTest::newRow("empty certificate") << path("empty.pem") << key << QStringLiteral("is empty");
        QTest::newRow("garbage certificate") << path("garbage.pem") << key
                                             << QStringLiteral("not a usable PEM certificate");
        QTest::newRow("cut-off certificate") << path("cut.pem") << key << QStringLiteral("not a usable PEM certificate");
        QTest::newRow("key given as certificate") << key << key << QStringLiteral("not a usable PEM certificate");
        QTest::newRow("certificate given as key") << cert << cert << QStringLiteral("not a usable PEM private key");
        QTest::newRow("garbage key") << cert << path("garbage.pem") << QStringLiteral("not a usable PEM private key");
        QTest::newRow("key with a passphrase") << cert << path("encrypted-key.pem")
                                               << QStringLiteral("without a passphrase");
        QTest::newRow("another certificate's key") << cert << path("other-key.pem")
                                                   << QStringLiteral("does not belong to the certificate");
        QTest::newRow("RSA key for the EC certificate") << cert << path("rsa-key.pem")
                                                        << QStringLiteral("does not belong to the certificate");
    }
    void load()
    {
        QFETCH(QString, cert);
        QFETCH(QString, key);
        QFETCH(QString, error);
        QString got;
        const std::unique_ptr<TlsServerContext> context = TlsServerContext::load(cert, key, &got);
        if (error.isEmpty()) {
            QVERIFY2(context, qPrintable(got));
            TlsSession session(*context);
            MemoryClient client;
            QVERIFY(TlsTest::handshake(client, session));
            return;
        }
        QVERIFY(!context);
        QVERIFY2(got.contains(error), qPrintable(got));
        QVERIFY2(!got.contains(QLatin1Char('\n')), qPrintable(got));
    }

    // --- Records in memory.

    // Whatever the pieces the bytes arrive in, every complete record comes out
    // of the feed that completes it, several records at once included.
    void records_data()
    {
        QTest::addColumn<int>("maxVersion");
        QTest::addColumn<int>("piece");
        QTest::addColumn<QByteArrayList>("records");

        const QByteArrayList lines{"one\r\n", "two\r\n", "three\r\n"};
        const QByteArray big(40000, 'x');
        QTest::newRow("TLS 1.3, whole") << 0 << (1 << 20) << lines;
        QTest::newRow("TLS 1.3, byte by byte") << 0 << 1 << lines;
        QTest::newRow("TLS 1.2, byte by byte") << int(TLS1_2_VERSION) << 1 << lines;
        QTest::newRow("TLS 1.2, whole") << int(TLS1_2_VERSION) << (1 << 20) << lines;
        QTest::newRow("TLS 1.3, 7-byte pieces, big record") << 0 << 7 << QByteArrayList{big, "end\r\n"};
        QTest::newRow("TLS 1.3, all at once, big records")
                << 0 << (1 << 20) << QByteArrayList{big, big, "a", "b", "c"};
    }
    void records()
    {
        QFETCH(int, maxVersion);
        QFETCH(int, piece);
        QFETCH(QByteArrayList, records);
        TlsSession session(*m_context);
        MemoryClient client(maxVersion);
        QVERIFY(TlsTest::handshake(client, session, piece));
        QCOMPARE(session.protocolName(), maxVersion ? QStringLiteral("TLSv1.2") : QStringLiteral("TLSv1.3"));

        QByteArray ciphertext;
        for (const QByteArray &record : records)
            ciphertext += client.encrypt(record);
        const QByteArray expected = records.join();
        QByteArray plain;
        for (qsizetype at = 0; at < ciphertext.size(); at += piece) {
            const qsizetype before = plain.size();
            QCOMPARE(session.feed(QByteArrayView(ciphertext).sliced(at, qMin<qsizetype>(piece, ciphertext.size() - at)),
                                  &plain),
                     Status::Ok);
            QVERIFY(plain.size() >= before);
        }
        QCOMPARE(plain, expected);

        // And back: what the session writes, the client reads, in order.
        QCOMPARE(session.write(expected), Status::Ok);
        QCOMPARE(session.write("tail\r\n"), Status::Ok);
        QCOMPARE(client.decrypt(session.takeOutput()), expected + "tail\r\n");
        QCOMPARE(session.pendingOutput(), 0);
    }

    // A connection's queue goes out as few records, taken from where the last
    // flush stopped, never past the limit.
    void writeQueued_data()
    {
        QTest::addColumn<QByteArrayList>("queue");
        QTest::addColumn<int>("frontOffset");
        QTest::addColumn<int>("maxBytes");
        QTest::addColumn<int>("taken");

        const QByteArrayList lines{"1005 TALK a 0010 \"one\"\r\n", "1005 TALK b 0010 \"two\"\r\n",
                                   "1018 INFO \"three\"\r\n"};
        QTest::newRow("whole queue") << lines << 0 << 16384 << int(lines.join().size());
        QTest::newRow("rest of a half-sent line") << lines << 10 << 16384 << int(lines.join().size() - 10);
        QTest::newRow("limit inside the second line") << lines << 0 << 30 << 30;
        QTest::newRow("limit inside the first line, with an offset") << lines << 5 << 7 << 7;
        QTest::newRow("empty queue") << QByteArrayList{} << 0 << 16384 << 0;
        QTest::newRow("more than one record") << QByteArrayList{QByteArray(20000, 'x'), QByteArray(20000, 'y')} << 100
                                              << 50000 << 39900;
    }
    void writeQueued()
    {
        QFETCH(QByteArrayList, queue);
        QFETCH(int, frontOffset);
        QFETCH(int, maxBytes);
        QFETCH(int, taken);
        TlsSession session(*m_context);
        MemoryClient client;
        QVERIFY(TlsTest::handshake(client, session));
        const std::deque<QByteArray> deque(queue.cbegin(), queue.cend());
        QCOMPARE(session.writeQueued(deque, frontOffset, maxBytes), qsizetype(taken));
        QCOMPARE(client.decrypt(session.takeOutput()), queue.join().mid(frontOffset, taken));
    }

    // Lines written before the handshake has finished leave right after it.
    void writeBeforeHandshake_data()
    {
        QTest::addColumn<QByteArray>("early");
        QTest::addColumn<bool>("fits");

        QTest::newRow("a line") << QByteArray("1018 INFO \"hello\"\r\n") << true;
        QTest::newRow("exactly the limit") << QByteArray(TlsSession::kMaxEarlyBytes, 'e') << true;
        QTest::newRow("over the limit") << QByteArray(TlsSession::kMaxEarlyBytes + 1, 'e') << false;
    }
    void writeBeforeHandshake()
    {
        QFETCH(QByteArray, early);
        QFETCH(bool, fits);
        TlsSession session(*m_context);
        QCOMPARE(session.write(early), fits ? Status::Ok : Status::Failed);
        QCOMPARE(session.pendingOutput(), 0); // nothing in clear before the handshake
        MemoryClient client;
        if (!fits) {
            QVERIFY(!TlsTest::handshake(client, session));
            QVERIFY(!session.errorString().isEmpty());
            return;
        }
        QVERIFY(TlsTest::handshake(client, session));
        QCOMPARE(client.decrypt({}), early);
    }

    // A bad record, an unwanted handshake or a peer that ends the session:
    // the session says so and no other session notices.
    void peerMisbehaves_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("status");

        QTest::newRow("record with a flipped byte") << QStringLiteral("flip") << int(Status::Failed);
        QTest::newRow("record cut short, then a new one") << QStringLiteral("cut") << int(Status::Failed);
        QTest::newRow("record header with a huge length") << QStringLiteral("huge") << int(Status::Failed);
        QTest::newRow("TLS 1.2 renegotiation") << QStringLiteral("renegotiate") << int(Status::Failed);
        QTest::newRow("close-notify") << QStringLiteral("close") << int(Status::Closed);
    }
    void peerMisbehaves()
    {
        QFETCH(QString, what);
        QFETCH(int, status);
        TlsSession bystander(*m_context);
        MemoryClient bystanderClient;
        QVERIFY(TlsTest::handshake(bystanderClient, bystander));

        TlsSession session(*m_context);
        MemoryClient client(what == QLatin1String("renegotiate") ? TLS1_2_VERSION : 0);
        QVERIFY(TlsTest::handshake(client, session));
        QByteArray bytes;
        if (what == QLatin1String("flip")) {
            bytes = client.encrypt("hello\r\n");
            bytes[bytes.size() - 3] = char(bytes[bytes.size() - 3] ^ 0x40);
        } else if (what == QLatin1String("cut")) {
            const QByteArray record = client.encrypt("hello\r\n");
            bytes = record.left(record.size() - 4) + client.encrypt("again\r\n");
        } else if (what == QLatin1String("huge")) {
            bytes = QByteArray("\x17\x03\x03\xff\xff", 5) + QByteArray(70000, 'z');
        } else if (what == QLatin1String("renegotiate")) {
            QCOMPARE(SSL_renegotiate(client.ssl), 1);
            client.handshakeStep();
            bytes = client.output();
            QVERIFY(!bytes.isEmpty());
        } else {
            SSL_shutdown(client.ssl);
            bytes = client.output();
        }
        QByteArray plain;
        Status got = session.feed(bytes, &plain);
        // Renegotiation is refused with a warning; the client gives up with an
        // alert, which ends the session.
        if (what == QLatin1String("renegotiate") && got == Status::Ok) {
            client.input(session.takeOutput());
            QCOMPARE(client.handshakeStep(), -1);
            got = session.feed(client.output(), &plain);
        }
        QCOMPARE(int(got), status);
        QVERIFY(plain.isEmpty());
        if (got == Status::Failed) {
            qInfo("%s", qPrintable(session.errorString()));
            QVERIFY(!session.errorString().isEmpty());
            QCOMPARE(session.feed("more", &plain), Status::Failed);
            QCOMPARE(session.write("more"), Status::Failed);
        } else {
            // Our close-notify answers the peer's.
            client.decrypt(session.takeOutput());
            QVERIFY(SSL_get_shutdown(client.ssl) & SSL_RECEIVED_SHUTDOWN);
        }

        QByteArray bystanderPlain;
        QCOMPARE(bystander.feed(bystanderClient.encrypt("still here\r\n"), &bystanderPlain), Status::Ok);
        QCOMPARE(bystanderPlain, QByteArray("still here\r\n"));
    }

    // The last lines and the close-notify often arrive together: the lines
    // still come out, with the news that the peer is done.
    void linesThenCloseNotify_data()
    {
        QTest::addColumn<bool>("oneChunk");

        QTest::newRow("in one chunk") << true;
        QTest::newRow("in two chunks") << false;
    }
    void linesThenCloseNotify()
    {
        QFETCH(bool, oneChunk);
        TlsSession session(*m_context);
        MemoryClient client;
        QVERIFY(TlsTest::handshake(client, session));
        QByteArray lines = client.encrypt("bye\r\n");
        lines += client.encrypt("really\r\n");
        SSL_shutdown(client.ssl);
        const QByteArray closeNotify = client.output();
        QByteArray plain;
        if (oneChunk) {
            QCOMPARE(session.feed(lines + closeNotify, &plain), Status::Closed);
        } else {
            QVERIFY2(session.feed(lines, &plain) == Status::Ok, qPrintable(session.errorString()));
            QCOMPARE(session.feed(closeNotify, &plain), Status::Closed);
        }
        QCOMPARE(plain, QByteArray("bye\r\nreally\r\n"));
        QVERIFY(session.peerClosed());
        QCOMPARE(session.write("ignored\r\n"), Status::Closed);
    }

    // Clients the gateway must not accept fail their handshake.
    void refusedClients_data()
    {
        QTest::addColumn<int>("maxVersion");
        QTest::addColumn<QByteArray>("ciphers");

        QTest::newRow("TLS 1.1") << int(TLS1_1_VERSION) << QByteArray("DEFAULT@SECLEVEL=0");
        QTest::newRow("TLS 1.0") << int(TLS1_VERSION) << QByteArray("DEFAULT@SECLEVEL=0");
        QTest::newRow("TLS 1.2 without forward secrecy") << int(TLS1_2_VERSION) << QByteArray("AES128-GCM-SHA256");
        QTest::newRow("TLS 1.2 with CBC only") << int(TLS1_2_VERSION) << QByteArray("ECDHE-ECDSA-AES128-SHA");
    }
    void refusedClients()
    {
        QFETCH(int, maxVersion);
        QFETCH(QByteArray, ciphers);
        TlsSession session(*m_context);
        MemoryClient client(maxVersion, ciphers.constData(), maxVersion);
        QVERIFY(!TlsTest::handshake(client, session));
        QVERIFY(session.failed());
        QVERIFY2(session.errorString().startsWith(QStringLiteral("TLS handshake failed")),
                 qPrintable(session.errorString()));
    }

    // --- Real TLS clients through a session to the gateway.

    void loginOverTls_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<int>("piece");
        QTest::addColumn<QString>("version");

        QTest::newRow("TLS 1.3, one byte at a time") << int(QSsl::TlsV1_3) << 1 << QStringLiteral("TLSv1.3");
        QTest::newRow("TLS 1.2, one byte at a time") << int(QSsl::TlsV1_2) << 1 << QStringLiteral("TLSv1.2");
        QTest::newRow("TLS 1.3, all at once") << int(QSsl::TlsV1_3) << 1000 << QStringLiteral("TLSv1.3");
        QTest::newRow("any version, 5-byte pieces") << int(QSsl::SecureProtocols) << 5 << QStringLiteral("TLSv1.3");
    }
    void loginOverTls()
    {
        QFETCH(int, protocol);
        QFETCH(int, piece);
        QFETCH(QString, version);
        Gateway gw;
        QVERIFY(gw.start());
        TlsFront front(*m_context, gw.server->serverPort());
        TlsClient client(front.port(), "alice", m_ca, QSsl::SslProtocol(protocol));
        QVERIFY2(client.encrypted(), qPrintable(client.socket.errorString()));
        client.write(loginBytes("alice", "pw"), piece);
        QVERIFY2(client.waitFor(welcome("alice")), client.received.constData());
        QCOMPARE(front.links.size(), size_t(1));
        QVERIFY(front.links[0]->tls->handshakeDone());
        QCOMPARE(front.links[0]->tls->protocolName(), version);
        QVERIFY(front.ends().isEmpty());
    }

    // Chat passes through unchanged both ways: what the client sent is what
    // the gateway got, and what the gateway sent is what the client got.
    void sameBytes_data()
    {
        QTest::addColumn<QByteArrayList>("fromTls");
        QTest::addColumn<QByteArrayList>("fromPlain");

        QByteArrayList many;
        for (int i = 0; i < 150; ++i)
            many << "line " + QByteArray::number(i) + ' ' + QByteArray(i * 3, char('a' + i % 26));
        QTest::newRow("short lines") << QByteArrayList{"hello", "how are you?"} << QByteArrayList{"fine", "and you"};
        QTest::newRow("8-bit text") << QByteArrayList{"gr\xc3\xbc\xc3\x9f", "caf\xe9 \x80\xff"}
                                    << QByteArrayList{"\xe4\xb8\xad\xe6\x96\x87", "\x01\x02 \x7f"};
        QTest::newRow("long lines") << QByteArrayList{QByteArray(480, 'L'), QByteArray(300, 'M')}
                                    << QByteArrayList{QByteArray(490, 'P')};
        QTest::newRow("a burst over many records") << many << many;
    }
    void sameBytes()
    {
        QFETCH(QByteArrayList, fromTls);
        QFETCH(QByteArrayList, fromPlain);
        GatewayLimits limits;
        limits.lineRate = 0;
        Gateway gw;
        QVERIFY(gw.start(limits));
        // carol is first in the channel, so she is its operator.
        Client &carol = gw.add("carol");
        QVERIFY(carol.login());
        TlsFront front(*m_context, gw.server->serverPort());
        TlsClient bob(front.port(), "bob", m_ca, QSsl::SecureProtocols);
        QVERIFY(bob.encrypted());
        bob.write(loginBytes("bob", "pw"), 1000);
        QVERIFY(bob.waitFor(welcome("bob")));

        for (const QByteArray &text : fromTls)
            bob.write(text + "\r\n", 4096);
        for (const QByteArray &text : fromPlain)
            carol.write(text + "\r\n");
        const auto fromCarol = [](const QByteArray &text) { return "1005 TALK carol 0002 \"" + text + "\"\r\n"; };
        QVERIFY(carol.waitFor(talk("bob", fromTls.last())));
        QVERIFY(bob.waitFor(fromCarol(fromPlain.last())));
        for (const QByteArray &text : fromTls)
            QVERIFY(carol.received.contains(talk("bob", text)));
        for (const QByteArray &text : fromPlain)
            QVERIFY(bob.received.contains(fromCarol(text)));

        // Nothing left in flight: the gateway answers a request after all of the above.
        bob.write("/whois\r\n", 100);
        QVERIFY(bob.waitFor(kDrainMarker));
        const TlsFront::Link &link = *front.links[0];
        QCOMPARE(link.toGateway, bob.sent);
        QCOMPARE(bob.received, link.fromGateway);
    }

    // Something that is not a TLS client fails only its own connection: it is
    // closed promptly, while a TLS user goes on chatting.
    void notTls_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("end");

        QByteArray random(3000, Qt::Uninitialized);
        quint32 seed = 12345;
        for (char &c : random) {
            seed = seed * 1103515245 + 12345;
            c = char(seed >> 16);
        }
        QTest::newRow("plain chat login") << loginBytes("mallory", "pw") << QStringLiteral("failed: TLS handshake failed");
        QTest::newRow("HTTP request") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << QStringLiteral("failed: TLS handshake failed");
        QTest::newRow("random bytes") << random << QStringLiteral("failed: TLS handshake failed");
        QTest::newRow("handshake record with a huge length")
                << QByteArray("\x16\x03\x01\xff\xff\x01\x00\xff\xfb", 9) + QByteArray(500, '\x03')
                << QStringLiteral("failed: TLS handshake failed");
        QTest::newRow("SSL 2 hello") << QByteArray("\x80\x2e\x01\x00\x02\x00\x15\x00\x00\x00\x10", 11)
                                             + QByteArray(37, '\x01')
                                     << QStringLiteral("failed: TLS handshake failed");
        QTest::newRow("nothing, then close") << QByteArray() << QStringLiteral("disconnected");
    }
    void notTls()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, end);
        Gateway gw;
        QVERIFY(gw.start());
        TlsFront front(*m_context, gw.server->serverPort());
        TlsClient alice(front.port(), "alice", m_ca, QSsl::SecureProtocols);
        QVERIFY(alice.encrypted());
        alice.write(loginBytes("alice", "pw"), 1000);
        QVERIFY(alice.waitFor(welcome("alice")));

        QTcpSocket raw;
        QByteArray answer;
        QObject::connect(&raw, &QTcpSocket::readyRead, [&] { answer += raw.readAll(); });
        raw.connectToHost(QHostAddress::LocalHost, front.port());
        QVERIFY(raw.waitForConnected(kTimeout));
        if (bytes.isEmpty()) {
            QTest::qWait(50);
            raw.disconnectFromHost();
        } else {
            raw.write(bytes);
        }
        QVERIFY(QTest::qWaitFor([&] { return raw.state() == QAbstractSocket::UnconnectedState; }, kTimeout));
        QVERIFY(QTest::qWaitFor([&] { return front.ends().size() == 1; }, kTimeout));
        QVERIFY2(front.ends().first().startsWith(end), qPrintable(front.ends().first()));
        // At most a TLS alert came back, never chat text.
        QVERIFY2(answer.isEmpty() || answer.startsWith('\x15'), answer.toHex().constData());

        alice.write("/whois\r\n", 100);
        QVERIFY(alice.waitFor(kDrainMarker));
    }

    // A TLS user who leaves: with close-notify, or just by closing the socket.
    // Either way it is an ordinary disconnect, never a TLS failure.
    void userLeaves_data()
    {
        QTest::addColumn<bool>("closeNotify");
        QTest::addColumn<QString>("end");

        QTest::newRow("with close-notify") << true << QStringLiteral("close-notify");
        QTest::newRow("socket closed without close-notify") << false << QStringLiteral("disconnected");
    }
    void userLeaves()
    {
        QFETCH(bool, closeNotify);
        QFETCH(QString, end);
        Gateway gw;
        QVERIFY(gw.start());
        Client &carol = gw.add("carol");
        QVERIFY(carol.login());
        TlsFront front(*m_context, gw.server->serverPort());
        TlsClient bob(front.port(), "bob", m_ca, QSsl::SecureProtocols);
        QVERIFY(bob.encrypted());
        bob.write(loginBytes("bob", "pw"), 1000);
        QVERIFY(bob.waitFor(welcome("bob")));
        QVERIFY(carol.waitFor(joinLineFor("bob")));
        if (closeNotify) {
            bob.socket.disconnectFromHost();
        } else {
            bob.socket.abort();
        }
        QVERIFY(QTest::qWaitFor([&] { return front.ends().size() == 1; }, kTimeout));
        QCOMPARE(front.ends().first(), end);
        QVERIFY(carol.waitFor("1003 LEAVE bob"));
    }

private:
    static QByteArray joinLineFor(const QByteArray &name) { return "1002 JOIN " + name; }
};

QTEST_GUILESS_MAIN(tst_secure_tls)
#include "tst_secure_tls.moc"
