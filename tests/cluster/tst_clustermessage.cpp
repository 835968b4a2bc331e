// SPDX-License-Identifier: MIT
#include "ClusterMessage.h"

#include <QTest>
#include <QtEndian>

using Kind = ClusterMessage::Kind;

Q_DECLARE_METATYPE(ClusterMessage)

namespace {

ClusterMessage make(Kind kind)
{
    ClusterMessage m;
    m.kind = kind;
    m.incarnation = 0x0123456789ABCDEFull;
    m.seq = 42;
    m.origin = "gw-1";
    return m;
}

ClusterMessage channelLine()
{
    ClusterMessage m = make(Kind::ChannelLine);
    m.channel = "Lobby";
    m.user = "alice";
    m.payload = "1005 TALK alice 0010 \"hi there\"\r\n";
    return m;
}

// Bytes of a valid message with one byte changed.
QByteArray patched(qsizetype at, char value)
{
    QByteArray bytes = encodeClusterMessage(channelLine());
    bytes[at] = value;
    return bytes;
}

} // namespace

class TestClusterMessage : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<ClusterMessage>("message");
        QTest::newRow("channel line") << channelLine();
        ClusterMessage info = channelLine();
        info.user.clear();
        info.payload = "1018 INFO \"bob was kicked out of the channel by alice.\"\r\n";
        QTest::newRow("notice without author") << info;
        ClusterMessage raw = channelLine();
        raw.channel = QByteArray("\xe9t\xe9 \"caf\xe9\" <b>");
        raw.payload = QByteArray("1005 TALK alice 0010 \"\xff\xfe\x01\"\r\n1005 TALK alice 0010 \"2\"\r\n");
        QTest::newRow("raw bytes, two lines") << raw;
        ClusterMessage whisper = make(Kind::Whisper);
        whisper.user = "alice";
        whisper.target = "Bob#2";
        whisper.payload = "1004 WHISPER alice 0010 \"psst\"\r\n";
        QTest::newRow("whisper") << whisper;
        ClusterMessage join = make(Kind::Join);
        join.user = "alice";
        join.channel = "Lobby";
        join.flags = "0002";
        QTest::newRow("join") << join;
        ClusterMessage ban = make(Kind::Ban);
        ban.channel = "Lobby";
        ban.user = "op";
        ban.target = "troll";
        ban.payload = "1018 INFO \"troll was banned by op.\"\r\n";
        QTest::newRow("ban") << ban;
        ClusterMessage snapshot = make(Kind::Snapshot);
        snapshot.flags = "3";
        for (int i = 0; i < 300; ++i)
            snapshot.members.append({"user" + QByteArray::number(i), "Channel " + QByteArray::number(i % 7), "0010"});
        QTest::newRow("snapshot of 300") << snapshot;
        ClusterMessage empty = make(Kind::Snapshot);
        empty.flags = "0";
        QTest::newRow("empty snapshot") << empty;
        ClusterMessage banRequest = make(Kind::BanListRequest);
        banRequest.channel = "Lobby";
        QTest::newRow("ban list request") << banRequest;
        ClusterMessage banList = make(Kind::BanList);
        banList.channel = "Lobby";
        banList.members = {{"troll", "Lobby", "0"}, {"spammer", "Lobby", "0"}};
        QTest::newRow("ban list") << banList;
        ClusterMessage big = channelLine();
        big.payload = "1005 TALK alice 0010 \"" + QByteArray(60 * 1024, 'x') + "\"\r\n";
        QTest::newRow("near the cap") << big;
        ClusterMessage extremes = make(Kind::Heartbeat);
        extremes.incarnation = ~0ull;
        extremes.seq = ~0ull;
        extremes.origin = QByteArray(64, 'n');
        QTest::newRow("largest numbers, longest node") << extremes;
    }
    void roundTrip()
    {
        QFETCH(ClusterMessage, message);
        const QByteArray bytes = encodeClusterMessage(message);
        QVERIFY(!bytes.isEmpty());
        const ClusterDecodeResult decoded = decodeClusterMessage(bytes);
        QVERIFY2(decoded.message, decoded.problem.constData());
        QCOMPARE(*decoded.message, message);
    }

    // What a sender must never produce, so that no peer ever has to reject it.
    void encodeRefuses_data()
    {
        QTest::addColumn<ClusterMessage>("message");
        ClusterMessage m = channelLine();
        m.seq = 0;
        QTest::newRow("sequence 0") << m;
        m = channelLine();
        m.origin = "gw.1";
        QTest::newRow("dot in node name") << m;
        m = channelLine();
        m.payload = "1005 TALK alice 0010 \"a\"\r\n1019 ERROR \"forged\"";
        QTest::newRow("unfinished line") << m;
        m = channelLine();
        m.payload = "1005 TALK alice 0010 \"a\nb\"\r\n";
        QTest::newRow("bare line feed") << m;
        m = channelLine();
        m.channel = "Lobby\r\n1018 INFO \"x\"";
        QTest::newRow("line end in channel") << m;
        m = channelLine();
        m.user = "al ice";
        QTest::newRow("space in user") << m;
        m = channelLine();
        m.payload = "1005 TALK alice 0010 \"" + QByteArray(64 * 1024, 'x') + "\"\r\n";
        QTest::newRow("over the cap") << m;
        m = make(Kind::Whisper);
        m.user = "alice";
        m.payload = "1004 WHISPER alice 0010 \"psst\"\r\n";
        QTest::newRow("whisper to nobody") << m;
        m = make(Kind::Heartbeat);
        m.channel = "Lobby";
        QTest::newRow("heartbeat with channel") << m;
        m = make(Kind::Join);
        m.user = "alice";
        m.channel = "Lobby";
        m.flags = "00x2";
        QTest::newRow("flags not digits") << m;
        m = make(Kind::Snapshot);
        QTest::newRow("snapshot without part count") << m;
        m.flags = "0";
        m.members.append({"alice", "", "0010"});
        QTest::newRow("member without channel") << m;
        m = channelLine();
        m.version = 2;
        QTest::newRow("other version") << m;
    }
    void encodeRefuses()
    {
        QFETCH(ClusterMessage, message);
        QVERIFY(encodeClusterMessage(message).isEmpty());
    }

    void hostileInput_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("problem");
        const QByteArray valid = encodeClusterMessage(channelLine());
        QTest::newRow("empty") << QByteArray() << QByteArray("not a gateway message");
        QTest::newRow("text") << QByteArray("PUB vesk.chan.x 5\r\nhello") << QByteArray("not a gateway message");
        QTest::newRow("magic only") << QByteArray("VKC") << QByteArray("truncated");
        QTest::newRow("version 2") << patched(3, 2) << QByteArray("unknown version 2");
        QTest::newRow("kind 0") << patched(4, 0) << QByteArray("unknown kind 0");
        QTest::newRow("kind 14") << patched(4, char(14)) << QByteArray("unknown kind 14");
        QTest::newRow("cut short") << valid.chopped(1) << QByteArray("truncated");
        QTest::newRow("trailing byte") << valid + 'x' << QByteArray("trailing bytes");
        QTest::newRow("oversized")
                << valid + QByteArray(ClusterMessage::kMaxSize, 'x')
                << "oversized: " + QByteArray::number(valid.size() + ClusterMessage::kMaxSize) + " bytes";
        // Origin length byte at 21: longer than what follows.
        QTest::newRow("origin length past the end") << patched(21, char(0xFF)) << QByteArray("truncated");
        // Sequence number (bytes 13..20) set to 0.
        QByteArray zeroSeq = valid;
        for (int i = 13; i < 21; ++i)
            zeroSeq[i] = 0;
        QTest::newRow("sequence 0") << zeroSeq << QByteArray("sequence number 0");
        // The payload length claims 4 GiB.
        QByteArray hugePayload = valid;
        const qsizetype payloadLength = 22 + 4 + 6 + 6 + 1 + 1;
        qToBigEndian<quint32>(0xFFFFFFFFu, hugePayload.data() + payloadLength);
        QTest::newRow("payload length 4 GiB") << hugePayload << QByteArray("truncated");
        // A snapshot that promises 65535 members and brings none.
        ClusterMessage snapshot = make(Kind::Snapshot);
        snapshot.flags = "0";
        QByteArray promise = encodeClusterMessage(snapshot);
        promise[promise.size() - 2] = char(0xFF);
        promise[promise.size() - 1] = char(0xFF);
        QTest::newRow("member count without members") << promise << QByteArray("truncated");
        // A line end smuggled into the channel name.
        QByteArray smuggled = valid;
        smuggled.replace("Lobby", "Lo\r\nb");
        QTest::newRow("line end in channel") << smuggled << QByteArray("bad channel");
        // The payload's closing line end removed, the length fixed up.
        ClusterMessage open = channelLine();
        QByteArray unterminated = encodeClusterMessage(open);
        unterminated.replace("\"\r\n", "\"xx");
        QTest::newRow("payload without line end") << unterminated << QByteArray("bad payload");
        QByteArray badNode = valid;
        badNode.replace("gw-1", "gw*1");
        QTest::newRow("wildcard in node") << badNode
                                          << QByteArray("origin: node names use only letters, digits, '_' and '-'");
    }
    void hostileInput()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, problem);
        const ClusterDecodeResult decoded = decodeClusterMessage(bytes);
        QVERIFY(!decoded.message);
        QCOMPARE(decoded.problem, problem);
    }

    // Every way of cutting a valid message short is rejected, none crashes.
    void everyTruncationRejected()
    {
        ClusterMessage snapshot = make(Kind::Snapshot);
        snapshot.flags = "0";
        snapshot.members.append({"alice", "Lobby", "0002"});
        snapshot.members.append({"bob", "The Void", "0010"});
        for (const ClusterMessage &message : {channelLine(), snapshot}) {
            const QByteArray bytes = encodeClusterMessage(message);
            for (qsizetype n = 0; n < bytes.size(); ++n)
                QVERIFY2(!decodeClusterMessage(bytes.first(n)).message, QByteArray::number(n).constData());
        }
    }

    void nodeNames_data()
    {
        QTest::addColumn<QByteArray>("node");
        QTest::addColumn<bool>("ok");
        QTest::newRow("dash underscore") << QByteArray("eu-west_2") << true;
        QTest::newRow("64") << QByteArray(64, 'a') << true;
        QTest::newRow("65") << QByteArray(65, 'a') << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("dot splits a subject") << QByteArray("a.b") << false;
    }
    void nodeNames()
    {
        QFETCH(QByteArray, node);
        QFETCH(bool, ok);
        QCOMPARE(nodeNameProblem(node).isEmpty(), ok);
    }
};

QTEST_GUILESS_MAIN(TestClusterMessage)
#include "tst_clustermessage.moc"
