// SPDX-License-Identifier: MIT
// The idle announcer, with the ticks driven by the test.
#include "gui/ChatWindow.h"

#include "session/Globals.h"
#include "settings/Settings.h"

#include <QInputDialog>

#include <optional>

using Answers = QList<std::optional<QString>>; // std::nullopt cancels the box

// Answers the input boxes as they open, in order, and records what each one
// asked. A box beyond the answers given is cancelled, and recorded too.
class InputBoxAnswers : public QObject
{
public:
    explicit InputBoxAnswers(Answers answers) : m_answers(std::move(answers))
    {
        qApp->installEventFilter(this);
    }
    ~InputBoxAnswers() override { qApp->removeEventFilter(this); }

    QStringList asked; // "title: prompt" per box

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QInputDialog *>(watched);
        if (!box || event->type() != QEvent::Show)
            return false;
        asked << box->windowTitle() + QStringLiteral(": ") + box->labelText();
        const std::optional<QString> answer = m_answers.isEmpty() ? std::nullopt : m_answers.takeFirst();
        QMetaObject::invokeMethod(box, [box, answer] {
            if (!answer)
                return box->reject();
            box->setTextValue(*answer);
            box->accept();
        }, Qt::QueuedConnection);
        return false;
    }

private:
    Answers m_answers;
};

namespace {
const QString kSecondsBox = QStringLiteral("Idle: Enter number of seconds between idles");
const QString kMessageBox = QStringLiteral("Idle: Enter your idle message:");

QByteArray announcement(const char *message)
{
    return QByteArray("/me is using Vesk Chat v 1.0 - ") + message + "\r\n";
}

// Runs the given number of ticks and returns those (counted from 1) after
// which exactly `line` went out; a tick that sent anything else counts negative.
QList<int> announcingTicks(ChatWindow &chat, int ticks, const QByteArray &line)
{
    QList<int> announced;
    for (int i = 1; i <= ticks; ++i) {
        chat.tick();
        const QByteArray sent = chat.sent();
        if (!sent.isEmpty())
            announced << (sent == line ? i : -i);
    }
    return announced;
}

void saveIdle(const char *seconds, const char *message)
{
    SaveSetting(Keys::IdleTime, QString::fromLatin1(seconds));
    SaveSetting(Keys::IdleString, QString::fromLatin1(message));
}
} // namespace

class TestIdleAnnouncer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void savedSettings_data();
    void savedSettings();
    void newPeriod_data();
    void newPeriod();
    void invalidSeconds_data();
    void invalidSeconds();
    void typingSurvives_data();
    void typingSurvives();
    void notConnectedSkipsSilently();

private:
    TestStore store;
    FixedClock clock;
};

void TestIdleAnnouncer::init()
{
    TestStore::clear();
    LoginName = QStringLiteral("Tester");
}

void TestIdleAnnouncer::savedSettings_data()
{
    QTest::addColumn<QString>("seconds"); // null: a first run, nothing saved
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QList<int>>("announced");

    QTest::newRow("first run") << QString() << 100 << QList<int>{};
    QTest::newRow("every 2 seconds") << "2" << 6 << QList<int>{2, 4, 6};
}

void TestIdleAnnouncer::savedSettings()
{
    QFETCH(QString, seconds);
    QFETCH(int, ticks);
    QFETCH(QList<int>, announced);

    if (!seconds.isNull())
        saveIdle(qPrintable(seconds), "away");
    ChatWindow chat;
    QVERIFY(chat.connectNow());
    QCOMPARE(announcingTicks(chat, ticks, announcement("away")), announced);
}

void TestIdleAnnouncer::newPeriod_data()
{
    QTest::addColumn<int>("countBefore");
    QTest::addColumn<Answers>("answers");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QList<int>>("announced");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("savedTime");
    QTest::addColumn<QString>("savedMessage");

    QTest::newRow("30 at count 10") << 10 << Answers{"30", "back soon"} << 80 << QList<int>{20, 50, 80}
                                    << announcement("back soon") << "30" << "back soon";
    QTest::newRow("30 at count 45") << 45 << Answers{"30", "back soon"} << 80 << QList<int>{}
                                    << announcement("back soon") << "30" << "back soon";
    QTest::newRow("empty message") << 0 << Answers{"2", ""} << 4 << QList<int>{2, 4}
                                   << announcement("") << "2" << "";
    QTest::newRow("message cancelled") << 0 << Answers{"2", std::nullopt} << 4 << QList<int>{2, 4}
                                       << announcement("") << "2" << "";
    QTest::newRow("half rounds to even") << 0 << Answers{" 2.5 ", "x"} << 4 << QList<int>{2, 4}
                                         << announcement("x") << "2" << "x";
}

void TestIdleAnnouncer::newPeriod()
{
    QFETCH(int, countBefore);
    QFETCH(Answers, answers);
    QFETCH(int, ticks);
    QFETCH(QList<int>, announced);
    QFETCH(QByteArray, line);
    QFETCH(QString, savedTime);
    QFETCH(QString, savedMessage);

    ChatWindow chat;
    QVERIFY(chat.connectNow());
    for (int i = 0; i < countBefore; ++i)
        chat.tick();
    InputBoxAnswers boxes(answers);
    chat.invoke("cmdIdle_Click");

    QCOMPARE(boxes.asked, (QStringList{kSecondsBox, kMessageBox}));
    QCOMPARE(GetSetting(Keys::IdleTime), savedTime);
    QCOMPARE(GetSetting(Keys::IdleString), savedMessage);
    QCOMPARE(announcingTicks(chat, ticks, line), announced);
}

void TestIdleAnnouncer::invalidSeconds_data()
{
    QTest::addColumn<std::optional<QString>>("answer");

    QTest::newRow("empty") << std::optional<QString>(QString());
    QTest::newRow("cancelled") << std::optional<QString>();
    QTest::newRow("not a number") << std::optional<QString>("soon");
    QTest::newRow("too large") << std::optional<QString>("40000");
    QTest::newRow("rounds out of range") << std::optional<QString>("32767.5");
}

// The old period and message stay, nothing is saved, and no message box follows.
void TestIdleAnnouncer::invalidSeconds()
{
    QFETCH(std::optional<QString>, answer);

    saveIdle("2", "away");
    ChatWindow chat;
    QVERIFY(chat.connectNow());
    SaveSetting(Keys::IdleTime, QStringLiteral("7")); // changed behind the window's back
    InputBoxAnswers boxes({answer, QStringLiteral("never asked")});
    chat.invoke("cmdIdle_Click");

    QCOMPARE(boxes.asked, QStringList{kSecondsBox});
    QCOMPARE(GetSetting(Keys::IdleTime), QStringLiteral("7"));
    QCOMPARE(GetSetting(Keys::IdleString), QStringLiteral("away"));
    QCOMPARE(announcingTicks(chat, 4, announcement("away")), (QList<int>{2, 4}));
}

void TestIdleAnnouncer::typingSurvives_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("selectFrom");
    QTest::addColumn<int>("selectLength"); // negative: the caret at the selection's start
    QTest::addColumn<int>("cursor");       // where the caret is put when nothing is selected

    QTest::newRow("nothing typed") << "" << -1 << 0 << 0;
    QTest::newRow("caret inside") << "hel" << -1 << 0 << 1;
    QTest::newRow("caret at end") << "hello" << -1 << 0 << 5;
    QTest::newRow("command half typed") << "/whisper Al" << -1 << 0 << 11;
    QTest::newRow("selection, caret at end") << "hello" << 1 << 3 << 0;
    QTest::newRow("selection, caret at start") << "hello" << 4 << -3 << 0;
}

void TestIdleAnnouncer::typingSurvives()
{
    QFETCH(QString, typed);
    QFETCH(int, selectFrom);
    QFETCH(int, selectLength);
    QFETCH(int, cursor);

    saveIdle("2", "away");
    ChatWindow chat;
    QVERIFY(chat.connectNow());
    chat.clearPanes();
    QLineEdit *input = chat.input();
    input->setText(typed);
    if (selectFrom >= 0)
        input->setSelection(selectFrom, selectLength);
    else
        input->setCursorPosition(cursor);
    const int cursorBefore = input->cursorPosition();
    const int selectionStartBefore = input->selectionStart();
    const QString selectedBefore = input->selectedText();

    QCOMPARE(announcingTicks(chat, 2, announcement("away")), QList<int>{2});
    QCOMPARE(input->text(), typed);
    QCOMPARE(input->cursorPosition(), cursorBefore);
    QCOMPARE(input->selectionStart(), selectionStartBefore);
    QCOMPARE(input->selectedText(), selectedBefore);
    QCOMPARE(chat.chatPane()->toPlainText(), QString());
}

// Skipped without a word, and the count still starts again from 0.
void TestIdleAnnouncer::notConnectedSkipsSilently()
{
    saveIdle("2", "away");
    ChatWindow chat;
    chat.clearPanes();
    chat.input()->setText(QStringLiteral("draft"));
    chat.tick();
    chat.tick();
    QCOMPARE(chat.chatPane()->toPlainText(), QString());
    QCOMPARE(chat.input()->text(), QStringLiteral("draft"));

    QVERIFY(chat.connectNow());
    chat.tick();
    QCOMPARE(chat.sent(), QByteArray());
    chat.tick();
    QCOMPARE(chat.sent(), announcement("away"));
}

QTEST_MAIN(TestIdleAnnouncer)
#include "tst_idleannouncer.moc"
