// SPDX-License-Identifier: MIT
// Logins against an accounts file in the running gateway: hashed and plain
// lines, refusals with the reason in the log, the throttle after a failure,
// and the gateway's command line for hashes and certificates.
#include "Accounts.h"
#include "Names.h"
#include "TlsServer.h"
#include "gateway/GatewayTestClient.h"
#include "support/TestCerts.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace GatewayTest;

namespace {

const QByteArray kIncorrect = info("Incorrect user name or password.");
const QByteArray kThrottled = info("Too many failed logins. Please try again in 1 s.");

QString gatewayPath()
{
    return qEnvironmentVariable("VESK_BIN_DIR") + QStringLiteral("/vesk-gateway");
}

} // namespace

class tst_gateway_accounts : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_cert;
    QString m_key;
    QSslCertificate m_ca;
    QByteArray m_accountsFile;
    Gateway gw;

    void start()
    {
        QVERIFY(gw.start());
        QString error;
        std::optional<Accounts> accounts = Accounts::parse(m_accountsFile, &error, Names::nameProblem);
        QVERIFY2(accounts, qPrintable(error));
        gw.server->setAccounts(std::move(*accounts));
        QVERIFY(gw.server->listenTls(QHostAddress::LocalHost, 0, TlsServerContext::load(m_cert, m_key, &error)));
    }

    // Logs in over TLS; what the gateway answered once it closed or welcomed.
    QByteArray tlsLogin(const QByteArray &name, const QByteArray &password)
    {
        TlsClient client(gw.server->tlsPort(), name, m_ca);
        if (client.encrypted())
            client.write(loginBytes(name, password));
        (void)QTest::qWaitFor([&] { return client.received.contains("Welcome") || client.socket.state() == QAbstractSocket::UnconnectedState; },
                              kTimeout);
        return client.received;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && PasswordHash::initialise());
        QVERIFY(TestCerts::makeCertificate(m_dir.path(), &m_cert, &m_key));
        m_ca = QSslCertificate::fromPath(m_cert).value(0);
        QVERIFY(!m_ca.isNull());
        const std::optional<QByteArray> alice = hashPasswordLine("alice", "secret");
        QVERIFY(alice);
        m_accountsFile = "# accounts\n" + *alice + "\nbob:plain:pw\n";
    }

    void login_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<bool>("overTls");
        QTest::addColumn<QByteArray>("reply");  // what the client gets, whole
        QTest::addColumn<QString>("logged");    // a line of the gateway's log

        const QByteArray lobby = "1007 CHANNEL \"Lobby\"\r\n";
        QTest::newRow("hashed line") << QByteArray("alice") << QByteArray("secret") << false
                                     << lobby + "1001 USER alice 0002\r\n" + welcome("alice") << "logged in as alice";
        QTest::newRow("hashed line over TLS") << QByteArray("alice") << QByteArray("secret") << true
                                              << lobby + "1001 USER alice 0002\r\n" + welcome("alice")
                                              << "logged in as alice";
        QTest::newRow("plain line") << QByteArray("bob") << QByteArray("plain:pw") << false
                                    << lobby + "1001 USER bob 0002\r\n" + welcome("bob") << "logged in as bob";
        QTest::newRow("wrong password, hashed") << QByteArray("alice") << QByteArray("Secret") << false << kIncorrect
                                                << "login refused for alice: wrong password";
        QTest::newRow("wrong password over TLS") << QByteArray("alice") << QByteArray("") + "secret " << true
                                                 << kIncorrect << "login refused for alice: wrong password";
        QTest::newRow("names compare exactly") << QByteArray("Alice") << QByteArray("secret") << false << kIncorrect
                                               << "login refused for Alice: no such account";
        QTest::newRow("no such account") << QByteArray("eve") << QByteArray("secret") << false << kIncorrect
                                         << "login refused for eve: no such account";
        QTest::newRow("anonymous needs no account") << QByteArray("guest") << QByteArray() << false
                                                    << lobby + "1001 USER guest 0002\r\n" + welcome("guest")
                                                    << "logged in as guest";
    }
    void login()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, password);
        QFETCH(bool, overTls);
        QFETCH(QByteArray, reply);
        QFETCH(QString, logged);
        start();
        QByteArray received;
        if (overTls) {
            received = tlsLogin(name, password);
        } else {
            Client &client = gw.add(name);
            client.write(loginBytes(name, password));
            QVERIFY(client.waitFor(reply.right(30)));
            if (!reply.contains("Welcome"))
                QTRY_COMPARE(client.socket.state(), QAbstractSocket::UnconnectedState);
            received = client.received;
        }
        QCOMPARE(received, reply);
        QVERIFY2(gw.log.filter(logged).size() == 1, qPrintable(gw.log.join(u'\n')));
        QCOMPARE(gw.server->userCount(), reply.contains("Welcome") ? 1 : 0);
    }

    // After a failure, the next attempt on that name or from that address
    // waits a second, and then the right password gets in.
    void throttle_data()
    {
        QTest::addColumn<QByteArray>("secondName");
        QTest::addColumn<QByteArray>("secondPassword");

        QTest::newRow("same name") << QByteArray("alice") << QByteArray("secret");
        QTest::newRow("same address, other name") << QByteArray("bob") << QByteArray("plain:pw");
    }
    void throttle()
    {
        QFETCH(QByteArray, secondName);
        QFETCH(QByteArray, secondPassword);
        start();
        Client &typo = gw.add("alice");
        typo.write(loginBytes("alice", "typo"));
        QVERIFY(typo.waitFor(kIncorrect));

        Client &soon = gw.add(secondName);
        soon.write(loginBytes(secondName, secondPassword));
        QVERIFY(soon.waitFor(kThrottled));
        QTRY_COMPARE(soon.socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(soon.received, kThrottled);
        QCOMPARE(gw.log.filter("login refused for " + secondName + ": throttled for 1 s").size(), 1);

        QTest::qWait(1100);
        QVERIFY(gw.add(secondName).login(secondPassword));
    }

    // A connection that goes while its password is being checked is
    // forgotten: no login, nothing counted, and the next login works.
    void closesWhileChecking()
    {
        start();
        for (int i = 0; i < 5; ++i) {
            Client &gone = gw.add("alice");
            gone.write(loginBytes("alice", "secret"));
            gone.socket.abort();
        }
        QTRY_COMPARE(gw.server->connectionCount(), 0);
        QTest::qWait(300); // every verdict is back by now
        QCOMPARE(gw.log.filter(QStringLiteral("logged in as")).size(), 0);
        QCOMPARE(gw.server->userCount(), 0);
        QVERIFY(gw.add("alice").login("secret"));
        QCOMPARE(gw.server->userCount(), 1);
    }

    // The gateway's command line: what it prints and its exit code.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");  // the start of standard output
        QTest::addColumn<QString>("error");   // part of standard error

        const QString dir = m_dir.path();
        QTest::newRow("hash a password") << QStringList{"--hash-password", "carol"} << QByteArray("pw 1\n") << 0
                                         << "carol:$argon2id$v=19$m=19456,t=2,p=1$" << QString();
        QTest::newRow("hash a password without a line end") << QStringList{"--hash-password", "carol"}
                                                            << QByteArray("pw 1") << 0 << "carol:$argon2id$" << QString();
        QTest::newRow("hash an empty password") << QStringList{"--hash-password", "carol"} << QByteArray("\npw 1\n")
                                                << 2 << QString() << "empty password";
        QTest::newRow("hash for an unusable name") << QStringList{"--hash-password", "a b"} << QByteArray("pw 1\n")
                                                   << 2 << QString() << "unusable name";
        QTest::newRow("missing certificate")
                << QStringList{"--port", "0", "--tls-cert", dir + "/none.pem", "--tls-key", m_key} << QByteArray()
                << 1 << QString() << "TLS certificate " + dir + "/none.pem: No such file";
        QTest::newRow("key of the certificate given as certificate")
                << QStringList{"--port", "0", "--tls-cert", m_key, "--tls-key", m_key} << QByteArray() << 1
                << QString() << "not a usable PEM certificate";
        QTest::newRow("certificate without key") << QStringList{"--port", "0", "--tls-cert", m_cert} << QByteArray()
                                                 << 2 << QString() << "--tls-cert and --tls-key go together";
        QTest::newRow("help") << QStringList{"--help"} << QByteArray() << 0 << QString() << QString();
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, error);
        QProcess process;
        process.start(gatewayPath(), arguments);
        QVERIFY2(process.waitForStarted(), qPrintable(gatewayPath()));
        process.write(input);
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(kTimeout));
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitCode(), exitCode);
        QVERIFY2(out.startsWith(output), qPrintable(out));
        if (arguments.contains(u"--help")) {
            for (const char *option : {"--tls-port", "--tls-cert", "--tls-key", "--hash-password", "--accounts"})
                QVERIFY2(out.contains(QLatin1String(option)), option);
            return;
        }
        // One line saying why, and nothing else.
        QCOMPARE(err.count(u'\n'), error.isEmpty() ? 0 : 1);
        QVERIFY2(err.contains(error), qPrintable(err));
        if (!output.isEmpty()) {
            // The printed line is an accounts file that logs the name in with that password, and nothing else.
            const std::optional<Accounts> accounts = Accounts::parse(out.toUtf8());
            QVERIFY(out.endsWith(u'\n') && accounts && accounts->find("carol") && accounts->find("carol")->hashed);
            PasswordVerifier verifier(*accounts);
            QList<PasswordVerifier::Verdict> right, wrong;
            verifier.verify("carol", "pw 1", this, [&](PasswordVerifier::Verdict v) { right << v; });
            verifier.verify("carol", "pw 2", this, [&](PasswordVerifier::Verdict v) { wrong << v; });
            QTRY_VERIFY_WITH_TIMEOUT(!right.isEmpty() && !wrong.isEmpty(), kTimeout);
            QCOMPARE(right.first(), PasswordVerifier::Verdict::Accepted);
            QCOMPARE(wrong.first(), PasswordVerifier::Verdict::Refused);
        } else {
            QVERIFY(out.isEmpty());
        }
    }

    // Started with an accounts file and no certificate: one warning for each
    // name stored in clear, one line saying there is no TLS port.
    void startLines()
    {
        QFile file(m_dir.filePath(QStringLiteral("accounts.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(m_accountsFile + "dave:other\n");
        file.close();
        QProcess process;
        process.setReadChannel(QProcess::StandardError);
        process.start(gatewayPath(), {"--port", "0", "--accounts", file.fileName()});
        QVERIFY(QTest::qWaitFor([&] {
            process.waitForReadyRead(50);
            return process.peek(1 << 16).contains("no TLS port");
        }, kTimeout));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        process.kill();
        process.waitForFinished();
        QCOMPARE(err.count(QStringLiteral("has its password in clear")), 2);
        QCOMPARE(err.count(QStringLiteral("account bob has its password in clear")), 1);
        QCOMPARE(err.count(QStringLiteral("account dave has its password in clear")), 1);
        QCOMPARE(err.count(QStringLiteral("no TLS port")), 1);
    }
};

QTEST_GUILESS_MAIN(tst_gateway_accounts)
#include "tst_gateway_accounts.moc"
