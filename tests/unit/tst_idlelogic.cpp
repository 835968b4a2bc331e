// SPDX-License-Identifier: MIT
#include "outgoing/IdleAnnouncer.h"

#include <QTest>

char *toString(const IdleTick &tick)
{
    return QTest::toString(QStringLiteral("count %1, announce %2").arg(tick.count).arg(tick.announce));
}

class TestIdleLogic : public QObject
{
    Q_OBJECT

private slots:
    void announcement_data();
    void announcement();
    void parseSeconds_data();
    void parseSeconds();
    void tick_data();
    void tick();
};

void TestIdleLogic::announcement_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("line");

    QTest::newRow("message") << "away" << "/me is using Vesk Chat v 1.0 - away";
    QTest::newRow("empty message") << "" << "/me is using Vesk Chat v 1.0 - ";
    QTest::newRow("first run") << "0" << "/me is using Vesk Chat v 1.0 - 0";
}

void TestIdleLogic::announcement()
{
    QFETCH(QString, message);
    QFETCH(QString, line);
    QCOMPARE(idleAnnouncement(message), line);
}

void TestIdleLogic::parseSeconds_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("seconds");

    QTest::newRow("whole") << "60" << true << 60;
    QTest::newRow("signs and blanks") << " \t-5 " << true << -5;
    QTest::newRow("plus sign, leading zeros") << "+0000000060" << true << 60;
    QTest::newRow("largest") << "32767" << true << 32767;
    QTest::newRow("smallest") << "-32768" << true << -32768;
    QTest::newRow("half to even, down") << "2.5" << true << 2;
    QTest::newRow("half to even, up") << "3.5" << true << 4;
    QTest::newRow("negative half") << "-3.5" << true << -4;
    QTest::newRow("half with zeros after") << "2.5000" << true << 2;
    QTest::newRow("just above half") << "2.50001" << true << 3;
    QTest::newRow("below half") << "2.49999" << true << 2;
    QTest::newRow("fraction only") << ".7" << true << 1;
    QTest::newRow("point without fraction") << "5." << true << 5;
    QTest::newRow("half at the bottom is even") << "-32768.5" << true << -32768;

    QTest::newRow("one too many") << "32768" << false << 0;
    QTest::newRow("one too few") << "-32769" << false << 0;
    QTest::newRow("rounds out of range") << "32767.5" << false << 0;
    QTest::newRow("huge") << "99999999999999999999999" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blanks") << "   " << false << 0;
    QTest::newRow("trailing letters") << "12abc" << false << 0;
    QTest::newRow("inner blank") << "1 000" << false << 0;
    QTest::newRow("exponent") << "1e2" << false << 0;
    QTest::newRow("decimal comma") << "1,5" << false << 0;
    QTest::newRow("sign alone") << "-" << false << 0;
    QTest::newRow("point alone") << "." << false << 0;
    QTest::newRow("two signs") << "+-1" << false << 0;
    QTest::newRow("two points") << "1.2.3" << false << 0;
    QTest::newRow("non-ASCII digits") << QString::fromUtf8("\uFF11\uFF12") << false << 0;
}

void TestIdleLogic::parseSeconds()
{
    QFETCH(QString, answer);
    QFETCH(bool, valid);
    QFETCH(int, seconds);
    const std::optional<qint16> result = parseIdleSeconds(answer);
    QCOMPARE(result.has_value(), valid);
    if (valid)
        QCOMPARE(int(*result), seconds);
}

void TestIdleLogic::tick_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("nextCount");
    QTest::addColumn<bool>("announce");

    QTest::newRow("no period") << 0 << 0 << 1 << false;
    QTest::newRow("reaches the period") << 1 << 2 << 0 << true;
    QTest::newRow("period of one") << 0 << 1 << 0 << true;
    QTest::newRow("count past the period") << 45 << 30 << 46 << false;
    QTest::newRow("negative period") << 5 << -1 << 6 << false;
    QTest::newRow("largest period") << 32766 << 32767 << 0 << true;
    QTest::newRow("reaches the limit") << 32766 << 0 << 32767 << false;
    QTest::newRow("held at the limit") << 32767 << 0 << 32767 << false;
    QTest::newRow("held count is not a new arrival") << 32767 << 32767 << 32767 << false;
}

void TestIdleLogic::tick()
{
    QFETCH(int, count);
    QFETCH(int, period);
    QFETCH(int, nextCount);
    QFETCH(bool, announce);
    QCOMPARE(idleTick(qint16(count), qint16(period)), (IdleTick{qint16(nextCount), announce}));
}

QTEST_GUILESS_MAIN(TestIdleLogic)
#include "tst_idlelogic.moc"
