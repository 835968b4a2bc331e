// SPDX-License-Identifier: MIT
// How the main window shows what its link receives: pane lines, the caret,
// the user list, its caption and the pointer.
#include "support/TestSupport.h"
#include "reception/DisplayText.h"
#include "ui/TorvalMain.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpSocket>

namespace {

const QByteArray kMarker = "1018 kkkk \"marker\"\r\n";

template <std::size_t N>
QByteArray withNul(const char (&bytes)[N])
{
    return QByteArray(bytes, N - 1);
}

bool caretAtEnd(const QPlainTextEdit *pane)
{
    return pane->textCursor().position() == pane->document()->characterCount() - 1;
}

struct Session {
    FixedClock clock;
    FakeServer server; // outlives the window, so the link never drops under it
    TorvalMain window;
    QPlainTextEdit *chat = control<QPlainTextEdit>(&window, "Text2");
    QPlainTextEdit *whispers = control<QPlainTextEdit>(&window, "Text3");
    QListWidget *roomlist = control<QListWidget>(&window, "Roomlist");
    QLabel *caption = control<QLabel>(&window, "Channel");

    bool link()
    {
        auto *socket = control<QTcpSocket>(&window, "Winsock1");
        socket->connectToHost(QHostAddress::LocalHost, server.port());
        chat->clear();
        whispers->clear();
        return socket->waitForConnected(5000) && server.waitForClient();
    }
    // Sends bytes and then the marker line, and returns once the marker shows in the chat pane.
    bool handle(const QByteArray &bytes)
    {
        const int blocks = chat->blockCount();
        server.send(bytes + kMarker);
        return QTest::qWaitFor(
            [&] { return chat->blockCount() > blocks && chat->toPlainText().endsWith(u"marker\n"); }, 60000);
    }
    QStringList entries() const
    {
        QStringList texts;
        for (int row = 0; row < roomlist->count(); ++row)
            texts << roomlist->item(row)->text();
        return texts;
    }
};

} // namespace

class tst_reception : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        TestStore::clear();
        s = std::make_unique<Session>();
        QVERIFY(s->link());
    }
    void cleanup() { s.reset(); }

    void panes_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QString>("chat");
        QTest::addColumn<QString>("whispers");
        QTest::newRow("talk") << QByteArray("1005 kkkk bob 0010 \"hello there\"\r\n")
                              << "[12:34] <bob> hello there\n" << "";
        QTest::newRow("whisper") << QByteArray("1004 kkkkkkk bob 0010 \"psst\"\r\n") << "" << "[12:34] <FROM: bob> psst\n";
        QTest::newRow("emote") << QByteArray("1023 kkkkk bob 0010 \"waves\"\r\n") << "[12:34] <bob waves> \n" << "";
        QTest::newRow("info, no timestamp") << QByteArray("1018 kkkk \"Welcome aboard.\"\r\n") << "Welcome aboard.\n" << "";
        QTest::newRow("uncut talk") << QByteArray("1005\r\n") << "[12:34] 1005\n" << "";
        QTest::newRow("uncut whisper") << QByteArray("1004 kkkkkkk bob 0010\r\n") << ""
                                       << "[12:34] 1004 kkkkkkk bob 0010\n";
        QTest::newRow("markup stays text") << QByteArray("1005 kkkk <b>x</b> 0010 \"<img src=a>\"\r\n")
                                           << "[12:34] <<b>x</b>> <img src=a>\n" << "";
        QTest::newRow("ignored code") << QByteArray("2000 NULL\r\n") << "" << "";
    }

    void panes()
    {
        QFETCH(QByteArray, received);
        QFETCH(QString, chat);
        QFETCH(QString, whispers);
        QVERIFY(s->handle(received));
        QCOMPARE(s->chat->toPlainText(), chat + "marker\n");
        QCOMPARE(s->whispers->toPlainText(), whispers);
        QVERIFY(caretAtEnd(s->chat));
        QVERIFY(caretAtEnd(s->whispers));
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

        QVERIFY(s->handle("1007 kkkkkkk \"Lobby\"\r\n1001 kkkk bob 0010\r\n"));
        const QString before = s->chat->toPlainText();
        QVERIFY(s->handle(received + "\r\n"));
        QCOMPARE(s->chat->toPlainText(), before + chat + "marker\n");
        QCOMPARE(s->whispers->toPlainText(), whispers);
        QCOMPARE(s->caption->text(), caption);
        QCOMPARE(s->entries().value(s->entries().size() - 1), lastEntry);
        // The roster buttons send the entry as received (the override has no 8-bit form).
        if (received.startsWith("1001")) {
            s->roomlist->setCurrentRow(1);
            QTest::mouseClick(control<QPushButton>(&s->window, "Whois"), Qt::LeftButton);
            QTRY_COMPARE(s->server.received(), QByteArray("/whois ?\x01" "bob \r\n"));
        }
    }

    // The channel line empties the list and ends the login's busy pointer; the
    // caption counts what the list shows.
    void rosterAndCaption()
    {
        s->window.setCursor(Qt::WaitCursor); // as the login handshake leaves it
        QVERIFY(s->handle("1001 kkkk early 0010\r\n"));
        QCOMPARE(s->entries(), (QStringList{"User List", "early "}));
        QCOMPARE(s->caption->text(), QStringLiteral("  (2)"));
        QCOMPARE(s->window.cursor().shape(), Qt::WaitCursor);

        QVERIFY(s->handle("1007 kkkkkkk \"Lobby\"\r\n1001 kkkk bob 0010\r\n1002 kkkk amy 0000\r\n"
                          "1002 kkkk bob 0010\r\n1003 kkkkk bob 0010\r\n1003 kkkkk nobody 0010\r\n"));
        QCOMPARE(s->entries(), (QStringList{"amy ", "bob "}));
        QCOMPARE(s->caption->text(), QStringLiteral("Lobby  (2)"));
        QCOMPARE(s->window.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(s->chat->toPlainText(), QStringLiteral("marker\n[12:34] Joining Channel Lobby.\nmarker\n"));
    }

    void floodKeepsOrder()
    {
        constexpr int kLines = 20000;
        QByteArray flood;
        QString expected;
        for (int i = 0; i < kLines; ++i) {
            flood += "1005 kkkk bob 0010 \"line " + QByteArray::number(i) + "\"\r\n";
            expected += QStringLiteral("[12:34] <bob> line %1\n").arg(i);
        }
        QVERIFY(s->handle(flood));
        QCOMPARE(s->chat->toPlainText(), expected + "marker\n");
        QVERIFY(caretAtEnd(s->chat));
    }

private:
    TestStore store;
    std::unique_ptr<Session> s;
};

QTEST_MAIN(tst_reception)
#include "tst_reception.moc"
