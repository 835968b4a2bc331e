// SPDX-License-Identifier: MIT
#include "ClusterLink.h"
#include "ClusterMessage.h"
#include "NatsSupport.h"
#include "cluster/NatsTestServer.h"

#include <nats/nats.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

// One gateway's link, and what it handed to its world.
struct Node
{
    std::unique_ptr<ClusterLink> link;
    QList<QByteArray> lines;    // "channel|author|line"
    QList<QByteArray> whispers; // "user|from|line"
    QList<QByteArray> roster;   // "+node|user|channel" and "-node|user|channel", in order
    QList<QByteArray> missing;
    int ups = 0, downs = 0, slow = 0, caughtUp = 0;
    QList<bool> upAfterOutage;
    QList<QByteArray> lost;
};

std::unique_ptr<Node> node(const QStringList &urls, const char *name, int heartbeatMs = 200,
                           int timeoutMs = 1500, int maxPending = 50000, int reconnectWaitMs = 250,
                           int idleSubscriptionMs = 300)
{
    auto n = std::make_unique<Node>();
    ClusterSettings settings;
    settings.urls = urls;
    settings.node = name;
    settings.heartbeatMs = heartbeatMs;
    settings.nodeTimeoutMs = timeoutMs;
    settings.maxPendingMessages = maxPending;
    settings.reconnectWaitMs = reconnectWaitMs;
    settings.caughtUpAfterMs = 300;
    settings.idleSubscriptionMs = idleSubscriptionMs;
    n->link = std::make_unique<ClusterLink>(settings);
    Node *raw = n.get();
    ClusterLink *link = n->link.get();
    QObject::connect(link, &ClusterLink::lineForChannel, link,
                     [raw](const QByteArray &c, const QByteArray &a, const QByteArray &l) {
                         raw->lines.append(c + '|' + a + '|' + l);
                     });
    QObject::connect(link, &ClusterLink::whisperFor, link,
                     [raw](const QByteArray &u, const QByteArray &f, const QByteArray &l) {
                         raw->whispers.append(u + '|' + f + '|' + l);
                     });
    QObject::connect(link, &ClusterLink::remoteJoined, link,
                     [raw](const QByteArray &n, const QByteArray &u, const QByteArray &c, const QByteArray &) {
                         raw->roster.append('+' + n + '|' + u + '|' + c);
                     });
    QObject::connect(link, &ClusterLink::remoteLeft, link,
                     [raw](const QByteArray &n, const QByteArray &u, const QByteArray &c, const QByteArray &) {
                         raw->roster.append('-' + n + '|' + u + '|' + c);
                     });
    QObject::connect(link, &ClusterLink::linesMayBeMissing, link,
                     [raw](const QByteArray &c) { raw->missing.append(c); });
    QObject::connect(link, &ClusterLink::linkUp, link, [raw](bool afterOutage) {
        ++raw->ups;
        raw->upAfterOutage.append(afterOutage);
    });
    QObject::connect(link, &ClusterLink::linkDown, link, [raw] { ++raw->downs; });
    QObject::connect(link, &ClusterLink::slowConsumer, link, [raw] { ++raw->slow; });
    QObject::connect(link, &ClusterLink::caughtUp, link, [raw] { ++raw->caughtUp; });
    QObject::connect(link, &ClusterLink::nodeLost, link, [raw](const QByteArray &n) { raw->lost.append(n); });
    link->start();
    return n;
}

QByteArray talk(const QByteArray &user, int i)
{
    return "1005 TALK " + user + " 0010 \"line " + QByteArray::number(i) + "\"\r\n";
}

// Joins a user and waits until every other node has seen it (so their
// subscriptions, sent before the join, are in place too).
void joinEverywhere(Node &at, const QByteArray &user, const QByteArray &channel,
                    const QList<Node *> &others)
{
    at.link->userJoined(user, channel, "0010");
    for (Node *other : others) {
        QTRY_VERIFY_WITH_TIMEOUT(other->link->findRemoteUser(user)
                                         && other->link->findRemoteUser(user)->channel == channel,
                                 5000);
    }
}

// A raw NATS client that plays a foreign or hostile peer.
struct RawClient
{
    natsConnection *nc = nullptr;
    explicit RawClient(const QString &url) { natsConnection_ConnectTo(&nc, url.toUtf8().constData()); }
    ~RawClient() { natsConnection_Destroy(nc); }
    void publish(const QByteArray &subject, const QByteArray &data)
    {
        natsConnection_Publish(nc, subject.constData(), data.constData(), int(data.size()));
        natsConnection_Flush(nc);
    }
};

} // namespace

class TestClusterLink : public QObject
{
    Q_OBJECT

    std::unique_ptr<NatsTestServer> nats; // a fresh server for each test

private slots:
    void init()
    {
        REQUIRE_NATS_SERVER();
        nats = std::make_unique<NatsTestServer>();
        QVERIFY(nats->start());
    }
    void cleanup() { nats.reset(); }

    // Lines of several users on two nodes: each reader gets each sender's
    // lines once and in order.
    void channelLinesKeepOrderPerSender_data()
    {
        QTest::addColumn<int>("usersOnA");
        QTest::addColumn<int>("lines");
        QTest::newRow("three users interleaved") << 3 << 500;
        QTest::newRow("one user, a burst") << 1 << 5000;
    }
    void channelLinesKeepOrderPerSender()
    {
        QFETCH(int, usersOnA);
        QFETCH(int, lines);
        auto a = node({nats->url()}, "A");
        auto b = node({nats->url()}, "B");
        QTRY_VERIFY_WITH_TIMEOUT(a->link->isUp() && b->link->isUp(), 5000);
        joinEverywhere(*b, "bob", "Lobby", {a.get()});
        for (int u = 0; u < usersOnA; ++u)
            joinEverywhere(*a, "a" + QByteArray::number(u), "Lobby", {b.get()});
        for (int i = 0; i < lines; ++i) {
            for (int u = 0; u < usersOnA; ++u) {
                const QByteArray user = "a" + QByteArray::number(u);
                a->link->sendChannelLine("Lobby", user, talk(user, i));
            }
            b->link->sendChannelLine("LOBBY", "bob", talk("bob", i));
        }
        QTRY_COMPARE_WITH_TIMEOUT(b->lines.size(), usersOnA * lines, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(a->lines.size(), lines, 20000);
        QList<int> next(usersOnA, 0);
        for (const QByteArray &entry : std::as_const(b->lines)) {
            const QList<QByteArray> parts = entry.split('|');
            QCOMPARE(parts[0], QByteArray("Lobby"));
            const int u = parts[1].mid(1).toInt();
            QCOMPARE(parts[2], talk(parts[1], next[u]++));
        }
        for (int i = 0; i < lines; ++i)
            QCOMPARE(a->lines[i], "LOBBY|bob|" + talk("bob", i));
        QTest::qWait(200);
        QCOMPARE(b->lines.size(), usersOnA * lines);
        QCOMPARE(b->link->stats().duplicates + a->link->stats().duplicates, 0);
        QCOMPARE(b->link->stats().gaps + a->link->stats().gaps, 0);
    }

    // One NATS message per line and per node with members, never per user;
    // nodes without members are not sent the line at all.
    void deliveriesPerLineFollowMembership_data()
    {
        QTest::addColumn<QStringList>("members"); // node:user in the channel; A always sends
        QTest::addColumn<int>("perLine");
        QTest::newRow("only the sender's node") << QStringList{"A:a1"} << 0;
        QTest::newRow("one other node, many users") << QStringList{"A:a1", "B:b1", "B:b2", "B:b3"} << 1;
        QTest::newRow("two other nodes") << QStringList{"A:a1", "B:b1", "C:c1", "C:c2"} << 2;
        QTest::newRow("joined and left again") << QStringList{"A:a1", "B:b1", "C:c1", "-C:c1"} << 1;
        QTest::newRow("joined twice (new flags), left once")
                << QStringList{"A:a1", "B:b1", "B:b1", "-B:b1"} << 0;
    }
    void deliveriesPerLineFollowMembership()
    {
        QFETCH(QStringList, members);
        QFETCH(int, perLine);
        // Heartbeats far apart, so the server's counters see only the lines.
        std::unique_ptr<Node> nodes[3] = {node({nats->url()}, "A", 60000, 120000),
                                          node({nats->url()}, "B", 60000, 120000),
                                          node({nats->url()}, "C", 60000, 120000)};
        QTRY_VERIFY_WITH_TIMEOUT(nodes[0]->link->isUp() && nodes[1]->link->isUp() && nodes[2]->link->isUp(), 5000);
        QHash<Node *, QSet<QByteArray>> membersAt;
        for (const QString &entry : members) {
            const bool leave = entry.startsWith(u'-');
            const QString plain = leave ? entry.mid(1) : entry;
            Node &at = *nodes[plain[0].unicode() - 'A'];
            const QByteArray user = plain.mid(2).toUtf8();
            QList<Node *> others;
            for (auto &n : nodes) {
                if (n.get() != &at)
                    others.append(n.get());
            }
            if (leave) {
                at.link->userLeft(user, "Lobby", "0010");
                for (Node *other : others)
                    QTRY_VERIFY_WITH_TIMEOUT(!other->link->findRemoteUser(user), 5000);
                // Its last member gone, the node stops listening after a short while.
                membersAt[&at].remove(user);
                if (membersAt[&at].isEmpty())
                    QTRY_VERIFY_WITH_TIMEOUT(!at.link->isSubscribed("Lobby"), 5000);
            } else {
                joinEverywhere(at, user, "Lobby", others);
                membersAt[&at].insert(user);
            }
        }
        QTest::qWait(300);
        const int lines = 100;
        const qint64 before = nats->outMessages();
        for (int i = 0; i < lines; ++i)
            nodes[0]->link->sendChannelLine("Lobby", "a1", talk("a1", i));
        const int readers = int(std::count_if(std::begin(nodes) + 1, std::end(nodes), [](const auto &n) {
            return n->link->isSubscribed("Lobby");
        }));
        QCOMPARE(readers, perLine);
        for (auto it = std::begin(nodes) + 1; it != std::end(nodes); ++it) {
            if ((*it)->link->isSubscribed("Lobby"))
                QTRY_COMPARE_WITH_TIMEOUT((*it)->lines.size(), lines, 5000);
        }
        QTest::qWait(300);
        const qint64 sent = nats->outMessages() - before;
        qInfo("%lld NATS deliveries for %d lines: %.2f per line", sent, lines, double(sent) / lines);
        QCOMPARE(sent, qint64(lines) * perLine);
        for (auto it = std::begin(nodes) + 1; it != std::end(nodes); ++it) {
            if (!(*it)->link->isSubscribed("Lobby"))
                QVERIFY((*it)->lines.isEmpty());
        }
    }

    // A whisper goes to the node that holds the user, and only there.
    void whisperReachesHoldingNode_data()
    {
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<bool>("sent");
        QTest::newRow("held by C") << QByteArray("carol") << true;
        QTest::newRow("case folded") << QByteArray("CAROL") << true;
        QTest::newRow("nobody") << QByteArray("nobody") << false;
    }
    void whisperReachesHoldingNode()
    {
        QFETCH(QByteArray, to);
        QFETCH(bool, sent);
        auto a = node({nats->url()}, "A");
        auto b = node({nats->url()}, "B");
        auto c = node({nats->url()}, "C");
        joinEverywhere(*c, "carol", "Elsewhere", {a.get(), b.get()});
        joinEverywhere(*b, "bob", "Lobby", {a.get(), c.get()});
        const QByteArray line = "1004 WHISPER alice 0010 \"psst\"\r\n";
        QCOMPARE(a->link->sendWhisper("alice", to, line), sent);
        if (sent)
            QTRY_COMPARE_WITH_TIMEOUT(c->whispers, QList<QByteArray>{"carol|alice|" + line}, 5000);
        QTest::qWait(300);
        QVERIFY(b->whispers.isEmpty());
        if (!sent)
            QVERIFY(c->whispers.isEmpty());
    }

    // Joins, leaves and kicks seen by the other nodes; the remote user list
    // keeps the order of arrival.
    void rosterAndKicksAcrossNodes()
    {
        auto a = node({nats->url()}, "A");
        auto b = node({nats->url()}, "B");
        joinEverywhere(*a, "op", "Lobby", {b.get()});
        joinEverywhere(*b, "troll", "Lobby", {a.get()});
        joinEverywhere(*b, "bystander", "Lobby", {a.get()});
        QList<QByteArray> names;
        for (const auto &user : a->link->remoteMembers("lobby"))
            names.append(user.name);
        QCOMPARE(names, (QList<QByteArray>{"troll", "bystander"}));
        QSignalSpy kicked(b->link.get(), &ClusterLink::kicked);
        a->link->sendKick("Lobby", "op", "troll", "1018 INFO \"troll was banned by op.\"\r\n", true);
        QVERIFY(kicked.wait(5000));
        QCOMPARE(kicked.first().at(2).toByteArray(), QByteArray("troll"));
        QCOMPARE(kicked.first().at(4).toBool(), true);
        // The world on B moves the victim away.
        b->link->userLeft("troll", "Lobby", "0010");
        b->link->userJoined("troll", "The Void", "0010");
        QTRY_COMPARE_WITH_TIMEOUT(a->link->findRemoteUser("troll")->channel, QByteArray("The Void"), 5000);
        QCOMPARE(a->roster.mid(2), (QList<QByteArray>{"-B|troll|Lobby", "+B|troll|The Void"}));
    }

    // A node that starts late learns who is where from the others' snapshots,
    // minus the users a node no longer holds.
    void lateNodeLearnsUsers_data()
    {
        QTest::addColumn<bool>("filter");
        QTest::addColumn<int>("crowd"); // more users in "Crowd", beyond one message's worth
        QTest::newRow("all users") << false << 0;
        QTest::newRow("a lost name left out") << true << 0;
        QTest::newRow("snapshot in three parts") << false << 900;
    }
    void lateNodeLearnsUsers()
    {
        QFETCH(bool, filter);
        QFETCH(int, crowd);
        auto b = node({nats->url()}, "B");
        if (filter)
            b->link->setSnapshotFilter([](const QByteArray &user) { return user != "lost"; });
        b->link->userJoined("bob", "Lobby", "0002");
        b->link->userJoined("lost", "Lobby", "0010");
        b->link->userJoined("bea", "Other", "0010");
        for (int i = 0; i < crowd; ++i)
            b->link->userJoined("crowd_member_with_a_long_name_" + QByteArray::number(i), "Crowd", "0010");
        QTest::qWait(300);
        auto a = node({nats->url()}, "A");
        QTRY_VERIFY_WITH_TIMEOUT(a->link->findRemoteUser("bea"), 5000);
        QCOMPARE(a->link->findRemoteUser("BOB")->flags, QByteArray("0002"));
        QCOMPARE(a->link->findRemoteUser("bea")->channel, QByteArray("Other"));
        QCOMPARE(bool(a->link->findRemoteUser("lost")), !filter);
        QCOMPARE(a->link->remoteMembers("Lobby").size(), filter ? 1 : 2);
        QCOMPARE(a->link->peers(), QList<QByteArray>{"B"});
        QTRY_COMPARE_WITH_TIMEOUT(a->link->remoteMembers("Crowd").size(), crowd, 5000);
    }

    // A node whose first user enters a channel learns the bans the others keep there.
    void bansReachANewcomer_data()
    {
        QTest::addColumn<QList<QByteArray>>("bans");
        QTest::newRow("none") << QList<QByteArray>{};
        QTest::newRow("two") << QList<QByteArray>{"troll", "Spammer"};
    }
    void bansReachANewcomer()
    {
        QFETCH(QList<QByteArray>, bans);
        auto a = node({nats->url()}, "A");
        auto c = node({nats->url()}, "C");
        a->link->setBanListProvider([bans](const QByteArray &channel) {
            return channel.toLower() == "lobby" ? bans : QList<QByteArray>{};
        });
        joinEverywhere(*a, "op", "Lobby", {c.get()});
        QSignalSpy learned(c->link.get(), &ClusterLink::bansLearned);
        joinEverywhere(*c, "carol", "LOBBY", {a.get()});
        joinEverywhere(*c, "cecil", "Other", {a.get()});
        QTest::qWait(300);
        if (bans.isEmpty()) {
            QVERIFY(learned.isEmpty());
        } else {
            QCOMPARE(learned.size(), 1);
            QCOMPARE(learned.first().at(0).toByteArray(), QByteArray("LOBBY"));
            QCOMPARE(learned.first().at(1).value<QList<QByteArray>>(), bans);
        }
    }

    // A node that goes, without a word or cleanly (then at once), is noticed
    // by the others, its users gone.
    void goneNodeNoticed_data()
    {
        QTest::addColumn<bool>("clean");
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("dies without a word") << false << 5000;
        QTest::newRow("stops cleanly") << true << 60000;
    }
    void goneNodeNoticed()
    {
        QFETCH(bool, clean);
        QFETCH(int, timeoutMs);
        auto a = node({nats->url()}, "A", 1000, timeoutMs);
        auto b = node({nats->url()}, "B", 1000, timeoutMs);
        joinEverywhere(*b, "bob", "Lobby", {a.get()});
        joinEverywhere(*b, "bea", "Lobby", {a.get()});
        QElapsedTimer clock;
        clock.start();
        if (clean)
            b.reset();
        else
            b->link->abandon();
        QTRY_VERIFY_WITH_TIMEOUT(a->lost.contains("B"), clean ? 2000 : 10000);
        qInfo("gone node noticed after %lld ms", qint64(clock.elapsed()));
        QVERIFY(!a->link->findRemoteUser("bob") && !a->link->findRemoteUser("bea"));
        QCOMPARE(a->roster.mid(2), (QList<QByteArray>{"-B|bob|Lobby", "-B|bea|Lobby"}));
    }

    // The NATS server goes away and comes back: both nodes reconnect quickly,
    // say lines may be missing once, agree on users again, and talk again.
    void serverRestart()
    {
        // B comes back later than A: A must not take its own outage for B's silence.
        auto a = node({nats->url()}, "A", 200, 3000);
        auto b = node({nats->url()}, "B", 200, 3000, 50000, 1500);
        joinEverywhere(*a, "alice", "Lobby", {b.get()});
        joinEverywhere(*b, "bob", "Lobby", {a.get()});
        nats->stop();
        QTRY_VERIFY_WITH_TIMEOUT(a->downs == 1 && b->downs == 1, 10000);
        // Users come and go meanwhile, and lines are sent: none of it waits for NATS.
        b->link->userJoined("late", "Lobby", "0010");
        QElapsedTimer sendClock;
        sendClock.start();
        for (int i = 0; i < 2000; ++i)
            a->link->sendChannelLine("Lobby", "alice", talk("alice", 100 + i));
        QVERIFY(sendClock.elapsed() < 1000);
        QTest::qWait(3500);
        QElapsedTimer clock;
        QVERIFY(nats->start(nats->port()));
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(a->ups == 2, 5000);
        const qint64 aBack = clock.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(b->ups == 2, 5000);
        qInfo("reconnected %lld ms (A, retrying every 250 ms) and %lld ms (B, every 1500 ms) after the "
              "server returned", aBack, qint64(clock.elapsed()));
        QCOMPARE(a->upAfterOutage, (QList<bool>{false, true}));
        QCOMPARE(a->missing, QList<QByteArray>{"Lobby"});
        QTRY_VERIFY_WITH_TIMEOUT(a->link->findRemoteUser("late"), 5000);
        QVERIFY(a->link->findRemoteUser("bob"));
        QVERIFY(b->link->findRemoteUser("alice"));
        a->link->sendChannelLine("Lobby", "alice", talk("alice", 1));
        QTRY_VERIFY_WITH_TIMEOUT(!b->lines.isEmpty() && b->lines.last() == "Lobby|alice|" + talk("alice", 1), 5000);
        QVERIFY(a->lost.isEmpty() && b->lost.isEmpty());
        QCOMPARE(b->missing, QList<QByteArray>{"Lobby"});
    }

    // Nothing listens at the first URL, or at all: the caller's loop keeps
    // running, and the link connects when a server is there.
    void unreachableAtStart_data()
    {
        QTest::addColumn<bool>("failover");
        QTest::addColumn<int>("absentMs");
        QTest::addColumn<int>("retryMs");
        QTest::newRow("single URL, server comes later") << false << 1000 << 250;
        QTest::newRow("first URL dead, second alive") << true << 0 << 250;
        // Far more attempts than the client library's default limit of 60.
        QTest::newRow("server absent for more than 60 attempts") << false << 6000 << 20;
    }
    void unreachableAtStart()
    {
        QFETCH(bool, failover);
        QFETCH(int, absentMs);
        QFETCH(int, retryMs);
        NatsTestServer server;
        const quint16 port = NatsTestServer::freePort();
        const QString dead = QStringLiteral("nats://127.0.0.1:%1").arg(NatsTestServer::freePort());
        const QString live = QStringLiteral("nats://127.0.0.1:%1").arg(port);
        if (failover)
            QVERIFY(server.start(port));
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(20);
        QElapsedTimer clock;
        clock.start();
        auto a = node({failover ? dead + u',' + live : live}, "A", 200, 1500, 50000, retryMs);
        QVERIFY(clock.elapsed() < 200);
        if (!failover) {
            QTest::qWait(absentMs);
            QVERIFY(!a->link->isUp());
            QVERIFY2(ticks >= absentMs / 40, QByteArray::number(ticks).constData());
            QVERIFY(server.start(port));
        }
        QTRY_VERIFY_WITH_TIMEOUT(a->link->isUp(), 5000);
    }

    // What is not a gateway message, or a replay, is dropped; a jump in a
    // sender's numbers is reported once.
    void hostileAndReplayedMessages()
    {
        auto a = node({nats->url()}, "A");
        auto b = node({nats->url()}, "B");
        joinEverywhere(*b, "bob", "Lobby", {a.get()});
        joinEverywhere(*a, "alice", "Lobby", {b.get()});
        RawClient raw(nats->url());
        const QByteArray subject = NatsSupport::channelSubject("Lobby");
        raw.publish(subject, "1005 TALK mallory 0010 \"forged\"\r\n");
        raw.publish(subject, QByteArray("VKC\x02", 4) + QByteArray(40, 'x'));
        raw.publish(subject, QByteArray(70000, 'V'));
        ClusterMessage m;
        m.kind = ClusterMessage::Kind::ChannelLine;
        m.incarnation = 77;
        m.origin = "M";
        m.channel = "Lobby";
        m.user = "mallory";
        m.payload = talk("mallory", 1);
        m.seq = 1;
        raw.publish(subject, encodeClusterMessage(m));
        raw.publish(subject, encodeClusterMessage(m)); // replayed
        m.seq = 5;
        m.payload = talk("mallory", 5);
        raw.publish(subject, encodeClusterMessage(m)); // 2..4 lost
        m.seq = 3;
        raw.publish(subject, encodeClusterMessage(m)); // late, older than what was seen
        a->link->sendChannelLine("Lobby", "alice", talk("alice", 1));
        QTRY_COMPARE_WITH_TIMEOUT(b->lines.size(), 3, 5000);
        QTest::qWait(300);
        QCOMPARE(b->lines, (QList<QByteArray>{"Lobby|mallory|" + talk("mallory", 1),
                                              "Lobby|mallory|" + talk("mallory", 5),
                                              "Lobby|alice|" + talk("alice", 1)}));
        QCOMPARE(b->link->stats().rejected, 3);
        QCOMPARE(b->link->stats().duplicates, 2);
        QCOMPARE(b->missing, QList<QByteArray>{"Lobby"});
    }

    // A node whose loop falls behind drops, says so once, and recovers; the
    // sender is not held back.
    void slowConsumerRecovers_data()
    {
        QTest::addColumn<int>("bursts");
        QTest::newRow("one burst") << 1;
        QTest::newRow("a second burst within the spell") << 2;
    }
    void slowConsumerRecovers()
    {
        QFETCH(int, bursts);
        auto a = node({nats->url()}, "A");
        auto b = node({nats->url()}, "B", 200, 60000, 100);
        joinEverywhere(*b, "bob", "Lobby", {a.get()});
        joinEverywhere(*a, "alice", "Lobby", {b.get()});
        const int lines = 3000;
        for (int i = 0; i < lines; ++i)
            a->link->sendChannelLine("Lobby", "alice", talk("alice", i));
        QThread::msleep(1500); // B's loop (and A's: one thread here) stands still
        if (bursts > 1) {
            // The spell has begun; more is dropped before it ends: still one spell.
            QTRY_COMPARE_WITH_TIMEOUT(b->slow, 1, 5000);
            for (int i = 0; i < lines; ++i)
                a->link->sendChannelLine("Lobby", "alice", talk("alice", lines + i));
            QThread::msleep(100);
        }
        QTRY_COMPARE_WITH_TIMEOUT(b->slow, 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(b->caughtUp, 1, 5000);
        QVERIFY(b->lines.size() < lines * bursts);
        QCOMPARE(b->missing, QList<QByteArray>{"Lobby"});
        QVERIFY(b->link->stats().dropped > 0);
        qInfo("%lld of %d lines dropped while the loop stood still", b->link->stats().dropped, lines);
        // Back to normal: the next lines arrive, in order, without a new notice.
        const qsizetype before = b->lines.size();
        const int next = lines * bursts;
        for (int i = 0; i < 10; ++i)
            a->link->sendChannelLine("Lobby", "alice", talk("alice", next + i));
        QTRY_COMPARE_WITH_TIMEOUT(b->lines.size(), before + 10, 5000);
        QCOMPARE(b->lines.last(), "Lobby|alice|" + talk("alice", next + 9));
        QCOMPARE(b->slow, 1);
    }
    // A channel's last local member leaves: the node goes on listening for
    // the idle time, delivering nothing, and takes the subscription up again
    // as it is if a member comes back; after it, it stops listening.
    void idleSubscriptionIsKeptAWhile_data()
    {
        QTest::addColumn<int>("backAfterMs"); // -1: never
        QTest::addColumn<bool>("listenedThroughout");
        QTest::newRow("back within the idle time") << 50 << true;
        QTest::newRow("back after it") << 1200 << false;
        QTest::newRow("never back") << -1 << false;
    }
    void idleSubscriptionIsKeptAWhile()
    {
        QFETCH(int, backAfterMs);
        QFETCH(bool, listenedThroughout);
        auto a = node({nats->url()}, "A");
        auto b = node({nats->url()}, "B", 200, 1500, 50000, 250, 400);
        joinEverywhere(*a, "alice", "Lobby", {b.get()});
        joinEverywhere(*b, "bob", "Lobby", {a.get()});
        const qint64 subscriptionsBefore = qint64(nats->varz().value(QStringLiteral("subscriptions")).toDouble());
        b->link->userLeft("bob", "Lobby", "0010");
        QTRY_VERIFY_WITH_TIMEOUT(!a->link->findRemoteUser("bob"), 5000);
        a->link->sendChannelLine("Lobby", "alice", talk("alice", 1)); // nobody on B to deliver it to
        bool stoppedListening = false;
        QElapsedTimer away;
        away.start();
        while (backAfterMs < 0 ? away.elapsed() < 1500 : away.elapsed() < backAfterMs) {
            stoppedListening = stoppedListening || !b->link->isSubscribed("Lobby");
            QTest::qWait(10);
        }
        QCOMPARE(stoppedListening, !listenedThroughout);
        if (backAfterMs < 0) {
            QTRY_COMPARE_WITH_TIMEOUT(qint64(nats->varz().value(QStringLiteral("subscriptions")).toDouble()),
                                      subscriptionsBefore - 1, 5000);
            a->link->sendChannelLine("Lobby", "alice", talk("alice", 2));
            QTest::qWait(300);
            QVERIFY(b->lines.isEmpty());
            return;
        }
        joinEverywhere(*b, "bob", "Lobby", {a.get()});
        a->link->sendChannelLine("Lobby", "alice", talk("alice", 3));
        QTRY_COMPARE_WITH_TIMEOUT(b->lines, QList<QByteArray>{"Lobby|alice|" + talk("alice", 3)}, 5000);
        QCOMPARE(b->link->stats().gaps, 0);
        QVERIFY(b->missing.isEmpty());
    }

    // Members come and go as fast as the loop turns, with and without an idle
    // time: subscriptions made and ended in a burst never crash the client
    // library, and the channel works afterwards.
    void subscriptionChurn_data()
    {
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("rounds");
        QTest::newRow("ended at once") << 0 << 2000;
        QTest::newRow("kept idle") << 5000 << 2000;
    }
    void subscriptionChurn()
    {
        QFETCH(int, idleMs);
        QFETCH(int, rounds);
        auto a = node({nats->url()}, "A");
        auto b = node({nats->url()}, "B", 200, 1500, 50000, 250, idleMs);
        joinEverywhere(*a, "alice", "Lobby", {b.get()});
        for (int i = 0; i < rounds; ++i) {
            b->link->userJoined("bob", "Lobby", "0010");
            a->link->sendChannelLine("Lobby", "alice", talk("alice", i));
            if (i % 50 == 0)
                QTest::qWait(1); // let the lines and the worker's jobs run now and then
            b->link->userLeft("bob", "Lobby", "0010");
        }
        joinEverywhere(*b, "bob", "Lobby", {a.get()});
        a->link->sendChannelLine("Lobby", "alice", talk("alice", rounds));
        QTRY_VERIFY_WITH_TIMEOUT(!b->lines.isEmpty() && b->lines.last() == "Lobby|alice|" + talk("alice", rounds), 5000);
        QCOMPARE(b->link->stats().duplicates, 0);
    }
    // Another node announces a user with the name of a local one (it lost
    // the name while stalled, or this node did): the world is asked first;
    // a local user still there keeps the name and the announcement is
    // ignored, one that went makes room for the other node's.
    void announcedNameOfALocalUser_data()
    {
        QTest::addColumn<bool>("localGivesUp");
        QTest::newRow("still held here: ignored") << false;
        QTest::newRow("given up here: shown") << true;
    }
    void announcedNameOfALocalUser()
    {
        QFETCH(bool, localGivesUp);
        auto a = node({nats->url()}, "A");
        auto b = node({nats->url()}, "B");
        joinEverywhere(*b, "bob", "Lobby", {a.get()});
        a->link->userJoined("alice", "Lobby", "0010");
        QSignalSpy contested(a->link.get(), &ClusterLink::nameContested);
        if (localGivesUp) {
            connect(a->link.get(), &ClusterLink::nameContested, this,
                    [&a](const QByteArray &user) { a->link->userLeft(user, "Lobby", "0010"); });
        }
        joinEverywhere(*b, "ALICE", "Lobby", {});
        QTRY_COMPARE_WITH_TIMEOUT(contested.size(), 1, 5000);
        QCOMPARE(contested.first().first().toByteArray(), QByteArray("ALICE"));
        QTest::qWait(200);
        QCOMPARE(bool(a->link->findRemoteUser("alice")), localGivesUp);
        QCOMPARE(a->roster.contains("+B|ALICE|Lobby"), localGivesUp);
    }

    // A name just won here: whoever another node still shows with it is
    // stale and goes at once.
    void claimedNameDropsStaleRemote()
    {
        auto a = node({nats->url()}, "A");
        auto b = node({nats->url()}, "B");
        joinEverywhere(*b, "alice", "Lobby", {a.get()});
        a->link->nameClaimed("Alice");
        QVERIFY(!a->link->findRemoteUser("alice"));
        QCOMPARE(a->roster.last(), QByteArray("-B|alice|Lobby"));
        a->link->nameClaimed("nobody");
        QCOMPARE(a->roster.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestClusterLink)
#include "tst_clusterlink.moc"
