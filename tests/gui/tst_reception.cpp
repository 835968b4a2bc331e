// SPDX-License-Identifier: MIT
// How the main window shows what its link receives: pane lines, the caret,
// the user list, its caption and the pointer. Which event each line is, and
// their order across the slices of a flood, is checked on the link itself in
// tst_chatlink.cpp; a slice's batched pane edits in tst_displaypane.cpp.
#include "gui/ChatWindow.h"

class tst_reception : public QObject
{
    Q_OBJECT

    WindowTestState state;
    std::unique_ptr<ChatWindow> chat;

private slots:
    void init()
    {
        state.reset();
        chat = std::make_unique<ChatWindow>();
        QVERIFY(chat->connectNow());
    }
    void cleanup() { chat.reset(); }

    void panes_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QString>("chatPane");
        QTest::addColumn<QString>("whisperPane");
        const std::tuple<const char *, const char *, const char *, const char *> rows[] = {
            {"talk", "1005 kkkk bob 0010 \"hello there\"", "[12:34] <bob> hello there\n", ""},
            {"whisper", "1004 kkkkkkk bob 0010 \"psst\"", "", "[12:34] <FROM: bob> psst\n"},
            {"emote", "1023 kkkkk bob 0010 \"waves\"", "[12:34] <bob waves> \n", ""},
            {"info, no timestamp", "1018 kkkk \"Welcome aboard.\"", "Welcome aboard.\n", ""},
            {"uncut talk", "1005", "[12:34] 1005\n", ""},
            {"uncut whisper", "1004 kkkkkkk bob 0010", "", "[12:34] 1004 kkkkkkk bob 0010\n"},
            {"markup stays text", "1005 kkkk <b>x</b> 0010 \"<img src=a>\"", "[12:34] <<b>x</b>> <img src=a>\n", ""},
            {"ignored code", "2000 NULL", "", ""}};
        for (const auto &[name, received, chatPane, whisperPane] : rows)
            QTest::newRow(name) << QByteArray(received) + "\r\n" << QString(chatPane) << QString(whisperPane);
    }

    void panes()
    {
        QFETCH(QByteArray, received);
        QFETCH(QString, chatPane);
        QFETCH(QString, whisperPane);
        QVERIFY(chat->receive(received));
        QCOMPARE(chat->chatPane()->toPlainText(), chatPane + "marker\n");
        QCOMPARE(chat->whisperPane()->toPlainText(), whisperPane);
        QVERIFY(caretAtEnd(chat->chatPane()) && caretAtEnd(chat->whisperPane()));
    }

    // The channel line empties the list and ends the login's busy pointer; the
    // list shows the roster's rows, and the caption counts what the list shows.
    void rosterAndCaption()
    {
        chat->window.setCursor(Qt::WaitCursor); // as the login handshake leaves it
        QVERIFY(chat->receive("1001 kkkk early 0010\r\n"));
        QCOMPARE(chat->entries(), (QStringList{"User List", "early "}));
        QCOMPARE(chat->caption(), "  (2)");
        QCOMPARE(chat->window.cursor().shape(), Qt::WaitCursor);

        QVERIFY(chat->receive("1007 kkkkkkk \"Lobby\"\r\n1001 kkkk bob 0010\r\n1002 kkkk amy 0000\r\n"
                              "1002 kkkk bob 0010\r\n1003 kkkkk bob 0010\r\n1003 kkkkk nobody 0010\r\n"));
        QCOMPARE(chat->entries(), (QStringList{"amy ", "bob "}));
        QCOMPARE(chat->caption(), "Lobby  (2)");
        QCOMPARE(chat->window.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(chat->chatPane()->toPlainText(), "marker\n[12:34] Joining Channel Lobby.\nmarker\n");
    }
};

QTEST_MAIN(tst_reception)
#include "tst_reception.moc"
