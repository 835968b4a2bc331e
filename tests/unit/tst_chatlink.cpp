// SPDX-License-Identifier: MIT
// The link against a local server that writes raw bytes at it: events in
// order, slices, connection failures and what goes out on the wire. How bytes
// are cut into lines and decoded is checked in tst_lineframer and tst_textcodec.
#include "session/ChatLink.h"
#include "support/TestCore.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTimer>

using Kind = ChatEvent::Kind;
Q_DECLARE_METATYPE(ChatEvents)

namespace {

const QByteArray kMarker = "1018 kkkk \"marker\"\r\n";
const ChatEvent kMarkerEvent{Kind::Info, {}, QStringLiteral("marker")};

ChatEvent ev(Kind kind, const QString &name, const QString &text = "")
{
    return {kind, name, text};
}

ChatEvent unparseable(Kind as, const char *raw)
{
    return {Kind::Unparseable, {}, QString::fromUtf8(raw), as};
}

struct Session {
    FakeServer server;
    ChatLink link;
    ChatEvents events;
    int slices = 0;

    Session()
    {
        QObject::connect(&link, &ChatLink::eventsReceived, [this](const ChatEvents &slice) {
            events += slice;
            ++slices;
        });
    }
    bool open()
    {
        link.connectTo(QStringLiteral("127.0.0.1"), server.port());
        return QTest::qWaitFor([this] { return link.state() == QAbstractSocket::ConnectedState; })
            && server.waitForClient();
    }
    // Sends bytes and then the marker line; gives the events before the marker.
    ChatEvents handle(const QByteArray &bytes)
    {
        events.clear();
        server.send(bytes + kMarker);
        if (!QTest::qWaitFor([this] { return !events.isEmpty() && events.last() == kMarkerEvent; }, 60000))
            return {ev(Kind::Info, "", "(marker never arrived)")};
        return events.mid(0, events.size() - 1);
    }
};

} // namespace

class tst_chatlink : public QObject
{
    Q_OBJECT

private slots:
    void events_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<ChatEvents>("expected");
        auto row = [](const char *name, const QByteArray &bytes, const ChatEvents &events = {}) {
            QTest::newRow(name) << bytes << events;
        };
        row("talk", "1005 kkkk bob 0010 \"hello there\"\r\n", {ev(Kind::Talk, "bob", "hello there")});
        row("talk, quotes in text", "1005 kkkk amy 0002 \"say \"hi\" now\"\r\n",
            {ev(Kind::Talk, "amy", "say \"hi\" now")});
        row("flag value in the name", "1005 kkkk x0010y 0000 \"hi\"\r\n", {ev(Kind::Talk, "x0010y", "hi")});
        row("talk, empty text", "1005 kkkk bob 0010 \"\"\r\n", {ev(Kind::Talk, "bob", "")});
        row("whisper", "1004 kkkkkkk bob 0010 \"psst\"\r\n", {ev(Kind::Whisper, "bob", "psst")});
        row("emote", "1023 kkkkk bob 0010 \"waves\"\r\n", {ev(Kind::Emote, "bob", "waves")});
        row("info", "1018 kkkk \"Welcome aboard.\"\r\n", {ev(Kind::Info, "", "Welcome aboard.")});
        row("info, three quoted parts", "1018 kkkk \"a\" b \"c\"\r\n", {ev(Kind::Info, "", "a\" b \"c")});
        row("info without quotes", "1018 kkkk no quotes\r\n", {ev(Kind::Info, "", "")});
        row("channel", "1007 kkkkkkk \"Public Chat 1\"\r\n", {ev(Kind::Channel, "Public Chat 1")});
        row("channel with empty quotes", "1007 kkkkkkk \"\"\r\n", {ev(Kind::Channel, "")});
        row("user", "1001 kkkk amy 0000 [abcd]\r\n", {ev(Kind::UserPresent, "amy ")});
        row("join", "1002 kkkk x0010y 0002\r\n", {ev(Kind::UserJoined, "x0010y ")});
        row("leave", "1003 kkkkk bob 0010\r\n", {ev(Kind::UserLeft, "bob")});
        row("windows-1252", "1005 kkkk bob 0010 \"\x93hi\x94\"\r\n",
            {ev(Kind::Talk, "bob", "\u201Chi\u201D")});
        row("uncut talk: code only", "1005\r\n", {unparseable(Kind::Talk, "1005")});
        row("uncut whisper: no text", "1004 kkkkkkk bob 0010\r\n", {unparseable(Kind::Whisper, "1004 kkkkkkk bob 0010")});
        row("uncut emote: quote only", "1023 kkkkk bob 0010 \"\r\n",
            {unparseable(Kind::Emote, "1023 kkkkk bob 0010 \"")});
        for (const char *ignored : {"1019 kkkk bob 0010 \"hi\"", "2000 NULL", "2010 NAME bob", " 1005 kkkk bob 0010 \"hi\"",
                                    "1006 kkkk bob 0010 \"hi\"", "100", "", "1001 kkkk bob", "1003 kkkkk bob", "1007"})
            row(qPrintable(QStringLiteral("nothing for \"%1\"").arg(QLatin1String(ignored))), QByteArray(ignored) + "\r\n");
    }

    void events()
    {
        QFETCH(QByteArray, received);
        QFETCH(ChatEvents, expected);
        Session s;
        QVERIFY(s.open());
        QCOMPARE(s.handle(received), expected);
    }

    // A line cut across arrivals is one line; what an earlier link left unfinished is forgotten.
    void linesSpanArrivals()
    {
        Session s;
        s.link.feedBytesForTesting("1018 k \"left over from an earlier link");
        QVERIFY(s.open());
        s.server.send("1018 kkkk \"News\"\r\n1005 kk");
        QTRY_COMPARE(s.events, (ChatEvents{ev(Kind::Info, "", "News")}));
        QCOMPARE(s.handle("kk amy 0010 \"yo\"\r\n"), (ChatEvents{ev(Kind::Talk, "amy", "yo")}));
    }

    // A flood comes in several slices, in order, with the event loop running between them.
    void floodKeepsOrderAcrossSlices()
    {
        constexpr int kLines = 60000;
        QByteArray flood;
        ChatEvents expected;
        for (int i = 0; i < kLines; ++i) {
            flood += "1005 kkkk bob 0010 \"line " + QByteArray::number(i) + "\"\r\n";
            expected += ev(Kind::Talk, "bob", QString("line %1").arg(i));
        }
        Session s;
        QVERIFY(s.open());
        int ticksMidFlood = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ticksMidFlood += s.events.size() > 0 && s.events.size() < kLines; });
        ticker.start(0);
        QCOMPARE(s.handle(flood), expected);
        QVERIFY2(s.slices > 3 && ticksMidFlood > 3, qPrintable(QStringLiteral("%1 %2").arg(s.slices).arg(ticksMidFlood)));
    }

    // Only a connection that never came up is a failed connection, reported once.
    void failuresAndLosses()
    {
        Session s;
        QSignalSpy failed(&s.link, &ChatLink::connectFailed);
        QSignalSpy lost(&s.link, &ChatLink::linkLost);
        QVERIFY(s.open());
        s.server.dropClient();
        QTRY_COMPARE(lost.size(), 1);
        QCOMPARE(lost.at(0).at(0).toString(), QStringLiteral("the server closed the connection"));
        QCOMPARE(failed.size(), 0);

        const quint16 closedPort = s.server.port();
        s.server.close();
        s.link.connectTo(QStringLiteral("127.0.0.1"), closedPort);
        QTRY_COMPARE(failed.size(), 1);
        QVERIFY(failed.at(0).at(0).toString().contains(QStringLiteral("refused")));
        QTest::qWait(50);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(lost.size(), 1);
    }

    // A line is sent only when it reaches the server: when the link is up, or
    // while it is being made with the login queued ahead of it.
    void sendsOnlyWhereTheLineArrives()
    {
        Session s;
        QVERIFY(!s.link.canSend());
        QVERIFY(!s.link.writeHandshake(QStringLiteral("bob"), QStringLiteral("pw")));
        s.link.connectTo(QStringLiteral("127.0.0.1"), s.server.port());
        QVERIFY(s.link.isAlive());
        QVERIFY(!s.link.sendLine(QStringLiteral("too early")));
        QVERIFY(s.link.writeHandshake(QStringLiteral("Zo\u00EB"), QStringLiteral("\u20AC")));
        QVERIFY(s.link.sendLine(QStringLiteral("caf\u00E9 \u4E2D")));
        QTRY_COMPARE(s.server.received(), QByteArray("\x03\x04\r\n\r\nZo\xEB\r\n\x80\r\ncaf\xE9 ?\r\n"));
        s.link.close();
        QVERIFY(!s.link.isAlive() && !s.link.canSend());
    }
};

QTEST_MAIN(tst_chatlink)
#include "tst_chatlink.moc"
