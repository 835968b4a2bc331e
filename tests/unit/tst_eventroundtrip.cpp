// SPDX-License-Identifier: MIT
// Every event line the gateway builds, read back as the client reads it:
// framed, decoded and cut into one typed event each.
#include "protocol/ChatEvent.h"
#include "protocol/EventBuilder.h"
#include "protocol/EventCodes.h"
#include "protocol/LineFramer.h"
#include "reception/TextCodec.h"

#include <QTest>

Q_DECLARE_METATYPE(ChatEvents)

namespace {

using Kind = ChatEvent::Kind;
using namespace Protocol;

const QByteArrayView kUser = EventFlags::User;
const QByteArrayView kOperator = EventFlags::Operator;

ChatEvents readAsClient(const QByteArray &wire, qsizetype cut)
{
    ChatEvents events;
    LineFramer framer;
    const auto onLine = [&](QByteArrayView line) {
        if (std::optional<ChatEvent> event = cutEvent(decodeLine(line) + u'\r'))
            events.append(*event);
    };
    framer.feed(QByteArrayView(wire).first(cut), onLine);
    framer.feed(QByteArrayView(wire).sliced(cut), onLine);
    return events;
}

} // namespace

class tst_eventroundtrip : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<ChatEvents>("events");

        const QByteArray punctuation = "!#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";
        const QByteArray longName(64, 'n');
        const QByteArray controls("\x01\x07\x1b[2J\x7f\0end", 11);
        const QString controlsText = QString::fromLatin1(controls);
        const QByteArray utf8 = "caf\xc3\xa9 \xe2\x98\x95 \xf0\x9f\x98\x80 \xe2\x80\xae" "drow";
        const QString utf8Text = QString::fromUtf8(utf8);

        QTest::newRow("talk") << talkLine("bob", kUser, "hello there") << ChatEvents{{Kind::Talk, "bob", "hello there"}};
        QTest::newRow("talk, operator") << talkLine("op", kOperator, "hi") << ChatEvents{{Kind::Talk, "op", "hi"}};
        QTest::newRow("talk, quotes in the text") << talkLine("amy", kUser, "say \"hi\" now")
                                                  << ChatEvents{{Kind::Talk, "amy", "say \"hi\" now"}};
        QTest::newRow("talk, only a quote") << talkLine("amy", kUser, "\"") << ChatEvents{{Kind::Talk, "amy", "\""}};
        QTest::newRow("talk, spaces kept") << talkLine("amy", kUser, "  two  spaces  ")
                                           << ChatEvents{{Kind::Talk, "amy", "  two  spaces  "}};
        QTest::newRow("talk, empty text") << talkLine("bob", kUser, "") << ChatEvents{{Kind::Talk, "bob", ""}};
        QTest::newRow("talk, flags in the text") << talkLine("bob", kUser, "a 0012 b 0002 ")
                                                 << ChatEvents{{Kind::Talk, "bob", "a 0012 b 0002 "}};
        QTest::newRow("talk, UTF-8 and a direction override") << talkLine("bob", kUser, utf8)
                                                              << ChatEvents{{Kind::Talk, "bob", utf8Text}};
        QTest::newRow("talk, Windows-1252") << talkLine("bob", kUser, "caf\xe9 \x80")
                                            << ChatEvents{{Kind::Talk, "bob", QStringLiteral("caf\u00e9 \u20ac")}};
        QTest::newRow("talk, control bytes") << talkLine("bob", kUser, controls)
                                             << ChatEvents{{Kind::Talk, "bob", controlsText}};
        QTest::newRow("talk, name of punctuation") << talkLine(punctuation, kUser, "x")
                                                   << ChatEvents{{Kind::Talk, QString::fromLatin1(punctuation), "x"}};
        QTest::newRow("talk, name that looks like flags") << talkLine("x0010y", kOperator, "0000")
                                                          << ChatEvents{{Kind::Talk, "x0010y", "0000"}};
        QTest::newRow("talk, longest name") << talkLine(longName, kUser, "x")
                                            << ChatEvents{{Kind::Talk, QString::fromLatin1(longName), "x"}};
        QTest::newRow("talk, longest line") << talkLine("bob", kUser, QByteArray(LineFramer::kMaxLineBytes - 22, 't'))
                                            << ChatEvents{{Kind::Talk, "bob", QString(LineFramer::kMaxLineBytes - 22, u't')}};
        QTest::newRow("emote") << emoteLine("bob", kUser, "waves \"hi\"") << ChatEvents{{Kind::Emote, "bob", "waves \"hi\""}};
        QTest::newRow("emote, UTF-8") << emoteLine("bob", kOperator, utf8) << ChatEvents{{Kind::Emote, "bob", utf8Text}};
        QTest::newRow("whisper") << whisperLine("bob", kUser, "psst") << ChatEvents{{Kind::Whisper, "bob", "psst"}};
        QTest::newRow("whisper, quotes and spaces") << whisperLine("amy", kOperator, " say \"hi\" now ")
                                                    << ChatEvents{{Kind::Whisper, "amy", " say \"hi\" now "}};
        QTest::newRow("whisper, control bytes") << whisperLine("amy", kUser, controls)
                                                << ChatEvents{{Kind::Whisper, "amy", controlsText}};
        QTest::newRow("info") << infoLine("Welcome aboard.") << ChatEvents{{Kind::Info, {}, "Welcome aboard."}};
        QTest::newRow("info, quotes inside") << infoLine("bob was kicked (\"spam\", \"flood\").")
                                             << ChatEvents{{Kind::Info, {}, "bob was kicked (\"spam\", \"flood\")."}};
        QTest::newRow("info, empty") << infoLine("") << ChatEvents{{Kind::Info, {}, ""}};
        QTest::newRow("info, UTF-8 and control bytes") << infoLine(utf8 + controls)
                                                       << ChatEvents{{Kind::Info, {}, utf8Text + controlsText}};
        QTest::newRow("channel") << channelLine("Lobby") << ChatEvents{{Kind::Channel, "Lobby", {}}};
        QTest::newRow("channel, spaces and quotes") << channelLine(" Public \"Chat\" 1 ")
                                                    << ChatEvents{{Kind::Channel, " Public \"Chat\" 1 ", {}}};
        QTest::newRow("channel, empty") << channelLine("") << ChatEvents{{Kind::Channel, "", {}}};
        QTest::newRow("channel, UTF-8") << channelLine(utf8) << ChatEvents{{Kind::Channel, utf8Text, {}}};
        QTest::newRow("channel, control bytes") << channelLine(controls) << ChatEvents{{Kind::Channel, controlsText, {}}};
        QTest::newRow("user present") << userLine("bob", kUser) << ChatEvents{{Kind::UserPresent, "bob ", {}}};
        QTest::newRow("user present, operator") << userLine("op", kOperator) << ChatEvents{{Kind::UserPresent, "op ", {}}};
        QTest::newRow("user joined") << joinLine(punctuation, kUser)
                                     << ChatEvents{{Kind::UserJoined, QString::fromLatin1(punctuation) + u' ', {}}};
        QTest::newRow("user joined, name that looks like flags") << joinLine("x0010y", kOperator)
                                                                 << ChatEvents{{Kind::UserJoined, "x0010y ", {}}};
        QTest::newRow("user left") << leaveLine("bob", kUser) << ChatEvents{{Kind::UserLeft, "bob", {}}};
        QTest::newRow("user left, longest name") << leaveLine(longName, kOperator)
                                                 << ChatEvents{{Kind::UserLeft, QString::fromLatin1(longName), {}}};
        QTest::newRow("error: nothing shown") << errorLine("That is not a valid command.") << ChatEvents{};
        // What a channel change writes in one go, then a line in it.
        QTest::newRow("channel state") << channelLine("Room") + userLine("carol", kOperator) + userLine("alice", kUser)
                                                  + joinLine("bob", kUser) + talkLine("bob", kUser, "hi") + leaveLine("bob", kUser)
                                       << ChatEvents{{Kind::Channel, "Room", {}}, {Kind::UserPresent, "carol ", {}},
                                                     {Kind::UserPresent, "alice ", {}}, {Kind::UserJoined, "bob ", {}},
                                                     {Kind::Talk, "bob", "hi"}, {Kind::UserLeft, "bob", {}}};
    }

    // Wherever TCP cuts the bytes, the same events come out.
    void roundTrip()
    {
        QFETCH(QByteArray, wire);
        QFETCH(ChatEvents, events);
        QVERIFY(wire.endsWith("\r\n"));
        for (qsizetype cut = 0; cut <= wire.size(); cut += wire.size() > 1000 ? 997 : 1)
            QVERIFY2(readAsClient(wire, cut) == events, qPrintable(QStringLiteral("cut at byte %1").arg(cut)));
    }

    // The heads the gateway writes carry the codes the client's table knows.
    void codes_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("code");
        QTest::newRow("user") << userLine("a", kUser) << QByteArray("1001");
        QTest::newRow("join") << joinLine("a", kUser) << QByteArray("1002");
        QTest::newRow("leave") << leaveLine("a", kUser) << QByteArray("1003");
        QTest::newRow("whisper") << whisperLine("a", kUser, "t") << QByteArray("1004");
        QTest::newRow("talk") << talkLine("a", kUser, "t") << QByteArray("1005");
        QTest::newRow("channel") << channelLine("c") << QByteArray("1007");
        QTest::newRow("info") << infoLine("t") << QByteArray("1018");
        QTest::newRow("error") << errorLine("t") << QByteArray("1019");
        QTest::newRow("emote") << emoteLine("a", kUser, "t") << QByteArray("1023");
    }

    void codes()
    {
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, code);
        QCOMPARE(wire.left(5), code + ' ');
    }
};

QTEST_GUILESS_MAIN(tst_eventroundtrip)
#include "tst_eventroundtrip.moc"
