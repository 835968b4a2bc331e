// SPDX-License-Identifier: MIT
// Connect, the login dialog, the handshake on the wire, Disconnect and the
// link watchdog, driven through the real windows against a local TCP peer.
#include "ui/FrmLogin.h"
#include "session/Globals.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"
#include "settings/ListFile.h"
#include "ui/TorvalMain.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {
const QByteArray kHandshake("\x03\x04\r\n\r\n", 6);

// Answers the server picker: types a server (unless empty) and presses OK or Quit.
void answerServerPicker(const QString &server, const char *button = "Command1")
{
    onModal("frmServers", [server, button](QWidget *picker) {
        if (!server.isNull())
            control<QLineEdit>(picker, "txtserver")->setText(server);
        control<QPushButton>(picker, button)->click();
    });
}

// Answers the login dialog after the server picker has closed.
void answerLogin(const QString &name, const QString &password, const char *button = "Login")
{
    onModal("FrmLogin", [name, password, button](QWidget *login) {
        control<QLineEdit>(login, "UserNamet")->setText(name);
        control<QLineEdit>(login, "PassWordt")->setText(password);
        control<QPushButton>(login, button)->click();
    });
}

// Reads the text of the next message box and closes it.
void readMessageBox(QString *text, QString *title)
{
    onModal("QMessageBox", [text, title](QWidget *box) {
        auto *message = static_cast<QMessageBox *>(box);
        *text = message->text();
        *title = message->windowTitle();
        message->accept();
    });
}
} // namespace

class tst_session : public QObject
{
    Q_OBJECT

    TestStore store;
    TestListFolder lists;
    FakeServer *server = nullptr;

    void connectAs(TorvalMain &w, const QString &name, const QString &password)
    {
        answerServerPicker(QStringLiteral("127.0.0.1"));
        answerLogin(name, password);
        QMetaObject::invokeMethod(&w, "Connect_Click");
    }

    static bool enabled(TorvalMain &w, const char *name)
    {
        return control<QPushButton>(&w, name)->isEnabled();
    }

private slots:
    void initTestCase() { lists.write("Servers.txt", "127.0.0.1\r\n"); }

    void init()
    {
        TestStore::clear();
        server = new FakeServer;
        setGatewayPortForTesting(server->port());
        LoginName.clear();
        LoginPassword.clear();
    }

    void cleanup()
    {
        cancelPendingModalAnswers();
        delete server;
        IsConnected = false;
    }

    // The handshake goes out byte for byte; the anonymous names need no password.
    void handshakeOnTheWire_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("Guest") << "Guest" << "" << (kHandshake + "Guest\r\n\r\n");
        QTest::newRow("guest with a password") << "guest" << "pw" << (kHandshake + "guest\r\npw\r\n");
        QTest::newRow("named user") << "bob" << "s3cret" << (kHandshake + "bob\r\ns3cret\r\n");
        QTest::newRow("Windows-1252") << QStringLiteral("Zoë") << QStringLiteral("€") << (kHandshake + "Zo\xeb\r\n\x80\r\n");
    }

    void handshakeOnTheWire()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(QByteArray, wire);
        TorvalMain w;
        connectAs(w, name, password);
        QTRY_COMPARE(server->received(), wire);
        QCOMPARE(w.cursor().shape(), Qt::WaitCursor);
        QVERIFY(control<QTimer>(&w, "Timer1")->isActive());
        QCOMPARE(control<QTimer>(&w, "Timer1")->interval(), 500);
        QVERIFY(!enabled(w, "Connect"));
        QVERIFY(enabled(w, "Disconnect") && enabled(w, "cmdChannel") && enabled(w, "cmdIdle"));
        QCOMPARE(GetSetting(Keys::Server), QStringLiteral("127.0.0.1"));
        QCOMPARE(GetSetting(Keys::Username), name);
        QFile ini(store.path() + QStringLiteral("/VeskChat/VeskChat.ini"));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        if (!password.isEmpty())
            QVERIFY(!ini.readAll().contains(password.toUtf8())); // the password is never stored
    }

    void loginChecks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("no name") << "" << "pw" << "Must Enter a Username to Login";
        QTest::newRow("no password") << "bob" << "" << "Must Enter a Password to Login";
        QTest::newRow("capitals are no anonymous name") << "GUEST" << "" << "Must Enter a Password to Login";
        QTest::newRow("spaces are a name") << "   " << "" << "Must Enter a Password to Login";
        QTest::newRow("Anonymous") << "Anonymous" << "" << "";
        QTest::newRow("anonymous") << "anonymous" << "" << "";
        QTest::newRow("spaces with password") << "   " << "pw" << "";
    }

    void loginChecks()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(QString, message);
        TorvalMain w;
        FrmLogin login(&w);
        QCOMPARE(control<QLineEdit>(&login, "UserNamet")->text(), QString()); // first run: not "Guest"
        QCOMPARE(control<QLineEdit>(&login, "PassWordt")->echoMode(), QLineEdit::Password);
        control<QLineEdit>(&login, "UserNamet")->setText(name);
        control<QLineEdit>(&login, "PassWordt")->setText(password);
        QString text, title;
        readMessageBox(&text, &title);
        login.show();
        control<QPushButton>(&login, "Login")->click();
        QCOMPARE(text, message);
        if (!message.isEmpty()) {
            QCOMPARE(title, QStringLiteral("Vesk Chat"));
            QVERIFY(login.isVisible());
        } else {
            QVERIFY(!login.isVisible());
            QCOMPARE(w.cursor().shape(), Qt::WaitCursor);
        }
        // A name without a password is already taken over, so Quit saves it.
        if (!name.isEmpty())
            QCOMPARE(LoginName, name);
    }

    // Quitting the picker still connects to the stored server and still asks for the login;
    // quitting the login sends nothing and saves the name the dialog loaded.
    void quittingBothDialogs()
    {
        SaveSetting(Keys::Server, QStringLiteral("127.0.0.1"));
        SaveSetting(Keys::Username, QStringLiteral("carol"));
        TorvalMain w;
        bool loginShown = false;
        answerServerPicker(QString(), "Command2");
        onModal("FrmLogin", [&](QWidget *login) {
            loginShown = true;
            control<QPushButton>(login, "Quit")->click();
        });
        QMetaObject::invokeMethod(&w, "Connect_Click");
        QVERIFY(loginShown);
        QVERIFY(server->waitForClient());
        QTest::qWait(100);
        QCOMPARE(server->received(), QByteArray());
        QCOMPARE(GetSetting(Keys::Username), QStringLiteral("carol"));
        QVERIFY(!control<QTimer>(&w, "Timer1")->isActive());
        QVERIFY(enabled(w, "Disconnect"));
        QCOMPARE(control<QListWidget>(&w, "Roomlist")->count(), 0);
        QCOMPARE(control<QPlainTextEdit>(&w, "Text2")->toPlainText(), QString());
    }

    void disconnectResetsTheWindow()
    {
        TorvalMain w;
        connectAs(w, QStringLiteral("Guest"), QString());
        QVERIFY(server->waitForClient());
        control<QLineEdit>(&w, "Text1")->setText(QStringLiteral("half typed"));
        control<QListWidget>(&w, "Roomlist")->addItem(QStringLiteral("bob "));
        control<QPushButton>(&w, "Disconnect")->click();
        QCOMPARE(control<QLineEdit>(&w, "Text1")->text(), QString());
        QCOMPARE(control<QPlainTextEdit>(&w, "Text2")->toPlainText(), QString());
        QCOMPARE(control<QPlainTextEdit>(&w, "Text3")->toPlainText(), QString());
        QCOMPARE(control<QListWidget>(&w, "Roomlist")->count(), 0);
        QCOMPARE(control<QLabel>(&w, "Channel")->text(), QStringLiteral("Channel (Users)"));
        QVERIFY(enabled(w, "Connect") && enabled(w, "Quit"));
        QVERIFY(!enabled(w, "Disconnect") && !enabled(w, "cmdChannel") && !enabled(w, "cmdIdle"));
        QVERIFY(!control<QTimer>(&w, "Timer1")->isActive());
        QVERIFY(!IsConnected);
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor); // no channel line will end the busy pointer now
        QTRY_VERIFY(server->peer() == nullptr || server->peer()->state() != QAbstractSocket::ConnectedState);
    }

    // A server that goes away after the login is reported once; Disconnect runs
    // after the box is closed.
    void lostLinkIsReportedOnce()
    {
        FixedClock clock;
        TorvalMain w;
        connectAs(w, QStringLiteral("Guest"), QString());
        QTRY_VERIFY(server->received().endsWith("Guest\r\n\r\n"));
        int boxes = 0;
        QString text;
        onModal("QMessageBox", [&](QWidget *box) {
            auto *message = static_cast<QMessageBox *>(box);
            ++boxes;
            text = message->text();
            // Let several watchdog periods pass while the box is open.
            QTimer::singleShot(1200, message, [message, &w] {
                QVERIFY(control<QPushButton>(&w, "Disconnect")->isEnabled());
                message->accept();
            });
        });
        server->dropClient();
        QTRY_VERIFY_WITH_TIMEOUT(!control<QPushButton>(&w, "Disconnect")->isEnabled(), 5000);
        QTest::qWait(1200);
        QCOMPARE(boxes, 1);
        QCOMPARE(text, QStringLiteral("You have lost your connection to Torval.net"));
        QVERIFY(enabled(w, "Connect"));
        QVERIFY(!control<QTimer>(&w, "Timer1")->isActive());
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(control<QPlainTextEdit>(&w, "Text2")->toPlainText(),
                 QStringLiteral("[12:34] The connection to 127.0.0.1 was lost at 12:34: the server closed the connection.\n"));
    }

    // A connection that cannot be made says so in the chat pane. Without a
    // login the buttons keep their connected state until the user ends it;
    // after one the watchdog's box and Disconnect follow, and the reason is
    // shown again in the emptied pane.
    void refusedConnectionIsNotSilent_data()
    {
        QTest::addColumn<bool>("login");
        QTest::newRow("login quit") << false;
        QTest::newRow("login sent") << true;
    }

    void refusedConnectionIsNotSilent()
    {
        QFETCH(bool, login);
        FixedClock clock;
        TorvalMain w;
        const quint16 closedPort = server->port();
        server->close();
        setGatewayPortForTesting(closedPort);
        answerServerPicker(QStringLiteral("127.0.0.1"));
        answerLogin(QStringLiteral("Guest"), QString(), login ? "Login" : "Quit");
        QString text, title;
        readMessageBox(&text, &title);
        QMetaObject::invokeMethod(&w, "Connect_Click");
        const QString reason = QStringLiteral("[12:34] Could not connect to 127.0.0.1: the server refused the "
                                              "connection (is a chat gateway running there?).\n");
        auto *chat = control<QPlainTextEdit>(&w, "Text2");
        QTRY_COMPARE(chat->toPlainText(), reason);
        if (login) {
            QTRY_VERIFY(enabled(w, "Connect"));
            QCOMPARE(text, QStringLiteral("You have lost your connection to Torval.net"));
            QCOMPARE(chat->toPlainText(), reason);
            QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
        } else {
            QTest::qWait(600);
            QVERIFY(enabled(w, "Disconnect"));
            QVERIFY(text.isEmpty());
        }
    }
};

QTEST_MAIN(tst_session)
#include "tst_session.moc"
