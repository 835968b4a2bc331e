// SPDX-License-Identifier: MIT
// The trust decision as a table, then over real TLS on loopback: certificates
// are made at test time by the openssl command line in a temporary folder.
#include "session/KnownHosts.h"
#include "session/ServerTrust.h"
#include "support/TestCerts.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Errors = QList<QSslError::SslError>;
Q_DECLARE_METATYPE(Errors)

namespace {

QByteArray key(const char *seed)
{
    return QCryptographicHash::hash(seed, QCryptographicHash::Sha256);
}

QList<QSslError> sslErrors(const Errors &kinds)
{
    QList<QSslError> errors;
    for (auto kind : kinds)
        errors << QSslError(kind);
    return errors;
}

// What the server under test presents.
struct Identity {
    QString certificate; // file names in the test's folder
    QString key;
};

} // namespace

class tst_servertrust : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QSslCertificate ca;
    QByteArray serverHeard; // decrypted bytes the TLS server received

    QString file(const QString &name) const { return dir.filePath(name); }

    bool run(const QStringList &arguments, QByteArray *output = nullptr)
    {
        return TestCerts::openssl(dir.path(), arguments, output);
    }

    // A self-signed certificate for the given names (a CA when isCa).
    bool selfSigned(const QString &name, const QString &keyType, const QString &subjectAltName, bool isCa = false)
    {
        QStringList args{"req", "-x509", "-config", "min.cnf", "-nodes", "-days", "2", "-subj", "/CN=" + name,
                         "-keyout", name + ".key", "-out", name + ".pem"};
        args << keyArguments(keyType);
        if (!subjectAltName.isEmpty())
            args << "-addext" << "subjectAltName=" + subjectAltName;
        if (isCa)
            args << "-addext" << "basicConstraints=critical,CA:TRUE" << "-addext" << "keyUsage=critical,keyCertSign";
        return run(args);
    }

    static QStringList keyArguments(const QString &keyType)
    {
        if (keyType == "rsa")
            return {"-newkey", "rsa:2048"};
        if (keyType == "ed25519")
            return {"-newkey", "ed25519"};
        return {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1"};
    }

    // A certificate signed by the test authority; days -1 makes one that has expired.
    bool issued(const QString &name, const QString &extensions, const QString &days)
    {
        static int serial = 1;
        return run({"req", "-new", "-config", "min.cnf", "-nodes", "-subj", "/CN=" + name, "-keyout", name + ".key",
                    "-out", name + ".csr", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1"})
               && run({"x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-set_serial",
                       QString::number(++serial), "-days", days, "-extfile", "ext.cnf", "-extensions", extensions,
                       "-out", name + ".pem"});
    }

    // SHA-256 of the public key as openssl itself writes it (SubjectPublicKeyInfo, DER).
    QByteArray opensslFingerprint(const QString &name)
    {
        QByteArray der;
        if (!run({"x509", "-in", name + ".pem", "-pubkey", "-noout", "-out", name + ".pub"})
            || !run({"pkey", "-pubin", "-in", name + ".pub", "-outform", "DER"}, &der))
            return {};
        return QCryptographicHash::hash(der, QCryptographicHash::Sha256);
    }

    QSslCertificate certificate(const QString &name)
    {
        QFile f(file(name + ".pem"));
        return f.open(QIODevice::ReadOnly) ? QSslCertificate(f.readAll()) : QSslCertificate();
    }

    std::unique_ptr<QSslServer> tlsServer(const QString &name)
    {
        QFile keyFile(file(name + ".key"));
        if (!keyFile.open(QIODevice::ReadOnly))
            return nullptr;
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(certificate(name));
        config.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        auto server = std::make_unique<QSslServer>();
        server->setSslConfiguration(config);
        QSslServer *raw = server.get();
        serverHeard.clear();
        // Greets each client once its side of the handshake is done, and keeps what it hears.
        connect(raw, &QSslServer::pendingConnectionAvailable, raw, [this, raw] {
            while (auto *peer = qobject_cast<QSslSocket *>(raw->nextPendingConnection())) {
                connect(peer, &QSslSocket::readyRead, peer, [this, peer] { serverHeard += peer->readAll(); });
                if (peer->isEncrypted())
                    peer->write("ok\r\n");
                else
                    connect(peer, &QSslSocket::encrypted, peer, [peer] { peer->write("ok\r\n"); });
            }
        });
        if (!server->listen(QHostAddress::LocalHost, 0))
            return nullptr;
        return server;
    }

    // A client that trusts the system's authorities and the test's own.
    void setUpClient(QSslSocket &client)
    {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setCaCertificates(QSslConfiguration::systemCaCertificates() << ca);
        client.setSslConfiguration(config);
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<TrustDecision>();
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty(),
                 "the openssl command is needed (scripts/setup.sh installs it)");
        QVERIFY(QSslSocket::supportsSsl());
        QFile config(file("min.cnf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("[req]\ndistinguished_name = dn\nprompt = no\n[dn]\nCN = unused\n");
        config.close();
        QFile extensions(file("ext.cnf"));
        QVERIFY(extensions.open(QIODevice::WriteOnly));
        extensions.write("[local]\nsubjectAltName = DNS:localhost, IP:127.0.0.1\n"
                         "[other]\nsubjectAltName = DNS:other.example\n");
        extensions.close();
        QVERIFY(selfSigned("ca", "ec", {}, true));
        ca = certificate("ca");
        QVERIFY(!ca.isNull());
        QVERIFY(issued("good", "local", "2"));
        QVERIFY(issued("wrongname", "other", "2"));
        QVERIFY(issued("expired", "local", "-1"));
        QVERIFY(selfSigned("self", "ec", "DNS:localhost,IP:127.0.0.1"));
        QVERIFY(selfSigned("self2", "ec", "DNS:localhost,IP:127.0.0.1"));
    }

    void decision_data()
    {
        QTest::addColumn<Errors>("errors");
        QTest::addColumn<int>("pin");
        QTest::addColumn<bool>("hasKey");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("reason");
        const int unknown = int(PinVerdict::Unknown), trusted = int(PinVerdict::Trusted), changed = int(PinVerdict::Changed);
        const int accept = int(TrustDecision::Accept), ask = int(TrustDecision::AskTrust),
                  refuse = int(TrustDecision::Refuse), refuseChanged = int(TrustDecision::RefuseChanged);
        const QString notChosen = "not the one you chose to trust";
        using E = QSslError;
        QTest::newRow("verified, new") << Errors{} << unknown << true << accept << "";
        QTest::newRow("verified but the pin changed") << Errors{} << changed << true << refuseChanged << notChosen;
        QTest::newRow("self-signed, new") << Errors{E::SelfSignedCertificate} << unknown << true << ask << "signed by itself";
        QTest::newRow("self-signed, pinned") << Errors{E::SelfSignedCertificate} << trusted << true << accept << "";
        QTest::newRow("self-signed, changed") << Errors{E::SelfSignedCertificate} << changed << true << refuseChanged << notChosen;
        QTest::newRow("unknown issuer") << Errors{E::UnableToGetLocalIssuerCertificate, E::UnableToVerifyFirstCertificate}
                                        << unknown << true << ask << "an authority this computer does not know";
        QTest::newRow("wrong name") << Errors{E::HostNameMismatch} << unknown << true << ask << "not made out to chat.example";
        QTest::newRow("expired") << Errors{E::CertificateExpired} << unknown << true << ask << "has expired";
        QTest::newRow("not yet valid") << Errors{E::CertificateNotYetValid} << unknown << true << ask << "not valid yet";
        QTest::newRow("revoked, even pinned") << Errors{E::SelfSignedCertificate, E::CertificateRevoked} << trusted << true
                                              << refuse << "revoked";
        QTest::newRow("blacklisted, even pinned") << Errors{E::CertificateBlacklisted} << trusted << true << refuse << "compromised";
        QTest::newRow("no certificate") << Errors{E::NoPeerCertificate} << unknown << true << refuse << "sent no certificate";
        QTest::newRow("no key at all") << Errors{} << unknown << false << refuse << "sent no certificate";
        QTest::newRow("an error without a name") << Errors{E::UnspecifiedError} << trusted << true << refuse << "";
    }

    void decision()
    {
        QFETCH(Errors, errors);
        QFETCH(int, pin);
        QFETCH(bool, hasKey);
        QFETCH(int, kind);
        QFETCH(QString, reason);
        const QByteArray now = hasKey ? key("now") : QByteArray();
        const PinLookup lookup{PinVerdict(pin), pin == int(PinVerdict::Changed) ? key("before") : QByteArray()};
        const TrustDecision d = decideTrust(sslErrors(errors), QStringLiteral("chat.example"), now, lookup);
        QCOMPARE(int(d.kind), kind);
        QCOMPARE(d.fingerprint, now);
        QCOMPARE(d.pinned, kind == int(TrustDecision::RefuseChanged) ? key("before") : QByteArray());
        if (kind == int(TrustDecision::Accept))
            QVERIFY(d.reasons.isEmpty());
        else
            QVERIFY(!d.reasons.isEmpty());
        QVERIFY2(d.reasons.join(' ').contains(reason), qPrintable(d.reasons.join(" | ")));
    }

    void reasonsAreNotRepeated()
    {
        const TrustDecision d = decideTrust(sslErrors({QSslError::UnableToGetIssuerCertificate, QSslError::UnableToGetLocalIssuerCertificate,
                                                       QSslError::HostNameMismatch}),
                                            QStringLiteral("h"), key("k"), {});
        QCOMPARE(d.reasons.size(), 2);
    }

    // The key is taken from the certificate exactly as openssl writes it, for each kind of key.
    void fingerprintMatchesOpenssl_data()
    {
        QTest::addColumn<QString>("keyType");
        QTest::newRow("EC") << "ec";
        QTest::newRow("RSA") << "rsa";
        QTest::newRow("Ed25519") << "ed25519";
    }

    void fingerprintMatchesOpenssl()
    {
        QFETCH(QString, keyType);
        const QString name = "kind-" + keyType;
        QVERIFY(selfSigned(name, keyType, "DNS:localhost"));
        const QSslCertificate cert = certificate(name);
        QVERIFY(!cert.isNull());
        const QByteArray expected = opensslFingerprint(name);
        QCOMPARE(expected.size(), 32);
        QCOMPARE(keyFingerprint(cert), expected);
    }

    void malformedCertificateBytes_data()
    {
        QTest::addColumn<QByteArray>("der");
        const QByteArray good = certificate("good").toDer();
        QTest::newRow("not a sequence") << QByteArray(good).replace(0, 1, "\x31");
        QTest::newRow("length beyond the end") << QByteArray("\x30\x84\x7f\xff\xff\xff\x30\x00", 8);
        QTest::newRow("indefinite length") << QByteArray("\x30\x80\x30\x80\x00\x00\x00\x00", 8);
        QTest::newRow("empty inner sequence") << QByteArray("\x30\x02\x30\x00", 4);
        QTest::newRow("text") << QByteArray("-----BEGIN CERTIFICATE-----");
    }

    void malformedCertificateBytes()
    {
        QFETCH(QByteArray, der);
        QVERIFY(subjectPublicKeyInfo(der).isEmpty());
    }

    // Every cut of a good certificate, down to nothing, is refused; none is read past its end.
    void cutCertificates()
    {
        const QByteArray good = certificate("good").toDer();
        QVERIFY(!subjectPublicKeyInfo(good).isEmpty());
        for (qsizetype n = 0; n < good.size(); ++n) {
            const QByteArray cut = good.left(n); // its own buffer, so a read past it shows under sanitizers
            QVERIFY(subjectPublicKeyInfo(cut).isEmpty());
        }
    }

    // A real handshake with a server presenting `server`, a known-hosts file
    // holding `pinned` (none, the same key, or another server's key) for it.
    void handshake_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("pinned");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("valid chain, first contact") << "good" << "" << int(TrustDecision::Accept) << "";
        QTest::newRow("valid chain, key changed") << "good" << "self" << int(TrustDecision::RefuseChanged) << "not the one";
        QTest::newRow("self-signed, first contact") << "self" << "" << int(TrustDecision::AskTrust) << "signed by itself";
        QTest::newRow("self-signed, key changed") << "self2" << "self" << int(TrustDecision::RefuseChanged) << "not the one";
        QTest::newRow("wrong host name") << "wrongname" << "" << int(TrustDecision::AskTrust)
                                         << "made out to other.example, not to localhost";
        QTest::newRow("expired") << "expired" << "" << int(TrustDecision::AskTrust) << "expired on";
    }

    void handshake()
    {
        QFETCH(QString, server);
        QFETCH(QString, pinned);
        QFETCH(int, kind);
        QFETCH(QString, reason);
        auto tls = tlsServer(server);
        QVERIFY(tls);
        const QString hostPort = QStringLiteral("localhost:%1").arg(tls->serverPort());
        KnownHosts hosts(file("known_hosts-" + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_')));
        if (!pinned.isEmpty())
            QVERIFY(hosts.pin(hostPort, opensslFingerprint(pinned)));

        QSslSocket client;
        setUpClient(client);
        ServerTrustCheck check(&client, &hosts, QStringLiteral("localhost"), hostPort);
        QSignalSpy trusted(&check, &ServerTrustCheck::trusted);
        QSignalSpy untrusted(&check, &ServerTrustCheck::untrusted);
        QSignalSpy failed(&check, &ServerTrustCheck::handshakeFailed);
        client.connectToHostEncrypted(QStringLiteral("localhost"), tls->serverPort());
        // Written early, as a login may be: it goes out only to a trusted server.
        client.write("secret-login\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(trusted.size() + untrusted.size() + failed.size(), 1, 10000);
        QVERIFY2(failed.isEmpty(), failed.isEmpty() ? "" : qPrintable(failed.first().first().toString()));

        if (kind == int(TrustDecision::Accept)) {
            QCOMPARE(trusted.size(), 1);
            QVERIFY(client.isEncrypted());
            // The link carries the chat: the server's greeting arrives.
            QTRY_VERIFY(client.canReadLine());
            QCOMPARE(client.readLine(), QByteArray("ok\r\n"));
            QCOMPARE(connectionSecurityNotice(hostPort, client.isEncrypted(), client.sessionProtocol()),
                     "Connected securely to " + hostPort + " (TLS 1.3)");
            QTRY_COMPARE(serverHeard, QByteArray("secret-login\r\n"));
        } else {
            QCOMPARE(untrusted.size(), 1);
            const auto d = untrusted.first().first().value<TrustDecision>();
            QCOMPARE(int(d.kind), kind);
            QCOMPARE(d.fingerprint, opensslFingerprint(server));
            QCOMPARE(d.pinned, kind == int(TrustDecision::RefuseChanged) ? opensslFingerprint(pinned) : QByteArray());
            QVERIFY2(d.reasons.join(' ').contains(reason), qPrintable(d.reasons.join(" | ")));
            // Closed before anyone is asked; nothing was read from an untrusted server.
            QCOMPARE(client.state(), QAbstractSocket::UnconnectedState);
            QCOMPARE(client.bytesAvailable(), 0);
        }
        // One report per connection.
        QTest::qWait(100);
        if (kind != int(TrustDecision::Accept))
            QCOMPARE(serverHeard, QByteArray());
        QCOMPARE(trusted.size() + untrusted.size() + failed.size(), 1);
        if (kind != int(TrustDecision::AskTrust))
            return;
        // The user trusts the key shown: the next connection goes through.
        QVERIFY(hosts.pin(hostPort, untrusted.first().first().value<TrustDecision>().fingerprint));
        client.connectToHostEncrypted(QStringLiteral("localhost"), tls->serverPort());
        QTRY_COMPARE_WITH_TIMEOUT(trusted.size(), 1, 10000);
        QCOMPARE(untrusted.size(), 1);
        QTRY_VERIFY(client.canReadLine());
    }

    // A secure client dialling a plain server: a clear reason, and no hang.
    void secureClientToPlainServer_data()
    {
        QTest::addColumn<QByteArray>("serverSays");
        QTest::addColumn<bool>("serverCloses");
        QTest::addColumn<QString>("reason");
        QTest::newRow("silent server") << QByteArray() << false << "within 0.5 seconds; it may be a plain chat server";
        QTest::newRow("server writes text") << QByteArray("1002 INFO \"Welcome\"\r\n") << false << "did not complete a secure handshake";
        QTest::newRow("server hangs up") << QByteArray() << true << "closed the connection during the secure handshake";
    }

    void secureClientToPlainServer()
    {
        QFETCH(QByteArray, serverSays);
        QFETCH(bool, serverCloses);
        QFETCH(QString, reason);
        QTcpServer plain;
        QVERIFY(plain.listen(QHostAddress::LocalHost, 0));
        connect(&plain, &QTcpServer::newConnection, &plain, [&] {
            while (QTcpSocket *peer = plain.nextPendingConnection()) {
                if (!serverSays.isEmpty())
                    peer->write(serverSays);
                if (serverCloses)
                    peer->disconnectFromHost();
            }
        });
        KnownHosts hosts(file("known_hosts-plain"));
        QSslSocket client;
        setUpClient(client);
        const QString hostPort = QStringLiteral("localhost:%1").arg(plain.serverPort());
        ServerTrustCheck check(&client, &hosts, QStringLiteral("localhost"), hostPort);
        check.setHandshakeTimeout(500);
        QSignalSpy trusted(&check, &ServerTrustCheck::trusted);
        QSignalSpy untrusted(&check, &ServerTrustCheck::untrusted);
        QSignalSpy failed(&check, &ServerTrustCheck::handshakeFailed);
        client.connectToHostEncrypted(QStringLiteral("localhost"), plain.serverPort());
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 5000);
        const QString text = failed.first().first().toString();
        QVERIFY2(text.contains(reason) && text.contains(hostPort), qPrintable(text));
        QCOMPARE(client.state(), QAbstractSocket::UnconnectedState);
        QTest::qWait(700);
        QCOMPARE(trusted.size() + untrusted.size() + failed.size(), 1);
    }

    // A plain client dialling a TLS server is closed on at once (Qt's server
    // says nothing; an OpenSSL one may send an alert first, which reads as TLS).
    void plainClientToSecureServer()
    {
        auto tls = tlsServer("self");
        QVERIFY(tls);
        QTcpSocket client;
        QByteArray heard;
        connect(&client, &QTcpSocket::readyRead, &client, [&] { heard += client.readAll(); });
        client.connectToHost(QHostAddress::LocalHost, tls->serverPort());
        QVERIFY(client.waitForConnected(5000));
        client.write(QByteArray("\x03\x04\r\n\r\nGuest\r\n\r\n", 13));
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 5000);
        if (!heard.isEmpty())
            QVERIFY2(looksLikeTls(heard), heard.toHex().constData());
    }

    void securityNotice_data()
    {
        QTest::addColumn<bool>("secure");
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("notice");
        QTest::newRow("TLS 1.2") << true << int(QSsl::TlsV1_2) << "Connected securely to h:6113 (TLS 1.2)";
        QTest::newRow("unnamed protocol") << true << int(QSsl::UnknownProtocol) << "Connected securely to h:6113";
        QTest::newRow("plain") << false << int(QSsl::UnknownProtocol) << "Connected to h:6113 without encryption";
    }

    void securityNotice()
    {
        QFETCH(bool, secure);
        QFETCH(int, protocol);
        QFETCH(QString, notice);
        QCOMPARE(connectionSecurityNotice(QStringLiteral("h:6113"), secure, QSsl::SslProtocol(protocol)), notice);
    }

    void tlsRecordsRecognised_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("tls");
        QTest::newRow("alert, TLS 1.2") << QByteArray("\x15\x03\x03\x00\x02\x02\x46", 7) << true;
        QTest::newRow("handshake, TLS 1.0 record") << QByteArray("\x16\x03\x01\x02\x00", 5) << true;
        QTest::newRow("chat line") << QByteArray("1002 INFO \"x\"\r\n") << false;
        QTest::newRow("too short") << QByteArray("\x15\x03", 2) << false;
        QTest::newRow("application data is not how a server starts") << QByteArray("\x17\x03\x03", 3) << false;
        QTest::newRow("unknown minor version") << QByteArray("\x16\x03\x09", 3) << false;
        QTest::newRow("handshake mode bytes") << QByteArray("\x03\x04\r\n", 4) << false;
    }

    void tlsRecordsRecognised()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, tls);
        QCOMPARE(looksLikeTls(bytes), tls);
    }
};

QTEST_GUILESS_MAIN(tst_servertrust)
#include "tst_servertrust.moc"
