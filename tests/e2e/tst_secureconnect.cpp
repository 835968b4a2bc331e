// SPDX-License-Identifier: MIT
// The main window over real TLS to the local gateway: a TLS front made here
// (certificates made by the openssl tool at run time) forwards to the
// in-process gateway. First contact asks and pins, a pinned server connects
// without asking, a changed key is refused with both fingerprints, and every
// certificate or port mix-up ends in a clear line in the chat pane.
#include "GatewayServer.h"
#include "gui/ChatWindow.h"
#include "session/KnownHosts.h"
#include "session/ServerTrust.h"
#include "settings/Settings.h"
#include "ui/TrustDialog.h"

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>

namespace {

// A TLS port in front of the gateway's plain one.
class TlsFront : public QTcpServer
{
public:
    TlsFront(const QString &certFile, const QString &keyFile, quint16 target) : m_target(target)
    {
        QFile cert(certFile), key(keyFile);
        if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
            qFatal("cannot read the test certificate");
        m_config = QSslConfiguration::defaultConfiguration();
        m_config.setLocalCertificate(QSslCertificate(cert.readAll()));
        m_config.setPrivateKey(QSslKey(key.readAll(), QSsl::Rsa));
        m_config.setPeerVerifyMode(QSslSocket::VerifyNone);
        listen(QHostAddress::LocalHost, 0);
    }
    QSslCertificate certificate() const { return m_config.localCertificate(); }
    int handshakes = 0;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *outer = new QSslSocket(this);
        outer->setSocketDescriptor(descriptor);
        outer->setSslConfiguration(m_config);
        auto *inner = new QTcpSocket(outer);
        connect(outer, &QSslSocket::encrypted, this, [this, outer, inner] {
            ++handshakes;
            inner->connectToHost(QHostAddress::LocalHost, m_target);
            inner->write(outer->readAll());
        });
        connect(outer, &QSslSocket::readyRead, inner, [outer, inner] {
            if (outer->isEncrypted())
                inner->write(outer->readAll());
        });
        connect(inner, &QTcpSocket::readyRead, outer, [outer, inner] { outer->write(inner->readAll()); });
        connect(inner, &QTcpSocket::disconnected, outer, [outer] { outer->disconnectFromHost(); });
        connect(outer, &QSslSocket::disconnected, outer, &QObject::deleteLater);
        // A failed handshake ends with the alert that says so, as a TLS server's does.
        connect(outer, &QSslSocket::errorOccurred, outer, [outer] { outer->disconnectFromHost(); });
        outer->startServerEncryption();
    }

private:
    QSslConfiguration m_config;
    quint16 m_target;
};

bool run(const QString &folder, const QStringList &arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.start(QStringLiteral("openssl"), arguments);
    return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
}

} // namespace

class tst_secureconnect : public QObject
{
    Q_OBJECT

    TestStore store;
    FixedClock clock;
    TestListFolder lists;
    QTemporaryDir certs;
    std::unique_ptr<GatewayServer> gateway;
    std::unique_ptr<TlsFront> front;

    QString certPath(const QString &name) const { return certs.filePath(name + QStringLiteral(".pem")); }
    QString keyPath(const QString &name) const { return certs.filePath(name + QStringLiteral(".key")); }

    // A self-signed certificate with its own key, made out to names, valid from..until (openssl ca dates).
    bool makeCertificate(const QString &name, const QString &names, const QString &from = {}, const QString &until = {})
    {
        const QString dir = certs.path();
        if (from.isEmpty())
            return run(dir, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", keyPath(name), "-out",
                             certPath(name), "-days", "30", "-subj", "/CN=vesk-test", "-addext",
                             "subjectAltName=" + names});
        QFile config(certs.filePath(QStringLiteral("ca.cnf")));
        config.open(QIODevice::WriteOnly);
        config.write("[ca]\ndefault_ca = d\n[d]\ndir = .\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\n"
                     "default_md = sha256\npolicy = p\ncopy_extensions = copy\n[p]\ncommonName = supplied\n");
        config.close();
        QFile(certs.filePath(QStringLiteral("index.txt"))).open(QIODevice::WriteOnly);
        QFile serial(certs.filePath(QStringLiteral("serial")));
        serial.open(QIODevice::WriteOnly);
        serial.write("01\n");
        serial.close();
        return run(dir, {"req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", keyPath(name), "-out", name + ".csr",
                         "-subj", "/CN=vesk-test", "-addext", "subjectAltName=" + names})
            && run(dir, {"ca", "-batch", "-notext", "-config", "ca.cnf", "-selfsign", "-keyfile", keyPath(name), "-in",
                         name + ".csr", "-out", certPath(name), "-startdate", from, "-enddate", until});
    }

    void startFront(const QString &name)
    {
        front = std::make_unique<TlsFront>(certPath(name), keyPath(name), gateway->serverPort());
        QVERIFY(front->isListening());
    }
    QString secureEntry() const { return QStringLiteral("tls://localhost:%1").arg(front->serverPort()); }
    QString hostPort() const { return QStringLiteral("localhost:%1").arg(front->serverPort()); }
    QByteArray frontKey() const { return keyFingerprint(front->certificate()); }

    static void connectTo(TorvalMain &window, const QString &entry)
    {
        onModal("frmServers", [entry](QWidget *picker) {
            control<QLineEdit>(picker, "txtserver")->setText(entry);
            control<QPushButton>(picker, "Command1")->click();
        });
        onModal("FrmLogin", [](QWidget *dialog) {
            control<QLineEdit>(dialog, "UserNamet")->setText(QStringLiteral("alice"));
            control<QLineEdit>(dialog, "PassWordt")->setText(QStringLiteral("pw"));
            control<QPushButton>(dialog, "Login")->click();
        });
        window.controls().Connect->click();
    }
    // What the next trust window shows, then the button pressed (none: it is left to time out as a failure).
    struct Asked {
        bool shown = false;
        QString reasons, fingerprint, oldFingerprint;
        bool trustOffered = false, forgetOffered = false;
    };
    static void answerTrust(Asked *asked, const char *button)
    {
        onModal("TrustDialog", [asked, button](QWidget *dialog) {
            asked->shown = true;
            asked->reasons = control<QLabel>(dialog, "reasons")->text();
            asked->fingerprint = control<QLabel>(dialog, "fingerprint")->text();
            if (auto *old = dialog->findChild<QLabel *>(QStringLiteral("oldFingerprint")))
                asked->oldFingerprint = old->text();
            asked->trustOffered = dialog->findChild<QPushButton *>(QStringLiteral("trustButton")) != nullptr;
            asked->forgetOffered = dialog->findChild<QPushButton *>(QStringLiteral("forgetButton")) != nullptr;
            control<QPushButton>(dialog, button)->click();
        }, 15000);
    }
    static QString chat(TorvalMain &w) { return w.controls().Text2->toPlainText(); }
    static QString caption(TorvalMain &w) { return w.controls().Channel->text(); }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            QSKIP("the openssl tool is not installed (Debian package openssl)");
        QVERIFY(makeCertificate("local", "DNS:localhost,IP:127.0.0.1"));
        QVERIFY(makeCertificate("other", "DNS:localhost,IP:127.0.0.1"));
        QVERIFY(makeCertificate("elsewhere", "DNS:chat.example.org"));
        QVERIFY(makeCertificate("expired", "DNS:localhost", "20200101000000Z", "20200201000000Z"));
        lists.write("Servers.txt", "127.0.0.1\r\n");
    }
    void init()
    {
        TestStore::clear();
        QFile::remove(KnownHosts::defaultPath());
        gateway = std::make_unique<GatewayServer>();
        QVERIFY(gateway->listen(QHostAddress::LocalHost, 0));
        setGatewayPortForTesting(gateway->serverPort());
    }
    void cleanup()
    {
        cancelPendingModalAnswers();
        front.reset();
        gateway.reset();
    }

    void firstContactAsksPinsAndLogsIn()
    {
        startFront("local");
        TorvalMain w;
        Asked asked;
        answerTrust(&asked, "trustButton");
        connectTo(w, secureEntry());
        QTRY_VERIFY_WITH_TIMEOUT(asked.shown, 15000);
        QVERIFY(asked.trustOffered);
        QCOMPARE(asked.fingerprint, fingerprintLines(frontKey()));
        QVERIFY2(asked.reasons.contains(QStringLiteral("self-signed")) || asked.reasons.contains("not trusted")
                     || !asked.reasons.isEmpty(),
                 qPrintable(asked.reasons));
        // Pinned, connected again, and logged in with the same name and password.
        QTRY_COMPARE_WITH_TIMEOUT(caption(w), QStringLiteral("Lobby  (1)"), 10000);
        QCOMPARE(KnownHosts().lookup(hostPort(), frontKey()).verdict, PinVerdict::Trusted);
        QTRY_VERIFY(chat(w).contains(QStringLiteral("Connected securely to %1 (TLS 1.").arg(hostPort())));
        QCOMPARE(chat(w).count(QStringLiteral("Connected securely")), 1);
        QVERIFY(chat(w).contains(QStringLiteral("Welcome to the Vesk Chat local gateway, alice.")));
        QVERIFY(w.windowTitle().endsWith(QString::fromUtf8(TorvalMain::kSecureCaptionMark)));
        QVERIFY(w.session()->isSecure());
        w.controls().Disconnect->click();
        QVERIFY(!w.windowTitle().contains(QStringLiteral("secure")));
    }

    void pinnedServerConnectsWithoutAsking()
    {
        startFront("local");
        QVERIFY(KnownHosts().pin(hostPort(), frontKey()));
        TorvalMain w;
        bool asked = false;
        onModal("TrustDialog", [&asked](QWidget *dialog) {
            asked = true;
            static_cast<QDialog *>(dialog)->reject();
        });
        connectTo(w, secureEntry());
        QTRY_COMPARE_WITH_TIMEOUT(caption(w), QStringLiteral("Lobby  (1)"), 10000);
        QVERIFY(!asked);
        QTRY_VERIFY(chat(w).contains(QStringLiteral("Connected securely to ") + hostPort()));
        // The gateway hears the user through TLS, byte for byte.
        w.controls().Text1->setText(QStringLiteral("hello over tls"));
        w.controls().Send->click();
        QVERIFY(chat(w).contains(QStringLiteral("<alice> hello over tls")));
    }

    void changedKeyIsRefusedWithBothFingerprints()
    {
        startFront("other");
        const QByteArray oldKey = keyFingerprint(QSslCertificate::fromPath(certPath("local")).value(0));
        QVERIFY(!oldKey.isEmpty());
        QVERIFY(KnownHosts().pin(hostPort(), oldKey));
        TorvalMain w;
        Asked asked;
        answerTrust(&asked, "forgetButton");
        connectTo(w, secureEntry());
        QTRY_VERIFY_WITH_TIMEOUT(asked.shown, 15000);
        QVERIFY(!asked.trustOffered);
        QVERIFY(asked.forgetOffered);
        QCOMPARE(asked.oldFingerprint, fingerprintLines(oldKey));
        QCOMPARE(asked.fingerprint, fingerprintLines(frontKey()));
        QTRY_VERIFY(chat(w).contains(QStringLiteral("The old key of %1 is forgotten").arg(hostPort())));
        QCOMPARE(front->handshakes, 0); // the client walked away before finishing the handshake
        QCOMPARE(gateway->connectionCount(), 0);
        QCOMPARE(caption(w), QString::fromLatin1(TorvalMain::kNoChannelCaption));
        QVERIFY(w.controls().Connect->isEnabled());
        // Forgetting trusted nothing: the next connection asks about the new key.
        QCOMPARE(KnownHosts().lookup(hostPort(), frontKey()).verdict, PinVerdict::Unknown);
        QTest::qWait(700);
        QVERIFY(!QApplication::activeModalWidget());
    }

    void certificateFaults_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("reason");
        QTest::newRow("wrong host name") << "elsewhere" << "chat.example.org";
        QTest::newRow("expired") << "expired" << "expired on";
    }
    void certificateFaults()
    {
        QFETCH(QString, certificate);
        QFETCH(QString, reason);
        startFront(certificate);
        TorvalMain w;
        Asked asked;
        answerTrust(&asked, "cancelButton");
        connectTo(w, secureEntry());
        QTRY_VERIFY_WITH_TIMEOUT(asked.shown, 15000);
        QVERIFY2(asked.reasons.contains(reason), qPrintable(asked.reasons));
        QVERIFY2(chat(w).contains(QStringLiteral("Could not connect securely to ") + hostPort()), qPrintable(chat(w)));
        QVERIFY(chat(w).contains(reason));
        // Cancelled: nothing pinned, nothing sent, not connected, no lost-link box later.
        QCOMPARE(KnownHosts().lookup(hostPort(), frontKey()).verdict, PinVerdict::Unknown);
        QVERIFY(w.controls().Connect->isEnabled());
        QTest::qWait(700);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(gateway->connectionCount(), 0);
    }

    void portMixUps_data()
    {
        QTest::addColumn<bool>("secureClient");
        QTest::addColumn<QString>("message");
        // A TLS server drops a plain login without a word (a TLS server that
        // sends an alert is named as one by the client instead).
        QTest::newRow("plain client to the TLS port") << false << "the server closed the connection";
        QTest::newRow("TLS client to the plain port") << true << "secure handshake";
    }
    void portMixUps()
    {
        QFETCH(bool, secureClient);
        QFETCH(QString, message);
        startFront("local");
        TorvalMain w;
        w.link()->setHandshakeTimeout(2000);
        QString box;
        onModal("QMessageBox", [&box](QWidget *widget) {
            box = static_cast<QMessageBox *>(widget)->text();
            static_cast<QMessageBox *>(widget)->accept();
        }, 15000);
        const QString entry = secureClient ? QStringLiteral("tls://127.0.0.1:%1").arg(gateway->serverPort())
                                           : QStringLiteral("127.0.0.1:%1").arg(front->serverPort());
        connectTo(w, entry);
        QTRY_VERIFY2_WITH_TIMEOUT(chat(w).contains(message), qPrintable(chat(w)), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(w.controls().Connect->isEnabled(), 5000);
        QCOMPARE(caption(w), QString::fromLatin1(TorvalMain::kNoChannelCaption));
        QVERIFY(!w.windowTitle().contains(QStringLiteral("secure")));
    }

    void entriesTheClientCannotUseAreRefused()
    {
        TorvalMain w;
        bool loginShown = false;
        onModal("frmServers", [](QWidget *picker) {
            control<QLineEdit>(picker, "txtserver")->setText(QStringLiteral("tls://localhost:99999"));
            control<QPushButton>(picker, "Command1")->click();
        });
        onModal("FrmLogin", [&loginShown](QWidget *dialog) {
            loginShown = true;
            static_cast<QDialog *>(dialog)->reject();
        }, 1000);
        w.controls().Connect->click();
        QVERIFY2(chat(w).contains(serverEntryRefusal(parseServerEntry(QStringLiteral("tls://localhost:99999")))),
                 qPrintable(chat(w)));
        QVERIFY(w.controls().Connect->isEnabled());
        QCOMPARE(w.link()->state(), QAbstractSocket::UnconnectedState);
        QTest::qWait(1200);
        QVERIFY(!loginShown);
    }

    void damagedKnownHostsIsReportedOnceAndTrustsNothing()
    {
        startFront("local");
        QFile file(KnownHosts::defaultPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(hostPort().toUtf8() + " this-is-not-a-key\n");
        file.close();
        TorvalMain w;
        Asked asked;
        answerTrust(&asked, "cancelButton");
        connectTo(w, secureEntry());
        QTRY_VERIFY_WITH_TIMEOUT(asked.shown, 15000);
        QVERIFY(asked.trustOffered); // asked again, never trusted by a line that cannot be read
        const QString text = chat(w);
        QVERIFY2(text.contains(QStringLiteral("known_hosts")), qPrintable(text));
        QCOMPARE(text.count(QStringLiteral("known_hosts")), 1);
        // A second attempt does not report it again.
        Asked again;
        answerTrust(&again, "cancelButton");
        connectTo(w, secureEntry());
        QTRY_VERIFY_WITH_TIMEOUT(again.shown, 15000);
        QVERIFY2(!chat(w).contains(QStringLiteral("known_hosts")), qPrintable(chat(w)));
    }
};

QTEST_MAIN(tst_secureconnect)
#include "tst_secureconnect.moc"
