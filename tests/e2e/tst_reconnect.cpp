// SPDX-License-Identifier: MIT
// A main window on the local gateway loses its link: with AutoReconnect it
// comes back by itself, otherwise the design's message box and Disconnect.
#include "gui/ChatWindow.h"
#include "settings/Settings.h"
#include "support/LocalGateway.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

class tst_reconnect : public QObject
{
    Q_OBJECT

    LocalGateway gateway;

    static void login(TorvalMain &window) { loginThroughDialogs(window, "alice", "pw"); }
    static bool enabled(TorvalMain &w, const char *button) { return designButton(w.controls(), button)->isEnabled(); }

private slots:
    void initTestCase() { gateway.listServers("127.0.0.1\r\n"); }
    void init() { QVERIFY(gateway.startFresh()); }
    void cleanup() { gateway.stop(); }

    void backInTheHomeChannelWithoutABox()
    {
        SaveSetting(Keys::AutoReconnect, QStringLiteral("1"));
        SaveSetting(Keys::HomeChannel, QStringLiteral("Trivia"));
        TorvalMain w;
        login(w);
        QTRY_COMPARE(channelCaption(w), QStringLiteral("Lobby  (1)"));
        w.controls().Text1->setText(QStringLiteral("before the drop"));
        w.controls().Send->click();

        gateway.server.reset(); // the link drops
        QVERIFY(gateway.listen());
        QTRY_VERIFY(chatText(w).contains(QStringLiteral("was lost at 12:34")));
        QVERIFY(chatText(w).contains(QStringLiteral("Connecting again in 2 s.")));
        QVERIFY(!enabled(w, "Connect"));
        QVERIFY(enabled(w, "Disconnect"));
        QVERIFY(!enabled(w, "cmdChannel"));
        bool boxSeen = false;
        QTRY_VERIFY_WITH_TIMEOUT((boxSeen |= QApplication::activeModalWidget() != nullptr,
                                  channelCaption(w) == QStringLiteral("Trivia  (1)")), 10000);
        QVERIFY(!boxSeen);
        // The panes kept what was there; the home channel joined again after the login.
        QCOMPARE(chatText(w), QStringLiteral("[12:34] Joining Channel Lobby.\n"
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
        QTRY_COMPARE(channelCaption(w), QStringLiteral("Lobby  (1)"));
        gateway.server.reset();
        QTRY_VERIFY(chatText(w).contains(QStringLiteral("Connecting again in 2 s.")));
        QVERIFY(gateway.listen());
        w.controls().Disconnect->click();
        QTest::qWait(2500);
        QCOMPARE(chatText(w), QString());
        QCOMPARE(channelCaption(w), QString::fromLatin1(TorvalMain::kNoChannelCaption));
        QVERIFY(enabled(w, "Connect"));
    }

    void offByDefault()
    {
        TorvalMain w;
        login(w);
        QTRY_COMPARE(channelCaption(w), QStringLiteral("Lobby  (1)"));
        QString box;
        onModal("QMessageBox", [&box](QWidget *widget) {
            auto *message = static_cast<QMessageBox *>(widget);
            box = message->text();
            message->accept();
        });
        gateway.server.reset();
        QTRY_COMPARE(box, QStringLiteral("You have lost your connection to Torval.net"));
        QTRY_VERIFY(enabled(w, "Connect"));
        QCOMPARE(channelCaption(w), QString::fromLatin1(TorvalMain::kNoChannelCaption));
        QVERIFY(gateway.listen());
        QTest::qWait(2500);
        QVERIFY(!chatText(w).contains(QStringLiteral("Joining Channel")));
    }
};

QTEST_MAIN(tst_reconnect)
#include "tst_reconnect.moc"
