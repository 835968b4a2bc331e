// SPDX-License-Identifier: MIT
// Lines between clustered gateways through a real nats-server: three links in
// one process (A sends, B and C have members), printing throughput, latency
// from A's call to B's signal, NATS deliveries per line, and lines lost,
// duplicated or reordered per sender. Usage: cluster_link_bench [lines] [paced lines/s]
#include "ClusterLink.h"
#include "NatsSupport.h"
#include "../tests/cluster/NatsTestServer.h"

#include <QCoreApplication>
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
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
