// SPDX-License-Identifier: MIT
// Send on the input line (Enter or the Send button), checked on the wire and in the panes.
#include "gui/ChatWindow.h"

// What a typed line means is decided in tst_typedline.cpp; here one line per
// meaning shows what goes on the wire and into the panes.
class tst_inputline : public QObject
{
    Q_OBJECT

    WindowTestState state;

private slots:
    void init() { state.reset(); }

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
        row("one byte per character", QString::fromUtf8("café"), "caf\xe9\r\n", {QString::fromUtf8("<Tester> café")});
        row("reverse", "/reverse abc", "cba\r\n", {"<Tester> cba"});
        row("command", "/whois Alice", "/whois Alice\r\n");
        row("join", "/join lobby", "/channel lobby\r\n");
        row("typed whisper", "/whisper Alice hi", "/whisper Alice hi\r\n", {}, {"<TO: Alice> hi"});
        const QString none;
        QTest::newRow("clear") << true << "/clear" << QByteArray() << none << none << false;
        QTest::newRow("clear, not connected") << false << "/clear" << QByteArray() << none << none << false;
        QTest::newRow("quit") << true << "/quit now" << QByteArray() << earlier << earlier << true;
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
        for (const char *typed : {"hello", "/w Alice hi"})
            QTest::addRow("Send %s", typed) << "Send" << QString::fromLatin1(typed);
        for (const char *button : {"Kick", "Whisper"})
            QTest::newRow(button) << QString::fromLatin1(button) << "hi";
    }

    // Without a link that takes lines (the link's states are checked in
    // tst_chatlink.cpp): nothing goes out, one line says why, the typed text stays.
    void notConnected()
    {
        QFETCH(QString, button);
        QFETCH(QString, typed);
        ChatWindow chat;
        chat.input()->setText(typed);
        chat.button(qPrintable(button))->click();
        QCOMPARE(chat.input()->text(), typed);
        QCOMPARE(chat.chatPane()->toPlainText(),
                 paneText({"Not connected: nothing was sent and your line was kept. Connect to a server first."}));
        QCOMPARE(chat.whisperPane()->toPlainText(), QString());
    }
};

QTEST_MAIN(tst_inputline)
#include "tst_inputline.moc"
