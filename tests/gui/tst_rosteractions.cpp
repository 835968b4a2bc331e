// SPDX-License-Identifier: MIT
// The roster buttons: the selected user turned into a command line.
#include "gui/ChatWindow.h"

#include "session/Globals.h"

class TestRosterActions : public QObject
{
    Q_OBJECT

    TestStore store;
    FixedClock clock;

private slots:
    void init()
    {
        TestStore::clear();
        LoginName = QStringLiteral("Tester");
    }

    void buttons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("selectAlice");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QString>("whisperPane");

        // "typed" is in the input line each time: only Ban and Whisper use it.
        const struct { const char *button, *withAlice, *withNone, *echoAlice, *echoNone; } rows[] = {
            {"Kick", "/kick Alice ", "/kick ", nullptr, nullptr},
            {"Slap", "/me slaps Alice ", "/me slaps ", nullptr, nullptr},
            {"Squelch", "/squelch Alice ", "/squelch ", nullptr, nullptr},
            {"UnSquelch", "/unsquelch Alice ", "/unsquelch ", nullptr, nullptr},
            {"Whois", "/whois Alice ", "/whois ", nullptr, nullptr},
            {"Ban", "/ban Alice typed", "/ban typed", nullptr, nullptr},
            {"Whisper", "/whisper Alice  typed", "/whisper  typed", "<TO: Alice > typed", "<TO: > typed"},
        };
        for (const auto &r : rows) {
            for (const bool alice : {true, false}) {
                const char *echo = alice ? r.echoAlice : r.echoNone;
                QTest::addRow("%s, %s", r.button, alice ? "Alice" : "none selected")
                    << QString::fromLatin1(r.button) << alice
                    << QByteArray(alice ? r.withAlice : r.withNone) + "\r\n"
                    << (echo ? paneText({QString::fromLatin1(echo)}) : QString());
            }
        }
    }

    void buttons()
    {
        QFETCH(QString, button);
        QFETCH(bool, selectAlice);
        QFETCH(QByteArray, wire);
        QFETCH(QString, whisperPane);

        ChatWindow chat;
        QVERIFY(chat.connectNow());
        QListWidget *users = chat.users();
        users->clear();
        users->addItems({QStringLiteral("Bob "), QStringLiteral("Alice "), QStringLiteral("Carol ")});
        users->setCurrentRow(1);
        if (!selectAlice)
            users->clearSelection();
        const QList<QListWidgetItem *> selectedBefore = users->selectedItems();
        chat.input()->setText(QStringLiteral("typed"));
        chat.button(qPrintable(button))->click();

        QCOMPARE(chat.sent(), wire);
        QCOMPARE(chat.whisperPane()->toPlainText(), whisperPane);
        QCOMPARE(chat.chatPane()->toPlainText(), QString());
        QCOMPARE(chat.input()->text(), QString());
        QCOMPARE(users->selectedItems(), selectedBefore);
        QCOMPARE(users->count(), 3);
    }
};

QTEST_MAIN(TestRosterActions)
#include "tst_rosteractions.moc"
