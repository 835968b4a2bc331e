// SPDX-License-Identifier: MIT
#include "GatewayServer.h"
#include "Protocol.h"
#include "gateway/GatewayTestClient.h"

#include <QtTest>

#include <deque>
#include <memory>

using namespace GatewayTest;

class tst_gateway_server : public QObject
{
    Q_OBJECT

    std::unique_ptr<GatewayServer> m_server;
    std::deque<Client> m_clients;

    Client &newClient(const QByteArray &name = {}) { return m_clients.emplace_back(m_server->serverPort(), name); }

private slots:
    void init()
    {
        m_clients.clear();
        m_server = std::make_unique<GatewayServer>();
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
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
        const auto row = [](const char *name, const Lines &chunks, const QByteArray &reply, bool accounts = false) {
            QTest::newRow(name) << chunks << accounts << reply;
        };
        const QByteArray badAccount = info("Incorrect user name or password.");

        row("split everywhere", {"\x03", "\x04", "\r", "\n\r", "\nAnonym", "ous\r", "\n", "\r\n"}, ok("Anonymous"));
        row("Guest, name taken", {loginBytes("Guest", "any")}, ok("Guest#2"));
        row("login + chat", {loginBytes("bob", "pw") + "/x\r\n"}, ok("bob") + error("That is not a valid command."));
        row("named, no password", {loginBytes("bob", "")}, info("That user name needs a password."));
        row("empty name", {loginBytes("", "pw")}, info("Please enter a user name."));
        row("spaced name", {loginBytes("a b", "pw")}, info("User names cannot contain spaces or control characters."));
        row("wrong mode byte", {"\x03", "\x01"}, info("Unsupported protocol."));
        row("text for blank lines", {"\x03\x04hello\r\n"}, info("Bad login."));
        row("account, colon in password", {loginBytes("bob", "a:b")}, ok("bob"), true);
        row("account, bad password", {loginBytes("alice", "nope")}, badAccount, true);
        row("no such account", {loginBytes("eve", "secret")}, badAccount, true);
        row("anonymous, accounts", {loginBytes("guest", "")}, ok("guest#2"), true);

        // Names are printable ASCII without space or double quote, so none can pass for another.
        const QByteArray notAscii = info("User names can only use plain ASCII letters, digits and punctuation.");
        const QByteArray punctuation = "!#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";
        row("name taken, other case", {loginBytes("GUEST", "pw")}, ok("GUEST#2"));
        row("name of punctuation", {loginBytes(punctuation, "pw")}, ok(punctuation));
        row("name of 64 bytes", {loginBytes(QByteArray(64, 'n'), "pw")}, ok(QByteArray(64, 'n')));
        row("name of 65 bytes", {loginBytes(QByteArray(65, 'n'), "pw")}, info("That user name is too long."));
        row("Cyrillic look-alike", {loginBytes("\xd0\x90lice", "pw")}, notAscii);
        row("right-to-left override", {loginBytes("\xe2\x80\xae" "ecila", "pw")}, notAscii);
        row("Windows-1252 letter", {loginBytes("J\xf6rg", "pw")}, notAscii);
        row("double quote", {loginBytes("a\"b", "pw")}, info("User names cannot contain double quotes."));
        row("tab", {loginBytes("a\tb", "pw")}, info("User names cannot contain spaces or control characters."));
        row("delete", {loginBytes("a\x7f", "pw")}, info("User names cannot contain spaces or control characters."));
    }

    void handshake()
    {
        QFETCH(Lines, chunks);
        QFETCH(bool, useAccounts);
        QFETCH(QByteArray, reply);

        if (useAccounts)
            m_server->setAccounts(*Protocol::parseAccounts("# users\r\nalice:secret\r\n\r\nbob:a:b\n"));
        QVERIFY(newClient("guest").login(""));
        Client &client = newClient();
        for (const QByteArray &chunk : chunks) {
            client.write(chunk);
            QTest::qWait(5); // lets the server read each chunk on its own
        }
        QVERIFY(client.waitFor(reply));
        const bool refused = !reply.contains("Welcome");
        if (refused)
            QTRY_COMPARE(client.socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(m_server->userCount(), refused ? 1 : 2);
        QCOMPARE(client.received, reply);
    }

    // dave is alone in "The Void"; alice (operator), bob and carol are in Lobby. After the
    // "sender:line" steps each client has received exactly its replies (a key may list several).
    void chat_data()
    {
        QTest::addColumn<Lines>("steps");
        QTest::addColumn<Replies>("replies");
        const auto row = [](const char *name, const Lines &steps, const Replies &replies) {
            QTest::newRow(name) << steps << replies;
        };

        const QByteArray talk = "1005 TALK bob 0010 \"hello there\"\r\n1005 TALK bob 0010 \" \"hi\" caf\xe9 \"\r\n";
        const QByteArray shouts = "1023 EMOTE bob 0010 \"shouts\"\r\n", better = "1005 TALK bob 0010 \"better\"\r\n";
        const QByteArray leaves = "1003 LEAVE bob 0010\r\n", joins = "1002 JOIN bob 0010\r\n";
        const QByteArray inVoid = "1007 CHANNEL \"The Void\"\r\n1001 USER dave 0002\r\n1001 USER bob 0010\r\n";
        const QByteArray inLobby = "1007 CHANNEL \"Lobby\"\r\n1001 USER alice 0002\r\n1001 USER carol 0010\r\n";
        const QByteArray kicked = info("bob was kicked out of the channel by alice.");
        const QByteArray banned = info("bob was banned by alice (spam).");
        const QByteArray notOnline = error("That user is not logged on.");
        const QByteArray full(64 * 1024, 'x');
        const QByteArray capped = "1005 TALK bob 0010 \"" + full + "\"\r\n1005 TALK bob 0010 \"after\"\r\n";

        row("talk to others", {"bob:hello there", "bob:", "bob: \"hi\" caf\xe9 "}, {{"alice carol", talk}});
        row("emote to all", {"bob:/ME   shouts", "bob:/me"}, {{"alice bob carol", shouts}});
        row("whisper", {"bob:/w DAVE hi", "bob:/msg alice  a \"b\"  c "},
            {{"dave", "1004 WHISPER bob 0010 \"hi\"\r\n"}, {"alice", "1004 WHISPER bob 0010 \"a \"b\"  c \"\r\n"}});
        row("errors", {"bob:/w nobody hi", "bob:/w dave ", "bob:/whois DAVE ", "bob:/x", "bob:/kick carol",
                       "alice:/kick dave", "alice:/kick alice"},
            {{"bob", notOnline + error("Usage: /whisper <name> <message>")
                     + info("dave is using Vesk Chat in channel The Void.") + error("That is not a valid command.")
                     + error("You are not a channel operator.")},
             {"alice", error("That user is not in this channel.") + error("You cannot kick yourself.")}});
        // dave leaves The Void last, so bob becomes its operator.
        row("channel change", {"bob:/channel the void ", "bob:/join THE VOID", "dave:/join Lobby"},
            {{"bob", inVoid + inVoid + "1003 LEAVE dave 0002\r\n" + info("bob is now the channel operator.")},
             {"alice carol", leaves + "1002 JOIN dave 0010\r\n"},
             {"dave", joins + inLobby + "1001 USER dave 0010\r\n"}});
        row("kick, then ban", {"alice:/kick BOB ", "bob:/join lobby", "alice:/ban bob spam", "bob:/join lobby"},
            {{"alice carol", kicked + leaves + joins + banned + leaves}, {"dave", joins + leaves + joins},
             {"bob", kicked + inVoid + inLobby + "1001 USER bob 0010\r\n" + banned + inVoid
                     + error("You are banned from that channel.")}});
        row("squelch", {"alice:/squelch BOB", "alice:/squelch nobody", "bob:can you hear me", "bob:/me shouts",
                        "bob:/w alice psst", "alice:/unsquelch bob", "bob:better"},
            {{"alice", info("bob has been squelched.") + notOnline + info("bob has been unsquelched.") + better},
             {"bob", shouts}, {"carol", "1005 TALK bob 0010 \"can you hear me\"\r\n" + shouts + better}});
        row("64 KiB line cap", {"bob:" + full, "bob:" + full + 'y', "bob:after"},
            {{"alice carol", capped}, {"bob", error("That line is too long.")}});
    }

    void chat()
    {
        QFETCH(Lines, steps);
        QFETCH(Replies, replies);

        QHash<QByteArray, Client *> clients;
        for (const QByteArray name : {"dave", "alice", "bob", "carol"}) {
            clients[name] = &newClient(name);
            QVERIFY(clients[name]->login());
            if (name == "dave")
                clients[name]->write("/join The Void\r\n");
            clients[name]->drain();
        }
        for (Client *client : std::as_const(clients))
            client->drain();

        Replies got;
        for (const QByteArray &step : steps) {
            Client *sender = clients.value(step.left(step.indexOf(':')));
            sender->write(step.mid(step.indexOf(':') + 1) + "\r\n");
            got[sender->name] += sender->drain();
        }
        Replies want;
        for (auto it = replies.cbegin(); it != replies.cend(); ++it) {
            for (const QByteArray &name : it.key().split(' '))
                want[name] = it.value();
        }
        for (Client *client : std::as_const(clients)) {
            got[client->name] += client->drain();
            QCOMPARE(client->name + ": " + got[client->name], client->name + ": " + want[client->name]);
        }
    }

    // The logged-in vandal also vanishes halfway through a line.
    void garbage()
    {
        QByteArray binary;
        for (int i = 0; i < 4096; ++i)
            binary.append(char(i * 239));
        static const char commands[] = "/w \xff\x00 \x01\r\n/kick \r\n/squelch \xff\r\n/ban\r\n/\r\n";

        Client &alice = newClient("alice"), &early = newClient(), &endless = newClient(), &vandal = newClient("vandal");
        QVERIFY(alice.login());
        QVERIFY(vandal.login());
        early.write(binary);
        endless.write("\x03\x04\r\n\r\n" + QByteArray(200000, 'n') + "\r\n");
        vandal.write(binary + "\r\n" + QByteArray(commands, sizeof commands - 1) + "/whois\r\nhalf a li");
        QVERIFY(vandal.waitFor(kDrainMarker));
        vandal.socket.abort();
        QVERIFY(alice.waitFor("1003 LEAVE vandal 0010\r\n"));
        QTRY_COMPARE(early.socket.state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(endless.socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(m_server->userCount(), 1);
        QVERIFY(!alice.received.contains("half a li"));

        Client &bob = newClient("bob");
        QVERIFY(bob.login());
        bob.write("still here\r\n");
        QVERIFY(alice.waitFor("1005 TALK bob 0010 \"still here\"\r\n"));
    }
};

QTEST_GUILESS_MAIN(tst_gateway_server)
#include "tst_gateway_server.moc"
