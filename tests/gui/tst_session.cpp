// SPDX-License-Identifier: MIT
// Connect, the login dialog, Disconnect and the link watchdog, driven through
// the real windows against a local TCP peer. The handshake's bytes for every
// kind of name are checked on the link itself in tst_chatlink.cpp.
#include "gui/ChatWindow.h"
#include "settings/Settings.h"
#include "ui/FrmLogin.h"

namespace {
const QString kLostLink = "You have lost your connection to Torval.net";

void connectAs(ChatWindow &chat, const QString &name, const QString &password)
{
    setGatewayPortForTesting(chat.server.port());
    answerConnectDialogs(name, password);
    chat.invoke("Connect_Click");
}

// The session's buttons that are enabled, and whether the watchdog runs.
QString sessionState(ChatWindow &chat)
{
    QStringList on;
    for (const char *name : {"Connect", "Disconnect", "cmdChannel", "cmdIdle", "Quit"})
        if (chat.button(name)->isEnabled())
            on << name;
    return on.join(' ') + (control<QTimer>(&chat.window, "Timer1")->isActive() ? ", watchdog" : "");
}
} // namespace

class tst_session : public QObject
{
    Q_OBJECT

    WindowTestState state;
    TestListFolder lists;

private slots:
    void initTestCase() { lists.write("Servers.txt", "127.0.0.1\r\n"); }
    void init()
    {
        state.reset();
        LoginName.clear();
        LoginPassword.clear();
    }
    void cleanup()
    {
        cancelPendingModalAnswers();
        IsConnected = false;
    }

    void connectSendsTheLogin()
    {
        ChatWindow chat;
        connectAs(chat, "bob", "s3cret");
        QTRY_COMPARE(chat.server.received(), QByteArray("\x03\x04\r\n\r\nbob\r\ns3cret\r\n"));
        QCOMPARE(chat.window.cursor().shape(), Qt::WaitCursor);
        QCOMPARE(sessionState(chat), "Disconnect cmdChannel cmdIdle Quit, watchdog");
        QCOMPARE(control<QTimer>(&chat.window, "Timer1")->interval(), 500);
        QCOMPARE(GetSetting(Keys::Server), "127.0.0.1");
        QCOMPARE(GetSetting(Keys::Username), "bob");
        QFile ini(state.store.path() + "/VeskChat/VeskChat.ini");
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(!ini.readAll().contains("s3cret")); // the password is never stored
    }

    void loginChecks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        const std::tuple<const char *, const char *, const char *> rows[] = {
            {"", "pw", "Must Enter a Username to Login"}, {"bob", "", "Must Enter a Password to Login"},
            {"GUEST", "", "Must Enter a Password to Login"}, {"   ", "", "Must Enter a Password to Login"},
            {"Anonymous", "", ""}, {"anonymous", "", ""}, {"   ", "pw", ""}};
        for (const auto &[name, password, message] : rows)
            QTest::addRow("\"%s\" \"%s\"", name, password) << QString(name) << QString(password) << QString(message);
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
        QCOMPARE(title, message.isEmpty() ? "" : "Vesk Chat");
        QCOMPARE(login.isVisible(), !message.isEmpty());
        QCOMPARE(w.cursor().shape(), message.isEmpty() ? Qt::WaitCursor : Qt::ArrowCursor);
        // A name without a password is already taken over, so Quit saves it.
        if (!name.isEmpty())
            QCOMPARE(LoginName, name);
    }

    // Quitting the picker still connects to the stored server and still asks for the login;
    // quitting the login sends nothing and saves the name the dialog loaded.
    void quittingBothDialogs()
    {
        SaveSetting(Keys::Server, "127.0.0.1");
        SaveSetting(Keys::Username, "carol");
        ChatWindow chat;
        setGatewayPortForTesting(chat.server.port());
        bool loginShown = false;
        onModal("frmServers", [](QWidget *picker) { control<QPushButton>(picker, "Command2")->click(); });
        onModal("FrmLogin", [&](QWidget *login) {
            loginShown = true;
            control<QPushButton>(login, "Quit")->click();
        });
        chat.invoke("Connect_Click");
        QVERIFY(loginShown);
        QVERIFY(chat.server.waitForClient());
        QCOMPARE(chat.sent(), QByteArray());
        QCOMPARE(GetSetting(Keys::Username), "carol");
        QCOMPARE(sessionState(chat), "Disconnect cmdChannel cmdIdle Quit");
        QCOMPARE(chat.users()->count(), 0);
        QCOMPARE(chat.chatPane()->toPlainText(), QString());
    }

    void disconnectResetsTheWindow()
    {
        ChatWindow chat;
        connectAs(chat, "Guest", "");
        QVERIFY(chat.server.waitForClient());
        chat.input()->setText("half typed");
        chat.chatPane()->setPlainText("chat");
        chat.whisperPane()->setPlainText("whisper");
        chat.users()->addItem("bob ");
        chat.button("Disconnect")->click();
        QCOMPARE(chat.input()->text() + chat.chatPane()->toPlainText() + chat.whisperPane()->toPlainText(), QString());
        QCOMPARE(chat.users()->count(), 0);
        QCOMPARE(chat.caption(), "Channel (Users)");
        QCOMPARE(sessionState(chat), "Connect Quit");
        QVERIFY(!IsConnected);
        QCOMPARE(chat.window.cursor().shape(), Qt::ArrowCursor); // no channel line will end the busy pointer now
        QTRY_VERIFY(!chat.server.peer() || chat.server.peer()->state() != QAbstractSocket::ConnectedState);
    }

    // A server that goes away after the login is reported once; Disconnect runs
    // after the box is closed, and the pane keeps when and why.
    void lostLinkIsReportedOnce()
    {
        ChatWindow chat;
        connectAs(chat, "Guest", "");
        QTRY_VERIFY(chat.server.received().endsWith("Guest\r\n\r\n"));
        int boxes = 0;
        QString text;
        onModal("QMessageBox", [&](QWidget *box) {
            ++boxes;
            text = static_cast<QMessageBox *>(box)->text();
            // Let several watchdog periods pass while the box is open.
            QTimer::singleShot(1200, box, [box, &chat] {
                QVERIFY(chat.button("Disconnect")->isEnabled());
                static_cast<QMessageBox *>(box)->accept();
            });
        });
        chat.server.dropClient();
        QTRY_VERIFY_WITH_TIMEOUT(!chat.button("Disconnect")->isEnabled(), 5000);
        QTest::qWait(1200);
        QCOMPARE(boxes, 1);
        QCOMPARE(text, kLostLink);
        QCOMPARE(sessionState(chat), "Connect Quit");
        QCOMPARE(chat.window.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(chat.chatPane()->toPlainText(),
                 paneText({"The connection to 127.0.0.1 was lost at 12:34: the server closed the connection."}));
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
        ChatWindow chat;
        const quint16 closedPort = chat.server.port();
        chat.server.close();
        answerConnectDialogs("Guest", "", login ? "Login" : "Quit");
        setGatewayPortForTesting(closedPort);
        chat.invoke("Connect_Click");
        QString text, title;
        readMessageBox(&text, &title);
        const QString reason = paneText({"Could not connect to 127.0.0.1: the server refused the connection "
                                         "(is a chat gateway running there?)."});
        QTRY_COMPARE(chat.chatPane()->toPlainText(), reason);
        if (login) {
            QTRY_COMPARE(sessionState(chat), "Connect Quit");
            QCOMPARE(text, kLostLink);
            QCOMPARE(chat.chatPane()->toPlainText(), reason);
            QCOMPARE(chat.window.cursor().shape(), Qt::ArrowCursor);
        } else {
            QTest::qWait(600);
            QCOMPARE(sessionState(chat), "Disconnect cmdChannel cmdIdle Quit");
            QVERIFY(text.isEmpty());
        }
    }
};

QTEST_MAIN(tst_session)
#include "tst_session.moc"
