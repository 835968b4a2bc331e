// SPDX-License-Identifier: MIT
#include "ClusterMessage.h"

#include <QTest>
#include <QtEndian>

using Kind = ClusterMessage::Kind;

Q_DECLARE_METATYPE(ClusterMessage)

namespace {

ClusterMessage make(Kind kind, const QByteArray &channel = {}, const QByteArray &user = {},
                    const QByteArray &payload = {}, const QByteArray &target = {}, const QByteArray &flags = {})
{
    ClusterMessage m;
    m.kind = kind;
    m.incarnation = 0x0123456789ABCDEFull;
    m.seq = 42;
    m.origin = "gw-1";
    m.channel = channel;
    m.user = user;
    m.payload = payload;
    m.target = target;
    m.flags = flags;
    return m;
}

ClusterMessage channelLine()
{
    return make(Kind::ChannelLine, "Lobby", "alice", "1005 TALK alice 0010 \"hi there\"\r\n");
}

// A channel line with one thing changed.
template<typename Change>
ClusterMessage changed(Change change)
{
    ClusterMessage m = channelLine();
    change(m);
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
        QTest::newRow("notice without author")
                << make(Kind::ChannelLine, "Lobby", {}, "1018 INFO \"bob was kicked out of the channel by alice.\"\r\n");
        QTest::newRow("raw bytes, two lines")
                << make(Kind::ChannelLine, "\xe9t\xe9 \"caf\xe9\" <b>", "alice",
                        "1005 TALK alice 0010 \"\xff\xfe\x01\"\r\n1005 TALK alice 0010 \"2\"\r\n");
        QTest::newRow("whisper") << make(Kind::Whisper, {}, "alice", "1004 WHISPER alice 0010 \"psst\"\r\n", "Bob#2");
        QTest::newRow("join") << make(Kind::Join, "Lobby", "alice", {}, {}, "0002");
        QTest::newRow("ban") << make(Kind::Ban, "Lobby", "op", "1018 INFO \"troll was banned by op.\"\r\n", "troll");
        ClusterMessage snapshot = make(Kind::Snapshot, {}, {}, {}, {}, "3");
        for (int i = 0; i < 300; ++i)
            snapshot.members.append({"user" + QByteArray::number(i), "Channel " + QByteArray::number(i % 7), "0010"});
        QTest::newRow("snapshot of 300") << snapshot;
        QTest::newRow("empty snapshot") << make(Kind::Snapshot, {}, {}, {}, {}, "0");
        QTest::newRow("ban list request") << make(Kind::BanListRequest, "Lobby");
        ClusterMessage banList = make(Kind::BanList, "Lobby");
        banList.members = {{"troll", "Lobby", "0"}, {"spammer", "Lobby", "0"}};
        QTest::newRow("ban list") << banList;
        QTest::newRow("near the cap") << changed([](ClusterMessage &m) {
            m.payload = "1005 TALK alice 0010 \"" + QByteArray(60 * 1024, 'x') + "\"\r\n";
        });
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
        using M = ClusterMessage &;
        QTest::addColumn<ClusterMessage>("message");
        QTest::newRow("sequence 0") << changed([](M m) { m.seq = 0; });
        QTest::newRow("dot in node name") << changed([](M m) { m.origin = "gw.1"; });
        QTest::newRow("unfinished line")
                << changed([](M m) { m.payload = "1005 TALK alice 0010 \"a\"\r\n1019 ERROR \"forged\""; });
        QTest::newRow("bare line feed") << changed([](M m) { m.payload = "1005 TALK alice 0010 \"a\nb\"\r\n"; });
        QTest::newRow("line end in channel") << changed([](M m) { m.channel = "Lobby\r\n1018 INFO \"x\""; });
        QTest::newRow("space in user") << changed([](M m) { m.user = "al ice"; });
        QTest::newRow("over the cap") << changed([](M m) {
            m.payload = "1005 TALK alice 0010 \"" + QByteArray(64 * 1024, 'x') + "\"\r\n";
        });
        QTest::newRow("other version") << changed([](M m) { m.version = 2; });
        QTest::newRow("whisper to nobody") << make(Kind::Whisper, {}, "alice", "1004 WHISPER alice 0010 \"psst\"\r\n");
        QTest::newRow("heartbeat with channel") << make(Kind::Heartbeat, "Lobby");
        QTest::newRow("flags not digits") << make(Kind::Join, "Lobby", "alice", {}, {}, "00x2");
        QTest::newRow("snapshot without part count") << make(Kind::Snapshot);
        ClusterMessage m = make(Kind::Snapshot, {}, {}, {}, {}, "0");
        m.members.append({"alice", "", "0010"});
        QTest::newRow("member without channel") << m;
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
        QByteArray promise = encodeClusterMessage(make(Kind::Snapshot, {}, {}, {}, {}, "0"));
        promise[promise.size() - 2] = char(0xFF);
        promise[promise.size() - 1] = char(0xFF);
        QTest::newRow("member count without members") << promise << QByteArray("truncated");
        // A line end smuggled into the channel name.
        QByteArray smuggled = valid;
        smuggled.replace("Lobby", "Lo\r\nb");
        QTest::newRow("line end in channel") << smuggled << QByteArray("bad channel");
        // The payload's closing line end removed, the length fixed up.
        QByteArray unterminated = valid;
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
        ClusterMessage snapshot = make(Kind::Snapshot, {}, {}, {}, {}, "0");
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
