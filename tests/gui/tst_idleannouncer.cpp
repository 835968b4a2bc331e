// SPDX-License-Identifier: MIT
// The idle announcer, with the ticks driven by the test.
#include "gui/ChatWindow.h"

#include "session/Globals.h"
#include "settings/Settings.h"

#include <QInputDialog>

#include <optional>

using Answers = QList<std::optional<QString>>; // std::nullopt cancels the box

// Answers each input box as it shows, in order (one past the answers is
// cancelled), and records its "title: prompt".
class InputBoxAnswers : public QObject
{
public:
    explicit InputBoxAnswers(Answers answers) : answers(std::move(answers)) { qApp->installEventFilter(this); }
    Answers answers;
    QStringList asked;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QInputDialog *>(watched);
        if (!box || event->type() != QEvent::Show)
            return false;
        asked << box->windowTitle() + QStringLiteral(": ") + box->labelText();
        const std::optional<QString> answer = answers.isEmpty() ? std::nullopt : answers.takeFirst();
        QMetaObject::invokeMethod(box, [box, answer] {
            if (!answer)
                return box->reject();
            box->setTextValue(*answer);
            box->accept();
        }, Qt::QueuedConnection);
        return false;
    }
};

namespace {
const QString kSecondsBox = QStringLiteral("Idle: Enter number of seconds between idles");
const QString kMessageBox = QStringLiteral("Idle: Enter your idle message:");

QByteArray announcement(const QString &message)
{
    return "/me is using Vesk Chat v 1.0 - " + message.toLatin1() + "\r\n";
}

// The ticks (counted from 1) after which exactly the announcement of message
// went out; a tick that sent anything else counts negative.
QList<int> announcingTicks(ChatWindow &chat, int ticks, const QString &message)
{
    QList<int> announced;
    for (int i = 1; i <= ticks; ++i) {
        chat.tick();
        const QByteArray sent = chat.sent();
        if (!sent.isEmpty())
            announced << (sent == announcement(message) ? i : -i);
    }
    return announced;
}

void saveIdle(const QString &seconds, const QString &message)
{
    SaveSetting(Keys::IdleTime, seconds);
    SaveSetting(Keys::IdleString, message);
}
} // namespace

class TestIdleAnnouncer : public QObject
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

    void announcements_data()
    {
        QTest::addColumn<QString>("savedTime"); // null: nothing saved
        QTest::addColumn<int>("countBefore");
        QTest::addColumn<Answers>("answers"); // none: Idle not clicked; one: the seconds are refused
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QList<int>>("announced");

        const Answers every30{"30", "back soon"};
        QTest::newRow("first run") << QString() << 0 << Answers{} << 10 << "" << QList<int>{};
        QTest::newRow("Time saved as 2") << "2" << 0 << Answers{} << 6 << "away" << QList<int>{2, 4, 6};
        QTest::newRow("30 at count 10") << QString() << 10 << every30 << 80 << "back soon" << QList<int>{20, 50, 80};
        QTest::newRow("30 at count 45") << QString() << 45 << every30 << 80 << "back soon" << QList<int>{};
        QTest::newRow("empty message") << QString() << 0 << Answers{"2", ""} << 4 << "" << QList<int>{2, 4};
        QTest::newRow("message cancelled") << QString() << 0 << Answers{"2", std::nullopt} << 2 << "" << QList<int>{2};
        // Refused seconds keep the old period and message, save nothing, ask no message.
        QTest::newRow("seconds cancelled") << "2" << 0 << Answers{std::nullopt} << 4 << "away" << QList<int>{2, 4};
        QTest::newRow("seconds not a number") << "2" << 0 << Answers{"soon"} << 4 << "away" << QList<int>{2, 4};
        QTest::newRow("seconds too large") << "2" << 0 << Answers{"40000"} << 4 << "away" << QList<int>{2, 4};
    }

    void announcements()
    {
        QFETCH(QString, savedTime);
        QFETCH(int, countBefore);
        QFETCH(Answers, answers);
        QFETCH(int, ticks);
        QFETCH(QString, message);
        QFETCH(QList<int>, announced);

        if (!savedTime.isNull())
            saveIdle(savedTime, message);
        ChatWindow chat;
        QVERIFY(chat.connectNow());
        for (int i = 0; i < countBefore; ++i)
            chat.tick();
        if (!answers.isEmpty()) {
            SaveSetting(Keys::IdleTime, QStringLiteral("7")); // shows a save even of the old value
            InputBoxAnswers boxes(answers);
            chat.invoke("cmdIdle_Click");
            const bool accepted = answers.size() == 2;
            QCOMPARE(boxes.asked, accepted ? (QStringList{kSecondsBox, kMessageBox}) : QStringList{kSecondsBox});
            QCOMPARE(GetSetting(Keys::IdleTime), accepted ? *answers.first() : QStringLiteral("7"));
            QCOMPARE(GetSetting(Keys::IdleString), message);
        }
        QCOMPARE(announcingTicks(chat, ticks, message), announced);
    }

    void typingSurvives_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("length"); // 0: just the caret at from

        QTest::newRow("caret inside") << true << "/whisper Al" << 3 << 0;
        QTest::newRow("selection, caret at end") << true << "hello" << 1 << 3;
        QTest::newRow("selection, caret at start") << true << "hello" << 4 << -3;
        QTest::newRow("not connected: skipped silently") << false << "draft" << 2 << 0;
    }

    void typingSurvives()
    {
        QFETCH(bool, connected);
        QFETCH(QString, typed);
        QFETCH(int, from);
        QFETCH(int, length);

        saveIdle("2", "away");
        ChatWindow chat;
        if (connected)
            QVERIFY(chat.connectNow());
        QLineEdit *input = chat.input();
        input->setText(typed);
        input->setSelection(from, length);
        auto state = [input] {
            return std::tuple(input->text(), input->cursorPosition(), input->selectionStart(), input->selectedText());
        };
        const auto before = state();

        chat.tick();
        chat.tick();
        if (connected)
            QCOMPARE(chat.sent(), announcement("away"));
        QCOMPARE(state(), before);
        QCOMPARE(chat.chatPane()->toPlainText(), QString());
        if (!connected) { // the skipped announcement still started the count again
            QVERIFY(chat.connectNow());
            QCOMPARE(announcingTicks(chat, 2, "away"), QList<int>{2});
        }
    }
};

QTEST_MAIN(TestIdleAnnouncer)
#include "tst_idleannouncer.moc"
