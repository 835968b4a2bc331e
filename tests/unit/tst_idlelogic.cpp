// SPDX-License-Identifier: MIT
// Edge cases of the idle period's parsing and of one tick; announcements are checked on the wire.
#include "outgoing/IdleTick.h"

#include <QTest>

constexpr int kInvalid = 99999;

class tst_idlelogic : public QObject
{
    Q_OBJECT

private slots:
    void parseSeconds_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("seconds");
        const std::pair<const char *, int> valid[] = {
            {"60", 60}, {" \t-5 ", -5}, {"+0000000060", 60}, {"32767", 32767}, {"-32768", -32768},
            // A fraction rounds to the nearest, a half to the even neighbour.
            {"2.5", 2}, {"3.5", 4}, {"-3.5", -4}, {"2.5000", 2}, {"2.50001", 3}, {"2.49999", 2},
            {".7", 1}, {"5.", 5}, {"-32768.5", -32768},
        };
        for (const auto &[answer, seconds] : valid)
            QTest::addRow("\"%s\"", answer) << QString::fromLatin1(answer) << seconds;
        for (const char *answer : {"32768", "-32769", "32767.5", "99999999999999999999999", "", "   ",
                                   "12abc", "1 000", "1e2", "1,5", "-", ".", "+-1", "1.2.3",
                                   "\xEF\xBC\x91\xEF\xBC\x92" /* full-width 12 */})
            QTest::addRow("\"%s\"", answer) << QString::fromUtf8(answer) << kInvalid;
    }

    void parseSeconds()
    {
        QFETCH(QString, answer);
        QFETCH(int, seconds);
        const std::optional<qint16> result = parseIdleSeconds(answer);
        QCOMPARE(result ? int(*result) : kInvalid, seconds);
    }

    void tick_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("nextCount");
        QTest::addColumn<bool>("announce");
        QTest::newRow("period of one") << 0 << 1 << 0 << true;
        QTest::newRow("negative period") << 5 << -1 << 6 << false;
        QTest::newRow("largest period") << 32766 << 32767 << 0 << true;
        QTest::newRow("reaches the limit") << 32766 << 0 << 32767 << false;
        QTest::newRow("held at the limit") << 32767 << 0 << 32767 << false;
        QTest::newRow("held count is not a new arrival") << 32767 << 32767 << 32767 << false;
    }

    void tick()
    {
        QFETCH(int, count);
        QFETCH(int, period);
        QFETCH(int, nextCount);
        QFETCH(bool, announce);
        const IdleTick result = idleTick(qint16(count), qint16(period));
        QCOMPARE(int(result.count), nextCount);
        QCOMPARE(result.announce, announce);
    }
};

QTEST_GUILESS_MAIN(tst_idlelogic)
#include "tst_idlelogic.moc"
