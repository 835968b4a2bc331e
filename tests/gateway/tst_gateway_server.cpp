#include "GatewayServer.h"
#include "Protocol.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int Timeout = 5000;

QByteArray loginBytes(const QByteArray &name, const QByteArray &password)
{
    return "\x03\x04\r\n\r\n" + name + "\r\n" + password + "\r\n";
}

QByteArray welcome(const QByteArray &name)
{
    return "1018 INFO \"Welcome to the Vesk Chat local gateway, " + name + ".\"\r\n";
}

// A chat client on a real socket that records everything the server sends.
struct TestClient
{
    explicit TestClient(quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(Timeout); // the kernel accepts without the server's event loop
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }

    void write(const QByteArray &data)
    {
        socket.write(data);
        socket.flush();
    }
    void say(const QByteArray &line) { write(line + "\r\n"); }

    // Logs in and returns everything received up to and including the welcome line.
    QByteArray login(const QByteArray &loginName, const QByteArray &password = "pw",
                     const QByteArray &givenName = {})
    {
        name = givenName.isEmpty() ? loginName : givenName;
        write(loginBytes(loginName, password));
        const QByteArray end = welcome(name);
        return waitFor(end) ? take(received.indexOf(end) + end.size()) : received;
    }

    bool waitFor(const QByteArray &bytes)
    {
        return waitUntil([&] { return received.contains(bytes); });
    }

    // Everything the server sent before answering a fresh request of ours. The
    // server handles lines in order, so whatever another client caused before
    // its own drain() returned has arrived by then.
    QByteArray drain()
    {
        say("/whois " + name);
        const QByteArray marker = "1018 INFO \"" + name + " is using Vesk Chat in channel ";
        const auto markerAt = [&] {
            const qsizetype at = received.indexOf("\n" + marker);
            return received.startsWith(marker) ? 0 : at < 0 ? -1 : at + 1;
        };
        if (!waitUntil([&] { return markerAt() >= 0 && received.endsWith('\n'); }))
            return "<no answer> " + received;
        const QByteArray before = take(markerAt());
        take(received.indexOf('\n') + 1);
        return before;
    }

    // Like QTest::qWaitFor, but wakes up on arriving data instead of polling.
    bool waitUntil(const std::function<bool()> &done)
    {
        const QDeadlineTimer deadline(Timeout);
        while (!done()) {
            QSignalSpy arrived(&socket, &QTcpSocket::readyRead);
            if (deadline.hasExpired() || !arrived.wait(int(deadline.remainingTime())))
                return done();
        }
        return true;
    }

    QByteArray take(qsizetype n)
    {
        const QByteArray head = received.left(n);
        received.remove(0, n);
        return head;
    }

    QTcpSocket socket;
    QByteArray received;
    QByteArray name;
};

} // namespace

#define LOGIN(var, name)           \
    TestClient &var = newClient(); \
    QVERIFY(var.login(name).endsWith(welcome(name)))

class TestGatewayServer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void handshake_data();
    void handshake();
    void duplicateNameGetsSuffix();
    void relay_data();
    void relay();
    void channelChange();
    void kickAndBan_data();
    void kickAndBan();
    void squelch();
    void garbage_data();
    void garbage();
    void overlongLineAndFlood();
    void slowReaderIsDropped();
    void logsConnectionEventsOnly();

private:
    TestClient &newClient();

    std::unique_ptr<GatewayServer> m_server;
    std::vector<std::unique_ptr<TestClient>> m_clients;
};

void TestGatewayServer::init()
{
    m_server = std::make_unique<GatewayServer>();
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
}

void TestGatewayServer::cleanup()
{
    m_clients.clear();
    m_server.reset();
}

TestClient &TestGatewayServer::newClient()
{
    m_clients.push_back(std::make_unique<TestClient>(m_server->serverPort()));
    return *m_clients.back();
}

void TestGatewayServer::handshake_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<bool>("useAccounts");
    QTest::addColumn<QByteArray>("reply"); // a 1019 reply must be followed by a close

    const auto ok = [](const QByteArray &name) {
        return "1007 CHANNEL \"Lobby\"\r\n1001 USER " + name + " 0002\r\n" + welcome(name);
    };
    const auto no = [](const QByteArray &message) { return "1019 ERROR \"" + message + "\"\r\n"; };
    const QByteArray badAccount = no("Incorrect user name or password.");

    QTest::newRow("Anonymous") << QByteArrayList{loginBytes("Anonymous", "")} << false << ok("Anonymous");
    QTest::newRow("anonymous") << QByteArrayList{loginBytes("anonymous", "")} << false << ok("anonymous");
    QTest::newRow("Guest") << QByteArrayList{loginBytes("Guest", "any")} << false << ok("Guest");
    QTest::newRow("guest") << QByteArrayList{loginBytes("guest", "")} << false << ok("guest");
    QTest::newRow("named, password") << QByteArrayList{loginBytes("J\xf6rg", "pw")} << false << ok("J\xf6rg");
    QTest::newRow("named, no password") << QByteArrayList{loginBytes("bob", "")} << false
                                        << no("That user name needs a password.");
    QTest::newRow("split everywhere") << QByteArrayList{"\x03", "\x04", "\r", "\n\r", "\ngu", "est\r", "\n", "\r\n"}
                                      << false << ok("guest");
    QTest::newRow("lf line ends") << QByteArrayList{"\x03\x04\n\n", "bob\n", "pw\n"} << false << ok("bob");
    QTest::newRow("chat in same write") << QByteArrayList{loginBytes("bob", "pw") + "hi\r\n"} << false << ok("bob");
    QTest::newRow("empty name") << QByteArrayList{loginBytes("", "pw")} << false << no("Please enter a user name.");
    QTest::newRow("name with space") << QByteArrayList{loginBytes("al ice", "pw")} << false
                                     << no("User names cannot contain spaces or control characters.");
    QTest::newRow("wrong mode byte") << QByteArrayList{"\x03", "\x01"} << false << no("Unsupported protocol.");
    QTest::newRow("text for blank lines") << QByteArrayList{"\x03\x04hello\r\n"} << false << no("Bad login.");
    QTest::newRow("account") << QByteArrayList{loginBytes("alice", "secret")} << true << ok("alice");
    QTest::newRow("account, bad password") << QByteArrayList{loginBytes("alice", "nope")} << true << badAccount;
    QTest::newRow("no such account") << QByteArrayList{loginBytes("eve", "secret")} << true << badAccount;
    QTest::newRow("account, colon in password") << QByteArrayList{loginBytes("bob", "a:b")} << true << ok("bob");
    QTest::newRow("anonymous, accounts") << QByteArrayList{loginBytes("Guest", "")} << true << ok("Guest");
}

void TestGatewayServer::handshake()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(bool, useAccounts);
    QFETCH(QByteArray, reply);

    if (useAccounts)
        m_server->setAccounts(*Protocol::parseAccounts("# users\r\nalice:secret\r\n\r\nbob:a:b\n"));
    TestClient &client = newClient();
    for (const QByteArray &chunk : chunks) {
        client.write(chunk);
        QTest::qWait(5); // one read per chunk on the server side
    }
    QVERIFY(client.waitFor(reply));
    const bool refused = reply.startsWith("1019");
    if (refused)
        QTRY_COMPARE(client.socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(m_server->userCount(), refused ? 0 : 1);
    QCOMPARE(client.received, reply);
}

void TestGatewayServer::duplicateNameGetsSuffix()
{
    LOGIN(first, "Guest");
    TestClient &second = newClient();
    QCOMPARE(second.login("guest", "", "guest#2"),
             "1007 CHANNEL \"Lobby\"\r\n1001 USER Guest 0002\r\n1001 USER guest#2 0010\r\n" + welcome("guest#2"));
    second.say("hi");
    second.drain();
    QCOMPARE(first.drain(), QByteArray("1002 JOIN guest#2 0010\r\n1005 TALK guest#2 0010 \"hi\"\r\n"));
}

void TestGatewayServer::relay_data()
{
    QTest::addColumn<QByteArray>("line"); // sent by bob, in Lobby with alice
    QTest::addColumn<QByteArray>("toBob");
    QTest::addColumn<QByteArray>("toAlice");
    QTest::addColumn<QByteArray>("toDave"); // in channel "Elsewhere"

    const QByteArray none;
    const auto error = [](const QByteArray &text) { return "1019 ERROR \"" + text + "\"\r\n"; };
    const QByteArray notOnline = error("That user is not logged on.");
    const QByteArray waves = "1023 EMOTE bob 0010 \"waves\"\r\n";
    const QByteArray hiDave = "1004 WHISPER bob 0010 \"hi\"\r\n";

    QTest::newRow("talk") << QByteArray("hello there") << none << QByteArray("1005 TALK bob 0010 \"hello there\"\r\n") << none;
    QTest::newRow("talk kept as-is") << QByteArray(" say \"hi\" ") << none << QByteArray("1005 TALK bob 0010 \" say \"hi\" \"\r\n") << none;
    QTest::newRow("talk 1252") << QByteArray("caf\xe9") << none << QByteArray("1005 TALK bob 0010 \"caf\xe9\"\r\n") << none;
    QTest::newRow("empty line") << QByteArray() << none << none << none;
    QTest::newRow("me") << QByteArray("/me waves") << waves << waves << none;
    QTest::newRow("emote") << QByteArray("/emote waves") << waves << waves << none;
    QTest::newRow("ME, space run") << QByteArray("/ME   waves") << waves << waves << none;
    QTest::newRow("me, no text") << QByteArray("/me") << none << none << none;
    QTest::newRow("whisper, other channel") << QByteArray("/whisper dave hi") << none << none << hiDave;
    QTest::newRow("w, name case") << QByteArray("/w DAVE hi") << none << none << hiDave;
    QTest::newRow("msg, roster spaces") << QByteArray("/msg dave  hi") << none << none << hiDave;
    QTest::newRow("whisper text as-is") << QByteArray("/w alice a \"b\"  c ") << none
                                        << QByteArray("1004 WHISPER bob 0010 \"a \"b\"  c \"\r\n") << none;
    QTest::newRow("whisper unknown") << QByteArray("/w nobody hi") << notOnline << none << none;
    QTest::newRow("whisper no text") << QByteArray("/w dave ") << error("Usage: /whisper <name> <message>") << none << none;
    QTest::newRow("whois") << QByteArray("/whois DAVE ") << QByteArray("1018 INFO \"dave is using Vesk Chat in channel Elsewhere.\"\r\n")
                           << none << none;
    QTest::newRow("whois unknown") << QByteArray("/whois nobody") << notOnline << none << none;
    QTest::newRow("join no name") << QByteArray("/join   ") << error("Which channel do you want to join?") << none << none;
    QTest::newRow("unknown command") << QByteArray("/dance") << error("That is not a valid command.") << none << none;
}

void TestGatewayServer::relay()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, toBob);
    QFETCH(QByteArray, toAlice);
    QFETCH(QByteArray, toDave);

    LOGIN(alice, "alice");
    LOGIN(dave, "dave");
    dave.say("/join Elsewhere");
    dave.drain();
    LOGIN(bob, "bob");
    alice.drain();

    bob.say(line);
    QCOMPARE(bob.drain(), toBob);
    QCOMPARE(alice.drain(), toAlice);
    QCOMPARE(dave.drain(), toDave);
}

void TestGatewayServer::channelChange()
{
    LOGIN(alice, "alice");
    LOGIN(dave, "dave");
    dave.say("/join Public Chat 1");
    dave.drain();
    LOGIN(bob, "bob");
    alice.drain();

    bob.say("/channel public chat 1 ");
    const QByteArray state = "1007 CHANNEL \"Public Chat 1\"\r\n1001 USER dave 0002\r\n1001 USER bob 0010\r\n";
    QCOMPARE(bob.drain(), state);
    QCOMPARE(alice.drain(), QByteArray("1003 LEAVE bob 0010\r\n"));
    QCOMPARE(dave.drain(), QByteArray("1002 JOIN bob 0010\r\n"));

    bob.say("/join Public Chat 1");
    QCOMPARE(bob.drain(), state);
    QCOMPARE(dave.drain(), QByteArray());

    // The operator leaves: the next one in line takes over.
    dave.say("/join Op Room");
    QCOMPARE(dave.drain(), QByteArray("1007 CHANNEL \"Op Room\"\r\n1001 USER dave 0002\r\n"));
    QCOMPARE(bob.drain(), QByteArray("1003 LEAVE dave 0002\r\n1018 INFO \"bob is now the channel operator.\"\r\n"));
    bob.say("/kick alice");
    QCOMPARE(bob.drain(), QByteArray("1019 ERROR \"That user is not in this channel.\"\r\n"));
}

void TestGatewayServer::kickAndBan_data()
{
    QTest::addColumn<bool>("byOperator");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply"); // 1018 to the channel when bob is moved, else 1019 to the sender
    QTest::addColumn<bool>("banned");

    const auto kicked = [](const QByteArray &text) { return "1018 INFO \"" + text + "\"\r\n"; };
    const auto error = [](const QByteArray &text) { return "1019 ERROR \"" + text + "\"\r\n"; };
    const QByteArray notHere = error("That user is not in this channel.");

    QTest::newRow("kick") << true << QByteArray("/kick BOB ") << kicked("bob was kicked out of the channel by alice.") << false;
    QTest::newRow("ban") << true << QByteArray("/ban bob") << kicked("bob was banned by alice.") << true;
    QTest::newRow("ban, reason") << true << QByteArray("/ban bob spam") << kicked("bob was banned by alice (spam).") << true;
    QTest::newRow("kick by non-operator") << false << QByteArray("/kick carol") << error("You are not a channel operator.") << false;
    QTest::newRow("kick unknown user") << true << QByteArray("/kick nobody") << notHere << false;
    QTest::newRow("kick from other channel") << true << QByteArray("/kick victor") << notHere << false;
    QTest::newRow("kick self") << true << QByteArray("/kick alice") << error("You cannot kick yourself.") << false;
    QTest::newRow("ban nobody") << true << QByteArray("/ban ") << error("Usage: /ban <name> [reason]") << false;
}

void TestGatewayServer::kickAndBan()
{
    QFETCH(bool, byOperator);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(bool, banned);

    LOGIN(victor, "victor");
    victor.say("/join The Void");
    victor.drain();
    LOGIN(alice, "alice");
    LOGIN(bob, "bob");
    LOGIN(carol, "carol");
    alice.drain();
    bob.drain();

    TestClient &sender = byOperator ? alice : bob;
    sender.say(command);
    if (reply.startsWith("1019")) {
        QCOMPARE(sender.drain(), reply);
        for (TestClient *c : {&alice, &bob, &carol, &victor})
            QCOMPARE(c->drain(), QByteArray());
        return;
    }
    QCOMPARE(alice.drain(), reply + "1003 LEAVE bob 0010\r\n");
    QCOMPARE(carol.drain(), reply + "1003 LEAVE bob 0010\r\n");
    QCOMPARE(bob.drain(), reply + "1007 CHANNEL \"The Void\"\r\n1001 USER victor 0002\r\n1001 USER bob 0010\r\n");
    QCOMPARE(victor.drain(), QByteArray("1002 JOIN bob 0010\r\n"));

    bob.say("/join lobby");
    QCOMPARE(bob.drain().left(22), banned ? QByteArray("1019 ERROR \"You are ba") : QByteArray("1007 CHANNEL \"Lobby\"\r\n"));
    QCOMPARE(alice.drain(), banned ? QByteArray() : QByteArray("1002 JOIN bob 0010\r\n"));
}

void TestGatewayServer::squelch()
{
    LOGIN(alice, "alice");
    LOGIN(bob, "bob");
    LOGIN(carol, "carol");
    alice.drain();
    bob.drain();

    alice.say("/squelch BOB");
    alice.say("/squelch nobody");
    QCOMPARE(alice.drain(), QByteArray("1018 INFO \"bob has been squelched.\"\r\n"
                                       "1019 ERROR \"That user is not logged on.\"\r\n"));
    for (const char *line : {"can you hear me", "/me shouts", "/w alice psst"})
        bob.say(line);
    bob.drain();
    QCOMPARE(alice.drain(), QByteArray());
    QCOMPARE(carol.drain(), QByteArray("1005 TALK bob 0010 \"can you hear me\"\r\n1023 EMOTE bob 0010 \"shouts\"\r\n"));

    alice.say("/unsquelch bob");
    QCOMPARE(alice.drain(), QByteArray("1018 INFO \"bob has been unsquelched.\"\r\n"));
    bob.say("better");
    bob.drain();
    QCOMPARE(alice.drain(), QByteArray("1005 TALK bob 0010 \"better\"\r\n"));
}

void TestGatewayServer::garbage_data()
{
    QTest::addColumn<QByteArray>("garbage");
    QTest::addColumn<bool>("loggedIn");

    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(char((i * 7919) & 0xff));
    static const char commands[] = "/w \xff\x00 \x01\r\n/join \x00\r\n/kick \r\n/squelch \xff\r\n/ban\r\n/whois\r\n/\r\n";

    QTest::newRow("binary") << binary << false;
    QTest::newRow("NULs") << QByteArray(1000, '\0') << false;
    QTest::newRow("mode bytes, binary") << "\x03\x04" + binary << false;
    QTest::newRow("endless name") << "\x03\x04\r\n\r\n" + QByteArray(200000, 'n') + "\r\n" << false;
    QTest::newRow("binary after login") << binary << true;
    QTest::newRow("commands with binary") << QByteArray(commands, sizeof commands - 1) << true;
    QTest::newRow("lone line ends") << QByteArray("\r\r\n\n\r\n\r\r") << true;
    QTest::newRow("gone mid-line") << QByteArray("half a li") << true;
}

void TestGatewayServer::garbage()
{
    QFETCH(QByteArray, garbage);
    QFETCH(bool, loggedIn);

    LOGIN(alice, "alice");
    TestClient &vandal = newClient();
    if (loggedIn)
        QVERIFY(vandal.login("vandal").endsWith(welcome("vandal")));
    vandal.write(garbage);
    QTest::qWait(50);
    vandal.socket.abort();

    QTRY_COMPARE(m_server->userCount(), 1);
    if (loggedIn)
        QVERIFY(alice.waitFor("1003 LEAVE vandal 0010\r\n"));
    QVERIFY(!alice.received.contains("half a li")); // an unfinished line is never relayed
    LOGIN(bob, "bob");
    bob.say("still here");
    QVERIFY(alice.waitFor("1005 TALK bob 0010 \"still here\"\r\n"));
}

void TestGatewayServer::overlongLineAndFlood()
{
    LOGIN(alice, "alice");
    LOGIN(bob, "bob");
    alice.drain();

    QByteArray burst = QByteArray(1024 * 1024, 'x') + "\r\n";
    QByteArray expected;
    for (int i = 0; i < 5000; ++i) {
        const QByteArray text = "line " + QByteArray::number(i);
        burst += text + (i % 2 ? "\n" : "\r\n");
        expected += "1005 TALK bob 0010 \"" + text + "\"\r\n";
    }
    bob.write(burst);
    QCOMPARE(bob.drain(), QByteArray("1019 ERROR \"That line is too long.\"\r\n"));
    QCOMPARE(alice.drain(), expected);
}

void TestGatewayServer::slowReaderIsDropped()
{
    m_server->setMaxPendingOutput(256 * 1024);
    LOGIN(alice, "alice");
    LOGIN(bob, "bob");
    QObject::disconnect(&alice.socket, &QTcpSocket::readyRead, nullptr, nullptr);
    alice.socket.setReadBufferSize(1); // what the server sends now stays in kernel buffers

    const QByteArray line = QByteArray(60000, 'y') + "\r\n";
    for (int i = 0; i < 400 && m_server->userCount() == 2; ++i) {
        bob.write(line);
        QTest::qWait(1);
    }
    QTRY_COMPARE(m_server->userCount(), 1);
    QVERIFY(bob.waitFor("1003 LEAVE alice 0002\r\n"));
}

void TestGatewayServer::logsConnectionEventsOnly()
{
    QSignalSpy spy(m_server.get(), &GatewayServer::logMessage);
    LOGIN(alice, "alice");
    for (const char *line : {"hello", "/me waves", "/join Room 2"})
        alice.say(line);
    alice.drain();
    TestClient &refused = newClient();
    refused.write(loginBytes("bob", ""));
    QTRY_COMPARE(refused.socket.state(), QAbstractSocket::UnconnectedState);
    alice.socket.disconnectFromHost();
    QTRY_COMPARE(m_server->userCount(), 0);

    const QStringList expected = {
        "connected", "logged in as alice", "alice entered channel \"Room 2\"", "connected",
        "login refused for bob: That user name needs a password.",
        "disconnected (That user name needs a password.)", "alice disconnected",
    };
    QTRY_COMPARE(spy.size(), expected.size());
    for (int i = 0; i < spy.size(); ++i) {
        const QString message = spy.at(i).at(0).toString();
        QVERIFY2(message.startsWith("127.0.0.1:"), qPrintable(message));
        QCOMPARE(message.section(' ', 1), expected.at(i));
    }
}

QTEST_GUILESS_MAIN(TestGatewayServer)
#include "tst_gateway_server.moc"
