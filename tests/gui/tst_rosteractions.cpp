// SPDX-License-Identifier: MIT
// The roster buttons: the selected user turned into a command line.
#include "gui/ChatWindow.h"

class tst_rosteractions : public QObject
{
    Q_OBJECT

    WindowTestState state;

private slots:
    void init() { state.reset(); }

    // "typed" is in the input line each time: only Ban and Whisper use it.
    // With no user selected, the line is the same without "Alice ".
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
        QListWidget *users = chat.users();
        users->clear();
        users->addItems({"Bob ", "Alice ", "Carol "});
        users->setCurrentRow(1);
        if (!selectAlice)
            users->clearSelection();
        const QList<QListWidgetItem *> selectedBefore = users->selectedItems();
        chat.input()->setText("typed");
        chat.button(qPrintable(button))->click();

        QCOMPARE(chat.sent(), wire.toLatin1() + "\r\n");
        QCOMPARE(chat.whisperPane()->toPlainText(), whisperEcho.isEmpty() ? QString() : paneText({whisperEcho}));
        QCOMPARE(chat.chatPane()->toPlainText(), QString());
        QCOMPARE(chat.input()->text(), QString());
        QCOMPARE(users->selectedItems(), selectedBefore);
        QCOMPARE(chat.entries(), (QStringList{"Bob ", "Alice ", "Carol "}));
    }
};

QTEST_MAIN(tst_rosteractions)
#include "tst_rosteractions.moc"
