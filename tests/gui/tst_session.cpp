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
    answerConnectDialogs(name, password);
    chat.clickConnect(chat.server.port());
}

// The session's buttons that are enabled, and whether the watchdog runs.
QString sessionState(ChatWindow &chat)
{
    QStringList on;
    for (const char *name : {"Connect", "Disconnect", "cmdChannel", "cmdIdle", "Quit"})
        if (chat.button(name)->isEnabled())
            on << name;
    return on.join(' ') + (chat.watchdogRuns() ? ", watchdog" : "");
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
    }
    void cleanup()
    {
        cancelPendingModalAnswers();
    }

    void connectSendsTheLogin()
    {
        ChatWindow chat;
        connectAs(chat, "bob", "s3cret");
        QTRY_COMPARE(chat.server.received(), QByteArray("\x03\x04\r\n\r\nbob\r\ns3cret\r\n"));
        QCOMPARE(chat.window.cursor().shape(), Qt::WaitCursor);
        QCOMPARE(sessionState(chat), "Disconnect cmdChannel cmdIdle Quit, watchdog");
        QCOMPARE(chat.session()->watchdog()->interval(), 500);
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
            QCOMPARE(w.session()->LoginName(), name);
    }

    // Quitting the picker still connects to the stored server and still asks for the login;
    // quitting the login sends nothing and saves the name the dialog loaded.
    void quittingBothDialogs()
    {
        SaveSetting(Keys::Server, "127.0.0.1");
        SaveSetting(Keys::Username, "carol");
        ChatWindow chat;
        bool loginShown = false;
        onModal("frmServers", [](QWidget *picker) { control<QPushButton>(picker, "Command2")->click(); });
        onModal("FrmLogin", [&](QWidget *login) {
            loginShown = true;
            control<QPushButton>(login, "Quit")->click();
        });
        chat.clickConnect(chat.server.port());
        QVERIFY(loginShown);
        QVERIFY(chat.server.waitForClient());
        QCOMPARE(chat.sent(), QByteArray());
        QCOMPARE(GetSetting(Keys::Username), "carol");
        QCOMPARE(sessionState(chat), "Disconnect cmdChannel cmdIdle Quit");
        QCOMPARE(chat.entries(), QStringList());
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
        chat.setEntries({"bob "});
        chat.button("Disconnect")->click();
        QCOMPARE(chat.input()->text() + chat.chatPane()->toPlainText() + chat.whisperPane()->toPlainText(), QString());
        QCOMPARE(chat.entries(), QStringList());
        QCOMPARE(chat.caption(), "Channel (Users)");
        QCOMPARE(sessionState(chat), "Connect Quit");
        QVERIFY(!chat.session()->IsConnected());
        QCOMPARE(chat.window.cursor().shape(), Qt::ArrowCursor); // no channel line will end the busy pointer now
        QTRY_VERIFY(!chat.server.peer() || chat.server.peer()->state() != QAbstractSocket::ConnectedState);
    }

    // A link that fails or is lost says why in the chat pane. After a login
    // the watchdog's one box follows, however long it stays open, and then
    // Disconnect, whose emptied pane shows the reason again; without a login
    // the buttons keep their connected state until the user ends it.
    void linkEnds_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::addColumn<bool>("login");
        QTest::addColumn<QString>("reason");
        const QString refused = "Could not connect to 127.0.0.1: the server refused the connection "
                                "(is a chat gateway running there?).";
        QTest::newRow("lost after the login")
            << false << true << "The connection to 127.0.0.1 was lost at 12:34: the server closed the connection.";
        QTest::newRow("refused, login sent") << true << true << refused;
        QTest::newRow("refused, login quit") << true << false << refused;
    }

    void linkEnds()
    {
        QFETCH(bool, refused);
        QFETCH(bool, login);
        QFETCH(QString, reason);
        ChatWindow chat;
        const quint16 port = chat.server.port();
        if (refused)
            chat.server.close();
        answerConnectDialogs("Guest", "", login ? "Login" : "Quit");
        QStringList boxes; // each box's text and the session's state while it was open
        onModal("QMessageBox", [&](QWidget *box) {
            QTimer::singleShot(1200, box, [box, &chat, &boxes] { // several watchdog periods
                boxes << static_cast<QMessageBox *>(box)->text() << sessionState(chat);
                static_cast<QMessageBox *>(box)->accept();
            });
        });
        chat.clickConnect(port);
        if (!refused) {
            QTRY_VERIFY(chat.server.received().endsWith("Guest\r\n\r\n"));
            chat.server.dropClient();
        }
        const QString after = login ? "Connect Quit" : "Disconnect cmdChannel cmdIdle Quit";
        QTRY_COMPARE_WITH_TIMEOUT(sessionState(chat), after, 5000);
        QTest::qWait(1200);
        const QStringList expectedBoxes{kLostLink, "Disconnect cmdChannel cmdIdle Quit, watchdog"};
        QCOMPARE(boxes, login ? expectedBoxes : QStringList());
        QCOMPARE(sessionState(chat), after);
        QCOMPARE(chat.window.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(chat.chatPane()->toPlainText(), paneText({reason}));
    }
};

QTEST_MAIN(tst_session)
#include "tst_session.moc"
