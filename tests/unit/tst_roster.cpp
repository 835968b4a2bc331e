// SPDX-License-Identifier: MIT
#include "reception/Roster.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
// "+entry" appends, "-key" removes, "0" clears.
QStringList apply(Roster &roster, const QStringList &steps)
{
    QStringList removedRows;
    for (const QString &step : steps) {
        if (step.startsWith(u'+'))
            roster.append(step.mid(1));
        else if (step.startsWith(u'-'))
            removedRows << QString::number(roster.removeFirst(step.mid(1)).value_or(-1));
        else
            roster.clear();
    }
    return removedRows;
}
} // namespace

class tst_roster : public QObject
{
    Q_OBJECT

private slots:
    void steps_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("removedRows");
        QTest::newRow("in arrival order") << QStringList{"+bob ", "+amy ", "+x0010y "} << QStringList{"bob ", "amy ", "x0010y "}
                                          << QStringList{};
        QTest::newRow("a leave removes the first of duplicates")
            << QStringList{"+bob ", "+amy ", "+bob ", "-bob"} << QStringList{"amy ", "bob "} << QStringList{"0"};
        QTest::newRow("keys are trimmed of spaces only, case kept")
            << QStringList{"+ amy ", "+Amy ", "+cat\t", "-amy", "-cat", "-amy"} << QStringList{"Amy ", "cat\t"}
            << QStringList{"0", "-1", "-1"};
        QTest::newRow("unknown name") << QStringList{"+bob ", "-amy"} << QStringList{"bob "} << QStringList{"-1"};
        QTest::newRow("clear") << QStringList{"+bob ", "0", "-bob", "+amy "} << QStringList{"amy "} << QStringList{"-1"};
    }

    void steps()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, removedRows);
        Roster roster;
        QCOMPARE(apply(roster, steps), removedRows);
        QCOMPARE(roster.entries(), entries);
        QCOMPARE(roster.count(), entries.size());
    }

    void holdsAtMostTheCap()
    {
        Roster roster;
        for (int i = 0; i < Roster::kMaxEntries; ++i)
            QVERIFY(roster.append(QStringLiteral("u%1 ").arg(i)));
        QVERIFY(!roster.append(QStringLiteral("one too many ")));
        QCOMPARE(roster.removeFirst(QStringLiteral("u0")), 0);
        QVERIFY(roster.append(QStringLiteral("room again ")));
        QCOMPARE(roster.entries().last(), QStringLiteral("room again "));
        QCOMPARE(roster.count(), Roster::kMaxEntries);
    }

    // Long churn in a full list (slots reclaimed many times) against a plain list.
    void matchesAPlainListThroughChurn()
    {
        QRandomGenerator random(7);
        Roster roster;
        QStringList plain;
        for (int step = 0; step < 60000; ++step) {
            const QString name = QStringLiteral("u%1").arg(random.bounded(300));
            if (random.bounded(2) == 0) {
                if (roster.append(name + u' '))
                    plain.append(name + u' ');
            } else {
                const qsizetype expected = plain.indexOf(name + u' ');
                QCOMPARE(roster.removeFirst(name).value_or(-1), int(expected));
                if (expected >= 0)
                    plain.removeAt(expected);
            }
            if (step % 97 == 0 && !plain.isEmpty()) {
                const int row = random.bounded(int(plain.size()));
                QCOMPARE(roster.entryAt(row), plain.at(row));
            }
        }
        QCOMPARE(roster.entries(), plain);
        for (int row = 0; row < plain.size(); ++row)
            QCOMPARE(roster.entryAt(row), plain.at(row));
    }
};

QTEST_APPLESS_MAIN(tst_roster)
#include "tst_roster.moc"
