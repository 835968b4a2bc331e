// SPDX-License-Identifier: MIT
// The Send operation on the input line, checked on the wire and in the panes.
#include "gui/ChatWindow.h"

#include "session/Globals.h"
#include "ui/TorvalMod1.h"

class TestInputLine : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void send_data();
    void send();
    void enterKeySends();
    void notConnected_data();
    void notConnected();
    void localCommandsWithoutConnection();

private:
    TestStore store;
    FixedClock clock;
};

void TestInputLine::init()
{
    TestStore::clear();
    LoginName = QStringLiteral("Tester");
    setEndProgramForTesting({});
}

void TestInputLine::send_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("chatPane");    // each pane held one earlier line
    QTest::addColumn<QString>("whisperPane");
    QTest::addColumn<bool>("ends");

    const QString earlier = paneText({"earlier"});
    auto row = [&](const char *name, const QString &typed, const QByteArray &wire,
                   const QStringList &chat = {}, const QStringList &whisper = {}) {
        QTest::newRow(name) << typed << wire << earlier + paneText(chat) << earlier + paneText(whisper)
                            << false;
    };
    row("chat", "hello", "hello\r\n", {"<Tester> hello"});
    row("empty line", "", "\r\n", {"<Tester> "});
    row("clear later in a chat line", "say /clear", "say /clear\r\n", {"<Tester> say /clear"});
    row("clear in capitals", "/CLEAR", "/CLEAR\r\n");
    row("reverse", "/reverse abc", "cba\r\n", {"<Tester> cba"});
    row("reverse alone", "/reverse", "\r\n", {"<Tester> "});
    row("join", "/join lobby", "/channel lobby\r\n");
    row("join alone", "/join", "/channel \r\n");
    row("j", "/j lobby", "/channel lobby\r\n");
    row("j glued", "/jlobby", "/channel obby\r\n");
    row("other command", "/whois Alice", "/whois Alice\r\n");
    row("one byte per character", QString::fromUtf8("café"), "caf\xe9\r\n", {QString::fromUtf8("<Tester> café")});
    row("typed whisper", "/whisper Alice hi", "/whisper Alice hi\r\n", {}, {"<TO: Alice> hi"});
    row("typed w", "/w Alice hi", "/w Alice hi\r\n", {}, {"<TO: Alice> hi"});
    row("typed msg", "/msg Alice hi", "/msg Alice hi\r\n", {}, {"<TO: Alice> hi"});
    row("typed m", "/m Alice hi", "/m Alice hi\r\n", {}, {"<TO: Alice> hi"});
    QTest::newRow("clear") << "/clear" << QByteArray() << "" << "" << false;
    QTest::newRow("clear with more") << "/clear all" << QByteArray() << "" << "" << false;
    QTest::newRow("quit") << "/quit" << QByteArray() << earlier << earlier << true;
    QTest::newRow("quit with more") << "/quit now" << QByteArray() << earlier << earlier << true;
}

void TestInputLine::send()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, wire);
    QFETCH(QString, chatPane);
    QFETCH(QString, whisperPane);
    QFETCH(bool, ends);

    int ended = 0;
    setEndProgramForTesting([&ended] { ++ended; });
    ChatWindow chat;
    QVERIFY(chat.connectNow());
    chat.clearPanes();
    appendDisplayLine(chat.chatPane(), QStringLiteral("earlier"));
    appendDisplayLine(chat.whisperPane(), QStringLiteral("earlier"));
    chat.input()->setText(typed);
    chat.button("Send")->click();

    QCOMPARE(chat.sent(), wire);
    QCOMPARE(chat.chatPane()->toPlainText(), chatPane);
    QCOMPARE(chat.whisperPane()->toPlainText(), whisperPane);
    QCOMPARE(ended, ends ? 1 : 0);
    if (!ends)
        QCOMPARE(chat.input()->text(), QString());
}

void TestInputLine::enterKeySends()
{
    ChatWindow chat;
    QVERIFY(chat.connectNow());
    chat.input()->clear();
    QTest::keyClicks(chat.input(), "hi");
    QTest::keyClick(chat.input(), Qt::Key_Return);

    QCOMPARE(chat.sent(), QByteArray("hi\r\n"));
    QCOMPARE(chat.input()->text(), QString());
}

void TestInputLine::notConnected_data()
{
    QTest::addColumn<QString>("typed");

    QTest::newRow("chat") << "hello";
    QTest::newRow("empty line") << "";
    QTest::newRow("reverse") << "/reverse abc";
    QTest::newRow("join") << "/join lobby";
    QTest::newRow("j") << "/j lobby";
    QTest::newRow("typed whisper") << "/w Alice hi";
}

// Before Connect, while the link is being made with no login queued, and after
// Disconnect: nothing goes out, one line says why, and the typed line stays.
void TestInputLine::notConnected()
{
    QFETCH(QString, typed);

    ChatWindow chat;
    auto sendTyped = [&] {
        chat.clearPanes();
        chat.input()->setText(typed);
        chat.button("Send")->click();
        QCOMPARE(chat.input()->text(), typed);
        QVERIFY(holdsOnlyNotConnectedLine(chat.chatPane()));
        QCOMPARE(chat.whisperPane()->toPlainText(), QString());
    };

    sendTyped();
    chat.startConnecting();
    sendTyped();
    QVERIFY(chat.socket()->waitForConnected() && chat.server.waitForClient());
    QCOMPARE(chat.sent(), QByteArray());
    chat.invoke("Disconnect_Click");
    sendTyped();
}

void TestInputLine::localCommandsWithoutConnection()
{
    int ended = 0;
    setEndProgramForTesting([&ended] { ++ended; });
    ChatWindow chat;
    chat.input()->setText(QStringLiteral("/clear"));
    chat.button("Send")->click();
    QCOMPARE(chat.chatPane()->toPlainText() + chat.whisperPane()->toPlainText() + chat.input()->text(),
             QString());

    chat.input()->setText(QStringLiteral("/quit"));
    chat.button("Send")->click();
    QCOMPARE(ended, 1);
    QCOMPARE(chat.chatPane()->toPlainText(), QString());
}

QTEST_MAIN(TestInputLine)
#include "tst_inputline.moc"
