// SPDX-License-Identifier: MIT
// Sessions on the local gateway without a window: the chat log's earlier
// lines shown on logging in, and a paste sent line by line.
#include "log/ChatLog.h"
#include "outgoing/PasteQueue.h"
#include "support/LocalGateway.h"
#include "time/Clock.h"

#include <QTemporaryDir>

#include <memory>

namespace {

// "kind: body", with " (mention)" where marked.
QStringList record(const ShownLines &lines)
{
    static const char *const kinds[] = {"talk", "whisper", "emote", "info", "channel", "unparsed", "notice", "replayed"};
    QStringList out;
    for (const ShownLine &line : lines.lines())
        out << QStringLiteral("%1: %2%3").arg(kinds[int(line.kind)]).arg(lines.body(line)).arg(line.mentionsUser ? " (mention)" : "");
    return out;
}

struct Client {
    ChatSession session;
    ChatLog log;
    QStringList shown;
    explicit Client(const QString &logs)
    {
        log.setFolder(logs);
        session.addFilter(&log);
        QObject::connect(&session, &ChatSession::linesReady, &session, [this](const ShownLines &lines) { shown << record(lines); });
    }
    ~Client() { session.removeFilter(&log); }
    void login(quint16 port, const QString &name) { loginSession(session, port, name); }
};

} // namespace

class tst_earlierandpasted : public QObject
{
    Q_OBJECT

    LocalGateway gateway;
    std::unique_ptr<QTemporaryDir> logs;

    QByteArray readLog() const
    {
        QFile file(logs->path() + QStringLiteral("/127.0.0.1/2026-03-14.log"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void init()
    {
        QVERIFY(gateway.startFresh());
        logs = std::make_unique<QTemporaryDir>();
        setDateTimeClockForTesting([] { return QDateTime(QDate(2026, 3, 14), QTime(9, 5, 7)); });
    }
    void cleanup()
    {
        gateway.stop();
        setDateTimeClockForTesting({});
    }

    // Run 1 (alice) logs; run 2 (carol) sees it first, marked as replayed,
    // never as a mention, and does not log it again.
    void earlierLinesGoAroundTheFilters_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("first");
        const QString start = QStringLiteral("replayed: \u2014 earlier, from the chat log \u2014");
        const QString now = QStringLiteral("replayed: \u2014 now \u2014");
        const QString channel = QStringLiteral("replayed: [2026-03-14 09:05] Joining Channel Lobby.");
        const QString welcome = QStringLiteral("replayed: [2026-03-14 09:05] Welcome to the Vesk Chat local gateway, alice.");
        const QString talk = QStringLiteral("replayed: [2026-03-14 09:05] <alice> hi carol");
        const QString joining = QStringLiteral("channel: Joining Channel Lobby.");
        QTest::newRow("50") << 50 << QStringList{start, channel, welcome, talk, now, joining};
        QTest::newRow("1") << 1 << QStringList{start, talk, now, joining};
        QTest::newRow("none") << 0 << QStringList{joining};
    }
    void earlierLinesGoAroundTheFilters()
    {
        QFETCH(int, count);
        QFETCH(QStringList, first);
        {
            Client alice(logs->path());
            alice.login(gateway.port, QStringLiteral("alice"));
            QTRY_VERIFY(alice.shown.contains(QStringLiteral("info: Welcome to the Vesk Chat local gateway, alice.")));
            QCOMPARE(alice.session.sendTyped(QStringLiteral("hi carol")), ChatSession::TypedResult::Sent);
            alice.session.close();
        }
        const QByteArray run1 = readLog();
        QCOMPARE(run1.count('\n'), 3);

        Client carol(logs->path());
        carol.session.setReplay(logs->path(), count);
        carol.login(gateway.port, QStringLiteral("carol"));
        QTRY_VERIFY(carol.shown.contains(QStringLiteral("info: Welcome to the Vesk Chat local gateway, carol.")));
        // The log is read while the link comes up: the channel line may come first or last.
        const QString joining = first.takeLast();
        QTRY_COMPARE(carol.shown.filter(QStringLiteral("replayed:")), first);
        QVERIFY(carol.shown.contains(joining));
        carol.log.flush();
        const QByteArray after = readLog();
        QVERIFY(after.startsWith(run1));
        QCOMPARE(after.count("hi carol"), 1);
        QCOMPARE(after.count("\u2014"), 0);
        QVERIFY(after.endsWith("Welcome to the Vesk Chat local gateway, carol.\n"));
    }

    // A paste goes out paced, each line as typed: the other user gets them all, in order.
    void pasteReachesTheGatewayInOrder_data()
    {
        QTest::addColumn<QString>("paste");
        QTest::addColumn<QStringList>("received");
        QStringList twelve;
        QString text;
        for (int i = 1; i <= 12; ++i) {
            text += QStringLiteral("line %1\n").arg(i);
            twelve << QStringLiteral("talk: <alice> line %1").arg(i);
        }
        QTest::newRow("12 lines") << text << twelve;
        QTest::newRow("a pasted /quit is left out")
            << QStringLiteral("one\r\n/quit\r\ntwo") << QStringList{"talk: <alice> one", "talk: <alice> two"};
        QTest::newRow("an emote goes as typed")
            << QStringLiteral("/me waves\nbye") << QStringList{"emote: <alice waves> ", "talk: <alice> bye"};
    }
    void pasteReachesTheGatewayInOrder()
    {
        QFETCH(QString, paste);
        QFETCH(QStringList, received);
        Client alice(logs->path()), bob(logs->path());
        alice.login(gateway.port, QStringLiteral("alice"));
        QTRY_VERIFY(alice.shown.contains(QStringLiteral("info: Welcome to the Vesk Chat local gateway, alice.")));
        bob.login(gateway.port, QStringLiteral("bob"));
        QTRY_VERIFY(bob.shown.contains(QStringLiteral("info: Welcome to the Vesk Chat local gateway, bob.")));
        bob.shown.clear();
        alice.shown.clear();
        PasteQueue queue([&alice](const QString &line) { return alice.session.sendPasted(line); });
        queue.setPace(2, 20);
        queue.load(paste);
        queue.start();
        QTRY_VERIFY(!queue.isRunning());
        QCOMPARE(queue.sent(), received.size());
        QTRY_COMPARE(bob.shown, received);
        // Alice sees her own talk echoed as if typed.
        QTRY_VERIFY(alice.shown.contains(received.last()));
    }

    // Nothing is sent while the link is down, and no "Not connected" line per line either.
    void pasteWithoutALinkSendsNothing()
    {
        Client alice(logs->path());
        PasteQueue queue([&alice](const QString &line) { return alice.session.sendPasted(line); });
        queue.load(QStringLiteral("a\nb\nc"));
        queue.start();
        QTRY_VERIFY(!queue.isRunning());
        QCOMPARE(queue.sent(), 0);
        QVERIFY(alice.shown.isEmpty());
    }
};

QTEST_MAIN(tst_earlierandpasted)
#include "tst_earlierandpasted.moc"
