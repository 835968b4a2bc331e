// SPDX-License-Identifier: MIT
// Send on the input line (Enter or the Send button), checked on the wire and in the panes.
#include "gui/ChatWindow.h"

#include "session/Globals.h"
#include "ui/TorvalMod1.h"

class TestInputLine : public QObject
{
    Q_OBJECT

    TestStore store;
    FixedClock clock;

private slots:
    void init()
    {
        TestStore::clear();
        LoginName = QStringLiteral("Tester");
        setEndProgramForTesting({});
    }

    void send_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QString>("chatPane"); // each pane held one earlier line
        QTest::addColumn<QString>("whisperPane");
        QTest::addColumn<bool>("ends");

        const QString earlier = paneText({"earlier"});
        auto row = [&](const char *name, const QString &typed, const QByteArray &wire,
                       const QStringList &chat = {}, const QStringList &whisper = {}) {
            QTest::newRow(name) << true << typed << wire << earlier + paneText(chat)
                                << earlier + paneText(whisper) << false;
        };
        row("chat", "hello", "hello\r\n", {"<Tester> hello"});
        row("empty line", "", "\r\n", {"<Tester> "});
        row("leading blank is chat", " /quit", " /quit\r\n", {"<Tester>  /quit"});
        row("clear later in a chat line", "say /clear", "say /clear\r\n", {"<Tester> say /clear"});
        row("clear in capitals", "/CLEAR", "/CLEAR\r\n");
        row("other command", "/whois Alice", "/whois Alice\r\n");
        row("one byte per character", QString::fromUtf8("café"), "caf\xe9\r\n", {QString::fromUtf8("<Tester> café")});
        row("reverse", "/reverse abc", "cba\r\n", {"<Tester> cba"});
        row("reverse alone", "/reverse", "\r\n", {"<Tester> "});
        row("reverse skips any one character, untrimmed", "/reversex ab", "ba \r\n", {"<Tester> ba "});
        row("join", "/join lobby", "/channel lobby\r\n");
        row("join alone", "/join", "/channel \r\n");
        row("join skips any one character, untrimmed", "/joinxlobby ", "/channel lobby \r\n");
        row("j", "/j lobby", "/channel lobby\r\n");
        row("j glued", "/jlobby", "/channel obby\r\n");
        row("typed whisper", "/whisper Alice hi", "/whisper Alice hi\r\n", {}, {"<TO: Alice> hi"});
        const QString none;
        QTest::newRow("clear") << true << "/clear" << QByteArray() << none << none << false;
        QTest::newRow("clear with more") << true << "/clearall" << QByteArray() << none << none << false;
        QTest::newRow("clear, not connected") << false << "/clear" << QByteArray() << none << none << false;
        QTest::newRow("quit") << true << "/quit" << QByteArray() << earlier << earlier << true;
        QTest::newRow("quit with more") << true << "/quit now" << QByteArray() << earlier << earlier << true;
        QTest::newRow("quit, not connected") << false << "/quit" << QByteArray() << earlier << earlier << true;
    }

    void send()
    {
        QFETCH(bool, connected);
        QFETCH(QString, typed);
        QFETCH(QByteArray, wire);
        QFETCH(QString, chatPane);
        QFETCH(QString, whisperPane);
        QFETCH(bool, ends);

        int ended = 0;
        setEndProgramForTesting([&ended] { ++ended; });
        ChatWindow chat;
        if (connected)
            QVERIFY(chat.connectNow());
        appendDisplayLine(chat.chatPane(), QStringLiteral("earlier"));
        appendDisplayLine(chat.whisperPane(), QStringLiteral("earlier"));
        chat.input()->setText(typed);
        QTest::keyClick(chat.input(), Qt::Key_Return); // notConnected clicks Send

        if (connected)
            QCOMPARE(chat.sent(), wire);
        QCOMPARE(chat.chatPane()->toPlainText(), chatPane);
        QCOMPARE(chat.whisperPane()->toPlainText(), whisperPane);
        QCOMPARE(ended, ends ? 1 : 0);
        if (!ends)
            QCOMPARE(chat.input()->text(), QString());
    }

    void notConnected_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed");
        for (const char *typed : {"hello", "/reverse abc", "/join lobby", "/w Alice hi"})
            QTest::addRow("Send %s", typed) << "Send" << QString::fromLatin1(typed);
        for (const char *button : {"Kick", "Whisper"})
            QTest::newRow(button) << QString::fromLatin1(button) << "hi";
    }

    // Before Connect, while connecting with no login queued, and after
    // Disconnect: nothing goes out, one line says why, the typed text stays.
    void notConnected()
    {
        QFETCH(QString, button);
        QFETCH(QString, typed);

        ChatWindow chat;
        auto sendTyped = [&] {
            chat.chatPane()->clear();
            chat.input()->setText(typed);
            chat.button(qPrintable(button))->click();
            QCOMPARE(chat.input()->text(), typed);
            QCOMPARE(chat.chatPane()->toPlainText().count(QLatin1Char('\n')), 1);
            QVERIFY(chat.chatPane()->toPlainText().startsWith(QStringLiteral("[12:34] Not connected")));
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
};

QTEST_MAIN(TestInputLine)
#include "tst_inputline.moc"
