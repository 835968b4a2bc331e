// SPDX-License-Identifier: MIT
// Faults of a chat network of gateways: a gateway stopped past its names'
// time to live, a gateway that falls behind, a NATS server that dies for good.
// Two gateways run in this process; the one that is stopped runs as a child
// process (vesk-gateway), so that stopping it holds back nobody else.
#include "ClusterMessage.h"
#include "NatsSupport.h"
#include "cluster/NatsTestServer.h"
#include "gateway/GatewayTestClient.h"

#include <nats/nats.h>

#include <QProcess>
#include <QRegularExpression>

#include <signal.h>

using namespace GatewayTest;

namespace {

constexpr int kNameTtlMs = 3000;

// The users a client is shown in its channel, replayed from what it received:
// the channel list, joins and leaves. Returns the first name shown twice at
// once ("" when none) and, in *roster, who is shown at the end.
QByteArray firstNameShownTwice(const QByteArray &received, QHash<QByteArray, int> *roster = nullptr)
{
    static const QRegularExpression event(QStringLiteral("^(1007 CHANNEL|1001 USER|1002 JOIN|1003 LEAVE) ?(\\S*)"));
    QHash<QByteArray, int> shown;
    QByteArray twice;
    for (const QByteArray &line : received.split('\n')) {
        const QRegularExpressionMatch m = event.match(QString::fromUtf8(line));
        if (!m.hasMatch())
            continue;
        const QString what = m.captured(1);
        const QByteArray name = m.captured(2).toUtf8().toLower();
        if (what == QLatin1String("1007 CHANNEL")) {
            shown.clear();
        } else if (what == QLatin1String("1003 LEAVE")) {
            if (--shown[name] <= 0)
                shown.remove(name);
        } else if (++shown[name] > 1 && twice.isEmpty()) {
            twice = name;
        }
    }
    if (roster)
        *roster = shown;
    return twice;
}

// A gateway in its own process, on a free port of 127.0.0.1.
class GatewayProcess
{
public:
    ~GatewayProcess() { stop(); }

    bool start(const QString &urls, const QByteArray &node, const QStringList &extra = {})
    {
        const QString program = qEnvironmentVariable("VESK_BIN_DIR") + QStringLiteral("/vesk-gateway");
        m_process.setProgram(program);
        m_process.setArguments(QStringList{QStringLiteral("--cluster"), urls, QStringLiteral("--node"),
                                           QString::fromLatin1(node), QStringLiteral("--listen"),
                                           QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                                           QStringLiteral("0")}
                               + extra);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&m_process, &QProcess::readyRead, [this] { m_log += m_process.readAll(); });
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        return QTest::qWaitFor([&] {
            const QRegularExpressionMatch m = listening.match(QString::fromUtf8(m_log));
            m_port = m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
            return m_port != 0;
        }, 10000);
    }

    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        signal(SIGCONT);
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    quint16 port() const { return m_port; }
    const QByteArray &log() const { return m_log; }

private:
    QProcess m_process;
    QByteArray m_log;
    quint16 m_port = 0;
};

// Publishes what a gateway would, straight to NATS, as node "flood".
struct Flooder
{
    natsConnection *nc = nullptr;
    quint64 seq = 0;
    explicit Flooder(const QString &url) { natsConnection_ConnectTo(&nc, url.toUtf8().constData()); }
    ~Flooder() { natsConnection_Destroy(nc); }
    void talk(const QByteArray &channel, int lines)
    {
        const QByteArray subject = NatsSupport::channelSubject(channel);
        ClusterMessage m;
        m.kind = ClusterMessage::Kind::ChannelLine;
        m.origin = "flood";
        m.incarnation = 99;
        m.channel = channel;
        for (int i = 0; i < lines; ++i) {
            m.seq = ++seq;
            m.payload = GatewayTest::talk("flooder", QByteArray::number(m.seq));
            const QByteArray bytes = encodeClusterMessage(m);
            natsConnection_Publish(nc, subject.constData(), bytes.constData(), int(bytes.size()));
        }
        natsConnection_Flush(nc);
    }
};

const QByteArray kMissing = info("Some lines of this channel may be missing: the link between gateways was "
                                 "interrupted.");

} // namespace

class tst_gateway_clusterfaults : public QObject
{
    Q_OBJECT

    std::unique_ptr<NatsTestServer> natsServer;
    Gateway gw[2];

    bool startGateways(const QStringList &urls)
    {
        for (int i = 0; i < 2; ++i) {
            if (!gw[i].start() || !gw[i].server->joinCluster(urls, i ? "b" : "a", kNameTtlMs).isEmpty())
                return false;
        }
        return true;
    }

    bool peered(int peers)
    {
        return std::all_of(std::begin(gw), std::end(gw), [peers](const Gateway &g) {
            return g.server->clusterLink()->isUp() && g.server->clusterLink()->peers().size() == peers;
        });
    }

    bool startChild(GatewayProcess &child, const QStringList &extra = {})
    {
        if (!child.start(natsServer->url(), "x", extra))
            return false;
        return QTest::qWaitFor([&] { return peered(2); }, 10000);
    }

private slots:
    void init()
    {
        REQUIRE_NATS_SERVER();
        natsServer = std::make_unique<NatsTestServer>();
        QVERIFY(natsServer->start());
    }

    void cleanup()
    {
        for (Gateway &g : gw) {
            g.clients.clear();
            g.server.reset();
        }
        natsServer.reset();
    }

    // A gateway stopped (SIGSTOP) for longer than the names' time to live,
    // while its user's name is taken on another gateway, then continued: no
    // client anywhere is ever shown two users with one name, and the stopped
    // gateway drops its user whose name it could not keep.
    void stoppedGatewayNeverShowsANameTwice_data()
    {
        QTest::addColumn<int>("stoppedMs");
        QTest::addColumn<bool>("talksWhileStopped"); // the stopped gateway's user typed meanwhile
        QTest::newRow("past the time to live") << kNameTtlMs + 1500 << false;
        QTest::newRow("past the node timeout, with a line waiting") << 6500 << true;
    }
    void stoppedGatewayNeverShowsANameTwice()
    {
        QFETCH(int, stoppedMs);
        QFETCH(bool, talksWhileStopped);
        QVERIFY(startGateways({natsServer->url()}));
        QTRY_VERIFY_WITH_TIMEOUT(peered(1), 10000);
        GatewayProcess x;
        QVERIFY2(startChild(x), x.log().constData());
        QVERIFY(gw[0].add("wa").login());
        QVERIFY(gw[1].add("wb").login());
        Client wx(x.port(), "wx");
        QVERIFY(wx.login());
        Client alice(x.port(), "alice");
        QVERIFY(alice.login());
        QVERIFY(gw[0]["wa"].waitFor("1002 JOIN alice "));
        QVERIFY(gw[1]["wb"].waitFor("1002 JOIN alice "));

        x.signal(SIGSTOP);
        if (talksWhileStopped)
            alice.write("are you there\r\n");
        QElapsedTimer stopped;
        stopped.start();
        // The name comes free once it expires; whoever logs in with it then gets it.
        Client *newAlice = nullptr;
        QVERIFY(QTest::qWaitFor([&] {
            Client &c = gw[1].add("alice");
            c.write(loginBytes("alice", "pw"));
            if (c.waitFor("Welcome") && c.received.contains(welcome("alice")))
                newAlice = &c;
            else
                c.socket.disconnectFromHost();
            return newAlice != nullptr;
        }, kNameTtlMs + 3000));
        qInfo("the name was free again %lld ms after the stop", qint64(stopped.elapsed()));
        while (stopped.elapsed() < stoppedMs) {
            for (Client *c : {&gw[0]["wa"], &gw[1]["wb"]})
                QVERIFY2(firstNameShownTwice(c->received).isEmpty(), (c->name + " saw: " + c->received).constData());
            QTest::qWait(50);
        }
        x.signal(SIGCONT);

        // None of its names could be kept: all its users go, alice and the watcher alike.
        const QByteArray lost = info("Your name could not be kept in the chat network; please log in again.");
        for (Client *c : {&alice, &wx}) {
            QVERIFY2(c->waitFor(lost, 5000), c->received.constData());
            QTRY_COMPARE_WITH_TIMEOUT(c->socket.state(), QAbstractSocket::UnconnectedState, 5000);
        }
        QVERIFY(x.log().contains("alice dropped"));
        QVERIFY(!gw[0]["wa"].received.contains("are you there"));
        // Whoever comes to it now sees the one alice, as everyone else does.
        std::deque<Client> comers;
        QVERIFY(QTest::qWaitFor([&] { return comers.emplace_back(x.port(), "again").login(); }, 10000));
        Client &again = comers.back();
        for (Client *c : {&gw[0]["wa"], &gw[1]["wb"], &wx, &alice, &again}) {
            QHash<QByteArray, int> roster;
            QVERIFY2(firstNameShownTwice(c->received, &roster).isEmpty(),
                     (c->name + " saw: " + c->received).constData());
            if (c->socket.state() == QAbstractSocket::ConnectedState) {
                QTRY_VERIFY2_WITH_TIMEOUT((firstNameShownTwice(c->received, &roster), roster.value("alice") == 1),
                                          (c->name + " ends with: " + c->received.right(1500)).constData(), 5000);
            }
        }
        newAlice->write("still mine\r\n");
        QVERIFY2(again.waitFor(" \"still mine\"\r\n") && again.received.contains("1005 TALK alice "),
                 again.received.constData());
    }

    // A gateway that falls behind the network (stopped a moment while a
    // flood went by, with a small queue): it notices, tells its users once,
    // and goes on; the other gateways get every line, in order, meanwhile.
    void slowGatewayRecovers_data()
    {
        QTest::addColumn<int>("floods");
        QTest::addColumn<int>("lines");
        QTest::newRow("one flood") << 1 << 5000;
        QTest::newRow("two floods in one spell") << 2 << 3000;
    }
    void slowGatewayRecovers()
    {
        QFETCH(int, floods);
        QFETCH(int, lines);
        QVERIFY(startGateways({natsServer->url()}));
        QTRY_VERIFY_WITH_TIMEOUT(peered(1), 10000);
        GatewayProcess x;
        QVERIFY2(startChild(x, {QStringLiteral("--cluster-queue"), QStringLiteral("100")}), x.log().constData());
        QVERIFY(gw[0].add("ra").login());
        QVERIFY(gw[1].add("rb").login());
        Client rx(x.port(), "rx");
        QVERIFY(rx.login());
        QVERIFY(gw[0]["ra"].waitFor("1002 JOIN rx "));

        Flooder flood(natsServer->url());
        x.signal(SIGSTOP);
        for (int f = 0; f < floods; ++f)
            flood.talk("Lobby", lines);
        const QByteArray last = talk("flooder", QByteArray::number(flood.seq));
        // Not held back by the stopped one: every line, in order, while it stands still.
        for (Client *c : {&gw[0]["ra"], &gw[1]["rb"]}) {
            QVERIFY2(c->waitFor(last, 20000), c->name.constData());
            QVERIFY2(c->received.count("TALK flooder") == qsizetype(flood.seq),
                     (QByteArray::number(c->received.count("TALK flooder")) + " lines; "
                      + gw[0].log.join(u'\n').toUtf8() + gw[1].log.join(u'\n').toUtf8())
                             .constData());
            qsizetype at = 0;
            for (quint64 i = 1; i <= flood.seq; i += 97) {
                at = c->received.indexOf(talk("flooder", QByteArray::number(i)), at);
                QVERIFY2(at >= 0, QByteArray::number(i).constData());
            }
            QVERIFY(!c->received.contains(kMissing));
        }
        QTest::qWait(300);
        x.signal(SIGCONT);

        QVERIFY2(rx.waitFor(kMissing, 10000), x.log().right(2000).constData());
        QTRY_VERIFY_WITH_TIMEOUT(x.log().contains("cluster: caught up"), 10000);
        QVERIFY(x.log().contains("cluster: falling behind"));
        const qsizetype got = rx.received.count("TALK flooder");
        qInfo("the slow gateway delivered %lld of %llu lines", got, flood.seq);
        QVERIFY(got < qsizetype(flood.seq));
        // Back to normal: lines come through again, with no second notice.
        gw[0]["ra"].write("after the flood\r\n");
        QVERIFY2(rx.waitFor("TALK ra 0002 \"after the flood\"\r\n"), x.log().right(3000).constData());
        rx.write("heard you\r\n");
        QVERIFY(gw[1]["rb"].waitFor(" \"heard you\"\r\n"));
        QCOMPARE(rx.received.count(kMissing), 1);
    }

    // Two NATS servers given; the first, which every gateway uses, dies for
    // good: the gateways go on through the second, users stay connected and
    // keep their names, and new logins are still made unique.
    void failoverToTheNextServer_data()
    {
        QTest::addColumn<bool>("loginAfter");
        QTest::newRow("users from before") << false;
        QTest::newRow("and a new login after") << true;
    }
    void failoverToTheNextServer()
    {
        QFETCH(bool, loginAfter);
        NatsTestServer second;
        QVERIFY(second.start());
        QVERIFY(startGateways({natsServer->url() + u',' + second.url()}));
        QTRY_VERIFY_WITH_TIMEOUT(peered(1), 10000);
        QVERIFY(gw[0].add("alice").login());
        QVERIFY(gw[1].add("bob").login());
        QVERIFY(gw[0]["alice"].waitFor("1002 JOIN bob "));
        const qint64 before = second.outMessages();

        natsServer->stop();
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(peered(1) && second.outMessages() > before + 2, 10000);
        qInfo("on the second server after %lld ms", qint64(clock.elapsed()));
        gw[1]["bob"].write("through the second\r\n");
        QVERIFY(gw[0]["alice"].waitFor(talk("bob", "through the second")));
        gw[0]["alice"].write("/w bob psst\r\n");
        // alice may be shown as the channel's operator: the flags are not the point here.
        QVERIFY2(gw[1]["bob"].waitFor("\"psst\"\r\n") && gw[1]["bob"].received.contains("1004 WHISPER alice "),
                 (gw[0]["alice"].received + gw[0].log.join(u'\n').toUtf8() + gw[1].log.join(u'\n').toUtf8()).constData());
        if (loginAfter) {
            QVERIFY(QTest::qWaitFor([&] { return gw[1].add("carol").login(); }, 10000));
            Client &again = gw[0].add("CAROL");
            again.write(loginBytes("CAROL", "pw"));
            QVERIFY(again.waitFor(welcome("CAROL#2")));
        }
        // Past the names' time to live: they were kept on the second server.
        QTest::qWait(kNameTtlMs * 2);
        for (Client *c : {&gw[0]["alice"], &gw[1]["bob"]}) {
            QCOMPARE(c->socket.state(), QAbstractSocket::ConnectedState);
            QVERIFY2(!c->received.contains("could not be kept"), c->received.constData());
        }
        Client &thief = gw[1].add("alice");
        thief.write(loginBytes("alice", "pw"));
        QVERIFY(thief.waitFor(welcome("alice#2")));
    }
};

QTEST_MAIN(tst_gateway_clusterfaults)
#include "tst_gateway_clusterfaults.moc"
