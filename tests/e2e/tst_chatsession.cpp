// SPDX-License-Identifier: MIT
// Chat sessions without a window, on the local gateway over TCP: the login,
// typed lines and commands, the user list, a lost link and reconnecting,
// and two sessions in one process that share nothing.
#include "outgoing/CommandLines.h"
#include "reception/RosterModel.h"
#include "session/ChatLink.h"
#include "support/LocalGateway.h"

#include <QSignalSpy>

#include <memory>

namespace {

// What a session showed, line by line: "pane kind: body", with " (mention)" where marked.
class ShownRecord : public QObject
{
public:
    explicit ShownRecord(ChatSession &session)
    {
        connect(&session, &ChatSession::linesReady, this, [this](const ShownLines &lines) {
            for (const ShownLine &line : lines.lines())
                m_lines << describe(lines, line);
        });
    }
    QStringList lines() const { return m_lines; }
    QStringList take() { return std::exchange(m_lines, {}); }
    bool contains(const QString &line) const { return m_lines.contains(line); }

    static QString describe(const ShownLines &lines, const ShownLine &line)
    {
        static const char *const kinds[] = {"talk", "whisper", "emote", "info", "channel", "unparsed", "notice", "replayed"};
        return QStringLiteral("%1 %2: %3%4")
            .arg(line.pane == ShownLine::Pane::Chat ? "chat" : "whispers", kinds[int(line.kind)])
            .arg(lines.body(line))
            .arg(line.mentionsUser ? " (mention)" : "");
    }

private:
    QStringList m_lines;
};

struct Client {
    ChatSession session;
    ShownRecord shown{session};

    void login(quint16 port, const QString &name, const QString &password = QStringLiteral("pw"))
    {
        loginSession(session, port, name, password);
    }
    QString channelLine() const { return QStringLiteral("chat channel: Joining Channel %1.").arg(session.CurrentChannel()); }
};

} // namespace

class tst_chatsession : public QObject
{
    Q_OBJECT

    LocalGateway gateway;

private slots:
    void init() { QVERIFY(gateway.startFresh()); }
    void cleanup() { gateway.stop(); }

    void loginEntersTheLobby()
    {
        Client alice;
        QSignalSpy joined(&alice.session, &ChatSession::channelJoined);
        alice.login(gateway.port, "alice");
        QVERIFY(alice.session.IsConnected());
        QTRY_COMPARE(joined.size(), 1);
        QCOMPARE(joined.first().first().toString(), "Lobby");
        QTRY_COMPARE(alice.session.roster()->entries(), QStringList{"alice "});
        QTRY_VERIFY(alice.shown.contains("chat info: Welcome to the Vesk Chat local gateway, alice."));
        QCOMPARE(alice.shown.lines().first(), "chat channel: Joining Channel Lobby.");
        QVERIFY(alice.session.watchdog()->isActive());
    }

    // Two sessions in one process: each echoes its own user's name, each has its own list.
    void twoSessionsAreTwoUsers()
    {
        Client alice, bob;
        alice.login(gateway.port, "alice");
        QTRY_COMPARE(alice.session.roster()->count(), 1);
        bob.login(gateway.port, "bob");
        QTRY_COMPARE(bob.session.roster()->entries(), (QStringList{"alice ", "bob "}));
        QTRY_COMPARE(alice.session.roster()->entries(), (QStringList{"alice ", "bob "}));
        alice.shown.take();
        bob.shown.take();

        QCOMPARE(alice.session.sendTyped("hi bob"), ChatSession::TypedResult::Sent);
        QCOMPARE(bob.session.sendTyped("hi alice"), ChatSession::TypedResult::Sent);
        QTRY_COMPARE(bob.shown.lines(), (QStringList{"chat talk: <bob> hi alice", "chat talk: <alice> hi bob (mention)"}));
        QTRY_COMPARE(alice.shown.lines(), (QStringList{"chat talk: <alice> hi bob", "chat talk: <bob> hi alice (mention)"}));
        QCOMPARE(alice.session.LoginName(), "alice");
        QCOMPARE(bob.session.LoginName(), "bob");

        bob.session.close();
        QTRY_COMPARE(alice.session.roster()->entries(), QStringList{"alice "});
        QVERIFY(!bob.session.IsConnected());
        QVERIFY(alice.session.IsConnected());
    }

    // What a typed line does: sent or done locally, and echoed where the user expects it.
    void typedLines_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("senderSees");
        QTest::addColumn<QStringList>("otherSees");
        using R = ChatSession::TypedResult;
        QTest::newRow("talk") << "hello" << int(R::Sent) << QStringList{"chat talk: <alice> hello"}
                              << QStringList{"chat talk: <alice> hello"};
        QTest::newRow("reverse") << "/reverse abc" << int(R::Sent) << QStringList{"chat talk: <alice> cba"}
                                 << QStringList{"chat talk: <alice> cba"};
        QTest::newRow("emote") << "/me waves" << int(R::Sent) << QStringList{"chat emote: <alice waves> "}
                               << QStringList{"chat emote: <alice waves> "};
        QTest::newRow("typed whisper") << "/w bob psst" << int(R::Sent) << QStringList{"whispers whisper: <TO: bob> psst"}
                                       << QStringList{"whispers whisper: <FROM: alice> psst"};
        QTest::newRow("clear") << "/clear" << int(R::Clear) << QStringList() << QStringList();
        QTest::newRow("quit") << "/quit" << int(R::Quit) << QStringList() << QStringList();
    }
    void typedLines()
    {
        QFETCH(QString, typed);
        QFETCH(int, result);
        QFETCH(QStringList, senderSees);
        QFETCH(QStringList, otherSees);
        Client alice, bob;
        alice.login(gateway.port, "alice");
        bob.login(gateway.port, "bob");
        QTRY_COMPARE(alice.session.roster()->count(), 2);
        QTRY_COMPARE(bob.session.roster()->count(), 2);
        alice.shown.take();
        bob.shown.take();
        QCOMPARE(int(alice.session.sendTyped(typed)), result);
        // A marker line from bob ends what alice's line made the gateway send.
        bob.session.sendTyped("marker");
        QTRY_VERIFY(alice.shown.lines().contains("chat talk: <bob> marker"));
        QTRY_VERIFY(bob.shown.lines().contains("chat talk: <bob> marker"));
        QCOMPARE(alice.shown.lines().mid(0, senderSees.size()), senderSees);
        QStringList bobSaw = bob.shown.lines();
        bobSaw.removeOne("chat talk: <bob> marker"); // bob's own echo, shown at once
        QCOMPARE(bobSaw, otherSees);
    }

    // Commands as the buttons and pickers send them; a line that cannot go out says so.
    void commands()
    {
        Client alice, bob;
        alice.login(gateway.port, "alice");
        bob.login(gateway.port, "bob");
        QTRY_COMPARE(alice.session.roster()->count(), 2);
        QSignalSpy joined(&bob.session, &ChatSession::channelJoined);
        QVERIFY(bob.session.sendLine(channelLine("Trivia")));
        QTRY_COMPARE(joined.size(), 1);
        QCOMPARE(bob.session.CurrentChannel(), "Trivia");
        QTRY_COMPARE(alice.session.roster()->entries(), QStringList{"alice "});
        QCOMPARE(bob.session.roster()->entries(), QStringList{"bob "});
        QVERIFY(alice.session.sendLine(whisperLine("bob ", "over here")));
        QTRY_VERIFY(bob.shown.contains("whispers whisper: <FROM: alice> over here"));

        bob.session.close();
        bob.shown.take();
        QVERIFY(!bob.session.canSend());
        QVERIFY(!bob.session.sendLine(kickLine("alice ")));
        QCOMPARE(bob.session.sendTyped("anyone?"), ChatSession::TypedResult::NotSent);
        const QString notSent = "chat notice: Not connected: nothing was sent and your line was kept. "
                                "Connect to a server first.";
        QCOMPARE(bob.shown.lines(), (QStringList{notSent, notSent}));
    }

    // Without reconnecting, the watchdog reports a lost link once, however long it is left.
    void lostLinkReportedOnce()
    {
        Client alice;
        QSignalSpy lost(&alice.session, &ChatSession::connectionLost);
        alice.login(gateway.port, "alice");
        QTRY_COMPARE(alice.session.roster()->count(), 1);
        gateway.server.reset();
        QTRY_COMPARE(lost.size(), 1);
        QTest::qWait(1500); // three watchdog periods
        QCOMPARE(lost.size(), 1);
        QVERIFY(alice.session.IsConnected()); // until the user's Disconnect
        QVERIFY(alice.session.linkEndNotice().startsWith("The connection to 127.0.0.1 was lost at 12:34: "));
        alice.session.close();
        QVERIFY(!alice.session.IsConnected());
        QVERIFY(!alice.session.watchdog()->isActive());
    }

    // With reconnecting on, a lost link comes back by itself into the lobby, without a report.
    void reconnectsAfterALostLink()
    {
        Client alice;
        alice.session.setAutoReconnect(true);
        QSignalSpy lost(&alice.session, &ChatSession::connectionLost);
        QSignalSpy reconnecting(&alice.session, &ChatSession::reconnecting);
        QSignalSpy reconnected(&alice.session, &ChatSession::reconnected);
        alice.login(gateway.port, "alice");
        QTRY_COMPARE(alice.session.roster()->count(), 1);
        gateway.server.reset();
        QTRY_COMPARE(reconnecting.size(), 1);
        QVERIFY(alice.session.isReconnecting());
        QCOMPARE(alice.session.roster()->count(), 0);
        QVERIFY(!alice.session.watchdog()->isActive());
        QVERIFY(gateway.listen());
        QTRY_COMPARE_WITH_TIMEOUT(reconnected.size(), 1, 10000);
        QTRY_COMPARE(alice.session.roster()->entries(), QStringList{"alice "});
        QVERIFY(alice.session.watchdog()->isActive());
        QVERIFY(!alice.session.isReconnecting());
        QCOMPARE(lost.size(), 0);
        QVERIFY(alice.shown.contains("chat notice: The connection to 127.0.0.1 was lost at 12:34: the server closed "
                                     "the connection. Connecting again in 2 s."));
        QCOMPARE(alice.shown.lines().count("chat channel: Joining Channel Lobby."), 2);
    }
};

QTEST_MAIN(tst_chatsession)
#include "tst_chatsession.moc"
