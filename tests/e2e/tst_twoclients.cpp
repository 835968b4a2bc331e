// SPDX-License-Identifier: MIT
// Two real main windows on one local gateway over TCP: what one does, the
// other sees.
#include "gui/ChatWindow.h"
#include "support/LocalGateway.h"

namespace {
void login(ChatWindow &client, const QString &name, const QString &password)
{
    loginThroughDialogs(client.window, name, password);
}

void say(ChatWindow &client, const QString &text)
{
    client.input()->setText(text);
    client.button("Send")->click();
}
} // namespace

class tst_twoclients : public QObject
{
    Q_OBJECT

    LocalGateway gateway;

private slots:
    void initTestCase() { gateway.listServers("127.0.0.1\r\n"); }
    void init() { QVERIFY(gateway.startFresh()); }
    void cleanup() { gateway.stop(); }

    void chatBetweenTwoWindows()
    {
        ChatWindow alice;
        login(alice, "alice", "pw");
        QTRY_COMPARE(alice.caption(), "Lobby  (1)");
        QVERIFY(alice.chatPane()->toPlainText().startsWith("[12:34] Joining Channel Lobby.\n"));
        QCOMPARE(alice.window.cursor().shape(), Qt::ArrowCursor);

        ChatWindow bob;
        login(bob, "Guest", "");
        QTRY_COMPARE(bob.entries(), QStringList({"alice ", "Guest "}));
        QTRY_COMPARE(alice.entries(), QStringList({"alice ", "Guest "}));
        QCOMPARE(alice.caption(), "Lobby  (2)");

        // Talk: relayed to the other window; each window echoes its own user's name.
        say(alice, "hello there");
        QTRY_VERIFY(bob.chatPane()->toPlainText().endsWith("[12:34] <alice> hello there\n"));
        QVERIFY(alice.chatPane()->toPlainText().endsWith("[12:34] <alice> hello there\n"));
        say(bob, "hi alice");
        QTRY_VERIFY(alice.chatPane()->toPlainText().endsWith("[12:34] <Guest> hi alice\n"));
        QVERIFY(bob.chatPane()->toPlainText().endsWith("[12:34] <Guest> hi alice\n"));

        // Emote: both windows show it, no echo of the typed command.
        say(alice, "/me waves");
        QTRY_VERIFY(bob.chatPane()->toPlainText().endsWith("[12:34] <alice waves> \n"));
        QTRY_VERIFY(alice.chatPane()->toPlainText().endsWith("[12:34] <alice waves> \n"));

        // Whisper through the roster button: echoed as sent, received as from.
        bob.selectUser(0);
        QCOMPARE(bob.entries().value(0), "alice ");
        bob.input()->setText("psst");
        bob.button("Whisper")->click();
        QVERIFY(bob.whisperPane()->toPlainText().endsWith("[12:34] <TO: alice > psst\n"));
        QTRY_VERIFY(alice.whisperPane()->toPlainText().contains("[12:34] <FROM: Guest> "));
        QVERIFY(alice.whisperPane()->toPlainText().trimmed().endsWith("psst"));

        // Channel change: the mover's list restarts, the others lose the mover.
        say(bob, "/join Trivia Night");
        QTRY_COMPARE(bob.caption(), "Trivia Night  (1)");
        QVERIFY(bob.chatPane()->toPlainText().contains("[12:34] Joining Channel Trivia Night.\n"));
        QTRY_COMPARE(alice.entries(), QStringList({"alice "}));
        QCOMPARE(alice.caption(), "Lobby  (1)");

        // Back, then gone: the leave reaches the channel when the link closes.
        say(bob, "/j Lobby");
        QTRY_COMPARE(alice.entries(), QStringList({"alice ", "Guest "}));
        bob.button("Disconnect")->click();
        QTRY_COMPARE(alice.entries(), QStringList({"alice "}));
        QCOMPARE(alice.caption(), "Lobby  (1)");
    }
};

QTEST_MAIN(tst_twoclients)
#include "tst_twoclients.moc"
