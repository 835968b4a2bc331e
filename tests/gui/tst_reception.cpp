// SPDX-License-Identifier: MIT
// How the main window shows what its link receives: pane lines, the caret,
// the user list, its caption and the pointer.
#include "support/TestSupport.h"
#include "ui/TorvalMain.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTcpSocket>

namespace {

const QByteArray kMarker = "1018 kkkk \"marker\"\r\n";

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
