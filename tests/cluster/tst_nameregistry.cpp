// SPDX-License-Identifier: MIT
#include "NameRegistry.h"
#include "cluster/NatsTestServer.h"

#include <nats/nats.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QSignalSpy>
#include <QThread>

#include <memory>

using Claim = NameRegistry::Claim;

namespace {

std::unique_ptr<NameRegistry> registry(const QStringList &urls, const char *node, int ttlMs,
                                       const QByteArray &bucket)
{
    NameRegistrySettings settings;
    settings.urls = urls;
    settings.node = node;
    settings.ttlMs = ttlMs;
    settings.bucket = bucket;
    auto r = std::make_unique<NameRegistry>(settings);
    QObject::connect(r.get(), &NameRegistry::logMessage, [node](const QString &m) {
        qInfo("%s: %s", node, qPrintable(m));
    });
    r->start();
    return r;
}

std::unique_ptr<NameRegistry> registry(const NatsTestServer &server, const char *node, int ttlMs = 15000)
{
    return registry({server.url()}, node, ttlMs, "names_" + QByteArray::number(ttlMs));
}

// Claims and waits for the answer.
Claim claimNow(NameRegistry &r, const QByteArray &name)
{
    QSignalSpy done(&r, &NameRegistry::claimFinished);
    r.claim(name);
    if (!done.wait(10000))
        return Claim::Unavailable;
    return done.takeFirst().at(1).value<Claim>();
}

// Writes a key behind the registry's back, as a foreign node would.
bool overwrite(const NatsTestServer &server, const QByteArray &bucket, const QByteArray &key)
{
    natsConnection *nc = nullptr;
    if (natsConnection_ConnectTo(&nc, server.url().toUtf8().constData()) != NATS_OK)
        return false;
    jsCtx *js = nullptr;
    kvStore *kv = nullptr;
    bool ok = natsConnection_JetStream(&js, nc, nullptr) == NATS_OK
            && js_KeyValue(&kv, js, bucket.constData()) == NATS_OK
            && kvStore_PutString(nullptr, kv, key.constData(), "intruder") == NATS_OK;
    kvStore_Destroy(kv);
    jsCtx_Destroy(js);
    natsConnection_Destroy(nc);
    return ok;
}

} // namespace

class TestNameRegistry : public QObject
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

    // A script of claims and releases by two nodes, case folding included.
    void claimsAndReleases_data()
    {
        QTest::addColumn<QStringList>("steps"); // "A+name" claim, "A-name" release
        QTest::addColumn<QString>("expected");  // W won, T taken, R released, one letter per step
        QTest::newRow("second claim loses") << QStringList{"A+bob", "B+bob"} << "WT";
        QTest::newRow("case folded") << QStringList{"A+Bob", "B+bOB"} << "WT";
        QTest::newRow("own name twice") << QStringList{"A+bob", "A+bob"} << "WT";
        QTest::newRow("claimed again after release")
                << QStringList{"A+bob", "A-bob", "B+bob", "B-bob", "A+bob"} << "WRWRW";
        QTest::newRow("release by a non-holder leaves it")
                << QStringList{"A+bob", "B-bob", "B+bob"} << "WRT";
        QTest::newRow("distinct names") << QStringList{"A+bob", "B+bobby", "B+b"} << "WWW";
    }
    void claimsAndReleases()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, expected);
        auto a = registry(*nats, "A");
        auto b = registry(*nats, "B");
        QString got;
        for (const QString &step : steps) {
            NameRegistry &r = step[0] == u'A' ? *a : *b;
            const QByteArray name = step.mid(2).toUtf8();
            if (step[1] == u'+') {
                const Claim c = claimNow(r, name);
                got += c == Claim::Won ? u'W' : c == Claim::Taken ? u'T' : u'U';
                QCOMPARE(r.holds(name), c == Claim::Won || (c == Claim::Taken && &r == a.get() && a->holds(name)));
            } else {
                QSignalSpy released(&r, &NameRegistry::released);
                r.release(name);
                QVERIFY(released.wait(5000));
                QVERIFY(!r.holds(name));
                got += u'R';
            }
        }
        QCOMPARE(got, expected);
    }

    // Three nodes claim one name at the same moment, again and again: one wins each time.
    void simultaneousClaimsHaveOneWinner()
    {
        std::unique_ptr<NameRegistry> nodes[3] = {registry(*nats, "n1"), registry(*nats, "n2"),
                                                  registry(*nats, "n3")};
        const int maxRounds = qEnvironmentVariableIntValue("VESK_CLAIM_ROUNDS") > 0
                ? qEnvironmentVariableIntValue("VESK_CLAIM_ROUNDS") : 1000;
        QElapsedTimer clock;
        clock.start();
        int rounds = 0;
        for (; rounds < maxRounds && clock.elapsed() < 60000; ++rounds) {
            const QByteArray name = rounds % 2 ? "Racer" : "racer";
            QList<Claim> results;
            QList<QMetaObject::Connection> connections;
            QEventLoop loop;
            for (auto &node : nodes) {
                connections.append(connect(node.get(), &NameRegistry::claimFinished, this,
                                           [&](const QByteArray &, Claim c) {
                                               results.append(c);
                                               if (results.size() == 3)
                                                   loop.quit();
                                           }));
            }
            for (auto &node : nodes)
                node->claim(name);
            QTimer::singleShot(10000, &loop, &QEventLoop::quit);
            loop.exec();
            QCOMPARE(results.size(), 3);
            for (const auto &c : connections)
                disconnect(c);
            QCOMPARE(results.count(Claim::Won), 1);
            QCOMPARE(results.count(Claim::Taken), 2);
            int holders = 0;
            for (auto &node : nodes) {
                if (node->holds(name)) {
                    ++holders;
                    QSignalSpy released(node.get(), &NameRegistry::released);
                    node->release(name);
                    QVERIFY(released.wait(5000));
                }
            }
            QCOMPARE(holders, 1);
        }
        qInfo("%d rounds of three simultaneous claims in %lld ms, one winner each", rounds,
              qint64(clock.elapsed()));
        QVERIFY(rounds >= 100);
    }

    // A node that died without releasing: its names come free with the time to live.
    void namesOfADeadNodeExpire()
    {
        const int ttlMs = 2000;
        auto a = registry(*nats, "A", ttlMs);
        auto b = registry(*nats, "B", ttlMs);
        QCOMPARE(claimNow(*a, "carol"), Claim::Won);
        a->abandon();
        QCOMPARE(claimNow(*b, "carol"), Claim::Taken);
        QElapsedTimer clock;
        clock.start();
        Claim c = Claim::Taken;
        while (c != Claim::Won && clock.elapsed() < ttlMs + 5000) {
            QTest::qWait(200);
            c = claimNow(*b, "carol");
        }
        QCOMPARE(c, Claim::Won);
        qInfo("free again %lld ms after the holder died (time to live %d ms)", qint64(clock.elapsed()), ttlMs);
        QVERIFY(clock.elapsed() >= ttlMs / 2);
    }

    // A holder keeps its name well past the time to live by refreshing it.
    void refreshKeepsName()
    {
        auto a = registry(*nats, "A", 1500);
        auto b = registry(*nats, "B", 1500);
        QCOMPARE(claimNow(*a, "dave"), Claim::Won);
        QSignalSpy lost(a.get(), &NameRegistry::namesLost);
        QTest::qWait(4000);
        QVERIFY(lost.isEmpty());
        QVERIFY(a->holds("dave"));
        QCOMPARE(claimNow(*b, "dave"), Claim::Taken);
    }

    // Someone else wrote the key: the next refresh notices, long before the deadline.
    void takeoverNoticedAtNextRefresh()
    {
        const int ttlMs = 3000;
        auto a = registry(*nats, "A", ttlMs);
        QCOMPARE(claimNow(*a, "grace"), Claim::Won);
        QVERIFY(overwrite(*nats, "names_3000", "n." + QByteArray("grace").toHex()));
        QSignalSpy lost(a.get(), &NameRegistry::namesLost);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(lost.wait(ttlMs));
        QVERIFY(clock.elapsed() < ttlMs / 3 + 500);
        QVERIFY(!a->holds("grace"));
    }

    void unreachableServerAnswersUnavailable()
    {
        NameRegistrySettings settings;
        settings.urls = {QStringLiteral("nats://127.0.0.1:%1").arg(NatsTestServer::freePort())};
        settings.node = "A";
        settings.requestTimeoutMs = 300;
        NameRegistry r(settings);
        r.start();
        QCOMPARE(claimNow(r, "henry"), Claim::Unavailable);
        QVERIFY(!r.holds("henry"));
    }
    // Names expire after the bucket's time to live, chosen by whoever made
    // the bucket: a node told a longer one keeps to the bucket's.
    void bucketTimeToLiveIsKept_data()
    {
        QTest::addColumn<int>("creatorTtlMs");
        QTest::addColumn<int>("ownTtlMs");
        QTest::addColumn<qint64>("safeForMs");
        QTest::newRow("bucket's shorter") << 2000 << 15000 << qint64(1600);
        QTest::newRow("own shorter") << 15000 << 2000 << qint64(1600);
        QTest::newRow("the same") << 5000 << 5000 << qint64(4000);
    }
    void bucketTimeToLiveIsKept()
    {
        QFETCH(int, creatorTtlMs);
        QFETCH(int, ownTtlMs);
        QFETCH(qint64, safeForMs);
        auto creator = registry({nats->url()}, "A", creatorTtlMs, "shared");
        QCOMPARE(claimNow(*creator, "first"), Claim::Won);
        auto late = registry({nats->url()}, "B", ownTtlMs, "shared");
        QCOMPARE(claimNow(*late, "second"), Claim::Won);
        QCOMPARE(late->safeForMs(), safeForMs);
        // Unable to refresh, it gives the name up before the bucket could hand it to someone else.
        QSignalSpy lost(late.get(), &NameRegistry::namesLost);
        QElapsedTimer clock;
        clock.start();
        nats->stop();
        QVERIFY(lost.wait(int(safeForMs) + 1000));
        QVERIFY(clock.elapsed() < qMin(creatorTtlMs, ownTtlMs));
        QCOMPARE(lost.first().first().value<QList<QByteArray>>(), QList<QByteArray>{"second"});
        QVERIFY(!late->holds("second"));
    }

    // The first server goes away for good: the registry moves to the second
    // with the connection, writes its names there, and keeps them.
    void namesMoveToTheNextServer_data()
    {
        QTest::addColumn<bool>("claimAfterSwitch");
        QTest::newRow("claimed before the switch") << false;
        QTest::newRow("claimed after it") << true;
    }
    void namesMoveToTheNextServer()
    {
        QFETCH(bool, claimAfterSwitch);
        NatsTestServer first, second;
        QVERIFY(first.start());
        QVERIFY(second.start());
        // Long enough for a few claims timing out while the connection moves.
        const int ttlMs = 4000;
        auto r = registry({first.url(), second.url()}, "A", ttlMs, "moving");
        QCOMPARE(claimNow(*r, "bob"), Claim::Won);
        QSignalSpy lost(r.get(), &NameRegistry::namesLost);
        first.stop();
        // A claim sent while the connection moves may be answered late: each try a new name.
        QByteArray carol;
        for (int i = 0; claimAfterSwitch && carol.isEmpty() && i < 20; ++i) {
            if (claimNow(*r, "carol" + QByteArray::number(i)) == Claim::Won)
                carol = "CAROL" + QByteArray::number(i);
        }
        QCOMPARE(carol.isEmpty(), !claimAfterSwitch);
        QTest::qWait(ttlMs + 1000);
        QVERIFY2(lost.isEmpty(), lost.isEmpty() ? "" : lost.first().first().value<QList<QByteArray>>().join(' ').constData());
        QVERIFY(r->holds("bob"));
        auto other = registry({second.url()}, "B", ttlMs, "moving");
        QCOMPARE(claimNow(*other, "bob"), Claim::Taken);
        if (claimAfterSwitch)
            QCOMPARE(claimNow(*other, carol), Claim::Taken);
    }
    // The event loop stood still (the process was stopped): asked at once,
    // before any timer ran, the registry gives up what is past its safe time.
    void overdueNamesGoWhenAsked_data()
    {
        QTest::addColumn<int>("stallMs");
        QTest::addColumn<bool>("lost");
        QTest::newRow("stalled briefly") << 100 << false;
        QTest::newRow("stalled past the safe time") << 1800 << true;
    }
    void overdueNamesGoWhenAsked()
    {
        QFETCH(int, stallMs);
        QFETCH(bool, lost);
        auto r = registry(*nats, "A", 2000);
        QCOMPARE(claimNow(*r, "bob"), Claim::Won);
        QSignalSpy lostNames(r.get(), &NameRegistry::namesLost);
        QThread::msleep(stallMs);
        // Not believed held, not even for one line, before any timer ran.
        QCOMPARE(r->holds("bob"), !lost);
        r->expireOverdue();
        QCOMPARE(lostNames.size(), lost ? 1 : 0);
        QCOMPARE(r->heldCount(), lost ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestNameRegistry)
#include "tst_nameregistry.moc"
