// SPDX-License-Identifier: MIT
// One login's account check: throttle, password check off the event loop,
// and what the client is told.
#include "LoginGate.h"

#include <QtTest>

namespace {

using Result = LoginGate::Result;

QByteArray cheapHash(const QByteArray &password)
{
    return PasswordHash::hash(password, 1, 64 * 1024);
}

} // namespace

class tst_secure_logingate : public QObject
{
    Q_OBJECT

private slots:
    // Each step: "T ADDRESS NAME PASSWORD RESULT" at clock T (ms); RESULT is
    // ok, refused, throttled:N (N seconds in the message) or busy.
    void logins_data()
    {
        QTest::addColumn<QStringList>("steps");

        QTest::newRow("right passwords, hashed and plain")
                << QStringList{"0 a alice secret ok", "0 a bob hunter2 ok", "0 b alice secret ok"};
        QTest::newRow("a typo, then the right password after a second")
                << QStringList{"0 a alice secreT refused", "1000 a alice secret ok", "1000 a alice secreT refused"};
        QTest::newRow("retrying at once is throttled without a check")
                << QStringList{"0 a alice wrong refused", "10 a alice secret throttled:1", "1000 a alice secret ok"};
        QTest::newRow("the wait grows with each failure")
                << QStringList{"0 a alice w refused",    "1000 a alice w refused", "1001 a alice w throttled:2",
                               "3000 a alice w refused", "3000 b alice w throttled:4", "7000 c alice w refused",
                               "7000 d alice w throttled:8", "7000 c bob hunter2 throttled:1"};
        QTest::newRow("unknown names are refused alike and throttled alike")
                << QStringList{"0 a mallory x refused", "500 a mallory x throttled:1", "500 b mallory x throttled:1",
                               "1000 b mallory x refused"};
        QTest::newRow("another address and name are not held back")
                << QStringList{"0 a alice wrong refused", "0 b bob hunter2 ok"};
    }
    void logins()
    {
        QFETCH(QStringList, steps);
        const std::optional<Accounts> accounts =
                Accounts::parse("alice:" + cheapHash("secret") + "\nbob:hunter2\n");
        QVERIFY(accounts);
        qint64 clock = 0;
        LoginGate gate(*accounts, {}, [&clock] { return clock; });
        for (const QString &step : steps) {
            const QStringList w = step.split(QLatin1Char(' '));
            clock = w[0].toLongLong();
            const QHostAddress address(QStringLiteral("10.0.0.") + QString::number(w[1].at(0).unicode()));
            bool answered = false;
            LoginGate::Verdict verdict;
            gate.check(this, address, w[2].toUtf8(), w[3].toUtf8(), [&](const LoginGate::Verdict &v) {
                verdict = v;
                answered = true;
            });
            QVERIFY2(!answered, "answered inside check()");
            QVERIFY(QTest::qWaitFor([&] { return answered; }, 10000));
            const QString expected = w[4];
            if (expected == QLatin1String("ok")) {
                QVERIFY2(verdict.result == Result::Accepted, qPrintable(step + QLatin1String(": ") + verdict.logReason));
                QVERIFY(verdict.message.isEmpty());
            } else if (expected == QLatin1String("refused")) {
                QVERIFY2(verdict.result == Result::Refused, qPrintable(step + QLatin1String(": ") + verdict.logReason));
                QCOMPARE(verdict.message, QByteArray("Incorrect user name or password."));
            } else {
                const QString seconds = expected.section(QLatin1Char(':'), 1);
                QVERIFY2(verdict.result == Result::Throttled, qPrintable(step + QLatin1String(": ") + verdict.logReason));
                QCOMPARE(verdict.message,
                         "Too many failed logins. Please try again in " + seconds.toUtf8() + " s.");
            }
        }
    }

    // The log says why; the client is told only that the pair is wrong.
    void logReasons()
    {
        const std::optional<Accounts> accounts = Accounts::parse("alice:" + cheapHash("secret") + "\n");
        QVERIFY(accounts);
        LoginGate gate(*accounts, {});
        QList<LoginGate::Verdict> verdicts;
        const auto collect = [&](const LoginGate::Verdict &v) { verdicts << v; };
        gate.check(this, QHostAddress(QStringLiteral("10.0.0.1")), "alice", "nope", collect);
        gate.check(this, QHostAddress(QStringLiteral("10.0.0.2")), "mallory", "nope", collect);
        QVERIFY(QTest::qWaitFor([&] { return verdicts.size() == 2; }, 10000));
        QStringList reasons{verdicts[0].logReason, verdicts[1].logReason};
        reasons.sort();
        QCOMPARE(reasons, (QStringList{"no such account", "wrong password"}));
        QCOMPARE(verdicts[0].message, verdicts[1].message);
    }

    // With the checks busy, a login is told so, and the slot it took is given back.
    void busy()
    {
        const std::optional<Accounts> accounts = Accounts::parse("alice:" + cheapHash("secret") + "\nbob:pw\n");
        QVERIFY(accounts);
        LoginGate::Options options;
        options.maxParallelChecks = 1;
        options.maxQueuedChecks = 0;
        qint64 clock = 0;
        LoginGate gate(*accounts, options, [&clock] { return clock; });
        const QHostAddress first(QStringLiteral("10.0.0.1"));
        const QHostAddress second(QStringLiteral("10.0.0.2"));
        // Keyed by login: a cheap hash may finish before the queued Busy is delivered.
        QMap<QByteArray, Result> results;
        const auto collect = [&](const QByteArray &login) {
            return [&results, login](const LoginGate::Verdict &v) { results.insert(login, v.result); };
        };
        gate.check(this, second, "bob", "typo", collect("bob typo"));
        QVERIFY(QTest::qWaitFor([&] { return results.size() == 1; }, 10000));
        clock = 1000;
        // No verdict is handed over before the event loop runs, so alice's
        // check still holds the only slot when bob asks.
        gate.check(this, first, "alice", "secret", collect("alice"));
        gate.check(this, second, "bob", "pw", collect("bob"));
        QVERIFY(results.size() == 1);
        QVERIFY(QTest::qWaitFor([&] { return results.size() == 3; }, 10000));
        QCOMPARE(results, (QMap<QByteArray, Result>{
                                  {"bob typo", Result::Refused}, {"alice", Result::Accepted}, {"bob", Result::Busy}}));
        QCOMPARE(gate.throttle().delayFor(second, "bob", clock), 0);
    }
};

QTEST_GUILESS_MAIN(tst_secure_logingate)
#include "tst_secure_logingate.moc"
