// SPDX-License-Identifier: MIT
// Through the real main window fed by a server: the chat log's earlier lines
// on logging in, a paste of many lines, the input line's spell check.
#include "gui/ChatWindow.h"

#include "log/ChatLog.h"
#include "outgoing/PasteQueue.h"
#include "settings/Settings.h"
#include "ui/PasteBar.h"
#include "ui/SpellCheckLine.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMimeData>

class tst_dailyuse : public QObject
{
    Q_OBJECT

    ChatDayState state;

    // Logged in and in the Lobby, the window shown when asked to.
    static bool inLobby(ChatWindow &w, bool shown)
    {
        if (!w.login())
            return false;
        w.server.send("1007 CHANNEL \"Lobby\"\r\n");
        if (shown)
            w.window.show();
        return QTest::qWaitFor([&] { return w.chatPane()->toPlainText().contains(u"Joining Channel Lobby"); }) &&
               (!shown || QTest::qWaitForWindowExposed(&w.window));
    }
    static PasteBar *bar(ChatWindow &w) { return w.window.pasteBar(); }
    static QString barText(ChatWindow &w) { return bar(w)->findChild<QLabel *>(QStringLiteral("pasteMessage"))->text(); }
    static QString numbered(int count)
    {
        QStringList lines;
        for (int i = 1; i <= count; ++i)
            lines << QStringLiteral("line %1").arg(i);
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    static QByteArray numberedSent(int from, int to)
    {
        QByteArray bytes;
        for (int i = from; i <= to; ++i)
            bytes += "line " + QByteArray::number(i) + "\r\n";
        return bytes;
    }

private slots:
    void init()
    {
        state.reset();
        QGuiApplication::clipboard()->clear();
    }

    // Run 1 chats and ends; run 2 logs in and sees what run 1 logged, muted,
    // between the two frame lines, not logged again and not marked as a mention.
    void earlierLinesFromAnEarlierRun_data()
    {
        QTest::addColumn<QString>("replay");
        QTest::addColumn<QByteArray>("damage"); // appended to the log between the runs
        QTest::addColumn<QStringList>("shown");  // the chat pane of run 2 before the channel line
        const QString start = QStringLiteral("\u2014 earlier, from the chat log \u2014");
        const QString now = QStringLiteral("\u2014 now \u2014");
        const QString channel = QStringLiteral("[2026-03-14 09:05] Joining Channel Lobby.");
        const QString mention = QStringLiteral("[2026-03-14 09:05] <bo> hi tester");
        const QString own = QStringLiteral("[2026-03-14 09:05] <Tester> hello");
        QTest::newRow("default") << QString() << QByteArray() << QStringList{start, channel, mention, own, now};
        QTest::newRow("last two") << QStringLiteral("2") << QByteArray() << QStringList{start, mention, own, now};
        QTest::newRow("none") << QStringLiteral("0") << QByteArray() << QStringList{};
        QTest::newRow("not a number") << QStringLiteral("many") << QByteArray()
                                      << QStringList{start, channel, mention, own, now};
        QTest::newRow("binary line") << QString() << QByteArray("\x01\x02\x00\xff binary\n", 12)
                                     << QStringList{start, channel, mention, own,
                                                    QStringLiteral("One damaged line of the chat log was left out."), now};
    }
    void earlierLinesFromAnEarlierRun()
    {
        QFETCH(QString, replay);
        QFETCH(QByteArray, damage);
        QFETCH(QStringList, shown);
        if (!replay.isNull())
            SaveSetting(Keys::LogsReplay, replay);
        {
            ChatWindow run1(ChatWindow::Replay::AsSet);
            QVERIFY(run1.login());
            run1.server.send("1007 CHANNEL \"Lobby\"\r\n1005 TALK bo 0010 \"hi tester\"\r\n");
            QTRY_VERIFY(run1.chatPane()->toPlainText().contains(QStringLiteral("hi tester")));
            run1.input()->setText(QStringLiteral("hello"));
            QTest::keyClick(run1.input(), Qt::Key_Return);
        }
        const QByteArray run1Log = "2026-03-14 09:05:07 Joining Channel Lobby.\n"
                                   "2026-03-14 09:05:07 <bo> hi tester\n"
                                   "2026-03-14 09:05:07 <Tester> hello\n";
        QTRY_COMPARE(readChatDayLog(), run1Log);
        if (!damage.isEmpty()) {
            QFile file(chatDayLogPath());
            QVERIFY(file.open(QIODevice::Append));
            file.write(damage);
        }

        ChatWindow run2(ChatWindow::Replay::AsSet);
        QVERIFY(run2.login());
        QTRY_VERIFY(replay == u"0" || run2.session()->isReplayReady());
        run2.server.send("1007 CHANNEL \"Lobby\"\r\n");
        QTRY_VERIFY(run2.chatPane()->toPlainText().contains(QStringLiteral("[12:34] Joining Channel Lobby.")));
        QTest::qWait(50); // a replay that came late would show now
        QStringList lines = run2.chatPane()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.takeLast(), QStringLiteral("[12:34] Joining Channel Lobby."));
        QCOMPARE(lines, shown);
        for (const QString &line : shown)
            QCOMPARE(lineDrawing(run2.chatPane(), line), QStringLiteral("muted"));
        QCOMPARE(lineDrawing(run2.chatPane(), QStringLiteral("[12:34] Joining Channel Lobby.")), QStringLiteral("plain"));
        // A new mention in run 2 is still marked; the replayed one is not.
        run2.server.send("1005 TALK bo 0010 \"again tester\"\r\n");
        QTRY_COMPARE(lineDrawing(run2.chatPane(), QStringLiteral("<bo> again tester")), QStringLiteral("bold"));
        // Only run 2's own lines were added to the log.
        QTRY_COMPARE(readChatDayLog(), run1Log + damage + "2026-03-14 09:05:07 Joining Channel Lobby.\n"
                                                   "2026-03-14 09:05:07 <bo> again tester\n");
    }

    // Several lines pasted or dropped by any of the ways to paste ask first, then go out
    // one by one as typed lines would, in order, each echoed.
    void pasteOfManyLinesAsks_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines"); // 0: pasted into the input line as always
        QTest::newRow("Ctrl+V, 12 lines") << "ctrl+v" << numbered(12) << 12;
        QTest::newRow("Shift+Insert, 12 lines") << "shift+insert" << numbered(12) << 12;
        QTest::newRow("context menu, 12 lines") << "menu" << numbered(12) << 12;
        QTest::newRow("CR LF breaks") << "ctrl+v" << QStringLiteral("line 1\r\nline 2\r\nline 3") << 3;
        QTest::newRow("one line") << "ctrl+v" << QStringLiteral("just one\n") << 0;
        QTest::newRow("one line, menu") << "menu" << QStringLiteral("just one") << 0;
        QTest::newRow("dropped, 3 lines") << "drop" << numbered(3) << 3;
        QTest::newRow("dropped, one line") << "drop" << QStringLiteral("just one") << 0;
        QTest::newRow("dropped, one line and its break") << "drop" << QStringLiteral("just one\r\n") << 0;
    }
    void pasteOfManyLinesAsks()
    {
        QFETCH(QString, how);
        QFETCH(QString, text);
        QFETCH(int, lines);
        ChatWindow w;
        QVERIFY(inLobby(w, true));
        w.sent(); // the handshake
        w.input()->clear();
        QGuiApplication::clipboard()->setText(text);
        if (how == u"ctrl+v") {
            QTest::keyClick(w.input(), Qt::Key_V, Qt::ControlModifier);
        } else if (how == u"shift+insert") {
            QTest::keyClick(w.input(), Qt::Key_Insert, Qt::ShiftModifier);
        } else if (how == u"drop") {
            QMimeData data;
            data.setText(text);
            // A drop goes where the drag entered.
            QDragEnterEvent enter(QPoint(4, 4), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(w.input(), &enter);
            QDropEvent drop(QPointF(4, 4), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(w.input(), &drop);
            QVERIFY(drop.isAccepted());
            if (lines > 0) // the source keeps what it dragged, as the bar may yet be cancelled
                QCOMPARE(drop.dropAction(), Qt::CopyAction);
        } else {
            std::unique_ptr<QMenu> menu(w.window.spellCheckLine()->createContextMenu(QPoint(2, 2)));
            QAction *paste = nullptr;
            for (QAction *action : menu->actions())
                if (action->text().startsWith(QStringLiteral("&Paste")))
                    paste = action;
            QVERIFY(paste);
            paste->trigger();
        }
        if (lines == 0) {
            QVERIFY(!bar(w)->isVisible());
            QCOMPARE(w.input()->text(), QStringLiteral("just one"));
            return;
        }
        QVERIFY(bar(w)->isVisible());
        QCOMPARE(w.input()->text(), QString()); // nothing of it went into the input line
        QCOMPARE(barText(w), QStringLiteral("Send %1 lines to Lobby?").arg(lines));
        // Above the input line, inside the window.
        QVERIFY(bar(w)->geometry().bottom() < w.input()->geometry().top());
        QVERIFY(w.window.rect().contains(bar(w)->geometry()));
        QTRY_VERIFY(bar(w)->findChild<QPushButton *>(QStringLiteral("pasteSend"))->hasFocus());
        QCOMPARE(w.sent(), QByteArray()); // nothing before Send
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!w.window.pasteQueue()->isRunning(), 5000);
        QCOMPARE(w.sent(), numberedSent(1, lines));
        QCOMPARE(barText(w), QStringLiteral("Sent %1 lines.").arg(lines));
        QCOMPARE(w.chatPane()->toPlainText().count(QStringLiteral("<Tester> line ")), lines);
        QVERIFY(w.chatPane()->toPlainText().contains(QStringLiteral("[12:34] <Tester> line %1\n").arg(lines)));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!bar(w)->isVisible());
        QTRY_VERIFY(w.input()->hasFocus());
    }

    // However long, a paste asks first, and cancelled sends nothing and keeps what was typed.
    void pasteCancelledSendsNothing_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("question");
        QTest::newRow("4 lines") << 4 << "Send 4 lines to Lobby?";
        QTest::newRow("100,000 lines") << 100000 << "Send 100000 lines to Lobby?";
    }
    void pasteCancelledSendsNothing()
    {
        QFETCH(int, lines);
        QFETCH(QString, question);
        ChatWindow w;
        QVERIFY(inLobby(w, true));
        w.sent();
        w.input()->setText(QStringLiteral("typed"));
        w.window.Text1_Paste(numbered(lines));
        QVERIFY(!bar(w)->isHidden());
        QCOMPARE(barText(w), question);
        QCOMPARE(w.sent(), QByteArray());
        QTest::keyClick(bar(w), Qt::Key_Escape);
        QVERIFY(bar(w)->isHidden());
        QCOMPARE(w.sent(), QByteArray());
        QCOMPARE(w.input()->text(), QStringLiteral("typed"));
    }

    // A pasted line with control characters goes out byte for byte as the same line typed and sent.
    void controlCharactersGoAsTyped_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("tab") << QStringLiteral("a\tb");
        QTest::newRow("start of heading") << QStringLiteral("\x01" "ACTION waves\x01");
        QTest::newRow("colour escape") << QStringLiteral("\x1b[31mred\x1b[0m");
        QTest::newRow("bell and delete") << QStringLiteral("ding\x07\x7f");
        QTest::newRow("nul") << QStringLiteral("a") + QChar(0) + QStringLiteral("b");
    }
    void controlCharactersGoAsTyped()
    {
        QFETCH(QString, line);
        ChatWindow w;
        QVERIFY(inLobby(w, true));
        w.sent();
        w.input()->setText(line);
        QTest::keyClick(w.input(), Qt::Key_Return);
        const QByteArray typed = w.sent();
        QVERIFY(typed.endsWith("\r\n"));
        w.window.Text1_Paste(QStringLiteral("first\n") + line + QStringLiteral("\n"));
        bar(w)->findChild<QPushButton *>(QStringLiteral("pasteSend"))->click();
        QTRY_VERIFY(!w.window.pasteQueue()->isRunning());
        QCOMPARE(w.sent(), "first\r\n" + typed);
    }

    // The link ends in the middle: the bar tells how many went out, and they are the ones the server got.
    void linkDropMidPasteReportsTheCount()
    {
        ChatWindow w;
        QVERIFY(inLobby(w, false));
        w.sent();
        w.window.pasteQueue()->setPace(2, 150);
        w.window.Text1_Paste(numbered(12));
        bar(w)->findChild<QPushButton *>(QStringLiteral("pasteSend"))->click();
        QTRY_VERIFY(w.server.received().contains("line 3\r\n"));
        w.socket()->disconnectFromHost(); // what was written still goes out
        QTRY_VERIFY_WITH_TIMEOUT(!w.window.pasteQueue()->isRunning(), 5000);
        const int sent = w.window.pasteQueue()->sent();
        QVERIFY(sent >= 3 && sent < 12);
        QCOMPARE(barText(w), QStringLiteral("Sent %1 of 12 lines: the connection was lost.").arg(sent));
        QTRY_COMPARE(w.server.received(), numberedSent(1, sent));
    }

    // Misspelled words are underlined; names in the user list never are. Each line holds
    // one misspelling, so that the wait ends only once the line was checked.
    void spellCheckSparesUserNames_data()
    {
        QTest::addColumn<QByteArray>("users");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("marked");
        QTest::newRow("a user's name") << QByteArray("1001 USER Zorblax 0010\r\n") << "Zorblax wrotee here"
                                       << QStringList{"wrotee"};
        QTest::newRow("not in the list") << QByteArray() << "Zorblax wrotee here" << QStringList{"Zorblax", "wrotee"};
        QTest::newRow("joined later") << QByteArray("1002 JOIN Zorblax 0010\r\n") << "hi Zorblax wrotee"
                                      << QStringList{"wrotee"};
    }
    void spellCheckSparesUserNames()
    {
        QFETCH(QByteArray, users);
        QFETCH(QString, typed);
        QFETCH(QStringList, marked);
        SaveSetting(Keys::SpellLanguage, QStringLiteral("en_US"));
        ChatWindow w;
        QVERIFY2(w.window.spellChecker()->isEnabled(), qPrintable(w.window.spellChecker()->notice()));
        QVERIFY(w.login());
        w.server.send("1007 CHANNEL \"Lobby\"\r\n1001 USER bo 0010\r\n" + users);
        QTRY_COMPARE(w.entries().size(), users.isEmpty() ? 1 : 2);
        w.input()->setText(typed);
        w.input()->setCursorPosition(0); // not the word being typed
        QStringList words;
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     words.clear();
                                     for (const MisspelledRange &r : w.window.spellCheckLine()->marks())
                                         words << typed.mid(r.start, r.length);
                                     return words == marked;
                                 }()),
                                 2000);
    }

    void spellMenuOffersSuggestionsAndAdds()
    {
        SaveSetting(Keys::SpellLanguage, QStringLiteral("en_US"));
        ChatWindow w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        w.input()->setText(QStringLiteral("wrotee"));
        w.window.spellCheckLine()->recheck();
        std::unique_ptr<QMenu> menu(w.window.spellCheckLine()->createContextMenu(QPoint(4, w.input()->height() / 2)));
        QStringList texts;
        for (const QAction *action : menu->actions())
            texts << action->text();
        QVERIFY2(texts.contains(QStringLiteral("wrote")), qPrintable(texts.join(u'|')));
        QAction *add = nullptr;
        for (QAction *action : menu->actions())
            if (action->text() == QLatin1String(kAddToDictionary))
                add = action;
        QVERIFY(add);
        add->trigger();
        QVERIFY(w.window.spellCheckLine()->marks().isEmpty());
        QFile words(personalWordListPath());
        QVERIFY(words.open(QIODevice::ReadOnly));
        QVERIFY(words.readAll().contains("wrotee"));
    }

    void missingDictionaryTurnsTheCheckOffWithOneNotice_data()
    {
        QTest::addColumn<QString>("spell");
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("notice");
        QTest::newRow("no such dictionary") << "1" << "xx_QQ" << true;
        QTest::newRow("switched off") << "0" << "xx_QQ" << false;
    }
    void missingDictionaryTurnsTheCheckOffWithOneNotice()
    {
        QFETCH(QString, spell);
        QFETCH(QString, language);
        QFETCH(bool, notice);
        SaveSetting(Keys::SpellCheck, spell);
        SaveSetting(Keys::SpellLanguage, language);
        TorvalMain window;
        const QString pane = window.controls().Text2->toPlainText();
        QCOMPARE(pane.count(QLatin1String(kSpellOffPrefix)), notice ? 1 : 0);
        QVERIFY(!window.spellCheckLine()->isEnabled());
        window.controls().Text1->setText(QStringLiteral("wrotee"));
        window.spellCheckLine()->recheck();
        QVERIFY(window.spellCheckLine()->marks().isEmpty());
    }
};

QTEST_MAIN(tst_dailyuse)
#include "tst_dailyuse.moc"
