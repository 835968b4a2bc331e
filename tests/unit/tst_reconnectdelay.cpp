// SPDX-License-Identifier: MIT
#include "session/Reconnect.h"

#include <QTest>

class tst_reconnectdelay : public QObject
{
    Q_OBJECT

private slots:
    void delays()
    {
        QList<int> seconds;
        for (int attempt = 0; attempt < 9; ++attempt)
            seconds << reconnectDelaySeconds(attempt);
        QCOMPARE(seconds, (QList<int>{2, 4, 8, 16, 32, 60, 60, 60, 60}));
        QCOMPARE(reconnectDelaySeconds(1000), 60);
    }

    void successStartsOverFromTwoSeconds()
    {
        Reconnector r;
        QCOMPARE(r.schedule(), 2);
        QCOMPARE(r.schedule(), 4);
        QVERIFY(r.isActive());
        r.succeeded();
        QVERIFY(!r.isActive());
        QCOMPARE(r.schedule(), 2);
        r.stop();
    }
};

QTEST_GUILESS_MAIN(tst_reconnectdelay)
#include "tst_reconnectdelay.moc"
