// SPDX-License-Identifier: MIT
// The roster buttons: the selected user turned into a command line.
#include "gui/ChatWindow.h"

#include "session/Globals.h"

class TestRosterActions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void buttons_data();
    void buttons();
    void notConnected_data();
    void notConnected();

private:
    TestStore store;
    FixedClock clock;
};

namespace {
// Three users as the list holds them, each name followed by one space.
void fillUsers(QListWidget *users, bool selectAlice)
{
    users->clear();
    users->addItems({QStringLiteral("Bob "), QStringLiteral("Alice "), QStringLiteral("Carol ")});
    users->setCurrentRow(1);
    if (!selectAlice)
        users->clearSelection();
}

QList<int> selectedRows(QListWidget *users)
{
    QList<int> rows;
    for (const QListWidgetItem *item : users->selectedItems())
        rows << users->row(item);
    return rows;
}
} // namespace

void TestRosterActions::init()
{
    TestStore::clear();
    LoginName = QStringLiteral("Tester");
}

void TestRosterActions::buttons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("selectAlice");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("whisperEcho"); // null: none

    auto row = [](const char *name, bool alice, const char *typed, const QByteArray &wire,
                  const QString &whisperEcho = {}) {
        QTest::newRow(name) << QString::fromLatin1(name).section(QLatin1Char(','), 0, 0) << alice
                            << QString::fromLatin1(typed) << wire << whisperEcho;
    };
    // Typed text is discarded by every button but Ban and Whisper.
    row("Kick", true, "junk", "/kick Alice \r\n");
    row("Slap", true, "junk", "/me slaps Alice \r\n");
    row("Squelch", true, "junk", "/squelch Alice \r\n");
    row("UnSquelch", true, "junk", "/unsquelch Alice \r\n");
    row("Whois", true, "junk", "/whois Alice \r\n");
    row("Ban", true, "spam", "/ban Alice spam\r\n");
    row("Ban, nothing typed", true, "", "/ban Alice \r\n");
    row("Whisper", true, "hi", "/whisper Alice  hi\r\n", "<TO: Alice > hi");
    row("Kick, none selected", false, "", "/kick \r\n");
    row("Slap, none selected", false, "", "/me slaps \r\n");
    row("Squelch, none selected", false, "", "/squelch \r\n");
    row("UnSquelch, none selected", false, "", "/unsquelch \r\n");
    row("Whois, none selected", false, "", "/whois \r\n");
    row("Ban, none selected", false, "spam", "/ban spam\r\n");
    row("Whisper, none selected", false, "hi", "/whisper  hi\r\n", "<TO: > hi");
}

void TestRosterActions::buttons()
{
    QFETCH(QString, button);
    QFETCH(bool, selectAlice);
    QFETCH(QString, typed);
    QFETCH(QByteArray, wire);
    QFETCH(QString, whisperEcho);

    ChatWindow chat;
    QVERIFY(chat.connectNow());
    chat.clearPanes();
    fillUsers(chat.users(), selectAlice);
    const QList<int> selectedBefore = selectedRows(chat.users());
    chat.input()->setText(typed);
    chat.button(qPrintable(button))->click();

    QCOMPARE(chat.sent(), wire);
    QCOMPARE(chat.whisperPane()->toPlainText(), whisperEcho.isNull() ? QString() : paneText({whisperEcho}));
    QCOMPARE(chat.chatPane()->toPlainText(), QString());
    QCOMPARE(chat.input()->text(), QString());
    QCOMPARE(selectedRows(chat.users()), selectedBefore);
    QCOMPARE(chat.users()->count(), 3);
}

void TestRosterActions::notConnected_data()
{
    QTest::addColumn<QString>("button");

    QTest::newRow("Kick") << "Kick";
    QTest::newRow("Ban") << "Ban";
    QTest::newRow("Whisper") << "Whisper";
}

// Nothing goes out, nothing claims it did, and what the user typed stays.
void TestRosterActions::notConnected()
{
    QFETCH(QString, button);

    ChatWindow chat;
    chat.clearPanes();
    fillUsers(chat.users(), true);
    chat.input()->setText(QStringLiteral("hi there"));
    chat.startConnecting();
    chat.button(qPrintable(button))->click();

    QCOMPARE(chat.input()->text(), QStringLiteral("hi there"));
    QVERIFY(holdsOnlyNotConnectedLine(chat.chatPane()));
    QCOMPARE(chat.whisperPane()->toPlainText(), QString());
    QVERIFY(chat.socket()->waitForConnected() && chat.server.waitForClient());
    QCOMPARE(chat.sent(), QByteArray());
}

QTEST_MAIN(TestRosterActions)
#include "tst_rosteractions.moc"
