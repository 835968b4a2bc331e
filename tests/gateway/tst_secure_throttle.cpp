// SPDX-License-Identifier: MIT
// How failed logins slow down the next ones, on a simulated clock.
#include "LoginThrottle.h"

#include <QtTest>

namespace {

constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
// How long the gateway takes to check a password, between admit and verdict.
constexpr qint64 kCheckMs = 50;

QHostAddress host(const QString &text)
{
    // Short names for the tables: a, b, c are three IPv4 clients.
    if (text.size() == 1)
        return QHostAddress(QStringLiteral("10.0.0.%1").arg(text.at(0).unicode() - 'a' + 1));
    return QHostAddress(text);
}

} // namespace

class tst_secure_throttle : public QObject
{
    Q_OBJECT

private slots:
    // Each step: "fail T ADDR NAME", "ok T ADDR NAME", "release T ADDR NAME",
    // "admit T ADDR NAME = W"
    // or "wait T ADDR NAME = W" (W: the expected delay in ms).
    void steps_data()
    {
        QTest::addColumn<QStringList>("steps");

        QTest::newRow("one failure holds back its address and its name for 1 s")
                << QStringList{"fail 0 a alice", "wait 0 a alice = 1000", "wait 400 b alice = 600",
                               "wait 400 a bob = 600", "wait 400 b bob = 0", "wait 1000 a alice = 0"};
        QTest::newRow("each failure doubles the wait, up to 60 s")
                << QStringList{"fail 0 a alice", "fail 1000 a alice", "wait 1000 a alice = 2000",
                               "fail 3000 a alice", "wait 3000 a alice = 4000", "fail 7000 a alice",
                               "fail 15000 a alice", "fail 31000 a alice", "wait 31000 a alice = 32000",
                               "fail 63000 a alice", "wait 63000 a alice = 60000", "fail 123000 a alice",
                               "wait 123000 a alice = 60000"};
        QTest::newRow("a quiet quarter of an hour forgets the failures")
                << QStringList{"fail 0 a alice",     "fail 1000 a alice",        "fail 3000 a alice",
                               "wait 903000 a alice = 0", "fail 903000 a alice", "wait 903000 a alice = 1000"};
        QTest::newRow("not yet quiet long enough")
                << QStringList{"fail 0 a alice", "fail 1000 a alice", "fail 3000 a alice",
                               "fail 902999 a alice", "wait 902999 a alice = 8000"};
        QTest::newRow("an admitted attempt holds the slot until its verdict")
                << QStringList{"fail 0 a alice", "admit 1000 a alice = 0", "admit 1000 c alice = 1000",
                               "admit 1000 a bob = 1000", "fail 1050 a alice", "wait 1050 c alice = 2000"};
        QTest::newRow("an attempt that was never checked gives its slot back, keeps the failures")
                << QStringList{"fail 0 a alice", "admit 1000 a alice = 0", "release 1010 a alice",
                               "wait 1010 a alice = 0", "fail 1020 a alice", "wait 1020 b alice = 2000"};
        QTest::newRow("admitting a key without failures holds nothing back")
                << QStringList{"admit 0 a alice = 0", "admit 0 a alice = 0", "wait 0 b alice = 0"};
        QTest::newRow("a success clears the name and gives the address its slot back")
                << QStringList{"fail 0 a alice", "admit 1000 a alice = 0", "ok 1050 a alice",
                               "wait 1050 b alice = 0", "wait 1050 a carol = 0", "fail 1100 a carol",
                               "wait 1100 a dave = 2000"};
        QTest::newRow("a wrong guess is not forgiven by someone else's success")
                << QStringList{"fail 0 a alice", "ok 10 b bob", "wait 10 a alice = 990", "wait 10 c alice = 990"};
        QTest::newRow("names are compared without case")
                << QStringList{"fail 0 a Alice", "wait 0 b ALICE = 1000", "ok 1000 b alice", "wait 1000 c aLiCe = 0"};
        QTest::newRow("one IPv6 /64 is one address")
                << QStringList{"fail 0 2001:db8::1 x", "wait 0 2001:db8::ffff:1 y = 1000",
                               "wait 0 2001:db8:0:1::1 y = 0"};
        QTest::newRow("an IPv4-mapped address is the IPv4 address")
                << QStringList{"fail 0 ::ffff:10.0.0.1 x", "wait 0 a y = 1000", "wait 0 b y = 0"};
    }
    void steps()
    {
        QFETCH(QStringList, steps);
        LoginThrottle throttle;
        for (const QString &step : steps) {
            const QStringList words = step.split(QLatin1Char(' '));
            const QString &op = words[0];
            const qint64 now = words[1].toLongLong();
            const QHostAddress address = host(words[2]);
            const QByteArray name = words[3].toUtf8();
            if (op == QLatin1String("fail")) {
                throttle.recordFailure(address, name, now);
            } else if (op == QLatin1String("release")) {
                throttle.release(address, name, now);
            } else if (op == QLatin1String("ok")) {
                throttle.recordSuccess(address, name, now);
            } else {
                const qint64 expected = words[5].toLongLong();
                const qint64 got = op == QLatin1String("admit") ? throttle.admit(address, name, now)
                                                                : throttle.delayFor(address, name, now);
                QVERIFY2(got == expected, qPrintable(step + QStringLiteral(": got %1").arg(got)));
            }
        }
    }

    // The real user mistypes, presses Login again at once, and so on; then
    // gets it right. Time spent waiting for the throttle in total:
    void typoCostsSeconds_data()
    {
        QTest::addColumn<int>("typos");
        QTest::addColumn<qint64>("maxWaitMs");

        QTest::newRow("one typo") << 1 << 1 * kSecond;
        QTest::newRow("three typos") << 3 << 7 * kSecond;
    }
    void typoCostsSeconds()
    {
        QFETCH(int, typos);
        QFETCH(qint64, maxWaitMs);
        LoginThrottle throttle;
        const QHostAddress home = host(QStringLiteral("a"));
        // Someone elsewhere guesses other names all the while.
        for (int i = 0; i < 50; ++i)
            throttle.recordFailure(host(QStringLiteral("b")), "guess" + QByteArray::number(i), i * kSecond);

        qint64 now = 10 * kSecond;
        qint64 waited = 0;
        for (int attempt = 0; attempt <= typos; ++attempt) {
            const qint64 wait = throttle.admit(home, "alice", now);
            if (wait > 0) {
                waited += wait;
                now += wait;
                QCOMPARE(throttle.admit(home, "alice", now), 0);
            }
            now += kCheckMs;
            if (attempt < typos)
                throttle.recordFailure(home, "alice", now);
            else
                throttle.recordSuccess(home, "alice", now);
        }
        QVERIFY2(waited <= maxWaitMs, qPrintable(QStringLiteral("waited %1 ms").arg(waited)));
        QCOMPARE(throttle.delayFor(home, "alice", now), 0);
    }

    // A guesser that tries again the moment it may, from one or many
    // addresses, with many connections at once: 100 guesses take an hour.
    void guessingTakesLong_data()
    {
        QTest::addColumn<int>("addresses");
        QTest::addColumn<int>("parallel");
        QTest::newRow("one address, 20 connections") << 1 << 20;
        QTest::newRow("a new address for every guess") << 1000 << 1;
        QTest::newRow("500 addresses, 20 connections each") << 500 << 20;
    }
    void guessingTakesLong()
    {
        QFETCH(int, addresses);
        QFETCH(int, parallel);
        LoginThrottle throttle;
        int guesses = 0;
        int nextAddress = 0;
        qint64 now = 0;
        while (guesses < 100) {
            // Every connection tries at once; the admitted ones fail together.
            QList<QHostAddress> admitted;
            qint64 wait = LoginThrottle::Policy().maxDelayMs;
            for (int c = 0; c < parallel && guesses + admitted.size() < 100; ++c) {
                const QHostAddress from(quint32(0x0a000000 + nextAddress++ % addresses));
                const qint64 w = throttle.admit(from, "alice", now);
                if (w == 0)
                    admitted << from;
                else
                    wait = qMin(wait, w);
            }
            now += kCheckMs;
            for (const QHostAddress &from : admitted)
                throttle.recordFailure(from, "alice", now);
            guesses += int(admitted.size());
            if (admitted.isEmpty())
                now += wait;
        }
        qInfo("100 guesses took %.1f minutes", double(now) / kMinute);
        QVERIFY2(now >= 60 * kMinute, qPrintable(QStringLiteral("only %1 s").arg(now / kSecond)));
    }

    // A flood of failures from everywhere keeps the tables at their cap and
    // forgets the longest quiet keys first.
    void boundedTables()
    {
        const int cap = 100, keys = 1000;
        LoginThrottle::Policy policy;
        policy.maxEntries = cap;
        LoginThrottle throttle(policy);
        const QHostAddress target(QStringLiteral("192.0.2.1"));
        qint64 now = 0;
        for (int i = 0; i < keys; ++i) {
            if (i % 10 == 0)
                throttle.recordFailure(target, "alice", ++now); // the key under attack stays fresh
            throttle.recordFailure(QHostAddress(quint32(0x0a000000 + i)), "user" + QByteArray::number(i), ++now);
            QVERIFY(throttle.addressEntries() <= cap);
            QVERIFY(throttle.nameEntries() <= cap);
        }
        QVERIFY(throttle.delayFor(target, "alice", now) > 0);
        QVERIFY(throttle.delayFor(QHostAddress(quint32(0x0a000000 + keys - 1)), "nobody", now) > 0);
        QCOMPARE(throttle.delayFor(QHostAddress(quint32(0x0a000000)), "user0", now), 0);
    }
};

QTEST_APPLESS_MAIN(tst_secure_throttle)
#include "tst_secure_throttle.moc"
