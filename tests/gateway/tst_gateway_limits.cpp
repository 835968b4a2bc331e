// SPDX-License-Identifier: MIT
// What one user cannot do to the others: flood them, stall them by not
// reading, or exhaust connections and the server's memory.
#include "gateway/GatewayTestClient.h"

#include <QtTest>

#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace GatewayTest;

namespace {

constexpr int kFloodTimeoutMs = 10 * 1000;
const qint64 kUnlimited = qint64(1) << 40;

} // namespace

class tst_gateway_limits : public QObject
{
    Q_OBJECT

    Gateway gw;

private slots:
    // alice, bob and carol read everything; "flood" writes all its lines at
    // once; "stuck" (when there is one) stops reading after its login.
    void flood_data()
    {
        QTest::addColumn<double>("lineRate");
        QTest::addColumn<int>("lineBytes");
        QTest::addColumn<int>("lines");
        QTest::addColumn<qint64>("maxQueue");
        QTest::addColumn<qint64>("totalQueue");
        QTest::addColumn<bool>("stuck");
        QTest::addColumn<QString>("stuckDropped"); // why the log says it was dropped; empty: it stays

        // The kernel buffers megabytes for a socket that is not read, so the
        // stuck reader gets more than that before the server queues anything.
        QTest::newRow("short lines, rate limited") << 2000.0 << 1 << 3000 << qint64(65536) << kUnlimited << false << QString();
        QTest::newRow("long lines, no rate") << 0.0 << 20000 << 400 << qint64(65536) << kUnlimited << false << QString();
        QTest::newRow("stuck reader, grace") << 0.0 << 1000 << 8000 << qint64(65536) << kUnlimited << true
                                             << QStringLiteral("output queue above 65536 bytes for 300 ms");
        QTest::newRow("stuck reader, total budget") << 0.0 << 1000 << 8000 << kUnlimited << qint64(1 << 20) << true
                                                    << QStringLiteral("furthest behind");
        // Within its grace it stays, and the channel goes on without it.
        QTest::newRow("stuck reader, long grace") << 0.0 << 1000 << 8000 << qint64(65536) << kUnlimited << true << QString();
    }

    void flood()
    {
        QFETCH(double, lineRate);
        QFETCH(int, lineBytes);
        QFETCH(int, lines);
        QFETCH(qint64, maxQueue);
        QFETCH(qint64, totalQueue);
        QFETCH(bool, stuck);
        QFETCH(QString, stuckDropped);

        GatewayLimits limits;
        limits.lineRate = lineRate;
        limits.lineBurst = 50;
        limits.maxQueueBytes = maxQueue;
        limits.queueHoldMs = 50;
        limits.queueGraceMs = stuckDropped.contains(u"300 ms") ? 300 : 3600 * 1000;
        limits.totalQueueBytes = totalQueue;
        QVERIFY(gw.start(limits));
        QVERIFY(gw.logIn({"alice", "bob", "carol", "flood"}));
        const int stuckFd = stuck ? stuckClient(gw.server->serverPort()) : -1;
        if (stuck)
            QVERIFY(stuckFd >= 0 && gw["alice"].waitFor("1002 JOIN stuck 0010\r\n"));
        for (Client &client : gw.clients)
            client.drain();

        QByteArray sent, expected;
        for (int i = 0; i < lines; ++i) {
            const QByteArray text = QByteArray::number(i).leftJustified(lineBytes, 'x');
            sent += text + "\r\n";
            expected += talk("flood", text);
        }
        gw["flood"].write(sent + "/whois\r\n");
        QVERIFY2(gw["flood"].waitFor(kDrainMarker, kFloodTimeoutMs), qPrintable(gw.log.join(u"\n")));
        const QByteArray leave = "1003 LEAVE stuck 0010\r\n";
        if (!stuckDropped.isEmpty())
            QVERIFY(gw["alice"].waitFor(leave, kFloodTimeoutMs));
        for (const QByteArray name : {"alice", "bob", "carol"}) {
            // Every flood line arrived once and in order, and nobody but the stuck reader left.
            QByteArray got = gw[name].drain();
            QCOMPARE(got.count(leave), stuckDropped.isEmpty() ? 0 : 1);
            QVERIFY2(got.replace(leave, "") == expected, name);
        }
        const QStringList dropped = gw.log.filter(QStringLiteral("stuck disconnected"));
        QCOMPARE(dropped.size(), stuckDropped.isEmpty() ? 0 : 1);
        QVERIFY2(dropped.isEmpty() || dropped.first().contains(stuckDropped), qPrintable(dropped.join(u"")));
        QCOMPARE(gw.server->userCount(), stuck && stuckDropped.isEmpty() ? 5 : 4);
        if (stuckFd >= 0)
            ::close(stuckFd);
        QTRY_COMPARE(gw.server->queuedOutputBytes(), 0);
    }

    // Round robin: a line sent as a flood begins waits for one turn of the flood
    // at most (16 lines; the flood's turn may come first), whether it goes to the
    // flood's channel or elsewhere.
    void quietLineOvertakesFlood()
    {
        GatewayLimits limits;
        limits.lineRate = 0;
        QVERIFY(gw.start(limits));
        QVERIFY(gw.logIn({"alice", "quiet", "flood"}));
        gw["flood"].write(QByteArray("x\r\n").repeated(1000)); // both reach the server before it reads either
        gw["quiet"].write("psst\r\n/w alice psst\r\n");
        const QByteArray quiet = talk("quiet", "psst") + "1004 WHISPER quiet 0010 \"psst\"\r\n";
        QVERIFY(gw["alice"].waitFor(quiet));
        const QByteArray before = gw["alice"].received.left(gw["alice"].received.indexOf(quiet));
        QVERIFY2(before.count(talk("flood", "x")) <= 16, before);
    }

    // Past its burst a user's lines wait for the rate, while the others' go on.
    void lineRate()
    {
        GatewayLimits limits;
        limits.lineRate = 0.01; // the line after the burst is due in 100 s
        limits.lineBurst = 5;
        QVERIFY(gw.start(limits));
        QVERIFY(gw.logIn({"alice", "flood", "quiet"}));
        gw["flood"].write("1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n");
        QVERIFY(gw["alice"].waitFor(talk("flood", "5")));
        gw["quiet"].write("psst\r\n");
        QVERIFY(gw["alice"].waitFor(talk("quiet", "psst")));
        QVERIFY(!gw["alice"].received.contains(talk("flood", "6")));
    }

    // Clients that log in, send more than their line rate lets through, and
    // close: each is released within a second although most of what it sent
    // is still held back, so a real user from that address gets in at once.
    void closedFloodersReleased_data()
    {
        QTest::addColumn<bool>("halfClose"); // shut down only their sending side

        QTest::newRow("closed") << false;
        QTest::newRow("half closed") << true;
    }
    void closedFloodersReleased()
    {
        QFETCH(bool, halfClose);
        constexpr int kFlooders = 8;
        GatewayLimits limits;
        limits.maxPerAddress = kFlooders;
        limits.maxUnfinishedPerAddress = kFlooders;
        limits.lineRate = 0.5;
        limits.lineBurst = 5;
        QVERIFY(gw.start(limits));
        std::vector<int> flooders;
        for (int i = 0; i < kFlooders; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            const sockaddr_in address{AF_INET, htons(gw.server->serverPort()), {htonl(INADDR_LOOPBACK)}, {}};
            QVERIFY(::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0);
            const QByteArray bytes = loginBytes("guest", "") + QByteArray("spam\r\n").repeated(200);
            QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
            flooders.push_back(fd);
        }
        QTRY_COMPARE(gw.server->userCount(), kFlooders);
        QTest::qWait(100); // their bursts are through; the rest waits for the line rate
        for (int fd : flooders) {
            if (halfClose)
                ::shutdown(fd, SHUT_WR);
            else
                ::close(fd);
        }
        QTRY_COMPARE_WITH_TIMEOUT(gw.server->connectionCount(), 0, 1500);
        QVERIFY(gw.add("real").login());
        for (int fd : flooders) {
            if (halfClose)
                ::close(fd);
        }
    }

    // Connections already open (L: logged in), then one more, and what it gets.
    void connectionCaps_data()
    {
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("perAddress");
        QTest::addColumn<QByteArray>("open");
        QTest::addColumn<QByteArray>("reply");

        // Unfinished logins per address: at most 2.
        QTest::newRow("total") << 4 << 100 << QByteArray("LLL-") << info("The server is full. Please try again later.");
        QTest::newRow("per address") << 100 << 3 << QByteArray("LL-") << info("Too many connections from your address.");
        QTest::newRow("unfinished per address") << 100 << 100 << QByteArray("L--") << info("Too many unfinished logins from your address.");
        QTest::newRow("logged in are not unfinished") << 100 << 100 << QByteArray("LLL-") << welcome("last");
        QTest::newRow("login timeout") << 100 << 100 << QByteArray() << info("Login timed out.");
    }

    void connectionCaps()
    {
        QFETCH(int, total);
        QFETCH(int, perAddress);
        QFETCH(QByteArray, open);
        QFETCH(QByteArray, reply);

        GatewayLimits limits;
        limits.maxConnections = total;
        limits.maxPerAddress = perAddress;
        limits.maxUnfinishedPerAddress = 2;
        limits.loginTimeoutMs = open.isEmpty() ? 200 : 60 * 1000;
        QVERIFY(gw.start(limits));
        for (qsizetype i = 0; i < open.size(); ++i) {
            Client &client = gw.add("user" + QByteArray::number(i));
            QVERIFY(client.socket.state() == QAbstractSocket::ConnectedState);
            QVERIFY(open[i] != 'L' || client.login());
        }
        QTRY_COMPARE(gw.server->connectionCount(), open.size());

        Client &last = gw.add("last");
        const bool accepted = reply == welcome("last");
        if (accepted)
            last.write(loginBytes("last", "pw"));
        QVERIFY(last.waitFor(reply, 10 * 1000));
        if (!accepted) {
            QTRY_COMPARE(last.socket.state(), QAbstractSocket::UnconnectedState);
            QCOMPARE(last.received, reply);
        }
        QTRY_COMPARE(gw.server->connectionCount(), open.size() + (accepted ? 1 : 0));
    }
};

QTEST_GUILESS_MAIN(tst_gateway_limits)
#include "tst_gateway_limits.moc"
