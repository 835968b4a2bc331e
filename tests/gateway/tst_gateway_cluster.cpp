// SPDX-License-Identifier: MIT
// Three gateways in one process share a chat network through a real
// nats-server; clients on different gateways see one world.
#include "NatsSupport.h"
#include "cluster/NatsTestServer.h"
#include "gateway/GatewayTestClient.h"

#include <nats/nats.h>

#include <QRegularExpression>

using namespace GatewayTest;
using Expectations = QHash<QByteArray, Lines>; // client -> lines it must receive, in this order

namespace {

constexpr int kNameTtlMs = 3000;
const QByteArrayList kNodes = {"a", "b", "c"};

// True when every line of `lines` occurs in `received`, in this order.
bool containsInOrder(const QByteArray &received, const Lines &lines, QByteArray *missing)
{
    qsizetype from = 0;
    for (const QByteArray &line : lines) {
        const qsizetype at = received.indexOf(line, from);
        if (at < 0) {
            *missing = line;
            return false;
        }
        from = at + line.size();
    }
    return true;
}

} // namespace

class tst_gateway_cluster : public QObject
{
    Q_OBJECT

    // A fresh server, store and port for each test, so no name outlives its test.
    std::unique_ptr<NatsTestServer> natsServer;
    NatsTestServer &nats() { return *natsServer; }
    Gateway gw[3];

    bool startGateway(int i)
    {
        if (!gw[i].start())
            return false;
        return gw[i].server->joinCluster({nats().url()}, kNodes[i], kNameTtlMs).isEmpty();
    }

    bool allPeered()
    {
        for (Gateway &g : gw) {
            if (!g.server || !g.server->clusterLink()->isUp() || g.server->clusterLink()->peers().size() != 2)
                return false;
        }
        return true;
    }

    // Members of a channel as each gateway knows them: the others' and its own.
    bool everyoneSees(const QByteArray &channel, int members)
    {
        for (Gateway &g : gw) {
            int local = 0;
            for (Client &c : g.clients) {
                const qsizetype at = c.received.lastIndexOf("1007 CHANNEL \"");
                if (at >= 0 && c.received.mid(at).startsWith("1007 CHANNEL \"" + channel + "\"")
                    && c.socket.state() == QAbstractSocket::ConnectedState)
                    ++local;
            }
            if (g.server->clusterLink()->remoteMembers(channel).size() + local != members)
                return false;
        }
        return true;
    }

    // Logs name in on gateway i and waits until every gateway knows it.
    bool logIn(int i, const QByteArray &name, int lobbyMembers)
    {
        if (!gw[i].add(name).login()) {
            qWarning() << "login failed:" << gw[i][name].received << gw[i].log;
            return false;
        }
        return QTest::qWaitFor([&] { return everyoneSees("Lobby", lobbyMembers); }, 5000);
    }

    Client *client(QByteArrayView name)
    {
        for (Gateway &g : gw) {
            for (Client &c : g.clients) {
                if (c.name == name)
                    return &c;
            }
        }
        return nullptr;
    }

private slots:
    void init()
    {
        REQUIRE_NATS_SERVER();
        natsServer = std::make_unique<NatsTestServer>();
        QVERIFY(nats().start());
        for (int i = 0; i < 3; ++i)
            QVERIFY(startGateway(i));
        QTRY_VERIFY_WITH_TIMEOUT(allPeered(), 10000);
    }

    void cleanup()
    {
        for (Gateway &g : gw) {
            g.clients.clear();
            g.server.reset();
        }
        natsServer.reset();
    }

    // alice (operator of Lobby) and dan on gateway a, bob on b, carol on c.
    // Steps: "name:line" sends a line, "name?text" waits until name received
    // text, "~name:line|text" sends line until name receives text.
    void acrossGateways_data()
    {
        QTest::addColumn<Lines>("steps");
        QTest::addColumn<Expectations>("expected");
        QTest::addColumn<Expectations>("absent");

        const QByteArray notOnline = error("That user is not logged on.");
        const QByteArray bobKicked = info("bob was kicked out of the channel by alice (go).");
        const QByteArray carolBanned = info("carol was banned by alice (spam).");
        const QByteArray toVoid = "1007 CHANNEL \"The Void\"\r\n";
        const auto row = [](const char *name, const Lines &steps, const Expectations &expected,
                            const Expectations &absent = {}) { QTest::newRow(name) << steps << expected << absent; };

        row("present users on joining", {},
            {{"carol", {"1007 CHANNEL \"Lobby\"\r\n1001 USER alice 0002\r\n1001 USER dan 0010\r\n1001 USER bob 0010\r\n"
                        "1001 USER carol 0010\r\n"}},
             {"alice", {"1002 JOIN dan 0010\r\n", "1002 JOIN bob 0010\r\n", "1002 JOIN carol 0010\r\n"}}});
        row("talk, one sender's lines in order", {"bob:1", "bob:2", "bob:3", "carol?\"3\""},
            {{"carol", {talk("bob", "1"), talk("bob", "2"), talk("bob", "3")}},
             {"alice", {talk("bob", "1"), talk("bob", "2"), talk("bob", "3")}}},
            {{"bob", {"TALK bob"}}});
        row("emote", {"carol:/me waves"},
            {{"alice", {"1023 EMOTE carol 0010 \"waves\"\r\n"}}, {"bob", {"1023 EMOTE carol 0010 \"waves\"\r\n"}},
             {"carol", {"1023 EMOTE carol 0010 \"waves\"\r\n"}}});
        row("whisper", {"carol:/w ALICE psst", "dan:/w carol back"},
            {{"alice", {"1004 WHISPER carol 0010 \"psst\"\r\n"}}, {"carol", {"1004 WHISPER dan 0010 \"back\"\r\n"}}},
            {{"dan", {"WHISPER carol"}}, {"bob", {"WHISPER"}}});
        row("whisper to nobody", {"bob:/w nobody hi"}, {{"bob", {notOnline}}});
        row("whois", {"alice:/whois CAROL", "alice:/whois nobody"},
            {{"alice", {info("carol is using Vesk Chat in channel Lobby."), notOnline}}});
        // dan's line comes after alice's from the same gateway, so it proves hers was held back.
        row("squelch", {"bob:/squelch alice", "bob?squelched", "alice:secret", "dan?secret", "dan:after", "bob?after",
                        "bob:/unsquelch alice", "alice:again"},
            {{"bob", {info("alice has been squelched."), talk("dan", "after"), info("alice has been unsquelched."),
                      "1005 TALK alice 0002 \"again\"\r\n"}},
             {"carol", {"1005 TALK alice 0002 \"secret\"\r\n"}}},
            {{"bob", {"secret"}}});
        row("join and leave", {"bob:/join Tea", "~carol:/whois bob|bob is using Vesk Chat in channel Tea.", "carol:/join Tea",
                                "~bob:/whois carol|carol is using Vesk Chat in channel Tea.", "bob:in tea"},
            {{"carol", {"1007 CHANNEL \"Tea\"\r\n1001 USER bob 0002\r\n1001 USER carol 0010\r\n",
                        "1005 TALK bob 0002 \"in tea\"\r\n"}},
             {"bob", {"1002 JOIN carol 0010\r\n"}},
             {"alice", {"1003 LEAVE bob 0010\r\n", "1003 LEAVE carol 0010\r\n"}}},
            {{"alice", {"in tea"}}});
        row("kick", {"alice:/kick BOB go"},
            {{"bob", {bobKicked, toVoid}}, {"carol", {bobKicked}}, {"dan", {"1003 LEAVE bob 0010\r\n"}},
             {"alice", {bobKicked, "1003 LEAVE bob 0010\r\n"}}});
        row("ban, also through another gateway", {"alice:/ban carol spam", "carol?The Void", "carol:/join lobby"},
            {{"carol", {carolBanned, toVoid, error("You are banned from that channel."), toVoid}},
             {"bob", {carolBanned, "1003 LEAVE carol 0010\r\n"}}});
        row("only the operator kicks", {"bob:/kick carol", "carol:/ban alice"},
            {{"bob", {error("You are not a channel operator.")}}, {"carol", {error("You are not a channel operator.")}}},
            {{"alice", {"kicked"}}});
        row("operator leaves, the next on its gateway", {"alice:/join x"},
            {{"bob", {"1003 LEAVE alice 0002\r\n", info("dan is now the channel operator.")}},
             {"carol", {"1003 LEAVE alice 0002\r\n", info("dan is now the channel operator.")}}});
        row("operator's gateway empties, the smallest node takes over",
            {"alice:/join x", "dan:/join y", "carol?bob is now the channel operator.", "bob:/kick carol"},
            {{"carol", {info("bob is now the channel operator."), info("carol was kicked out of the channel by bob.")}}});
    }

    void acrossGateways()
    {
        QFETCH(Lines, steps);
        QFETCH(Expectations, expected);
        QFETCH(Expectations, absent);

        QVERIFY(logIn(0, "alice", 1));
        QVERIFY(logIn(0, "dan", 2));
        QVERIFY(logIn(1, "bob", 3));
        QVERIFY(logIn(2, "carol", 4));
        for (const QByteArray &step : steps) {
            if (step.startsWith('~')) {
                const qsizetype send = step.indexOf(':'), bar = step.indexOf('|');
                Client *c = client(step.mid(1, send - 1));
                const QByteArray text = step.mid(bar + 1);
                QVERIFY2(QTest::qWaitFor([&] {
                    c->write(step.mid(send + 1, bar - send - 1) + "\r\n");
                    return c->waitFor(text, 100);
                }, kTimeout), step.constData());
                continue;
            }
            const qsizetype wait = step.indexOf('?');
            const qsizetype send = step.indexOf(':');
            if (wait > 0 && (send < 0 || wait < send)) {
                QVERIFY2(client(step.left(wait))->waitFor(step.mid(wait + 1)), step.constData());
            } else {
                client(step.left(send))->write(step.mid(send + 1) + "\r\n");
            }
        }
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            Client *c = client(it.key());
            QByteArray missing;
            (void)QTest::qWaitFor([&] { return containsInOrder(c->received, *it, &missing); }, kTimeout);
            QVERIFY2(containsInOrder(c->received, *it, &missing),
                     (it.key() + " lacks " + missing + " in: " + c->received).constData());
        }
        // What must not arrive has had the time the expected lines took, and a round trip more.
        QTest::qWait(200);
        for (auto it = absent.cbegin(); it != absent.cend(); ++it) {
            for (const QByteArray &text : *it)
                QVERIFY2(!client(it.key())->received.contains(text), (it.key() + " got " + text).constData());
        }
    }

    // Three logins with one name on three gateways at once: exactly one gets
    // it, the others the next free names, never two with one name.
    void oneWinnerPerName()
    {
        QElapsedTimer clock;
        clock.start();
        static const QRegularExpression welcomed(QStringLiteral("Welcome to the Vesk Chat local gateway, ([^\"]*)\\."));
        // The lobby empties after every round, so its subscriptions come and go quickly.
        int rounds = 0;
        for (; rounds < 1000 && clock.elapsed() < 25000; ++rounds) {
            const QByteArray name = "racer" + QByteArray::number(rounds);
            std::vector<Client *> racers;
            for (Gateway &g : gw) {
                g.clients.clear();
                racers.push_back(&g.add(name));
            }
            for (Client *racer : racers)
                racer->write(loginBytes(name, "pw"));
            QSet<QByteArray> names;
            int exact = 0;
            for (Client *racer : racers) {
                QVERIFY2(racer->waitFor("Welcome"), racer->received.constData());
                const auto match = welcomed.match(QString::fromUtf8(racer->received));
                QVERIFY(match.hasMatch());
                const QByteArray got = match.captured(1).toUtf8();
                exact += got == name ? 1 : 0;
                names.insert(got.toLower());
            }
            QCOMPARE(exact, 1);
            QCOMPARE(names.size(), 3);
        }
        qInfo("%d rounds in %lld ms", rounds, qint64(clock.elapsed()));
        QVERIFY(rounds >= 100);
    }

    // A gateway gone without a goodbye: the others show its users leaving,
    // and its names come free within their time to live.
    void gatewayDies()
    {
        QVERIFY(logIn(0, "alice", 1));
        QVERIFY(logIn(2, "carol", 2));
        QElapsedTimer clock;
        clock.start();
        gw[2].server->abandonCluster();
        gw[2].clients.clear();
        gw[2].server.reset();
        // Whether carol was an operator then depends on which gateway spoke first.
        QVERIFY2(gw[0]["alice"].waitFor("1003 LEAVE carol ", 10000), gw[0]["alice"].received.constData());
        qInfo("gone after %lld ms", qint64(clock.elapsed()));
        QTest::qWait(kNameTtlMs);
        QVERIFY(gw[1].add("carol").login());
    }

    // NATS goes away and comes back: nobody is dropped, local talk goes on,
    // each affected channel hears once that lines may be missing, and the
    // user lists agree again.
    void natsRestart()
    {
        QVERIFY(logIn(0, "alice", 1));
        QVERIFY(logIn(0, "dan", 2));
        QVERIFY(logIn(1, "bob", 3));
        QVERIFY(logIn(2, "carol", 4));
        const quint16 port = nats().port();
        nats().stop();
        QTRY_VERIFY_WITH_TIMEOUT(!gw[0].server->clusterLink()->isUp(), 5000);
        gw[0]["alice"].write("still here\r\n");
        QVERIFY(gw[0]["dan"].waitFor("1005 TALK alice 0002 \"still here\"\r\n"));
        gw[2].clients.clear(); // carol leaves while the gateways cannot tell each other
        QTest::qWait(300);
        QVERIFY(nats().start(port));
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(allPeered(), 10000);
        qInfo("reconnected after %lld ms", qint64(clock.elapsed()));
        const QByteArray missing = info("Some lines of this channel may be missing: the link between gateways was "
                                        "interrupted.");
        // Whether carol was an operator then depends on which gateway spoke first.
        QVERIFY2(gw[0]["alice"].waitFor("1003 LEAVE carol ", 10000), gw[0]["alice"].received.constData());
        QVERIFY(gw[1]["bob"].waitFor("1003 LEAVE carol 0010\r\n", 10000));
        QVERIFY(gw[0]["alice"].waitFor(missing));
        QTest::qWait(1500);
        for (Client *c : {&gw[0]["alice"], &gw[0]["dan"], &gw[1]["bob"]}) {
            QCOMPARE(c->received.count(missing), 1);
            QCOMPARE(c->socket.state(), QAbstractSocket::ConnectedState);
        }
        QVERIFY(everyoneSees("Lobby", 3));
        gw[1]["bob"].write("after\r\n");
        QVERIFY(gw[0]["alice"].waitFor(talk("bob", "after")));
    }

    // An outage longer than the names' time to live: their holders cannot
    // know whether someone else has them by now, so the users go.
    void namesLostDropUsers()
    {
        QVERIFY(logIn(0, "alice", 1));
        QVERIFY(logIn(1, "bob", 2));
        const quint16 port = nats().port();
        nats().stop();
        const QByteArray lost = info("Your name could not be kept in the chat network; please log in again.");
        QVERIFY(gw[0]["alice"].waitFor(lost, kNameTtlMs + 2000));
        QVERIFY(gw[1]["bob"].waitFor(lost, 2000));
        QTRY_COMPARE(gw[0]["alice"].socket.state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(gw[0].server->userCount(), 0);
        QVERIFY(gw[0].log.join(u'\n').contains(QLatin1String("alice dropped")));
        QVERIFY(nats().start(port));
        QTRY_VERIFY_WITH_TIMEOUT(allPeered(), 10000);
        QVERIFY(QTest::qWaitFor([&] { return gw[2].add("alice").login(); }, 10000));
    }

    // What a gateway did not send is logged and dropped, never shown (the
    // kinds of malformed message are the message decoder's own tests).
    void foreignMessagesDropped()
    {
        const QByteArray bytes = "1005 TALK mallory 0010 \"hi\"\r\n";
        QVERIFY(logIn(0, "alice", 1));
        natsConnection *raw = nullptr;
        QCOMPARE(natsConnection_ConnectTo(&raw, nats().url().toUtf8().constData()), NATS_OK);
        const QByteArray subject = NatsSupport::channelSubject("Lobby");
        QCOMPARE(natsConnection_Publish(raw, subject.constData(), bytes.constData(), int(bytes.size())), NATS_OK);
        natsConnection_Flush(raw);
        natsConnection_Destroy(raw);
        QTRY_VERIFY_WITH_TIMEOUT(gw[0].log.join(u'\n').contains(QLatin1String("cluster: dropped a message")), 5000);
        const QByteArray seen = gw[0]["alice"].drain();
        QVERIFY2(!seen.contains("mallory") && !seen.contains("VKC"), seen.constData());
    }

    // No NATS at start: the gateway says so once, refuses logins it cannot
    // make unique, keeps trying, and admits them once NATS is there.
    void unreachableAtStart()
    {
        cleanup();
        natsServer = std::make_unique<NatsTestServer>();
        const quint16 port = NatsTestServer::freePort();
        Gateway lone;
        QVERIFY(lone.start());
        QVERIFY(lone.server->joinCluster({QStringLiteral("nats://127.0.0.1:%1").arg(port)}, "lone", kNameTtlMs)
                        .isEmpty());
        QTest::qWait(3500);
        QCOMPARE(lone.log.filter(QStringLiteral("cannot reach NATS")).size(), 1);
        Client &early = lone.add("early");
        early.write(loginBytes("early", "pw"));
        QVERIFY(early.waitFor(info("The chat network cannot be reached; please try again later.")));
        QVERIFY(nats().start(port));
        QTRY_VERIFY_WITH_TIMEOUT(lone.server->clusterLink()->isUp(), 10000);
        QVERIFY(QTest::qWaitFor([&] { return lone.add("late").login(); }, 10000));
        QCOMPARE(lone.log.filter(QStringLiteral("cannot reach NATS")).size(), 1);
    }
};

QTEST_MAIN(tst_gateway_cluster)
#include "tst_gateway_cluster.moc"
