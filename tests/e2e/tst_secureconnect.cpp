// SPDX-License-Identifier: MIT
// The main window over real TLS to the local gateway's own TLS port, with
// certificates made by the openssl tool for each run. First contact asks and
// pins, a pinned server connects without asking, a changed key is refused
// with both fingerprints, and every certificate or port mix-up ends in a
// clear line in the chat pane. Pictures of the window while connected
// securely, under a light and a dark palette, go to screenshots/ under the
// build folder.
#include "GatewayServer.h"
#include "gui/ChatWindow.h"
#include "session/KnownHosts.h"
#include "session/ServerTrust.h"
#include "settings/Settings.h"
#include "support/TestCerts.h"
#include "ui/TrustDialog.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QSslCertificate>
#include <QStyle>
#include <QStandardPaths>
#include <QTemporaryDir>

class tst_secureconnect : public QObject
{
    Q_OBJECT

    TestStore store;
    FixedClock clock;
    TestListFolder lists;
    QTemporaryDir certs;
    std::unique_ptr<GatewayServer> gateway;
    QStringList gatewayLog;
    QSslCertificate served;

    QString certPath(const QString &name) const { return certs.filePath(name + QStringLiteral(".pem")); }

    // The gateway's TLS port, presenting the certificate name.
    void startTls(const QString &name)
    {
        QString error;
        std::unique_ptr<TlsServerContext> context =
                TlsServerContext::load(certPath(name), certs.filePath(name + QStringLiteral(".key")), &error);
        QVERIFY2(context, qPrintable(error));
        QVERIFY(gateway->listenTls(QHostAddress::LocalHost, 0, std::move(context)));
        served = QSslCertificate::fromPath(certPath(name)).value(0);
        QVERIFY(!served.isNull());
    }
    QString secureEntry() const { return QStringLiteral("tls://localhost:%1").arg(gateway->tlsPort()); }
    QString hostPort() const { return QStringLiteral("localhost:%1").arg(gateway->tlsPort()); }
    QByteArray servedKey() const { return keyFingerprint(served); }
    QString logText() const { return gatewayLog.join(u'\n'); }

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
        const QString dir = certs.path();
        QVERIFY(TestCerts::makeSelfSigned(dir, "local", "DNS:localhost,IP:127.0.0.1"));
        QVERIFY(TestCerts::makeSelfSigned(dir, "other", "DNS:localhost,IP:127.0.0.1"));
        QVERIFY(TestCerts::makeSelfSigned(dir, "elsewhere", "DNS:chat.example.org"));
        QVERIFY(TestCerts::makeSelfSigned(dir, "expired", "DNS:localhost", "20200101000000Z", "20200201000000Z"));
        lists.write("Servers.txt", "127.0.0.1\r\n");
    }
    void init()
    {
        TestStore::clear();
        QFile::remove(KnownHosts::defaultPath());
        gatewayLog.clear();
        gateway = std::make_unique<GatewayServer>();
        connect(gateway.get(), &GatewayServer::logMessage, this, [this](const QString &line) { gatewayLog << line; });
        QVERIFY(gateway->listen(QHostAddress::LocalHost, 0));
        setGatewayPortForTesting(gateway->serverPort());
    }
    void cleanup()
    {
        cancelPendingModalAnswers();
        gateway.reset();
    }

    void firstContactAsksPinsAndLogsIn()
    {
        startTls("local");
        TorvalMain w;
        Asked asked;
        answerTrust(&asked, "trustButton");
        connectTo(w, secureEntry());
        QTRY_VERIFY_WITH_TIMEOUT(asked.shown, 15000);
        QVERIFY(asked.trustOffered);
        QCOMPARE(asked.fingerprint, fingerprintLines(servedKey()));
        QVERIFY2(asked.reasons.contains(QStringLiteral("self-signed")) || asked.reasons.contains("not trusted")
                     || !asked.reasons.isEmpty(),
                 qPrintable(asked.reasons));
        // Pinned, connected again, and logged in with the same name and password.
        QTRY_COMPARE_WITH_TIMEOUT(caption(w), QStringLiteral("Lobby  (1)"), 10000);
        QCOMPARE(KnownHosts().lookup(hostPort(), servedKey()).verdict, PinVerdict::Trusted);
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
        startTls("local");
        QVERIFY(KnownHosts().pin(hostPort(), servedKey()));
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

    // The caption as the window manager shows it, above the top of the window.
    void pictures_data() { addPaletteRows(); }
    void pictures()
    {
        QFETCH(bool, dark);
        const PaletteScope palette(dark);
        startTls("local");
        QVERIFY(KnownHosts().pin(hostPort(), servedKey()));
        TorvalMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        connectTo(w, secureEntry());
        QTRY_COMPARE_WITH_TIMEOUT(caption(w), QStringLiteral("Lobby  (1)"), 10000);
        QTRY_VERIFY(chat(w).contains(QStringLiteral("Connected securely to ") + hostPort()));
        QVERIFY(w.windowTitle().endsWith(QString::fromUtf8(TorvalMain::kSecureCaptionMark)));
        QCoreApplication::sendPostedEvents();

        QPlainTextEdit *pane = w.controls().Text2;
        const QRect paneArea(pane->mapTo(&w, QPoint(0, 0)), pane->size());
        // The caption, the notice and the user list; the buttons below are cut off.
        const QRect area = QRect(0, 0, w.width(), qMin(paneArea.top() + 80, w.height()));
        const QImage body = w.grab(area).toImage();
        const int bar = 30;
        QImage picture(body.width(), body.height() + bar, QImage::Format_RGB32);
        const QPalette colours = QApplication::palette();
        picture.fill(colours.color(QPalette::Window).darker(dark ? 80 : 115));
        QPainter painter(&picture);
        painter.drawPixmap(8, (bar - 16) / 2, w.windowIcon().pixmap(16, 16));
        QFont font = painter.font();
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(colours.color(QPalette::WindowText));
        painter.drawText(QRect(32, 0, picture.width() - 40, bar), Qt::AlignVCenter | Qt::AlignLeft, w.windowTitle());
        painter.drawImage(0, bar, body);
        painter.end();

        QDir out(qEnvironmentVariable("VESK_BIN_DIR", QCoreApplication::applicationDirPath()) + QStringLiteral("/.."));
        QVERIFY(out.mkpath("screenshots") && out.cd("screenshots"));
        QVERIFY(picture.save(out.filePath(QStringLiteral("secure-caption-%1.png").arg(dark ? "dark" : "light"))));
    }

    void changedKeyIsRefusedWithBothFingerprints()
    {
        startTls("other");
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
        QCOMPARE(asked.fingerprint, fingerprintLines(servedKey()));
        QTRY_VERIFY(chat(w).contains(QStringLiteral("The old key of %1 is forgotten").arg(hostPort())));
        // The client walked away inside the handshake: nothing was sent, nobody logged in.
        QTRY_COMPARE(gateway->connectionCount(), 0);
        QVERIFY2(!logText().contains(QStringLiteral("alice")), qPrintable(logText()));
        QCOMPARE(caption(w), QString::fromLatin1(TorvalMain::kNoChannelCaption));
        QVERIFY(w.controls().Connect->isEnabled());
        // Forgetting trusted nothing: the next connection asks about the new key.
        QCOMPARE(KnownHosts().lookup(hostPort(), servedKey()).verdict, PinVerdict::Unknown);
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
        startTls(certificate);
        TorvalMain w;
        Asked asked;
        answerTrust(&asked, "cancelButton");
        connectTo(w, secureEntry());
        QTRY_VERIFY_WITH_TIMEOUT(asked.shown, 15000);
        QVERIFY2(asked.reasons.contains(reason), qPrintable(asked.reasons));
        QVERIFY2(chat(w).contains(QStringLiteral("Could not connect securely to ") + hostPort()), qPrintable(chat(w)));
        QVERIFY(chat(w).contains(reason));
        // Cancelled: nothing pinned, nothing sent, not connected, no lost-link box later.
        QCOMPARE(KnownHosts().lookup(hostPort(), servedKey()).verdict, PinVerdict::Unknown);
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
        startTls("local");
        TorvalMain w;
        w.link()->setHandshakeTimeout(2000);
        QString box;
        onModal("QMessageBox", [&box](QWidget *widget) {
            box = static_cast<QMessageBox *>(widget)->text();
            static_cast<QMessageBox *>(widget)->accept();
        }, 15000);
        const QString entry = secureClient ? QStringLiteral("tls://127.0.0.1:%1").arg(gateway->serverPort())
                                           : QStringLiteral("127.0.0.1:%1").arg(gateway->tlsPort());
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
        startTls("local");
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
