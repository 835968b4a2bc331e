// SPDX-License-Identifier: MIT
// The chat log and mention marks of a real main window fed by a server.
#include "gui/ChatWindow.h"

#include "log/ChatLog.h"
#include "settings/Settings.h"
#include "ui/FindBar.h"

class tst_chatfeatures : public QObject
{
    Q_OBJECT

    ChatDayState state;

private slots:
    void init() { state.reset(); }

    void logHoldsWhatThePanesShowButNoLogin()
    {
        ChatWindow w;
        QVERIFY(w.login());
        const QByteArray longText(6000, 'x'); // the pane cuts it, the log keeps it whole
        w.server.send("1007 CHANNEL \"Lobby\"\r\n"
                      "1005 TALK bo 0010 \"" + longText + "\"\r\n"
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
        QVERIFY(!w.chatPane()->toPlainText().contains(QString::fromLatin1(longText)));
        const QByteArray expected = "2026-03-14 09:05:07 Joining Channel Lobby.\n"
                                    "2026-03-14 09:05:07 <bo> " + longText + "\n"
                                    "2026-03-14 09:05:07 <bo> hi tester, <b>see</b> www.x.example\n"
                                    "2026-03-14 09:05:07 <FROM: cy> psst\n"
                                    "2026-03-14 09:05:07 welcome\n"
                                    "2026-03-14 09:05:07 <bo waves> \n"
                                    "2026-03-14 09:05:07 <Tester> hello\n";
        QTRY_COMPARE_WITH_TIMEOUT(readChatDayLog(), expected, 3000);
        QTRY_VERIFY(w.server.received().contains("s3cret")); // the handshake went out, to the server only
        QVERIFY(!readChatDayLog().contains("s3cret"));
    }

    void mentionLinesHighlighted()
    {
        ChatWindow w;
        QVERIFY(w.login());
        w.server.send("1005 TALK bo 0010 \"hi tester!\"\r\n"
                      "1005 TALK bo 0010 \"hi testers\"\r\n"
                      "1023 EMOTE cy 0010 \"pokes TESTER\"\r\n"
                      "1005 TALK Tester 0010 \"I am Tester\"\r\n");
        QTRY_VERIFY(w.chatPane()->toPlainText().contains(QStringLiteral("I am Tester")));
        QCOMPARE(lineDrawing(w.chatPane(), QStringLiteral("<bo> hi tester!")), QStringLiteral("bold"));
        QVERIFY(lineDrawing(w.chatPane(), QStringLiteral("<bo> hi testers")) != u"bold");
        QCOMPARE(lineDrawing(w.chatPane(), QStringLiteral("<cy pokes TESTER> ")), QStringLiteral("bold"));
        QVERIFY(lineDrawing(w.chatPane(), QStringLiteral("<Tester> I am Tester")) != u"bold");
    }

    // Mentions are found in the text as received: a line the display rules
    // change (a direction override, a NUL, a line the pane cuts) is marked,
    // and so is every later mention of the same slice.
    void mentionsMarkedAsReceived_data()
    {
        QTest::addColumn<QByteArrayList>("texts");
        QTest::addColumn<QList<bool>>("marked");
        const QByteArray rtl = "tester \xE2\x80\xAE reversed";
        const QByteArray nul = QByteArray("a") + '\0' + "b tester";
        const QByteArray huge = "tester " + QByteArray(5000, 'y');
        QTest::newRow("direction override") << QByteArrayList{rtl, "later tester"} << QList<bool>{true, true};
        QTest::newRow("NUL") << QByteArrayList{nul, "later tester"} << QList<bool>{true, true};
        QTest::newRow("5,000 characters") << QByteArrayList{huge, "later tester"} << QList<bool>{true, true};
        QTest::newRow("all in one slice") << QByteArrayList{rtl, nul, huge, "nothing here", "later tester"}
                                          << QList<bool>{true, true, true, false, true};
    }
    void mentionsMarkedAsReceived()
    {
        QFETCH(QByteArrayList, texts);
        QFETCH(QList<bool>, marked);
        ChatWindow w;
        QByteArray slice;
        for (const QByteArray &text : texts)
            slice += "1005 TALK bo 0010 \"" + text + "\"\r\n";
        w.window.link()->feedBytesForTesting(slice); // one slice
        QList<bool> bold;
        for (QTextBlock b = w.chatPane()->document()->begin(); b.isValid() && !b.text().isEmpty(); b = b.next())
            bold << (!b.layout()->formats().isEmpty() && b.layout()->formats().first().format.fontWeight() == QFont::Bold);
        QCOMPARE(bold, marked);
    }

    void unwritableLogFolderReportedOnce()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SaveSetting(Keys::LogsFolder, blocker.fileName());
        ChatWindow w;
        QVERIFY(w.login());
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
        QWidget *start = focused == u"Text1" ? static_cast<QWidget *>(w.input())
                         : focused == u"Text2" ? w.chatPane() : w.whisperPane();
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
