// SPDX-License-Identifier: MIT
// How the main window shows what its link receives: pane lines, the caret,
// the user list, its caption and the pointer. Which event each line is, and
// their order across the slices of a flood, is checked on the link itself in
// tst_chatlink.cpp; a slice's batched pane edits in tst_displaypane.cpp.
#include "gui/ChatWindow.h"
#include "reception/DisplayText.h"

namespace {
template <std::size_t N>
QByteArray withNul(const char (&bytes)[N])
{
    return QByteArray(bytes, N - 1);
}
} // namespace

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

    // Control characters anywhere and direction controls in names show as U+FFFD, in panes, caption and user list.
    void hiddenCharacters_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QString>("chat");
        QTest::addColumn<QString>("whispers");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("lastEntry");
        const QString lobby = QStringLiteral("Lobby  (1)");
        const QString bob = QStringLiteral("bob ");
        QTest::newRow("nul in talk") << withNul("1005 kkkk b\0b 0010 \"a\0b\"") << "[12:34] <b\uFFFDb> a\uFFFDb\n" << ""
                                     << lobby << bob;
        QTest::newRow("override in a talk name") << QByteArray("1005 kkkk \xE2\x80\xAE" "bob 0010 \"hi\"")
                                                 << "[12:34] <\uFFFDbob> hi\n" << "" << lobby << bob;
        QTest::newRow("override in a talk text stays") << QByteArray("1005 kkkk bob 0010 \"\xE2\x80\xAEhi\"")
                                                       << "[12:34] <bob> \u202Ehi\n" << "" << lobby << bob;
        QTest::newRow("isolate in a whisper name") << QByteArray("1004 kkkkkkk b\xE2\x81\xA8" "b 0010 \"psst\"") << ""
                                                   << "[12:34] <FROM: b\uFFFDb> psst\n" << lobby << bob;
        QTest::newRow("C1 in an emote name") << QByteArray("1023 kkkkk b\x81" "b 0010 \"waves\"")
                                             << "[12:34] <b\uFFFDb waves> \n" << "" << lobby << bob;
        QTest::newRow("escape in information") << QByteArray("1018 kkkk \"a\x1B[2Jb\"") << "a\uFFFD[2Jb\n" << ""
                                               << lobby << bob;
        QTest::newRow("embedding in an uncut line") << QByteArray("1005 \xE2\x80\xAB") << "[12:34] 1005 \uFFFD\n" << ""
                                                    << lobby << bob;
        QTest::newRow("channel") << withNul("1007 kkkkkkk \"L\0b\xE2\x80\xAE\"")
                                 << "[12:34] Joining Channel L\uFFFDb\uFFFD.\n" << "" << "L\uFFFDb\uFFFD  (0)" << "";
        const QString longName = QString(kDisplayNameCut, u'c') + cutMarker(300 - kDisplayNameCut);
        QTest::newRow("long channel") << "1007 kkkkkkk \"" + QByteArray(300, 'c') + "\""
                                      << "[12:34] Joining Channel " + longName + ".\n" << "" << longName + "  (0)" << "";
        QTest::newRow("long talk name") << "1005 kkkk " + QByteArray(300, 'n') + " 0010 \"hi\""
                                        << "[12:34] <" + QString(kDisplayNameCut, u'n') + cutMarker(300 - kDisplayNameCut)
                                               + "> hi\n"
                                        << "" << lobby << bob;
        QTest::newRow("user") << QByteArray("1001 kkkk \xE2\x80\xAE\x01" "bob 0010") << "" << "" << "Lobby  (2)"
                              << "\uFFFD\uFFFDbob ";
    }

    void hiddenCharacters()
    {
        QFETCH(QByteArray, received);
        QFETCH(QString, chat);
        QFETCH(QString, whispers);
        QFETCH(QString, caption);
        QFETCH(QString, lastEntry);

        QVERIFY(this->chat->receive("1007 kkkkkkk \"Lobby\"\r\n1001 kkkk bob 0010\r\n"));
        const QString before = this->chat->chatPane()->toPlainText();
        QVERIFY(this->chat->receive(received + "\r\n"));
        QCOMPARE(this->chat->chatPane()->toPlainText(), before + chat + "marker\n");
        QCOMPARE(this->chat->whisperPane()->toPlainText(), whispers);
        QCOMPARE(this->chat->caption(), caption);
        QCOMPARE(this->chat->entries().value(this->chat->entries().size() - 1), lastEntry);
        // The roster buttons send the entry as received (the override has no 8-bit form).
        if (received.startsWith("1001")) {
            this->chat->selectUser(1);
            QTest::mouseClick(this->chat->button("Whois"), Qt::LeftButton);
            QCOMPARE(this->chat->sent(), QByteArray("/whois ?\x01" "bob \r\n"));
        }
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
