// SPDX-License-Identifier: MIT
// A real main window fed raw bytes through its own socket by a local server.
#include "support/TestSupport.h"
#include "reception/DisplayText.h"
#include "ui/RosterIndex.h"
#include "ui/TorvalMain.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTcpSocket>

namespace {

const QString kChatStart = QStringLiteral("Chat Window\n");
const QString kWhisperStart = QStringLiteral("Whisper Window\n");
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
        if (!socket->waitForConnected(5000) || !server.waitForClient())
            return false;
        roomlist->clear(); // as Connect leaves it
        return true;
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

class TestReception : public QObject
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

    // One line after a channel with one user: the pane it should reach, if any, and what it shows there.
    void oneLine_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QString>("pane");
        QTest::addColumn<QString>("appended");
        auto row = [](const char *name, const QByteArray &line, const char *pane = "", const QString &appended = {}) {
            QTest::newRow(name) << line << QString::fromLatin1(pane) << appended;
        };
        row("talk", "1005 kkkk bob 0010 \"hello there\"", "Text2", "[12:34] <bob> hello there");
        row("talk, quotes in text", "1005 kkkk amy 0002 \"say \"hi\" now\"", "Text2",
            "[12:34] <amy> say \"hi\" now");
        row("flag value in the name", "1005 kkkk x0010y 0000 \"hi\"", "Text2", "[12:34] <x0010y> hi");
        row("talk, empty text", "1005 kkkk bob 0010 \"\"", "Text2", "[12:34] <bob> ");
        row("whisper", "1004 kkkkkkk bob 0010 \"psst\"", "Text3", "[12:34] <FROM: bob> psst");
        row("whisper, quotes in text", "1004 kkkkkkk amy 0000 \"say \"hi\" now\"", "Text3",
            "[12:34] <FROM: amy> say \"hi\" now");
        row("info", "1018 kkkk \"Welcome aboard.\"", "Text2", "Welcome aboard.");
        row("info, three quoted parts", "1018 kkkk \"a\" b \"c\"", "Text2", "a\" b \"c");
        row("info without quotes", "1018 kkkk no quotes", "Text2", "");
        row("emote", "1023 kkkkk bob 0010 \"waves\"", "Text2", "[12:34] <bob waves> ");

        row("talk, utf-8", "1005 kkkk bob 0010 \"caf\xC3\xA9\"", "Text2", QStringLiteral("[12:34] <bob> caf\u00E9"));
        row("talk, windows-1252", "1005 kkkk bob 0010 \"\x93hi\x94\"", "Text2",
            QStringLiteral("[12:34] <bob> \u201Chi\u201D"));
        row("uncut talk: code only", "1005", "Text2", "[12:34] 1005");
        row("uncut whisper: no text", "1004 kkkkkkk bob 0010", "Text3", "[12:34] 1004 kkkkkkk bob 0010");
        row("uncut emote: quote only", "1023 kkkkk bob 0010 \"", "Text2", "[12:34] 1023 kkkkk bob 0010 \"");

        row("1019", "1019 kkkk bob 0010 \"hi\"");
        row("2000", "2000 NULL");
        row("2010", "2010 NAME bob");
        row("space before the code", " 1005 kkkk bob 0010 \"hi\"");
        row("unknown code", "1006 kkkk bob 0010 \"hi\"");
        row("three characters", "100");
        row("empty line", "");
        row("user without flags", "1001 kkkk bob");
        row("leave without flags", "1003 kkkkk bob");
        row("channel code only", "1007");
    }

    void oneLine()
    {
        QFETCH(QByteArray, received);
        QFETCH(QString, pane);
        QFETCH(QString, appended);

        QVERIFY(s->handle("1007 kkkkkkk \"Lobby\"\r\n1001 kkkk bob 0010\r\n"));
        s->window.setCursor(Qt::WaitCursor);
        QString chat = s->chat->toPlainText(), whispers = s->whispers->toPlainText();
        if (!pane.isEmpty())
            (pane == QLatin1String("Text2") ? chat : whispers) += appended + u'\n';
        QVERIFY(s->handle(received + "\r\n"));
        QCOMPARE(s->chat->toPlainText(), chat + "marker\n");
        QCOMPARE(s->whispers->toPlainText(), whispers);
        QVERIFY(caretAtEnd(pane == QLatin1String("Text3") ? s->whispers : s->chat));
        QCOMPARE(s->entries(), QStringList{"bob "});
        QCOMPARE(s->caption->text(), QStringLiteral("Lobby  (1)"));
        QCOMPARE(s->window.cursor().shape(), Qt::WaitCursor);
    }

    // Control characters anywhere and direction controls in names show as U+FFFD, in panes, caption and user list.
    void hiddenCharacters_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QString>("pane");
        QTest::addColumn<QString>("appended");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("lastEntry");
        auto row = [](const char *name, const QByteArray &line, const char *pane, const QString &appended,
                      const QString &caption = QStringLiteral("Lobby  (1)"), const QString &entry = QStringLiteral("bob ")) {
            QTest::newRow(name) << line << QString::fromLatin1(pane) << appended << caption << entry;
        };
        row("nul in talk", withNul("1005 kkkk b\0b 0010 \"a\0b\""), "Text2", QStringLiteral("[12:34] <b\uFFFDb> a\uFFFDb"));
        row("override in a talk name", "1005 kkkk \xE2\x80\xAE" "bob 0010 \"hi\"", "Text2", QStringLiteral("[12:34] <\uFFFDbob> hi"));
        row("override in a talk text stays", "1005 kkkk bob 0010 \"\xE2\x80\xAEhi\"", "Text2",
            QStringLiteral("[12:34] <bob> \u202Ehi"));
        row("isolate in a whisper name", "1004 kkkkkkk b\xE2\x81\xA8" "b 0010 \"psst\"", "Text3",
            QStringLiteral("[12:34] <FROM: b\uFFFDb> psst"));
        row("C1 in an emote name", "1023 kkkkk b\x81" "b 0010 \"waves\"", "Text2", QStringLiteral("[12:34] <b\uFFFDb waves> "));
        row("escape in information", "1018 kkkk \"a\x1B[2Jb\"", "Text2", QStringLiteral("a\uFFFD[2Jb"));
        row("embedding in an uncut line", "1005 \xE2\x80\xAB", "Text2", QStringLiteral("[12:34] 1005 \uFFFD"));
        row("channel", withNul("1007 kkkkkkk \"L\0b\xE2\x80\xAE\""), "Text2",
            QStringLiteral("[12:34] Joining Channel L\uFFFDb\uFFFD."), QStringLiteral("L\uFFFDb\uFFFD  (0)"), QString());
        row("long channel", "1007 kkkkkkk \"" + QByteArray(300, 'c') + "\"", "Text2",
            QStringLiteral("[12:34] Joining Channel %1.").arg(QString(kDisplayNameCut, u'c') + cutMarker(300 - kDisplayNameCut)),
            QString(kDisplayNameCut, u'c') + cutMarker(300 - kDisplayNameCut) + QStringLiteral("  (0)"), QString());
        row("user", "1001 kkkk \xE2\x80\xAE\x01" "bob 0010", "", QString(), QStringLiteral("Lobby  (2)"),
            QStringLiteral("\uFFFD\uFFFDbob "));
    }

    void hiddenCharacters()
    {
        QFETCH(QByteArray, received);
        QFETCH(QString, pane);
        QFETCH(QString, appended);
        QFETCH(QString, caption);
        QFETCH(QString, lastEntry);

        QVERIFY(s->handle("1007 kkkkkkk \"Lobby\"\r\n1001 kkkk bob 0010\r\n"));
        QString chat = s->chat->toPlainText(), whispers = s->whispers->toPlainText();
        if (!pane.isEmpty())
            (pane == QLatin1String("Text2") ? chat : whispers) += appended + u'\n';
        QVERIFY(s->handle(received + "\r\n"));
        QCOMPARE(s->chat->toPlainText(), chat + "marker\n");
        QCOMPARE(s->whispers->toPlainText(), whispers);
        QCOMPARE(s->caption->text(), caption);
        QCOMPARE(s->entries().value(s->entries().size() - 1), lastEntry);
        // The user list keeps the entry as received, for the roster buttons to send.
        if (received.startsWith("1001"))
            QCOMPARE(rosterEntry(s->roomlist->item(1)), QString::fromUtf8(received.mid(10, 7)) + u' ');
    }

    void roster_data()
    {
        QTest::addColumn<QByteArrayList>("received");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("chatLines");

        QByteArrayList received;
        QStringList chat{"[12:34] Joining Channel Lobby."};
        auto step = [&](const char *line, const QStringList &entries, const char *caption) {
            received << line;
            QTest::addRow("step %d", int(received.size())) << received << entries << QString(caption) << chat;
        };
        step("1007 kkkkkkk \"Lobby\"", {}, "Lobby  (0)");
        step("1001 kkkk bob 0010", {"bob "}, "Lobby  (1)");
        step("1001 kkkk amy 0000 [abcd]", {"bob ", "amy "}, "Lobby  (2)");
        step("1002 kkkk x0010y 0002", {"bob ", "amy ", "x0010y "}, "Lobby  (3)");
        step("1002 kkkk bob 0010", {"bob ", "amy ", "x0010y ", "bob "}, "Lobby  (4)");
        step("1003 kkkkk bob 0010", {"amy ", "x0010y ", "bob "}, "Lobby  (3)");
        step("1003 kkkkk Amy 0000", {"amy ", "x0010y ", "bob "}, "Lobby  (3)");
        chat << "[12:34] Joining Channel Public Chat 1.";
        step("1007 kkkkkkk \"Public Chat 1\"", {}, "Public Chat 1  (0)");
        QTest::newRow("channel with empty quotes") << QByteArrayList{"1007 kkkkkkk \"\""} << QStringList{} << "  (0)"
                                                   << QStringList{"[12:34] Joining Channel ."};
        QTest::newRow("user before any channel") << QByteArrayList{"1001 kkkk bob 0010"} << QStringList{"bob "}
                                                 << "  (1)" << QStringList{};
        QByteArrayList flood{"1007 kkkkkkk \"Lobby\""};
        QStringList kept;
        for (int i = 0; i < 10005; ++i) {
            flood << "1002 kkkk u" + QByteArray::number(i) + " 0010";
            if (i > 0 && i < 10000)
                kept << QStringLiteral("u%1 ").arg(i);
        }
        QTest::newRow("at most 10000 entries") << (flood << "1003 kkkkk u0 0010") << kept << "Lobby  (9999)"
                                               << QStringList{"[12:34] Joining Channel Lobby."};
    }

    void roster()
    {
        QFETCH(QByteArrayList, received);
        QFETCH(QStringList, entries);
        QFETCH(QString, caption);
        QFETCH(QStringList, chatLines);

        s->window.setCursor(Qt::WaitCursor); // as the login handshake leaves it
        QVERIFY(s->handle(received.join("\r\n") + "\r\n"));
        QCOMPARE(s->entries(), entries);
        QCOMPARE(s->caption->text(), caption);
        QCOMPARE(s->chat->toPlainText(), kChatStart + (chatLines << "marker").join(u'\n') + u'\n');
        QCOMPARE(s->whispers->toPlainText(), kWhisperStart);
        QCOMPARE(s->window.cursor().shape(), received[0].startsWith("1007") ? Qt::ArrowCursor : Qt::WaitCursor);
    }

    void rosterFollowsChangesMadeElsewhere()
    {
        QVERIFY(s->handle("1007 kkkkkkk \"Lobby\"\r\n1001 kkkk bob 0010\r\n1001 kkkk amy 0010\r\n"));
        s->roomlist->clear();
        s->roomlist->addItem(QStringLiteral(" amy "));
        s->roomlist->addItem(QStringLiteral("cat "));
        QVERIFY(s->handle("1003 kkkkk amy 0010\r\n1001 kkkk bob 0010\r\n1003 kkkkk cat 0010\r\n"));
        QCOMPARE(s->entries(), QStringList{"bob "});
        QCOMPARE(s->caption->text(), QStringLiteral("Lobby  (1)"));
    }

    void workedExample()
    {
        s->server.send("1018 kkkk \"News\"\r\n1005 kkkk bob 0010 \"hi\"\r\n1005 kk");
        QTRY_COMPARE(s->chat->toPlainText(), kChatStart + "News\n[12:34] <bob> hi\n");
        s->server.send("kk amy 0010 \"yo\"\r\n");
        QTRY_COMPARE(s->chat->toPlainText(), kChatStart + "News\n[12:34] <bob> hi\n[12:34] <amy> yo\n");
        QVERIFY(caretAtEnd(s->chat));
    }

    void floodKeepsOrderAndLetsTheLoopRun()
    {
        constexpr int kLines = 60000;
        QByteArray flood;
        QString expected = kChatStart;
        for (int i = 0; i < kLines; ++i) {
            flood += "1005 kkkk bob 0010 \"line " + QByteArray::number(i) + "\"\r\n";
            expected += QStringLiteral("[12:34] <bob> line %1\n").arg(i);
        }
        int ticksMidFlood = 0; // event-loop turns while part of the flood was shown
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            const int blocks = s->chat->blockCount();
            ticksMidFlood += blocks > 2 && blocks < kLines + 2;
        });
        ticker.start(0);
        QVERIFY(s->handle(flood));
        QCOMPARE(s->chat->toPlainText(), expected + "marker\n");
        QVERIFY(caretAtEnd(s->chat));
        QVERIFY2(ticksMidFlood > 3, qPrintable(QString::number(ticksMidFlood)));
    }

private:
    TestStore store;
    std::unique_ptr<Session> s;
};

QTEST_MAIN(TestReception)
#include "tst_reception.moc"
