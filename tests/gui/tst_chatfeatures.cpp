// SPDX-License-Identifier: MIT
// The chat log and mention marks of a real main window fed by a server.
#include "gui/ChatWindow.h"

#include "log/ChatLog.h"
#include "session/Globals.h"
#include "settings/Settings.h"
#include "ui/FindBar.h"

#include <QTextBlock>
#include <QTextLayout>

class tst_chatfeatures : public QObject
{
    Q_OBJECT

    TestStore store;
    FixedClock clock;

    static QString logPath()
    {
        return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/VeskChat/logs/127.0.0.1/2026-03-14.log");
    }
    static QByteArray readLog()
    {
        QFile file(logPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static bool boldLine(QPlainTextEdit *pane, const QString &text)
    {
        for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next()) {
            if (b.text().endsWith(text))
                return !b.layout()->formats().isEmpty() && b.layout()->formats().first().format.fontWeight() == QFont::Bold;
        }
        return false;
    }
    static void login(ChatWindow &w)
    {
        ServerAddress = QStringLiteral("127.0.0.1");
        LoginName = QStringLiteral("Tester");
        LoginPassword = QStringLiteral("s3cret");
        QVERIFY(w.connectNow());
        w.window.ProceedLogin();
    }

private slots:
    void init()
    {
        TestStore::clear();
        QFile::remove(logPath());
        setDateTimeClockForTesting([] { return QDateTime(QDate(2026, 3, 14), QTime(9, 5, 7)); });
    }
    void cleanup() { setDateTimeClockForTesting({}); }

    void logHoldsWhatThePanesShowButNoLogin()
    {
        ChatWindow w;
        login(w);
        w.server.send("1007 CHANNEL \"Lobby\"\r\n"
                      "1005 TALK bo 0010 \"hi tester, <b>see</b> www.x.example\"\r\n"
                      "1004 WHISPER cy 0010 \"psst\"\r\n"
                      "1018 INFO \"welcome\"\r\n"
                      "1023 EMOTE bo 0010 \"waves\"\r\n");
        QTRY_VERIFY(w.chatPane()->toPlainText().contains(QStringLiteral("waves")));
        w.input()->setText(QStringLiteral("hello"));
        QTest::keyClick(w.input(), Qt::Key_Return);
        w.input()->setText(QStringLiteral("/clear"));
        QTest::keyClick(w.input(), Qt::Key_Return);
        QVERIFY(w.chatPane()->toPlainText().isEmpty());
        const QByteArray expected = "2026-03-14 09:05:07 Joining Channel Lobby.\n"
                                    "2026-03-14 09:05:07 <bo> hi tester, <b>see</b> www.x.example\n"
                                    "2026-03-14 09:05:07 <FROM: cy> psst\n"
                                    "2026-03-14 09:05:07 welcome\n"
                                    "2026-03-14 09:05:07 <bo waves> \n"
                                    "2026-03-14 09:05:07 <Tester> hello\n";
        QTRY_COMPARE_WITH_TIMEOUT(readLog(), expected, 3000);
        QVERIFY(w.server.received().contains("s3cret")); // the handshake went out, to the server only
        QVERIFY(!readLog().contains("s3cret"));
    }

    void mentionLinesHighlighted()
    {
        ChatWindow w;
        login(w);
        w.server.send("1005 TALK bo 0010 \"hi tester!\"\r\n"
                      "1005 TALK bo 0010 \"hi testers\"\r\n"
                      "1023 EMOTE cy 0010 \"pokes TESTER\"\r\n"
                      "1005 TALK Tester 0010 \"I am Tester\"\r\n");
        QTRY_VERIFY(w.chatPane()->toPlainText().contains(QStringLiteral("I am Tester")));
        QVERIFY(boldLine(w.chatPane(), QStringLiteral("<bo> hi tester!")));
        QVERIFY(!boldLine(w.chatPane(), QStringLiteral("<bo> hi testers")));
        QVERIFY(boldLine(w.chatPane(), QStringLiteral("<cy pokes TESTER> ")));
        QVERIFY(!boldLine(w.chatPane(), QStringLiteral("<Tester> I am Tester")));
    }

    void unwritableLogFolderReportedOnce()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SaveSetting(Keys::LogsFolder, blocker.fileName());
        ChatWindow w;
        login(w);
        w.server.send("1018 INFO \"one\"\r\n");
        QTRY_VERIFY(w.chatPane()->toPlainText().contains(QLatin1String(kLogPausedPrefix)));
        w.server.send("1018 INFO \"two\"\r\n");
        QTRY_VERIFY(w.chatPane()->toPlainText().endsWith(QStringLiteral("two\n")));
        QCOMPARE(w.chatPane()->toPlainText().count(QLatin1String(kLogPausedPrefix)), 1);
    }

    void ctrlFSearchesThePaneInUse_data()
    {
        QTest::addColumn<QString>("focused");
        QTest::addColumn<QString>("searched");
        QTest::newRow("from the input line") << "Text1" << "Text2";
        QTest::newRow("from the chat pane") << "Text2" << "Text2";
        QTest::newRow("from the whisper pane") << "Text3" << "Text3";
    }
    void ctrlFSearchesThePaneInUse()
    {
        QFETCH(QString, focused);
        QFETCH(QString, searched);
        ChatWindow w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        appendDisplayLine(w.chatPane(), QStringLiteral("one two"));
        appendDisplayLine(w.whisperPane(), QStringLiteral("two two"));
        QWidget *start = control<QWidget>(&w.window, focused.toLatin1());
        start->setFocus();
        QTRY_VERIFY(start->hasFocus());
        QTest::keyClick(&w.window, Qt::Key_F, Qt::ControlModifier);
        auto *bar = control<FindBar>(&w.window, "FindBar");
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->pane()->objectName(), searched);
        auto *text = control<QLineEdit>(bar, "FindText");
        QVERIFY(text->hasFocus());
        QTest::keyClicks(text, QStringLiteral("two"));
        QCOMPARE(bar->countText(), searched == u"Text2" ? QStringLiteral("1 of 1") : QStringLiteral("1 of 2"));
        QTest::keyClick(text, Qt::Key_F3);
        QCOMPARE(bar->countText(), searched == u"Text2" ? QStringLiteral("1 of 1") : QStringLiteral("2 of 2"));
        QTest::keyClick(text, Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QTRY_VERIFY(start->hasFocus());
    }
};

QTEST_MAIN(tst_chatfeatures)
#include "tst_chatfeatures.moc"
