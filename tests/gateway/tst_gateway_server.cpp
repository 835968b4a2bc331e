// SPDX-License-Identifier: MIT
#include "Names.h"
#include "gateway/GatewayTestClient.h"

#include <QtTest>

using namespace GatewayTest;
using Replies = QHash<QByteArray, QByteArray>; // client names -> bytes the server sent each

class tst_gateway_server : public QObject
{
    Q_OBJECT

    Gateway gw;

private slots:
    void init()
    {
        GatewayLimits limits;
        limits.maxBansPerChannel = 1;
        QVERIFY(gw.start(limits));
    }

    void handshake_data()
    {
        QTest::addColumn<Lines>("chunks");
        QTest::addColumn<bool>("useAccounts");
        QTest::addColumn<QByteArray>("reply"); // a reply without a welcome must be followed by a close

        // "guest" is already logged in, so a second guest gets a suffix.
        const auto ok = [](const QByteArray &name) {
            return "1007 CHANNEL \"Lobby\"\r\n1001 USER guest 0002\r\n1001 USER " + name + " 0010\r\n" + welcome(name);
        };
        const auto row = [](const char *name, const QByteArray &login, const QByteArray &reply, bool accounts = false) {
            QTest::newRow(name) << Lines{login} << accounts << reply;
        };
        const QByteArray badAccount = info("Incorrect user name or password.");
        const QByteArray spaced = info("User names cannot contain spaces or control characters.");
        const QByteArray punctuation = "!#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";

        QTest::newRow("split everywhere") << Lines{"\x03", "\x04", "\r", "\n\r", "\nAnonym", "ous\r", "\n", "\r\n"}
                                          << false << ok("Anonymous");
        QTest::newRow("wrong mode byte") << Lines{"\x03", "\x01"} << false << info("Unsupported protocol.");
        row("text for blank lines", "\x03\x04hello\r\n", info("Bad login."));
        row("Guest, name taken", loginBytes("Guest", "any"), ok("Guest#2"));
        row("login + chat", loginBytes("bob", "pw") + "/x\r\n", ok("bob") + error("That is not a valid command."));
        row("named, no password", loginBytes("bob", ""), info("That user name needs a password."));
        row("account, colon in password", loginBytes("bob", "a:b"), ok("bob"), true);
        row("account, bad password", loginBytes("alice", "nope"), badAccount, true);
        row("no such account", loginBytes("eve", "secret"), badAccount, true);
        row("anonymous, accounts", loginBytes("guest", ""), ok("guest#2"), true);
        // Names are printable ASCII without space or double quote, so none can pass for another.
        row("empty name", loginBytes("", "pw"), info("Please enter a user name."));
        row("name of punctuation", loginBytes(punctuation, "pw"), ok(punctuation));
        row("name of 64 bytes", loginBytes(QByteArray(64, 'n'), "pw"), ok(QByteArray(64, 'n')));
        row("name of 65 bytes", loginBytes(QByteArray(65, 'n'), "pw"), info("That user name is too long."));
        row("space", loginBytes("a b", "pw"), spaced);
        row("delete", loginBytes("a\x7f", "pw"), spaced);
        row("double quote", loginBytes("a\"b", "pw"), info("User names cannot contain double quotes."));
        row("Cyrillic look-alike", loginBytes("\xd0\x90lice", "pw"),
            info("User names can only use plain ASCII letters, digits and punctuation."));
    }

    void handshake()
    {
        QFETCH(Lines, chunks);
        QFETCH(bool, useAccounts);
        QFETCH(QByteArray, reply);

        if (useAccounts)
            gw.server->setAccounts(*Accounts::parse("# users\r\nalice:secret\r\n\r\nbob:a:b\n"));
        QVERIFY(gw.add("guest").login(""));
        Client &client = gw.add();
        for (const QByteArray &chunk : chunks) {
            client.write(chunk);
            QTest::qWait(5); // lets the server read each chunk on its own
        }
        QVERIFY(client.waitFor(reply));
        const bool refused = !reply.contains("Welcome");
        if (refused)
            QTRY_COMPARE(client.socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(gw.server->userCount(), refused ? 1 : 2);
        QCOMPARE(client.received, reply);
    }

    // dave is alone in "The Void"; alice (operator), bob and carol are in Lobby, which
    // holds one ban at most. After the "sender:line" steps each client has received
    // exactly its replies.
    void chat_data()
    {
        QTest::addColumn<Lines>("steps");
        QTest::addColumn<Replies>("replies");
        const auto row = [](const char *name, const Lines &steps, const Replies &replies) {
            QTest::newRow(name) << steps << replies;
        };

        const QByteArray talked = talk("bob", "hello there") + talk("bob", " \"hi\" caf\xe9 ");
        const QByteArray shouts = "1023 EMOTE bob 0010 \"shouts\"\r\n", better = talk("bob", "better");
        const QByteArray leaves = "1003 LEAVE bob 0010\r\n", joins = "1002 JOIN bob 0010\r\n";
        const QByteArray inVoid = "1007 CHANNEL \"The Void\"\r\n1001 USER dave 0002\r\n1001 USER bob 0010\r\n";
        const QByteArray inLobby = "1007 CHANNEL \"Lobby\"\r\n1001 USER alice 0002\r\n1001 USER carol 0010\r\n";
        const QByteArray kicked = info("bob was kicked out of the channel by alice.");
        const QByteArray banned = info("bob was banned by alice (spam).");
        const QByteArray notOnline = error("That user is not logged on.");
        const QByteArray full(64 * 1024, 'x'), name64(64, 'c');

        row("talk to others", {"bob:hello there", "bob:", "bob: \"hi\" caf\xe9 "}, {{"alice", talked}, {"carol", talked}});
        row("emote to all", {"bob:/ME   shouts", "bob:/me"}, {{"alice", shouts}, {"bob", shouts}, {"carol", shouts}});
        row("whisper", {"bob:/w DAVE hi", "bob:/msg alice  a \"b\"  c "},
            {{"dave", "1004 WHISPER bob 0010 \"hi\"\r\n"}, {"alice", "1004 WHISPER bob 0010 \"a \"b\"  c \"\r\n"}});
        row("errors", {"bob:/w nobody hi", "bob:/w dave ", "bob:/whois DAVE ", "bob:/x", "bob:/kick carol",
                       "alice:/kick dave", "alice:/kick alice"},
            {{"bob", notOnline + error("Usage: /whisper <name> <message>")
                     + info("dave is using Vesk Chat in channel The Void.") + error("That is not a valid command.")
                     + error("You are not a channel operator.")},
             {"alice", error("That user is not in this channel.") + error("You cannot kick yourself.")}});
        // The command table: each command under every name, in any case, and who may use it.
        const QByteArray waves = "1023 EMOTE bob 0010 \"waves\"\r\n";
        row("every name of a command", {"bob:/EMOTE waves", "bob:/M dave a", "bob:/WhIsPeR dave b", "bob:/msg dave c",
                                        "bob:/", "bob:/whoisdave", "bob:/Squelch dave", "bob:/UNSQUELCH dave"},
            {{"alice", waves}, {"carol", waves},
             {"dave", "1004 WHISPER bob 0010 \"a\"\r\n1004 WHISPER bob 0010 \"b\"\r\n1004 WHISPER bob 0010 \"c\"\r\n"},
             {"bob", waves + error("That is not a valid command.") + error("That is not a valid command.")
                     + info("dave has been squelched.") + info("dave has been unsquelched.")}});
        row("only the operator kicks and bans", {"bob:/BAN carol spam", "bob:/kick", "alice:/Kick", "alice:/BAN"},
            {{"bob", error("You are not a channel operator.") + error("You are not a channel operator.")},
             {"alice", error("Usage: /kick <name> [reason]") + error("Usage: /ban <name> [reason]")}});
        // dave leaves The Void last, so bob becomes its operator.
        row("channel change", {"bob:/channel the void ", "bob:/join THE VOID", "dave:/join Lobby"},
            {{"bob", inVoid + inVoid + "1003 LEAVE dave 0002\r\n" + info("bob is now the channel operator.")},
             {"alice", leaves + "1002 JOIN dave 0010\r\n"}, {"carol", leaves + "1002 JOIN dave 0010\r\n"},
             {"dave", joins + inLobby + "1001 USER dave 0010\r\n"}});
        row("channel name of 64 bytes", {"alice:/join " + name64 + "c", "bob:/join " + name64},
            {{"alice", error("That channel name is too long.") + leaves}, {"carol", leaves},
             {"bob", "1007 CHANNEL \"" + name64 + "\"\r\n1001 USER bob 0002\r\n"}});
        const QByteArray banBob = kicked + leaves + joins + banned + leaves;
        row("kick, ban, ban list full", {"alice:/kick BOB ", "bob:/join lobby", "alice:/ban bob spam", "bob:/join lobby", "alice:/ban carol"},
            {{"alice", banBob + error("This channel's ban list is full.")}, {"carol", banBob}, {"dave", joins + leaves + joins},
             {"bob", kicked + inVoid + inLobby + "1001 USER bob 0010\r\n" + banned + inVoid
                     + error("You are banned from that channel.")}});
        // Once the last member has left, the channel and its bans are gone.
        row("bans forgotten", {"alice:/ban bob spam", "carol:/join Room", "alice:/join Room", "bob:/join Lobby"},
            {{"alice", banned + leaves + "1003 LEAVE carol 0010\r\n1007 CHANNEL \"Room\"\r\n1001 USER carol 0002\r\n1001 USER alice 0010\r\n"},
             {"carol", banned + leaves + "1007 CHANNEL \"Room\"\r\n1001 USER carol 0002\r\n1002 JOIN alice 0010\r\n"},
             {"bob", banned + inVoid + "1007 CHANNEL \"Lobby\"\r\n1001 USER bob 0002\r\n"}, {"dave", joins + leaves}});
        row("squelch", {"alice:/squelch BOB", "alice:/squelch nobody", "bob:can you hear me", "bob:/me shouts",
                        "bob:/w alice psst", "alice:/unsquelch bob", "bob:better"},
            {{"alice", info("bob has been squelched.") + notOnline + info("bob has been unsquelched.") + better},
             {"bob", shouts}, {"carol", talk("bob", "can you hear me") + shouts + better}});
        const QByteArray capped = talk("bob", full) + talk("bob", "after");
        row("64 KiB line cap", {"bob:" + full, "bob:" + full + 'y', "bob:after"},
            {{"alice", capped}, {"carol", capped}, {"bob", error("That line is too long.")}});
    }

    void chat()
    {
        QFETCH(Lines, steps);
        QFETCH(Replies, replies);

        QVERIFY(gw.logIn({"dave"}));
        gw.step("dave:/join The Void");
        QVERIFY(gw.logIn({"alice", "bob", "carol"}));
        for (Client &client : gw.clients)
            client.drain();
        Replies got;
        for (const QByteArray &step : steps)
            got[step.left(step.indexOf(':'))] += gw.step(step);
        for (Client &client : gw.clients)
            QCOMPARE(client.name + ": " + got[client.name] + client.drain(), client.name + ": " + replies[client.name]);
    }

    // The logged-in vandal also vanishes halfway through a line.
    void garbage()
    {
        QByteArray binary;
        for (int i = 0; i < 4096; ++i)
            binary.append(char(i * 239));
        static const char commands[] = "/w \xff\x00 \x01\r\n/kick \r\n/squelch \xff\r\n/ban\r\n/\r\n";

        QVERIFY(gw.logIn({"alice", "vandal"}));
        Client &alice = gw["alice"], &vandal = gw["vandal"], &early = gw.add(), &endless = gw.add();
        early.write(binary);
        endless.write("\x03\x04\r\n\r\n" + QByteArray(200000, 'n') + "\r\n");
        vandal.write(binary + "\r\n" + QByteArray(commands, sizeof commands - 1) + "/whois\r\nhalf a li");
        QVERIFY(vandal.waitFor(kDrainMarker));
        vandal.socket.abort();
        QVERIFY(alice.waitFor("1003 LEAVE vandal 0010\r\n"));
        QTRY_COMPARE(early.socket.state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(endless.socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(gw.server->userCount(), 1);
        QVERIFY(!alice.received.contains("half a li"));

        QVERIFY(gw.logIn({"bob"}));
        gw.step("bob:still here");
        QVERIFY(alice.waitFor(talk("bob", "still here")));
    }
};

QTEST_GUILESS_MAIN(tst_gateway_server)
#include "tst_gateway_server.moc"
