// SPDX-License-Identifier: MIT
// Lines between clustered gateways through a real nats-server: three links in
// one process (A sends, B and C have members), printing throughput, latency
// from A's call to B's signal, NATS deliveries per line, and lines lost,
// duplicated or reordered per sender. Usage: cluster_link_bench [lines] [paced lines/s]
//
// With --gateways [lines per sender]: whole gateways instead of bare links,
// 150 chat clients on real sockets in one channel, spread over three
// clustered gateways, then the same 150 on one gateway alone.
//
// With --paced [lines/s] [seconds]: three clustered gateways, the senders on
// the first, readers on the other two; input paced at lines/s (10,000 by
// default), printing the cross-gateway latency p50/p99 and lines lost,
// duplicated or reordered per sender.
#include "ClusterLink.h"
#include "GatewayServer.h"
#include "NatsSupport.h"
#include "../tests/cluster/NatsTestServer.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Reader
{
    std::vector<qint64> latencyNs;
    qint64 next = 0, lost = 0, duplicated = 0, reordered = 0, received = 0;

    void take(const QByteArray &line)
    {
        // "1005 TALK a 0010 \"<seq> <sent ns>\"\r\n"
        const qsizetype open = line.indexOf('"');
        const QList<QByteArray> parts = line.mid(open + 1, line.lastIndexOf('"') - open - 1).split(' ');
        const qint64 seq = parts.value(0).toLongLong();
        latencyNs.push_back(NatsSupport::monotonicNs() - parts.value(1).toLongLong());
        ++received;
        if (seq == next) {
            ++next;
        } else if (seq > next) {
            lost += seq - next;
            next = seq + 1;
        } else {
            ++duplicated; // or late: either breaks the sender's order
            ++reordered;
        }
    }
};

std::unique_ptr<ClusterLink> makeLink(const QString &url, const char *name)
{
    ClusterSettings settings;
    settings.urls = {url};
    settings.node = name;
    settings.heartbeatMs = 60000;
    settings.nodeTimeoutMs = 120000;
    auto link = std::make_unique<ClusterLink>(settings);
    link->start();
    return link;
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QTest::qWait(5);
    return done();
}

qint64 percentile(std::vector<qint64> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void report(const char *what, const Reader &r, qint64 lines, double seconds)
{
    std::printf("%-28s %8lld lines in %6.3f s = %9.0f lines/s; latency p50 %7.1f us, p99 %8.1f us; "
                "lost %lld, duplicated %lld, reordered %lld\n",
                what, lines, seconds, double(r.received) / seconds,
                double(percentile(r.latencyNs, 0.50)) / 1000, double(percentile(r.latencyNs, 0.99)) / 1000,
                r.lost, r.duplicated, r.reordered);
}

// One chat client: reads everything, keeps per-sender order figures of talk lines.
struct BenchClient
{
    QTcpSocket socket;
    QByteArray name, buffer;
    bool welcomed = false;
    qint64 received = 0;
    std::vector<Reader> bySender;
    std::vector<qint64> *latencies = nullptr;
    qint64 *lastReceiptNs = nullptr;

    void read()
    {
        buffer += socket.readAll();
        qsizetype start = 0;
        for (qsizetype end; (end = buffer.indexOf("\r\n", start)) >= 0; start = end + 2) {
            const QByteArray line = buffer.mid(start, end - start + 2);
            if (line.startsWith("1018 INFO \"Welcome"))
                welcomed = true;
            if (!line.startsWith("1005 TALK s"))
                continue;
            const int sender = line.mid(11, line.indexOf(' ', 11) - 11).toInt();
            Reader &r = bySender[size_t(sender)];
            r.take(line);
            latencies->push_back(r.latencyNs.back());
            r.latencyNs.clear();
            ++received;
            *lastReceiptNs = NatsSupport::monotonicNs();
        }
        buffer.remove(0, start);
    }
};

struct GatewayRun
{
    double deliveriesPerSecond = 0, p50us = 0, p99us = 0, natsInPerLine = 0, natsOutPerLine = 0;
    qint64 lost = 0, duplicated = 0, reordered = 0, deliveries = 0, expected = 0;
};

// users clients, spread round-robin over the gateways; the first `senders`
// of them send `perSender` lines each, all at once, into the lobby.
GatewayRun runGateways(NatsTestServer *nats, int gateways, int users, int senders, int perSender)
{
    GatewayLimits limits;
    limits.lineRate = 0;
    limits.maxPerAddress = limits.maxUnfinishedPerAddress = users + 10;
    limits.maxQueueBytes = 64 << 20;
    std::vector<std::unique_ptr<GatewayServer>> servers;
    for (int g = 0; g < gateways; ++g) {
        servers.push_back(std::make_unique<GatewayServer>(limits));
        servers.back()->listen(QHostAddress::LocalHost, 0);
        if (nats)
            servers.back()->joinCluster({nats->url()}, "bench" + QByteArray::number(g));
    }
    if (nats) {
        waitFor([&] {
            return std::all_of(servers.begin(), servers.end(), [&](auto &s) {
                return s->clusterLink()->isUp() && s->clusterLink()->peers().size() == size_t(gateways - 1);
            });
        }, 15000);
    }
    std::vector<qint64> latencies;
    latencies.reserve(size_t(users) * size_t(senders) * size_t(perSender));
    qint64 lastReceiptNs = 0;
    std::deque<BenchClient> clients;
    for (int i = 0; i < users; ++i) {
        BenchClient &c = clients.emplace_back();
        c.name = (i < senders ? "s" : "u") + QByteArray::number(i);
        c.bySender.resize(size_t(senders));
        c.latencies = &latencies;
        c.lastReceiptNs = &lastReceiptNs;
        QObject::connect(&c.socket, &QTcpSocket::readyRead, [&c] { c.read(); });
        c.socket.connectToHost(QHostAddress::LocalHost, servers[size_t(i % gateways)]->serverPort());
        c.socket.write("\x03\x04\r\n\r\n" + c.name + "\r\npw\r\n");
    }
    waitFor([&] { return std::all_of(clients.begin(), clients.end(), [](auto &c) { return c.welcomed; }); }, 30000);
    if (nats) {
        waitFor([&] {
            return std::all_of(servers.begin(), servers.end(), [&](auto &s) {
                return s->clusterLink()->remoteMembers("Lobby").size() == size_t(users - users / gateways);
            });
        }, 15000);
    }
    QTest::qWait(200);
    const QJsonObject before = nats ? nats->varz() : QJsonObject();
    const qint64 startNs = NatsSupport::monotonicNs();
    for (int line = 0; line < perSender; ++line) {
        for (int s = 0; s < senders; ++s) {
            clients[size_t(s)].socket.write(QByteArray::number(line) + ' '
                                            + QByteArray::number(NatsSupport::monotonicNs()) + "\r\n");
        }
    }
    GatewayRun run;
    run.expected = qint64(senders) * perSender * (users - 1);
    const auto total = [&] {
        qint64 n = 0;
        for (const BenchClient &c : clients)
            n += c.received;
        return n;
    };
    waitFor([&] { return total() >= run.expected; }, 120000);
    QTest::qWait(300);
    run.deliveries = total();
    run.deliveriesPerSecond = double(run.deliveries) / (double(lastReceiptNs - startNs) / 1e9);
    run.p50us = double(percentile(latencies, 0.50)) / 1000;
    run.p99us = double(percentile(latencies, 0.99)) / 1000;
    for (BenchClient &c : clients) {
        for (size_t s = 0; s < c.bySender.size(); ++s) {
            Reader &r = c.bySender[s];
            if (c.name == "s" + QByteArray::number(qint64(s)))
                continue;
            r.lost += perSender - r.next; // never arrived at the end
            run.lost += r.lost;
            run.duplicated += r.duplicated;
            run.reordered += r.reordered;
        }
    }
    if (nats) {
        const QJsonObject after = nats->varz();
        const double lines = double(senders) * perSender;
        const auto delta = [&](const char *key) {
            return after.value(QLatin1String(key)).toDouble() - before.value(QLatin1String(key)).toDouble();
        };
        // Heartbeats and presence add a little; the channel lines are nearly all of it.
        run.natsInPerLine = delta("in_msgs") / lines;
        run.natsOutPerLine = delta("out_msgs") / lines;
    }
    clients.clear();
    return run;
}

void printRun(const char *what, const GatewayRun &r)
{
    std::printf("%-34s %9lld of %9lld deliveries, %10.0f deliveries/s; latency p50 %8.1f us, p99 %9.1f us; "
                "lost %lld, duplicated %lld, reordered %lld\n",
                what, r.deliveries, r.expected, r.deliveriesPerSecond, r.p50us, r.p99us, r.lost, r.duplicated,
                r.reordered);
}

int gatewaysMain(int argc, char **argv)
{
    const int perSender = argc > 2 ? QByteArray(argv[2]).toInt() : 200;
    const int users = 150, senders = 6;
    NatsTestServer server;
    if (NatsTestServer::program().isEmpty() || !server.start()) {
        std::printf("nats-server is missing or did not start; nothing measured\n");
        return 0;
    }
    std::printf("%d users in one channel, %d of them sending %d lines each at once\n", users, senders, perSender);
    const GatewayRun three = runGateways(&server, 3, users, senders, perSender);
    printRun("three clustered gateways", three);
    std::printf("NATS messages per channel line: %.2f published (one per line), %.2f delivered "
                "(the other gateways with members: 2; users: %d)\n",
                three.natsInPerLine, three.natsOutPerLine, users);
    const GatewayRun one = runGateways(nullptr, 1, users, senders, perSender);
    printRun("one gateway alone", one);
    std::printf("(one process, %d cores: clients, gateways and nats-server share them)\n",
                QThread::idealThreadCount());
    return 0;
}

int pacedMain(int argc, char **argv)
{
    const int rate = argc > 2 ? QByteArray(argv[2]).toInt() : 10000;
    const double seconds = argc > 3 ? QByteArray(argv[3]).toDouble() : 3.0;
    const int senders = 8, readersPerGateway = 4, gateways = 3;
    NatsTestServer nats;
    if (NatsTestServer::program().isEmpty() || !nats.start()) {
        std::printf("nats-server is missing or did not start; nothing measured\n");
        return 0;
    }
    GatewayLimits limits;
    limits.lineRate = 0;
    limits.maxQueueBytes = 64 << 20;
    std::vector<std::unique_ptr<GatewayServer>> servers;
    for (int g = 0; g < gateways; ++g) {
        servers.push_back(std::make_unique<GatewayServer>(limits));
        servers.back()->listen(QHostAddress::LocalHost, 0);
        servers.back()->joinCluster({nats.url()}, "paced" + QByteArray::number(g));
    }
    waitFor([&] {
        return std::all_of(servers.begin(), servers.end(), [&](auto &s) {
            return s->clusterLink()->isUp() && s->clusterLink()->peers().size() == size_t(gateways - 1);
        });
    }, 15000);
    // Senders on the first gateway; only readers elsewhere count.
    std::vector<qint64> crossLatencies, localLatencies;
    qint64 lastReceiptNs = 0;
    std::deque<BenchClient> clients;
    const int users = senders + readersPerGateway * (gateways - 1);
    for (int i = 0; i < users; ++i) {
        BenchClient &c = clients.emplace_back();
        const bool sender = i < senders;
        c.name = (sender ? "s" : "u") + QByteArray::number(i);
        c.bySender.resize(size_t(senders));
        c.latencies = sender ? &localLatencies : &crossLatencies;
        c.lastReceiptNs = &lastReceiptNs;
        QObject::connect(&c.socket, &QTcpSocket::readyRead, [&c] { c.read(); });
        const int g = sender ? 0 : 1 + (i - senders) % (gateways - 1);
        c.socket.connectToHost(QHostAddress::LocalHost, servers[size_t(g)]->serverPort());
        c.socket.write("\x03\x04\r\n\r\n" + c.name + "\r\npw\r\n");
    }
    waitFor([&] { return std::all_of(clients.begin(), clients.end(), [](auto &c) { return c.welcomed; }); }, 30000);
    waitFor([&] { return servers[0]->clusterLink()->remoteMembers("Lobby").size() == size_t(users - senders); },
            15000);
    QTest::qWait(300);

    const qint64 total = qint64(double(rate) * seconds);
    qint64 sent = 0;
    QTimer pacer;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&pacer, &QTimer::timeout, [&] {
        const qint64 due = std::min(total, clock.nsecsElapsed() * rate / 1000000000);
        for (; sent < due; ++sent) {
            clients[size_t(sent % senders)].socket.write(QByteArray::number(sent / senders) + ' '
                                                         + QByteArray::number(NatsSupport::monotonicNs()) + "\r\n");
        }
        if (sent >= total)
            pacer.stop();
    });
    pacer.start(1);
    const qint64 expected = total * readersPerGateway * (gateways - 1);
    const auto crossReceived = [&] {
        qint64 n = 0;
        for (size_t i = size_t(senders); i < clients.size(); ++i)
            n += clients[i].received;
        return n;
    };
    waitFor([&] { return sent >= total && crossReceived() >= expected; }, int(seconds * 1000) + 60000);
    const double inputSeconds = double(clock.nsecsElapsed()) / 1e9;
    QTest::qWait(300);
    qint64 lost = 0, duplicated = 0, reordered = 0;
    for (size_t i = size_t(senders); i < clients.size(); ++i) {
        for (size_t s = 0; s < size_t(senders); ++s) {
            const Reader &r = clients[i].bySender[s];
            const qint64 perSender = total / senders + (qint64(s) < total % senders ? 1 : 0);
            lost += r.lost + (perSender - r.next);
            duplicated += r.duplicated;
            reordered += r.reordered;
        }
    }
    std::printf("paced input %d lines/s for %.1f s (%lld lines from %d senders on gateway 1; %d readers on each of "
                "gateways 2 and 3)\n",
                rate, seconds, total, senders, readersPerGateway);
    std::printf("cross-gateway: %lld of %lld deliveries; latency p50 %8.1f us, p99 %9.1f us; lost %lld, duplicated "
                "%lld, reordered %lld\n",
                crossReceived(), expected, double(percentile(crossLatencies, 0.50)) / 1000,
                double(percentile(crossLatencies, 0.99)) / 1000, lost, duplicated, reordered);
    std::printf("same gateway (senders reading each other): latency p50 %8.1f us, p99 %9.1f us\n",
                double(percentile(localLatencies, 0.50)) / 1000, double(percentile(localLatencies, 0.99)) / 1000);
    std::printf("all input and deliveries done in %.2f s; (one process, %d cores: clients, gateways and nats-server "
                "share them)\n",
                inputSeconds, QThread::idealThreadCount());
    clients.clear();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--gateways")
        return gatewaysMain(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--paced")
        return pacedMain(argc, argv);
    const qint64 lines = argc > 1 ? QByteArray(argv[1]).toLongLong() : 20000;
    const int pacedRate = argc > 2 ? QByteArray(argv[2]).toInt() : 10000;
    if (NatsTestServer::program().isEmpty()) {
        std::printf("nats-server is not installed; nothing measured\n");
        return 0;
    }
    NatsTestServer server;
    if (!server.start()) {
        std::printf("nats-server did not start\n");
        return 1;
    }
    auto a = makeLink(server.url(), "A");
    auto b = makeLink(server.url(), "B");
    auto c = makeLink(server.url(), "C");
    Reader readerB, readerC;
    QObject::connect(b.get(), &ClusterLink::lineForChannel, [&](auto &, auto &, const QByteArray &l) { readerB.take(l); });
    QObject::connect(c.get(), &ClusterLink::lineForChannel, [&](auto &, auto &, const QByteArray &l) { readerC.take(l); });
    a->userJoined("a", "Lobby", "0010");
    for (int i = 0; i < 50; ++i) {
        b->userJoined("b" + QByteArray::number(i), "Lobby", "0010");
        c->userJoined("c" + QByteArray::number(i), "Lobby", "0010");
    }
    if (!waitFor([&] { return a->remoteMembers("Lobby").size() == 100; }, 10000)) {
        std::printf("links did not see each other\n");
        return 1;
    }
    auto line = [](qint64 seq) {
        return "1005 TALK a 0010 \"" + QByteArray::number(seq) + ' '
                + QByteArray::number(NatsSupport::monotonicNs()) + "\"\r\n";
    };

    // 1. As fast as the sender's loop can hand lines over.
    qint64 before = server.outMessages();
    QElapsedTimer clock;
    clock.start();
    for (qint64 i = 0; i < lines; ++i)
        a->sendChannelLine("Lobby", "a", line(i));
    waitFor([&] { return readerB.received >= lines && readerC.received >= lines; }, 60000);
    const double burstSeconds = double(clock.nsecsElapsed()) / 1e9;
    QTest::qWait(200);
    const qint64 deliveries = server.outMessages() - before;
    report("burst, reader B", readerB, lines, burstSeconds);
    report("burst, reader C", readerC, lines, burstSeconds);
    std::printf("NATS deliveries per line: %.3f (nodes with members besides the sender: 2; users: 100)\n",
                double(deliveries) / double(lines));

    // 2. Paced, as a busy channel would be.
    Reader pacedB;
    QObject::disconnect(b.get(), &ClusterLink::lineForChannel, nullptr, nullptr);
    QObject::connect(b.get(), &ClusterLink::lineForChannel, [&](auto &, auto &, const QByteArray &l) { pacedB.take(l); });
    const qint64 pacedLines = std::min<qint64>(lines, pacedRate * 3);
    qint64 sent = 0;
    QTimer pacer;
    QElapsedTimer pacedClock;
    pacedClock.start();
    QObject::connect(&pacer, &QTimer::timeout, [&] {
        const qint64 due = std::min(pacedLines, pacedClock.elapsed() * pacedRate / 1000);
        for (; sent < due; ++sent)
            a->sendChannelLine("Lobby", "a", line(lines + sent));
        if (sent >= pacedLines)
            pacer.stop();
    });
    pacedB.next = lines;
    pacer.start(1);
    waitFor([&] { return pacedB.received >= pacedLines; }, 60000);
    char label[64];
    std::snprintf(label, sizeof label, "paced %d/s, reader B", pacedRate);
    report(label, pacedB, pacedLines, double(pacedClock.nsecsElapsed()) / 1e9);
    std::printf("(one process, %d cores: sender, NATS server and both readers share them)\n",
                QThread::idealThreadCount());
    return 0;
}
