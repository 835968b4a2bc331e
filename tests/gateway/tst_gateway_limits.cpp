// SPDX-License-Identifier: MIT
// What one user cannot do to the others: flood them, stall them by not
// reading, exhaust connections, or grow the server's memory.
#include "GatewayServer.h"
#include "gateway/GatewayTestClient.h"

#include <QtTest>

#include <deque>
#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace GatewayTest;

namespace {

constexpr int kFloodTimeoutMs = 10 * 1000;

// A logged-in client that never reads, with a tiny receive window so that the
// server's queue for it fills after a few kilobytes.
int stuckClient(quint16 port, const QByteArray &name)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int window = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return -1;
    const QByteArray login = loginBytes(name, "pw");
    if (::write(fd, login.constData(), size_t(login.size())) != login.size())
        return -1;
    return fd;
}

QByteArray talk(const QByteArray &name, const QByteArray &text)
{
    return "1005 TALK " + name + " 0010 \"" + text + "\"\r\n";
}

} // namespace

class tst_gateway_limits : public QObject
{
    Q_OBJECT

    std::unique_ptr<GatewayServer> m_server;
    std::deque<Client> m_clients;
    QStringList m_log;

    void start(const GatewayLimits &limits)
    {
        m_server = std::make_unique<GatewayServer>(limits);
        connect(m_server.get(), &GatewayServer::logMessage, this, [this](const QString &line) { m_log << line; });
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
    }

    Client &newClient(const QByteArray &name = {}) { return m_clients.emplace_back(m_server->serverPort(), name); }

private slots:
    void init()
    {
        m_clients.clear();
        m_server.reset();
        m_log.clear();
    }

    // alice (the operator), bob and carol read everything; "flood" writes all its
    // lines at once; "stuck" (when there is one) stops reading after its login.
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
        const qint64 unlimited = qint64(1) << 40;
        QTest::newRow("short lines, rate limited") << 2000.0 << 1 << 3000 << qint64(65536) << unlimited << false << QString();
        QTest::newRow("long lines, no rate") << 0.0 << 20000 << 400 << qint64(65536) << unlimited << false << QString();
        QTest::newRow("stuck reader, grace") << 0.0 << 1000 << 8000 << qint64(65536) << unlimited << true
                                             << QStringLiteral("output queue above 65536 bytes for 300 ms");
        QTest::newRow("stuck reader, total budget") << 0.0 << 1000 << 8000 << unlimited << qint64(1024 * 1024) << true
                                                    << QStringLiteral("furthest behind");
        // Within its grace it stays, and the channel goes on without it.
        QTest::newRow("stuck reader, long grace") << 0.0 << 1000 << 8000 << qint64(65536) << unlimited << true << QString();
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
        start(limits);

        std::deque<Client *> readers;
        for (const QByteArray name : {"alice", "bob", "carol"}) {
            readers.push_back(&newClient(name));
            QVERIFY(readers.back()->login());
        }
        Client &flooder = newClient("flood");
        QVERIFY(flooder.login());
        const int stuckFd = stuck ? stuckClient(m_server->serverPort(), "stuck") : -1;
        if (stuck) {
            QVERIFY(stuckFd >= 0);
            QVERIFY(readers.front()->waitFor("1002 JOIN stuck 0010\r\n"));
        }

        QByteArray sent, expected;
        for (int i = 0; i < lines; ++i) {
            const QByteArray text = QByteArray::number(i).leftJustified(lineBytes, 'x');
            sent += text + "\r\n";
            expected += talk("flood", text);
        }
        flooder.write(sent + "/whois\r\n");
        QVERIFY2(flooder.waitFor(kDrainMarker, kFloodTimeoutMs), qPrintable(m_log.join(u"\n")));
        if (!stuckDropped.isEmpty())
            QVERIFY(readers.front()->waitFor("1003 LEAVE stuck 0010\r\n", kFloodTimeoutMs));
        for (Client *reader : readers) {
            // Every flood line arrived once and in order, and nobody but the stuck reader left.
            QByteArray talked, left;
            for (const QByteArray &line : reader->drain().split('\n')) {
                if (line.startsWith("1005 TALK flood"))
                    talked += line + '\n';
                else if (line.startsWith("1003 LEAVE"))
                    left += line + '\n';
            }
            QCOMPARE(talked.size(), expected.size());
            QVERIFY(talked == expected);
            QCOMPARE(left, stuckDropped.isEmpty() ? QByteArray() : "1003 LEAVE stuck 0010\r\n");
        }
        if (!stuckDropped.isEmpty()) {
            const QStringList dropped = m_log.filter(QStringLiteral("stuck disconnected"));
            QCOMPARE(dropped.size(), 1);
            QVERIFY2(dropped.first().contains(stuckDropped), qPrintable(dropped.first()));
        }
        QCOMPARE(m_server->userCount(), stuck && stuckDropped.isEmpty() ? 5 : 4);
        if (stuckFd >= 0)
            ::close(stuckFd);
        QTRY_COMPARE(m_server->queuedOutputBytes(), 0);
    }

    // Round robin: a line sent after a long flood began is handled long before
    // the flood's end, whether it goes to the flood's channel or elsewhere.
    void quietLineOvertakesFlood_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("arrives");

        QTest::newRow("talk in the same channel") << QByteArray("psst") << talk("quiet", "psst");
        QTest::newRow("whisper") << QByteArray("/w alice psst") << QByteArray("1004 WHISPER quiet 0010 \"psst\"\r\n");
    }

    void quietLineOvertakesFlood()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, arrives);

        GatewayLimits limits;
        limits.lineRate = 0;
        start(limits);
        Client &alice = newClient("alice"), &flooder = newClient("flood"), &quiet = newClient("quiet");
        for (Client *client : {&alice, &flooder, &quiet})
            QVERIFY(client->login());

        const int lines = 4000;
        QByteArray sent;
        for (int i = 0; i < lines; ++i)
            sent += QByteArray::number(i).leftJustified(1000, 'x') + "\r\n";
        flooder.write(sent);
        QVERIFY(alice.waitFor("1005 TALK flood 0010 \"0xx"));
        quiet.write(line + "\r\n");
        const QByteArray last = talk("flood", QByteArray::number(lines - 1).leftJustified(1000, 'x'));
        QVERIFY(alice.waitFor(last, kFloodTimeoutMs));
        QVERIFY(alice.received.contains(arrives));
        QVERIFY(alice.received.indexOf(arrives) < alice.received.indexOf(last) - 1000 * 1000);
    }

    // Connections already open (true: logged in), then one more, and what it gets.
    void connectionCaps_data()
    {
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("perAddress");
        QTest::addColumn<QList<bool>>("open");
        QTest::addColumn<QByteArray>("reply");

        const auto row = [](const char *name, int total, int perAddress, const QList<bool> &open, const QByteArray &reply) {
            QTest::newRow(name) << total << perAddress << open << reply;
        };
        // Unfinished logins per address: at most 2.
        row("total", 4, 100, {true, true, true, false}, info("The server is full. Please try again later."));
        row("per address", 100, 3, {true, true, false}, info("Too many connections from your address."));
        row("unfinished per address", 100, 100, {true, false, false}, info("Too many unfinished logins from your address."));
        row("logged in are not unfinished", 100, 100, {true, true, true, false}, welcome("last"));
        row("login timeout", 100, 100, {}, info("Login timed out."));
    }

    void connectionCaps()
    {
        QFETCH(int, total);
        QFETCH(int, perAddress);
        QFETCH(QList<bool>, open);
        QFETCH(QByteArray, reply);

        GatewayLimits limits;
        limits.maxConnections = total;
        limits.maxPerAddress = perAddress;
        limits.maxUnfinishedPerAddress = 2;
        limits.loginTimeoutMs = open.isEmpty() ? 200 : 60 * 1000;
        start(limits);

        for (qsizetype i = 0; i < open.size(); ++i) {
            Client &client = newClient("user" + QByteArray::number(i));
            QVERIFY(client.socket.state() == QAbstractSocket::ConnectedState);
            if (open[i])
                QVERIFY(client.login());
        }
        QTRY_COMPARE(m_server->connectionCount(), open.size());

        Client &last = newClient("last");
        const bool accepted = reply == welcome("last");
        if (accepted)
            last.write(loginBytes("last", "pw"));
        QVERIFY(last.waitFor(reply, 10 * 1000));
        if (!accepted)
            QTRY_COMPARE(last.socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(last.received, accepted ? last.received : reply);
        QTRY_COMPARE(m_server->connectionCount(), open.size() + (accepted ? 1 : 0));
    }

    // alice is the operator of "Room"; bob and carol are in it too. Each step
    // is "sender:line"; alice's replies are compared.
    void channelLimits_data()
    {
        QTest::addColumn<Lines>("steps");
        QTest::addColumn<QByteArray>("aliceGets");
        QTest::addColumn<qsizetype>("bansAfter");

        const QByteArray name64(64, 'c');
        const auto banned = [](const QByteArray &who) { return info(who + " was banned by alice."); };
        QTest::newRow("channel name of 64 bytes") << Lines{"bob:/join " + name64} << QByteArray("1003 LEAVE bob 0010\r\n") << qsizetype(0);
        QTest::newRow("channel name of 65 bytes") << Lines{"alice:/join " + name64 + "c"}
                                                  << error("That channel name is too long.") << qsizetype(0);
        QTest::newRow("ban list full") << Lines{"alice:/ban bob", "alice:/ban carol"}
                                       << banned("bob") + "1003 LEAVE bob 0010\r\n" + error("This channel's ban list is full.")
                                       << qsizetype(1);
        // Once the last member has left, the channel and its bans are gone.
        QTest::newRow("bans forgotten") << Lines{"alice:/ban bob", "carol:/join Lobby", "alice:/join Lobby", "bob:/join Room"}
                                        << banned("bob") + "1003 LEAVE bob 0010\r\n" + "1003 LEAVE carol 0010\r\n"
                                                   + "1007 CHANNEL \"Lobby\"\r\n1001 USER carol 0002\r\n1001 USER alice 0010\r\n"
                                        << qsizetype(0);
    }

    void channelLimits()
    {
        QFETCH(Lines, steps);
        QFETCH(QByteArray, aliceGets);
        QFETCH(qsizetype, bansAfter);

        GatewayLimits limits;
        limits.maxBansPerChannel = 1;
        start(limits);
        QHash<QByteArray, Client *> clients;
        for (const QByteArray name : {"alice", "bob", "carol"}) {
            clients[name] = &newClient(name);
            QVERIFY(clients[name]->login());
            clients[name]->write("/join Room\r\n");
            clients[name]->drain();
        }
        clients["alice"]->drain();

        QByteArray got;
        for (const QByteArray &step : steps) {
            Client *sender = clients.value(step.left(step.indexOf(':')));
            sender->write(step.mid(step.indexOf(':') + 1) + "\r\n");
            const QByteArray replies = sender->drain();
            got += sender->name == "alice" ? replies : clients["alice"]->drain();
        }
        QCOMPARE(got, aliceGets);
        QCOMPARE(m_server->banCount("room"), bansAfter);
    }
};

QTEST_GUILESS_MAIN(tst_gateway_limits)
#include "tst_gateway_limits.moc"
