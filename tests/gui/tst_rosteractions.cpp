// SPDX-License-Identifier: MIT
// The roster buttons: the selected user turned into a command line.
#include "gui/ChatWindow.h"

class tst_rosteractions : public QObject
{
    Q_OBJECT

    WindowTestState state;

private slots:
    void init() { state.reset(); }

    // "typed" is in the input line each time: only Ban and Whisper use it,
    // and empty it once their line is sent; the others leave the user's
    // typing, caret and selection alone. With no user selected, the line is
    // the same without "Alice ".
    void buttons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("selectAlice");
        QTest::addColumn<QString>("wire");
        QTest::addColumn<QString>("whisperEcho");
        const std::tuple<const char *, const char *, const char *> rows[] = {
            {"Kick", "/kick Alice ", ""}, {"Slap", "/me slaps Alice ", ""}, {"Squelch", "/squelch Alice ", ""},
            {"UnSquelch", "/unsquelch Alice ", ""}, {"Whois", "/whois Alice ", ""}, {"Ban", "/ban Alice typed", ""},
            {"Whisper", "/whisper Alice  typed", "<TO: Alice > typed"}};
        for (const auto &[button, wire, echo] : rows) {
            for (const bool alice : {true, false}) {
                auto strip = [alice](const char *s) { return alice ? QString(s) : QString(s).remove("Alice "); };
                QTest::addRow("%s, %s", button, alice ? "Alice" : "none selected")
                    << QString(button) << alice << strip(wire) << strip(echo);
            }
        }
    }

    void buttons()
    {
        QFETCH(QString, button);
        QFETCH(bool, selectAlice);
        QFETCH(QString, wire);
        QFETCH(QString, whisperEcho);
        ChatWindow chat;
        QVERIFY(chat.connectNow());
        chat.setEntries({"Bob ", "Alice ", "Carol "});
        chat.selectUser(1);
        if (!selectAlice)
            chat.users()->clearSelection();
        const QList<int> selectedBefore = chat.selectedRows();
        chat.input()->setText("typed");
        chat.input()->setSelection(1, 2);
        chat.button(button)->click();

        QCOMPARE(chat.sent(), wire.toLatin1() + "\r\n");
        QCOMPARE(chat.whisperPane()->toPlainText(), whisperEcho.isEmpty() ? QString() : paneText({whisperEcho}));
        QCOMPARE(chat.chatPane()->toPlainText(), QString());
        const bool usesTyping = button == "Ban" || button == "Whisper";
        QCOMPARE(chat.input()->text(), usesTyping ? QString() : QString("typed"));
        if (!usesTyping)
            QCOMPARE(chat.input()->selectedText(), "yp");
        QCOMPARE(chat.selectedRows(), selectedBefore);
        QCOMPARE(chat.entries(), (QStringList{"Bob ", "Alice ", "Carol "}));
    }

    // Without a link nothing is sent, the chat pane says so, and nothing the
    // user typed is lost.
    void notConnectedKeepsTheTyping_data()
    {
        QTest::addColumn<QString>("button");
        for (const char *button : {"Kick", "Slap", "Squelch", "UnSquelch", "Whois", "Ban", "Whisper", "Send"})
            QTest::newRow(button) << QString(button);
    }
    void notConnectedKeepsTheTyping()
    {
        QFETCH(QString, button);
        ChatWindow chat;
        chat.setEntries({"Alice "});
        chat.selectUser(0);
        chat.input()->setText("typed");
        chat.input()->setSelection(1, 2);
        chat.button(button)->click();
        QCOMPARE(chat.input()->text(), "typed");
        QCOMPARE(chat.input()->selectedText(), "yp");
        QCOMPARE(chat.whisperPane()->toPlainText(), QString());
        QCOMPARE(chat.chatPane()->toPlainText(),
                 paneText({"Not connected: nothing was sent and your line was kept. Connect to a server first."}));
    }
};

QTEST_MAIN(tst_rosteractions)
#include "tst_rosteractions.moc"
