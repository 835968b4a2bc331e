// SPDX-License-Identifier: MIT
// The user list as a model: the rows a view is told about, what it shows
// and what the roster commands send.
#include "reception/RosterModel.h"

#include <QSignalSpy>
#include <QTest>

class tst_rostermodel : public QObject
{
    Q_OBJECT

private slots:
    // "+entry" appends, "-key" removes, "0" clears; each change is announced
    // as "+row", "-row" or "reset", and the model's rows always match the roster.
    void changesAnnounced_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("announced");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("appends") << QStringList{"+bob ", "+amy "} << QStringList{"+0", "+1"}
                                 << QStringList{"bob ", "amy "};
        QTest::newRow("the first duplicate leaves") << QStringList{"+bob ", "+amy ", "+bob ", "-bob"}
                                                    << QStringList{"+0", "+1", "+2", "-0"} << QStringList{"amy ", "bob "};
        QTest::newRow("an unknown leave changes nothing") << QStringList{"+bob ", "-amy"} << QStringList{"+0"}
                                                          << QStringList{"bob "};
        QTest::newRow("clear") << QStringList{"+bob ", "0", "+amy "} << QStringList{"+0", "reset", "+0"}
                               << QStringList{"amy "};
        QTest::newRow("clearing an empty list is no change") << QStringList{"0", "+amy "} << QStringList{"+0"}
                                                             << QStringList{"amy "};
    }
    void changesAnnounced()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, announced);
        QFETCH(QStringList, entries);
        RosterModel model;
        QStringList seen;
        connect(&model, &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex &, int first, int last) {
            QCOMPARE(first, last);
            seen << QStringLiteral("+%1").arg(first);
        });
        connect(&model, &QAbstractItemModel::rowsRemoved, this, [&](const QModelIndex &, int first, int last) {
            QCOMPARE(first, last);
            seen << QStringLiteral("-%1").arg(first);
        });
        connect(&model, &QAbstractItemModel::modelReset, this, [&] { seen << QStringLiteral("reset"); });
        for (const QString &step : steps) {
            if (step.startsWith(u'+'))
                model.append(step.mid(1));
            else if (step.startsWith(u'-'))
                model.removeFirst(step.mid(1));
            else
                model.clear();
        }
        QCOMPARE(seen, announced);
        QCOMPARE(model.entries(), entries);
        QCOMPARE(model.rowCount(), entries.size());
        for (int row = 0; row < entries.size(); ++row)
            QCOMPARE(model.index(row).data(RosterModel::EntryRole).toString(), entries[row]);
    }

    // The list shows entries by the name rules; the commands get them as received.
    void shownAndSent_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "bob " << "bob ";
        QTest::newRow("direction override") << QString::fromUtf8("ev\u202Eil ") << QString::fromUtf8("ev\uFFFDil ");
        QTest::newRow("control character") << QString("a\x01" "b ") << QString::fromUtf8("a\uFFFDb ");
        QTest::newRow("markup stays text") << "<b>x</b> " << "<b>x</b> ";
    }
    void shownAndSent()
    {
        QFETCH(QString, entry);
        QFETCH(QString, shown);
        RosterModel model;
        model.append(entry);
        QCOMPARE(model.index(0).data().toString(), shown);
        QCOMPARE(model.shownEntries(), QStringList{shown});
        QCOMPARE(model.index(0).data(RosterModel::EntryRole).toString(), entry);
        QCOMPARE(model.entryAt(0), entry);
    }

    void fullListTakesNoMore()
    {
        RosterModel model;
        for (int i = 0; i < RosterModel::kMaxEntries; ++i)
            QVERIFY(model.append(QStringLiteral("u%1 ").arg(i)));
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QVERIFY(!model.append(QStringLiteral("late ")));
        QCOMPARE(inserted.size(), 0);
        QCOMPARE(model.rowCount(), RosterModel::kMaxEntries);
        QVERIFY(model.removeFirst(QStringLiteral("u5000")));
        QVERIFY(model.append(QStringLiteral("late ")));
        QCOMPARE(model.entryAt(RosterModel::kMaxEntries - 1), "late ");
        QCOMPARE(model.entryAt(5000), "u5001 ");
    }
};

QTEST_APPLESS_MAIN(tst_rostermodel)
#include "tst_rostermodel.moc"
