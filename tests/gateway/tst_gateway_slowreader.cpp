// SPDX-License-Identifier: MIT
// A sender whose channel has a reader with a full output queue waits for it:
// within the queue hold nothing more is delivered past that reader's budget
// and nothing is lost, and the sender goes on once the reader catches up, is
// dropped, or the hold runs out.
#include "gateway/GatewayTestClient.h"

#include <QtTest>

#include <unistd.h>

using namespace GatewayTest;

namespace {

constexpr int kLines = 8000;
constexpr int kLineBytes = 1000;
constexpr qint64 kMaxQueue = 64 * 1024;
constexpr int kTimeoutMs = 20 * 1000;
// No progress for this long while lines are left means the sender waits.
constexpr int kStallMs = 300;

enum class Release { CatchUp, Drop, HoldRunsOut };

} // namespace

Q_DECLARE_METATYPE(Release)

class tst_gateway_slowreader : public QObject
{
    Q_OBJECT

    Gateway gw;

private slots:
    void senderWaits_data()
    {
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<int>("graceMs");
        QTest::addColumn<Release>("release");

        QTest::newRow("reader catches up") << 60 * 1000 << 3600 * 1000 << Release::CatchUp;
        QTest::newRow("reader dropped after its grace") << 60 * 1000 << 2500 << Release::Drop;
        QTest::newRow("hold runs out") << 3000 << 3600 * 1000 << Release::HoldRunsOut;
    }

    void senderWaits()
    {
        QFETCH(int, holdMs);
        QFETCH(int, graceMs);
        QFETCH(Release, release);

        GatewayLimits limits;
        limits.lineRate = 0;
        limits.maxQueueBytes = kMaxQueue;
        limits.queueHoldMs = holdMs;
        limits.queueGraceMs = graceMs;
        QVERIFY(gw.start(limits));
        QVERIFY(gw.logIn({"alice", "flood"}));
        const int stuckFd = stuckClient(gw.server->serverPort());
        QVERIFY(stuckFd >= 0);
        QVERIFY(gw["alice"].waitFor("1002 JOIN stuck 0010\r\n"));
        for (Client &client : gw.clients)
            client.drain();

        QByteArray sent, expected, last;
        for (int i = 0; i < kLines; ++i) {
            const QByteArray text = QByteArray::number(i).leftJustified(kLineBytes, 'x');
            sent += text + "\r\n";
            last = talk("flood", text);
            expected += last;
        }
        Client &alice = gw["alice"];
        gw["flood"].write(sent);

        // Once the stuck reader's kernel buffers are full its queue fills, and
        // the flood stops short of the end.
        qsizetype before = -1;
        for (QDeadlineTimer deadline(kTimeoutMs); alice.received.size() != before && !deadline.hasExpired();) {
            before = alice.received.size();
            QTest::qWait(kStallMs);
        }
        QVERIFY2(alice.received.size() < expected.size(), "the sender never waited for the stuck reader");
        QVERIFY2(gw.server->queuedOutputBytes() <= kMaxQueue + 4 * (kLineBytes + 30),
                 qPrintable(QStringLiteral("%1 bytes queued").arg(gw.server->queuedOutputBytes())));
        QVERIFY(expected.startsWith(alice.received));
        QCOMPARE(gw.server->userCount(), 3);

        QTcpSocket stuck;
        QByteArray stuckReceived;
        const QByteArray leave = "1003 LEAVE stuck 0010\r\n";
        if (release == Release::CatchUp) {
            QObject::connect(&stuck, &QTcpSocket::readyRead, [&] { stuckReceived += stuck.readAll(); });
            QVERIFY(stuck.setSocketDescriptor(stuckFd));
        }
        QVERIFY2(alice.waitFor(last, kTimeoutMs), qPrintable(gw.log.join(u'\n')));
        if (release == Release::Drop)
            QVERIFY(alice.waitFor(leave));
        QCOMPARE(alice.drain().replace(leave, ""), expected);
        QCOMPARE(gw.server->userCount(), release == Release::Drop ? 2 : 3);
        if (release == Release::CatchUp) {
            QTRY_VERIFY_WITH_TIMEOUT(stuckReceived.endsWith(last), kTimeoutMs);
            QVERIFY(stuckReceived.contains(expected));
        } else {
            ::close(stuckFd);
        }
    }
};

QTEST_GUILESS_MAIN(tst_gateway_slowreader)
#include "tst_gateway_slowreader.moc"
