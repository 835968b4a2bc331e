// SPDX-License-Identifier: MIT
// What the main window does with the lines the gateway sends: a real window,
// its real socket, and a local server writing raw bytes at it.
#include "support/TestSupport.h"
#include "ui/TorvalMain.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTcpSocket>

namespace {

const QString kChatStart = QStringLiteral("Chat Window\n");
const QString kWhisperStart = QStringLiteral("Whisper Window\n");
const QString kCaptionStart = QStringLiteral("Channel (Users)");
// Sent after a line that should leave no trace, to know it has been handled.
const QByteArray kMarker = "1018 kkkk \"marker\"\r\n";

QString paneLines(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines)
        text += line + QLatin1Char('\n');
    return text;
}

// A main window whose Winsock1 is linked to a local server.
struct Session {
    FixedClock clock;
    FakeServer server; // outlives the window, so the link never drops under it
    TorvalMain window;
    QTcpSocket *socket = control<QTcpSocket>(&window, "Winsock1");
    QPlainTextEdit *chat = control<QPlainTextEdit>(&window, "Text2");
    QPlainTextEdit *whispers = control<QPlainTextEdit>(&window, "Text3");
    QListWidget *roomlist = control<QListWidget>(&window, "Roomlist");
    QLabel *caption = control<QLabel>(&window, "Channel");

    bool link()
    {
        socket->connectToHost(QHostAddress::LocalHost, server.port());
        if (!socket->waitForConnected(5000) || !server.waitForClient())
            return false;
        // As Connect leaves it.
        roomlist->clear();
        return true;
    }
    // Sends bytes as one arrival: returns once the window has read them.
    bool arrive(const QByteArray &bytes)
    {
        QSignalSpy read(socket, &QTcpSocket::readyRead);
        server.send(bytes);
        return read.wait(5000);
    }
    QStringList entries() const
    {
        QStringList texts;
        for (int row = 0; row < roomlist->count(); ++row)
            texts << roomlist->item(row)->text();
        return texts;
    }
};

bool caretAtEnd(const QPlainTextEdit *pane)
{
    return pane->textCursor().position() == pane->document()->characterCount() - 1;
}

} // namespace

class TestReception : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void messageLines_data();
    void messageLines();
    void roster_data();
    void roster();
    void channelLineRestoresTheArrow();
    void rosterIsBounded();
    void rosterFollowsChangesMadeElsewhere();
    void workedExample();
    void lineEnds_data();
    void lineEnds();
    void sameLinesWhereverTheArrivalIsCut();
    void nothingVisible_data();
    void nothingVisible();
    void floodKeepsOrderAndLetsTheLoopRun();

private:
    TestStore store;
    std::unique_ptr<Session> s;
};

void TestReception::init()
{
    TestStore::clear();
    s = std::make_unique<Session>();
    QVERIFY(s->link());
}

void TestReception::cleanup()
{
    s.reset();
}

void TestReception::messageLines_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("pane");
    QTest::addColumn<QString>("appended");

    QTest::newRow("talk") << QByteArray("1005 kkkk bob 0010 \"hello there\"") << "Text2"
                          << "[12:34] <bob> hello there";
    QTest::newRow("talk, quotes in text") << QByteArray("1005 kkkk amy 0002 \"say \"hi\" now\"") << "Text2"
                                          << "[12:34] <amy> say \"hi\" now";
    QTest::newRow("flag value in the name") << QByteArray("1005 kkkk x0010y 0000 \"hi\"") << "Text2"
                                            << "[12:34] <x0010y> hi";
    QTest::newRow("talk, empty text") << QByteArray("1005 kkkk bob 0010 \"\"") << "Text2" << "[12:34] <bob> ";
    QTest::newRow("whisper") << QByteArray("1004 kkkkkkk bob 0010 \"psst\"") << "Text3"
                             << "[12:34] <FROM: bob> psst";
    QTest::newRow("whisper, quotes in text") << QByteArray("1004 kkkkkkk amy 0000 \"say \"hi\" now\"") << "Text3"
                                             << "[12:34] <FROM: amy> say \"hi\" now";
    QTest::newRow("info") << QByteArray("1018 kkkk \"Welcome aboard.\"") << "Text2" << "Welcome aboard.";
    QTest::newRow("info, three quoted parts") << QByteArray("1018 kkkk \"a\" b \"c\"") << "Text2" << "a\" b \"c";
    QTest::newRow("info without quotes") << QByteArray("1018 kkkk no quotes") << "Text2" << "";
    QTest::newRow("emote") << QByteArray("1023 kkkkk bob 0010 \"waves\"") << "Text2" << "[12:34] <bob waves> ";

    QTest::newRow("talk, operator flags") << QByteArray("1005 kkkk op 0001 \"hi\"") << "Text2" << "[12:34] <op> hi";
    QTest::newRow("talk, utf-8") << QByteArray("1005 kkkk bob 0010 \"caf\xC3\xA9\"") << "Text2"
                                 << QString::fromUtf16(u"[12:34] <bob> caf\u00E9");
    QTest::newRow("talk, windows-1252") << QByteArray("1005 kkkk bob 0010 \"\x93hi\x94\"") << "Text2"
                                        << QString::fromUtf16(u"[12:34] <bob> \u201Chi\u201D");
    QTest::newRow("talk, paragraph separator stays on its line")
        << QByteArray("1005 kkkk bob 0010 \"a\xE2\x80\xA9[12:34] <admin> b\"") << "Text2"
        << QString::fromUtf16(u"[12:34] <bob> a\uFFFD[12:34] <admin> b");
    QTest::newRow("uncut talk: code only") << QByteArray("1005") << "Text2" << "[12:34] 1005";
    QTest::newRow("uncut talk: no flags") << QByteArray("1005 kkkk bob \"hi\"") << "Text2"
                                          << "[12:34] 1005 kkkk bob \"hi\"";
    QTest::newRow("uncut whisper: no text") << QByteArray("1004 kkkkkkk bob 0010") << "Text3"
                                            << "[12:34] 1004 kkkkkkk bob 0010";
    QTest::newRow("uncut emote: quote only") << QByteArray("1023 kkkkk bob 0010 \"") << "Text2"
                                             << "[12:34] 1023 kkkkk bob 0010 \"";
}

void TestReception::messageLines()
{
    QFETCH(QByteArray, received);
    QFETCH(QString, pane);
    QFETCH(QString, appended);

    QPlainTextEdit *target = pane == QLatin1String("Text2") ? s->chat : s->whispers;
    QPlainTextEdit *other = target == s->chat ? s->whispers : s->chat;
    const QString otherText = other->toPlainText();
    const QString start = target == s->chat ? kChatStart : kWhisperStart;

    s->server.send(received + "\r\n");
    QTRY_COMPARE(target->toPlainText(), start + appended + QLatin1Char('\n'));
    QVERIFY(caretAtEnd(target));
    QCOMPARE(other->toPlainText(), otherText);
}

void TestReception::roster_data()
{
    QTest::addColumn<QByteArrayList>("received");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("chatLines");

    struct Step {
        const char *line;
        QStringList entries;
        const char *caption;
    };
    const Step steps[] = {
        {"1007 kkkkkkk \"Lobby\"", {}, "Lobby  (0)"},
        {"1001 kkkk bob 0010", {"bob "}, "Lobby  (1)"},
        {"1001 kkkk amy 0000 [abcd]", {"bob ", "amy "}, "Lobby  (2)"},
        {"1002 kkkk x0010y 0002", {"bob ", "amy ", "x0010y "}, "Lobby  (3)"},
        {"1002 kkkk bob 0010", {"bob ", "amy ", "x0010y ", "bob "}, "Lobby  (4)"},
        {"1003 kkkkk bob 0010", {"amy ", "x0010y ", "bob "}, "Lobby  (3)"},
        {"1003 kkkkk Amy 0000", {"amy ", "x0010y ", "bob "}, "Lobby  (3)"},
        {"1007 kkkkkkk \"Public Chat 1\"", {}, "Public Chat 1  (0)"},
    };
    QByteArrayList received;
    QStringList chatLines;
    for (int i = 0; i < int(std::size(steps)); ++i) {
        received << steps[i].line;
        if (i == 0)
            chatLines << "[12:34] Joining Channel Lobby.";
        if (i == 7)
            chatLines << "[12:34] Joining Channel Public Chat 1.";
        QTest::addRow("step %d", i + 1) << received << steps[i].entries << steps[i].caption << chatLines;
    }

    QTest::newRow("channel with empty quotes") << QByteArrayList{"1007 kkkkkkk \"\""} << QStringList{} << "  (0)"
                                               << QStringList{"[12:34] Joining Channel ."};
    QTest::newRow("user before any channel") << QByteArrayList{"1001 kkkk bob 0010"} << QStringList{"bob "}
                                             << "  (1)" << QStringList{};
    QTest::newRow("squelched user") << QByteArrayList{"1001 kkkk bob 0020"} << QStringList{"bob "} << "  (1)"
                                    << QStringList{};
    QTest::newRow("leave of someone absent")
        << QByteArrayList{"1007 kkkkkkk \"Lobby\"", "1001 kkkk bob 0010", "1003 kkkkk amy 0010"}
        << QStringList{"bob "} << "Lobby  (1)" << QStringList{"[12:34] Joining Channel Lobby."};
    QTest::newRow("user line without flags is ignored")
        << QByteArrayList{"1007 kkkkkkk \"Lobby\"", "1001 kkkk bob"} << QStringList{} << "Lobby  (0)"
        << QStringList{"[12:34] Joining Channel Lobby."};
    QTest::newRow("leave line without flags is ignored")
        << QByteArrayList{"1007 kkkkkkk \"Lobby\"", "1001 kkkk bob 0010", "1003 kkkkk bob"} << QStringList{"bob "}
        << "Lobby  (1)" << QStringList{"[12:34] Joining Channel Lobby."};
    QTest::newRow("short channel line is ignored")
        << QByteArrayList{"1007 kkkkkkk \"Lobby\"", "1001 kkkk bob 0010", "1007 kkkkkkk \""} << QStringList{"bob "}
        << "Lobby  (1)" << QStringList{"[12:34] Joining Channel Lobby."};
}

void TestReception::roster()
{
    QFETCH(QByteArrayList, received);
    QFETCH(QStringList, entries);
    QFETCH(QString, caption);
    QFETCH(QStringList, chatLines);

    s->server.send(received.join("\r\n") + "\r\n" + kMarker);
    QTRY_VERIFY(s->chat->toPlainText().endsWith(QLatin1String("marker\n")));
    QCOMPARE(s->entries(), entries);
    QCOMPARE(s->caption->text(), caption);
    QCOMPARE(s->chat->toPlainText(), kChatStart + paneLines(chatLines) + "marker\n");
    QCOMPARE(s->whispers->toPlainText(), kWhisperStart);
}

void TestReception::channelLineRestoresTheArrow()
{
    s->window.setCursor(Qt::WaitCursor);
    s->server.send("1001 kkkk bob 0010\r\n1007 kkkkkkk \"\r\n" + kMarker);
    QTRY_VERIFY(s->chat->toPlainText().endsWith(QLatin1String("marker\n")));
    QCOMPARE(s->window.cursor().shape(), Qt::WaitCursor);

    s->server.send("1007 kkkkkkk \"Lobby\"\r\n");
    QTRY_COMPARE(s->window.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(caretAtEnd(s->chat));
}

void TestReception::rosterIsBounded()
{
    QByteArray flood = "1007 kkkkkkk \"Lobby\"\r\n";
    for (int i = 0; i < 10005; ++i)
        flood += "1002 kkkk u" + QByteArray::number(i) + " 0010\r\n";
    s->server.send(flood + "1003 kkkkk u0 0010\r\n" + kMarker);
    QTRY_VERIFY(s->chat->toPlainText().endsWith(QLatin1String("marker\n")));
    QCOMPARE(s->roomlist->count(), 9999);
    QCOMPARE(s->caption->text(), QStringLiteral("Lobby  (9999)"));
    QCOMPARE(s->roomlist->item(0)->text(), QStringLiteral("u1 "));
}

void TestReception::rosterFollowsChangesMadeElsewhere()
{
    s->server.send("1007 kkkkkkk \"Lobby\"\r\n1001 kkkk bob 0010\r\n1001 kkkk amy 0010\r\n");
    QTRY_COMPARE(s->caption->text(), QStringLiteral("Lobby  (2)"));
    // As Connect does, and then some: the list changes behind the receive path's back.
    s->roomlist->clear();
    s->roomlist->addItem(QStringLiteral(" amy "));
    s->roomlist->addItem(QStringLiteral("cat "));

    s->server.send("1003 kkkkk amy 0010\r\n1001 kkkk bob 0010\r\n1003 kkkkk cat 0010\r\n" + kMarker);
    QTRY_VERIFY(s->chat->toPlainText().endsWith(QLatin1String("marker\n")));
    QCOMPARE(s->entries(), QStringList{"bob "});
    QCOMPARE(s->caption->text(), QStringLiteral("Lobby  (1)"));
}

void TestReception::workedExample()
{
    QVERIFY(s->arrive("1018 kkkk \"News\"\r\n1005 kkkk bob 0010 \"hi\"\r\n1005 kk"));
    QTRY_COMPARE(s->chat->toPlainText(), kChatStart + "News\n[12:34] <bob> hi\n");
    // The unfinished line is kept and completed by the next arrival.
    QVERIFY(s->arrive("kk amy 0010 \"yo\"\r\n"));
    QTRY_COMPARE(s->chat->toPlainText(), kChatStart + "News\n[12:34] <bob> hi\n[12:34] <amy> yo\n");
    QVERIFY(caretAtEnd(s->chat));
}

void TestReception::lineEnds_data()
{
    QTest::addColumn<QByteArrayList>("arrivals");
    QTest::addColumn<QStringList>("chatLines");

    QTest::newRow("cr and lf in two arrivals") << QByteArrayList{"1018 kkkk \"a\"\r", "\n1018 kkkk \"b\"\r\n"}
                                               << QStringList{"a", "b"};
    QTest::newRow("cr ending an arrival, next line at once")
        << QByteArrayList{"1018 kkkk \"a\"\r", "1018 kkkk \"b\"\r\n"} << QStringList{"a", "b"};
    QTest::newRow("lone cr") << QByteArrayList{"1018 kkkk \"a\"\r1018 kkkk \"b\"\r"} << QStringList{"a", "b"};
    QTest::newRow("lone lf") << QByteArrayList{"1018 kkkk \"a\"\n1018 kkkk \"b\"\n"} << QStringList{"a", "b"};
    QTest::newRow("empty lines") << QByteArrayList{"\r\n\r\n1018 kkkk \"a\"\r\n\n\r\r\n"} << QStringList{"a"};
    QTest::newRow("line split over three arrivals")
        << QByteArrayList{"10", "05 kkkk bob 00", "10 \"hi\"\r\n"} << QStringList{"[12:34] <bob> hi"};
    const QByteArray tooLong(64 * 1024, 'x');
    QTest::newRow("64 KiB line is kept") << QByteArrayList{"1018 \"" + tooLong.left(64 * 1024 - 7) + "\"\r\n"}
                                         << QStringList{QString(64 * 1024 - 7, u'x')};
    QTest::newRow("longer line is dropped, the next kept")
        << QByteArrayList{"1018 \"" + tooLong, tooLong + "\"\r\n1018 kkkk \"after\"\r\n"} << QStringList{"after"};
}

void TestReception::lineEnds()
{
    QFETCH(QByteArrayList, arrivals);
    QFETCH(QStringList, chatLines);

    for (const QByteArray &bytes : arrivals)
        QVERIFY(s->arrive(bytes));
    s->server.send(kMarker);
    QTRY_VERIFY(s->chat->toPlainText().endsWith(QLatin1String("marker\n")));
    QCOMPARE(s->chat->toPlainText(), kChatStart + paneLines(chatLines) + "marker\n");
}

void TestReception::sameLinesWhereverTheArrivalIsCut()
{
    const QByteArray arrival = "1018 kkkk \"a\"\r\n1005 kkkk bob 0010 \"hi\"\r1004 kkkkkkk amy 0000 \"psst\"\n\r\n";
    QString chat = kChatStart;
    QString whispers = kWhisperStart;
    for (qsizetype cut = 0; cut <= arrival.size(); ++cut) {
        if (cut > 0)
            QVERIFY(s->arrive(arrival.left(cut)));
        if (cut < arrival.size())
            QVERIFY(s->arrive(arrival.mid(cut)));
        chat += "a\n[12:34] <bob> hi\n";
        whispers += "[12:34] <FROM: amy> psst\n";
        QTRY_COMPARE(s->chat->toPlainText(), chat);
        QTRY_COMPARE(s->whispers->toPlainText(), whispers);
    }
}

void TestReception::nothingVisible_data()
{
    QTest::addColumn<QByteArray>("received");

    QTest::newRow("1019") << QByteArray("1019 kkkk bob 0010 \"hi\"");
    QTest::newRow("2000") << QByteArray("2000 NULL");
    QTest::newRow("2010") << QByteArray("2010 NAME bob");
    QTest::newRow("space before the code") << QByteArray(" 1005 kkkk bob 0010 \"hi\"");
    QTest::newRow("unknown code") << QByteArray("1006 kkkk bob 0010 \"hi\"");
    QTest::newRow("three characters") << QByteArray("100");
    QTest::newRow("empty line") << QByteArray();
}

void TestReception::nothingVisible()
{
    QFETCH(QByteArray, received);

    s->server.send("1007 kkkkkkk \"Lobby\"\r\n1001 kkkk bob 0010\r\n");
    QTRY_COMPARE(s->caption->text(), QStringLiteral("Lobby  (1)"));
    const QString chat = s->chat->toPlainText();

    s->server.send(received + "\r\n" + kMarker);
    QTRY_VERIFY(s->chat->toPlainText().endsWith(QLatin1String("marker\n")));
    QCOMPARE(s->chat->toPlainText(), chat + "marker\n");
    QCOMPARE(s->whispers->toPlainText(), kWhisperStart);
    QCOMPARE(s->entries(), QStringList{"bob "});
    QCOMPARE(s->caption->text(), QStringLiteral("Lobby  (1)"));
}

void TestReception::floodKeepsOrderAndLetsTheLoopRun()
{
    constexpr int kLines = 60000;
    QByteArray flood;
    QString expected = kChatStart;
    for (int i = 0; i < kLines; ++i) {
        flood += "1005 kkkk bob 0010 \"line " + QByteArray::number(i) + "\"\r\n";
        expected += QStringLiteral("[12:34] <bob> line %1\n").arg(i);
    }
    // Ticks that came while part of the flood was shown and part was not.
    int ticksMidFlood = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] {
        const int blocks = s->chat->blockCount();
        if (blocks > 2 && blocks < kLines + 2)
            ++ticksMidFlood;
    });
    ticker.start(0);

    s->server.send(flood);
    QTRY_VERIFY_WITH_TIMEOUT(s->chat->toPlainText().endsWith(QStringLiteral("line %1\n").arg(kLines - 1)), 60000);
    QCOMPARE(s->chat->toPlainText(), expected);
    QVERIFY(caretAtEnd(s->chat));
    QVERIFY2(ticksMidFlood > 3, qPrintable(QString::number(ticksMidFlood)));
}

QTEST_MAIN(TestReception)
#include "tst_reception.moc"
