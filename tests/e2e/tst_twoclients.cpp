// SPDX-License-Identifier: MIT
// Two real main windows on one local gateway over TCP: what one does, the
// other sees.
#include "GatewayServer.h"
#include "session/Globals.h"
#include "support/TestSupport.h"
#include "settings/ListFile.h"
#include "ui/TorvalMain.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

struct Client {
    TorvalMain window;

    QLineEdit *input() { return control<QLineEdit>(&window, "Text1"); }
    QPlainTextEdit *chat() { return control<QPlainTextEdit>(&window, "Text2"); }
    QPlainTextEdit *whispers() { return control<QPlainTextEdit>(&window, "Text3"); }
    QListWidget *users() { return control<QListWidget>(&window, "Roomlist"); }
    QString caption() { return control<QLabel>(&window, "Channel")->text(); }

    QStringList entries()
    {
        QStringList list;
        for (int i = 0; i < users()->count(); ++i)
            list.append(users()->item(i)->text());
        return list;
    }

    void say(const QString &text)
    {
        input()->setText(text);
        control<QPushButton>(&window, "Send")->click();
    }

    void login(const QString &name, const QString &password)
    {
        onModal("frmServers", [](QWidget *picker) {
            control<QLineEdit>(picker, "txtserver")->setText(QStringLiteral("127.0.0.1"));
            control<QPushButton>(picker, "Command1")->click();
        });
        onModal("FrmLogin", [name, password](QWidget *dialog) {
            control<QLineEdit>(dialog, "UserNamet")->setText(name);
            control<QLineEdit>(dialog, "PassWordt")->setText(password);
            control<QPushButton>(dialog, "Login")->click();
        });
        QMetaObject::invokeMethod(&window, "Connect_Click");
    }

    void select(const QString &entry)
    {
        const auto found = users()->findItems(entry, Qt::MatchExactly);
        QVERIFY(!found.isEmpty());
        users()->setCurrentItem(found.first());
    }
};

} // namespace

class tst_twoclients : public QObject
{
    Q_OBJECT

    TestStore store;
    FixedClock clock;
    TestListFolder lists;
    std::unique_ptr<GatewayServer> gateway;

private slots:
    void initTestCase() { lists.write("Servers.txt", "127.0.0.1\r\n"); }

    void init()
    {
        gateway = std::make_unique<GatewayServer>();
        QVERIFY(gateway->listen(QHostAddress::LocalHost, 0));
        setGatewayPortForTesting(gateway->serverPort());
    }

    void cleanup()
    {
        cancelPendingModalAnswers();
        gateway.reset();
    }

    void chatBetweenTwoWindows()
    {
        Client alice;
        alice.login(QStringLiteral("alice"), QStringLiteral("pw"));
        QTRY_COMPARE(alice.caption(), QStringLiteral("Lobby  (1)"));
        QVERIFY(alice.chat()->toPlainText().startsWith(QStringLiteral("[12:34] Joining Channel Lobby.\n")));
        QCOMPARE(alice.window.cursor().shape(), Qt::ArrowCursor);

        Client bob;
        bob.login(QStringLiteral("Guest"), QString());
        QTRY_COMPARE(bob.entries(), QStringList({"alice ", "Guest "}));
        QTRY_COMPARE(alice.entries(), QStringList({"alice ", "Guest "}));
        QCOMPARE(alice.caption(), QStringLiteral("Lobby  (2)"));

        // Talk: relayed to the other window. (Both windows share the process's
        // one LoginName, so the sender's own echo carries the last name logged in.)
        alice.say(QStringLiteral("hello there"));
        QTRY_VERIFY(bob.chat()->toPlainText().endsWith(QStringLiteral("[12:34] <alice> hello there\n")));
        QVERIFY(alice.chat()->toPlainText().endsWith(QStringLiteral("[12:34] <Guest> hello there\n")));

        // Emote: both windows show it, no echo of the typed command.
        alice.say(QStringLiteral("/me waves"));
        QTRY_VERIFY(bob.chat()->toPlainText().endsWith(QStringLiteral("[12:34] <alice waves> \n")));
        QTRY_VERIFY(alice.chat()->toPlainText().endsWith(QStringLiteral("[12:34] <alice waves> \n")));

        // Whisper through the roster button: echoed as sent, received as from.
        bob.select(QStringLiteral("alice "));
        bob.input()->setText(QStringLiteral("psst"));
        control<QPushButton>(&bob.window, "Whisper")->click();
        QVERIFY(bob.whispers()->toPlainText().endsWith(QStringLiteral("[12:34] <TO: alice > psst\n")));
        QTRY_VERIFY(alice.whispers()->toPlainText().contains(QStringLiteral("[12:34] <FROM: Guest> ")));
        QVERIFY(alice.whispers()->toPlainText().trimmed().endsWith(QStringLiteral("psst")));

        // Channel change: the mover's list restarts, the others lose the mover.
        bob.say(QStringLiteral("/join Trivia Night"));
        QTRY_COMPARE(bob.caption(), QStringLiteral("Trivia Night  (1)"));
        QVERIFY(bob.chat()->toPlainText().contains(QStringLiteral("[12:34] Joining Channel Trivia Night.\n")));
        QTRY_COMPARE(alice.entries(), QStringList({"alice "}));
        QCOMPARE(alice.caption(), QStringLiteral("Lobby  (1)"));

        // Back, then gone: the leave reaches the channel when the link closes.
        bob.say(QStringLiteral("/j Lobby"));
        QTRY_COMPARE(alice.entries(), QStringList({"alice ", "Guest "}));
        control<QPushButton>(&bob.window, "Disconnect")->click();
        QTRY_COMPARE(alice.entries(), QStringList({"alice "}));
        QCOMPARE(alice.caption(), QStringLiteral("Lobby  (1)"));
    }
};

QTEST_MAIN(tst_twoclients)
#include "tst_twoclients.moc"
