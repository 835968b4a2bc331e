// SPDX-License-Identifier: MIT
// TLS sessions for the gateway: certificate loading and records in memory.
// Real TLS clients on the gateway's own TLS port are in tst_gateway_tls.
#include "TlsServer.h"
#include "support/TestCerts.h"
#include "support/TlsMemoryClient.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using TlsTest::MemoryClient;
using Status = TlsSession::Status;

class tst_secure_tls : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_cert;
    QString m_key;
    std::unique_ptr<TlsServerContext> m_context;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    bool openssl(const QStringList &arguments) { return TestCerts::openssl(m_dir.path(), arguments); }
    bool writeFile(const QString &name, const QByteArray &content) { return TestCerts::writeFile(path(name), content); }
    QByteArray readFile(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(TestCerts::makeCertificate(m_dir.path(), &m_cert, &m_key));
        QString error;
        m_context = TlsServerContext::load(m_cert, m_key, &error);
        QVERIFY2(m_context, qPrintable(error));
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
        QTest::newRow("key with a passphrase") << cert << path("encrypted-key.pem")
                                               << QStringLiteral("without a passphrase");
        QTest::newRow("another certificate's key") << cert << path("other-key.pem")
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

    // A bad record or an unwanted handshake: the session fails for good and
    // no other session notices.
    void peerMisbehaves_data()
    {
        QTest::addColumn<QString>("what");

        QTest::newRow("record with a flipped byte") << QStringLiteral("flip");
        QTest::newRow("record cut short, then a new one") << QStringLiteral("cut");
        QTest::newRow("record header with a huge length") << QStringLiteral("huge");
        QTest::newRow("TLS 1.2 renegotiation") << QStringLiteral("renegotiate");
    }
    void peerMisbehaves()
    {
        QFETCH(QString, what);
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
        } else {
            QCOMPARE(SSL_renegotiate(client.ssl), 1);
            client.handshakeStep();
            bytes = client.output();
            QVERIFY(!bytes.isEmpty());
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
        QCOMPARE(got, Status::Failed);
        QVERIFY(plain.isEmpty());
        qInfo("%s", qPrintable(session.errorString()));
        QVERIFY(!session.errorString().isEmpty());
        QCOMPARE(session.feed("more", &plain), Status::Failed);
        QCOMPARE(session.write("more"), Status::Failed);

        QByteArray bystanderPlain;
        QCOMPARE(bystander.feed(bystanderClient.encrypt("still here\r\n"), &bystanderPlain), Status::Ok);
        QCOMPARE(bystanderPlain, QByteArray("still here\r\n"));
    }

    // The last lines and the close-notify, together or apart: the lines still
    // come out, with the news that the peer is done, and our close-notify answers.
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
        client.decrypt(session.takeOutput());
        QVERIFY(SSL_get_shutdown(client.ssl) & SSL_RECEIVED_SHUTDOWN);
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
};

QTEST_GUILESS_MAIN(tst_secure_tls)
#include "tst_secure_tls.moc"
