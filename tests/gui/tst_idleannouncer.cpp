// SPDX-License-Identifier: MIT
// The idle announcer, with the ticks driven by the test.
#include "gui/ChatWindow.h"

#include "settings/Settings.h"

#include <QInputDialog>

#include <optional>

using Answers = QList<std::optional<QString>>; // std::nullopt cancels the box

// Answers the input boxes in order, recording each one's "title: prompt"; a
// box past the answers is recorded and cancelled.
void answerInputBoxes(Answers answers, QStringList *asked)
{
    onModal("QInputDialog", [=](QWidget *w) {
        auto *box = static_cast<QInputDialog *>(w);
        *asked << box->windowTitle() + ": " + box->labelText();
        if (answers.size() > 1)
            answerInputBoxes(answers.mid(1), asked);
        else if (!answers.isEmpty())
            answerInputBoxes({std::nullopt}, asked);
        answers.value(0) ? (box->setTextValue(*answers.value(0)), box->accept()) : box->reject();
    });
}

namespace {
const QStringList kBoxes{"Idle: Enter number of seconds between idles", "Idle: Enter your idle message:"};

// The ticks (counted from 1) after which exactly the announcement of message
// went out; a tick that sent anything else counts negative.
QList<int> announcingTicks(ChatWindow &chat, int ticks, const QString &message)
{
    QList<int> announced;
    for (int i = 1; i <= ticks; ++i) {
        chat.tick();
        if (const QByteArray sent = chat.sent(); !sent.isEmpty())
            announced << (sent == "/me is using Vesk Chat v 1.0 - " + message.toLatin1() + "\r\n" ? i : -i);
    }
    return announced;
}

void saveIdle(const QString &seconds, const QString &message)
{
    SaveSetting(Keys::IdleTime, seconds);
    SaveSetting(Keys::IdleString, message);
}
} // namespace

class tst_idleannouncer : public QObject
{
    Q_OBJECT

    WindowTestState state;

private slots:
    void init() { state.reset(); }

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
            SaveSetting(Keys::IdleTime, "7"); // shows a save even of the old value
            QStringList asked;
            answerInputBoxes(answers, &asked);
            chat.ui.cmdIdle->setEnabled(true);
            chat.ui.cmdIdle->click();
            cancelPendingModalAnswers();
            const bool accepted = answers.size() == 2;
            QCOMPARE(asked, kBoxes.mid(0, accepted ? 2 : 1));
            QCOMPARE(GetSetting(Keys::IdleTime), accepted ? *answers.first() : "7");
            QCOMPARE(GetSetting(Keys::IdleString), message);
        }
        QCOMPARE(announcingTicks(chat, ticks, message), announced);
    }

    // An announcement leaves the typed text, caret and selection alone; one
    // skipped while not connected still starts the count again.
    void typingSurvives_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::newRow("connected") << true;
        QTest::newRow("not connected: skipped silently") << false;
    }

    void typingSurvives()
    {
        QFETCH(bool, connected);
        saveIdle("2", "away");
        ChatWindow chat;
        if (connected)
            QVERIFY(chat.connectNow());
        QLineEdit *input = chat.input();
        input->setText("hello");
        input->setSelection(4, -3); // caret at the selection's start
        auto typing = [input] {
            return std::tuple(input->text(), input->cursorPosition(), input->selectionStart(), input->selectedText());
        };
        const auto before = typing();
        chat.tick();
        chat.tick();
        if (connected)
            QCOMPARE(chat.sent(), QByteArray("/me is using Vesk Chat v 1.0 - away\r\n"));
        QCOMPARE(typing(), before);
        QCOMPARE(chat.chatPane()->toPlainText(), QString());
        if (!connected) {
            QVERIFY(chat.connectNow());
            QCOMPARE(announcingTicks(chat, 2, "away"), QList<int>{2});
        }
    }
};

QTEST_MAIN(tst_idleannouncer)
#include "tst_idleannouncer.moc"
