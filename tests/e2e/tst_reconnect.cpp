// SPDX-License-Identifier: MIT
// A main window on the local gateway loses its link: with AutoReconnect it
// comes back by itself, otherwise the design's message box and Disconnect.
#include "GatewayServer.h"
#include "gui/ChatWindow.h"
#include "settings/Settings.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

class tst_reconnect : public QObject
{
    Q_OBJECT

    TestStore store;
    FixedClock clock;
    TestListFolder lists;
    std::unique_ptr<GatewayServer> gateway;
    quint16 port = 0;

    void startGateway()
    {
        gateway = std::make_unique<GatewayServer>();
        QVERIFY(gateway->listen(QHostAddress::LocalHost, port));
        port = gateway->serverPort();
        setGatewayPortForTesting(port);
    }

    static void login(TorvalMain &window)
    {
        onModal("frmServers", [](QWidget *picker) {
            control<QLineEdit>(picker, "txtserver")->setText(QStringLiteral("127.0.0.1"));
            control<QPushButton>(picker, "Command1")->click();
        });
        onModal("FrmLogin", [](QWidget *dialog) {
            control<QLineEdit>(dialog, "UserNamet")->setText(QStringLiteral("alice"));
            control<QLineEdit>(dialog, "PassWordt")->setText(QStringLiteral("pw"));
            control<QPushButton>(dialog, "Login")->click();
        });
        window.controls().Connect->click();
    }
    static QString caption(TorvalMain &w) { return w.controls().Channel->text(); }
    static QString chat(TorvalMain &w) { return w.controls().Text2->toPlainText(); }
    static bool enabled(TorvalMain &w, const char *button) { return designButton(w.controls(), button)->isEnabled(); }

private slots:
    void initTestCase() { lists.write("Servers.txt", "127.0.0.1\r\n"); }
    void init()
    {
        TestStore::clear();
        port = 0;
        startGateway();
    }
    void cleanup()
    {
        cancelPendingModalAnswers();
        gateway.reset();
    }

    void backInTheHomeChannelWithoutABox()
    {
        SaveSetting(Keys::AutoReconnect, QStringLiteral("1"));
        SaveSetting(Keys::HomeChannel, QStringLiteral("Trivia"));
        TorvalMain w;
        login(w);
        QTRY_COMPARE(caption(w), QStringLiteral("Lobby  (1)"));
        w.controls().Text1->setText(QStringLiteral("before the drop"));
        w.controls().Send->click();

        gateway.reset(); // the link drops
        startGateway();
        QTRY_VERIFY(chat(w).contains(QStringLiteral("was lost at 12:34")));
        QVERIFY(chat(w).contains(QStringLiteral("Connecting again in 2 s.")));
        QVERIFY(!enabled(w, "Connect"));
        QVERIFY(enabled(w, "Disconnect"));
        QVERIFY(!enabled(w, "cmdChannel"));
        bool boxSeen = false;
        QTRY_VERIFY_WITH_TIMEOUT((boxSeen |= QApplication::activeModalWidget() != nullptr,
                                  caption(w) == QStringLiteral("Trivia  (1)")), 10000);
        QVERIFY(!boxSeen);
        // The panes kept what was there; the home channel joined again after the login.
        QCOMPARE(chat(w), QStringLiteral("[12:34] Joining Channel Lobby.\n"
                                         "Welcome to the Vesk Chat local gateway, alice.\n"
                                         "[12:34] <alice> before the drop\n"
                                         "[12:34] The connection to 127.0.0.1 was lost at 12:34: the server closed "
                                         "the connection. Connecting again in 2 s.\n"
                                         "[12:34] Joining Channel Lobby.\n"
                                         "Welcome to the Vesk Chat local gateway, alice.\n"
                                         "[12:34] Joining Channel Trivia.\n"));
        QVERIFY(enabled(w, "cmdChannel"));
        QVERIFY(enabled(w, "Disconnect"));
        QVERIFY(w.session()->watchdog()->isActive());
    }

    void discStopsTheTries()
    {
        SaveSetting(Keys::AutoReconnect, QStringLiteral("1"));
        TorvalMain w;
        login(w);
        QTRY_COMPARE(caption(w), QStringLiteral("Lobby  (1)"));
        gateway.reset();
        QTRY_VERIFY(chat(w).contains(QStringLiteral("Connecting again in 2 s.")));
        startGateway();
        w.controls().Disconnect->click();
        QTest::qWait(2500);
        QCOMPARE(chat(w), QString());
        QCOMPARE(caption(w), QString::fromLatin1(TorvalMain::kNoChannelCaption));
        QVERIFY(enabled(w, "Connect"));
    }

    void offByDefault()
    {
        TorvalMain w;
        login(w);
        QTRY_COMPARE(caption(w), QStringLiteral("Lobby  (1)"));
        QString box;
        onModal("QMessageBox", [&box](QWidget *widget) {
            auto *message = static_cast<QMessageBox *>(widget);
            box = message->text();
            message->accept();
        });
        gateway.reset();
        QTRY_COMPARE(box, QStringLiteral("You have lost your connection to Torval.net"));
        QTRY_VERIFY(enabled(w, "Connect"));
        QCOMPARE(caption(w), QString::fromLatin1(TorvalMain::kNoChannelCaption));
        startGateway();
        QTest::qWait(2500);
        QVERIFY(!chat(w).contains(QStringLiteral("Joining Channel")));
    }
};

QTEST_MAIN(tst_reconnect)
#include "tst_reconnect.moc"
