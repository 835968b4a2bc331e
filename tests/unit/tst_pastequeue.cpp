// SPDX-License-Identifier: MIT
#include "outgoing/PasteQueue.h"

#include <QSignalSpy>
#include <QTest>

namespace {
// A link that takes lines until linkDownAt lines have gone (never when -1).
struct FakeLink {
    int linkDownAt = -1;
    QStringList lines;
    PasteQueue::Sender sender()
    {
        return [this](const QString &line) {
            if (lines.size() == linkDownAt)
                return false;
            lines.append(line);
            return true;
        };
    }
};

QStringList toList(const std::deque<QString> &lines)
{
    return QStringList(lines.begin(), lines.end());
}

QString numberedLines(int n)
{
    QString text;
    for (int i = 1; i <= n; ++i)
        text += QString::number(i) + u'\n';
    return text;
}
} // namespace

class tst_pastequeue : public QObject
{
    Q_OBJECT

private slots:
    void split_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << "" << QStringList();
        QTest::newRow("one line") << "a" << QStringList{"a"};
        QTest::newRow("lf") << "a\nb" << QStringList{"a", "b"};
        QTest::newRow("crlf") << "a\r\nb\r\n" << QStringList{"a", "b"};
        QTest::newRow("cr") << "a\rb\r" << QStringList{"a", "b"};
        QTest::newRow("mixed") << "a\r\rb\n\r\nc" << QStringList{"a", "", "b", "", "c"};
        QTest::newRow("one trailing empty line dropped") << "a\n" << QStringList{"a"};
        QTest::newRow("only one dropped") << "a\n\n" << QStringList{"a", ""};
        QTest::newRow("inner empty lines kept") << "a\n\nb" << QStringList{"a", "", "b"};
        QTest::newRow("lone line break") << "\n" << QStringList{""};
        QTest::newRow("blanks kept") << "  a \n\t" << QStringList{"  a ", "\t"};
    }
    void split()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QCOMPARE(toList(splitPastedText(text)), lines);
    }

    void localCommands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("local");
        QTest::newRow("quit") << "/quit" << true;
        QTest::newRow("quit with text") << "/quit bye" << true;
        QTest::newRow("clear") << "/clear" << true;
        QTest::newRow("reverse") << "/reverse abc" << true;
        QTest::newRow("join") << "/join #a" << true;
        QTest::newRow("short join") << "/j #a" << true;
        QTest::newRow("server command") << "/channel #a" << false;
        QTest::newRow("emote") << "/me waves" << false;
        QTest::newRow("whisper") << "/w bo hi" << false;
        QTest::newRow("blank before") << " /quit" << false;
        QTest::newRow("other case") << "/QUIT" << false;
        QTest::newRow("chat") << "quit" << false;
        QTest::newRow("empty") << "" << false;
    }
    void localCommands()
    {
        QFETCH(QString, line);
        QFETCH(bool, local);
        QCOMPARE(isLocalCommandLine(line), local);
    }

    void sends_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("burst");
        QTest::addColumn<int>("linkDownAt");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<PasteQueue::Outcome>("outcome");
        QTest::addColumn<int>("refused");
        using O = PasteQueue::Outcome;
        const QStringList twelve = toList(splitPastedText(numberedLines(12)));
        QTest::newRow("all in the burst") << "a\nb\nc\n" << 5 << -1 << QStringList{"a", "b", "c"} << O::Sent << 0;
        QTest::newRow("paced after the burst") << numberedLines(12) << 2 << -1 << twelve << O::Sent << 0;
        QTest::newRow("link lost after the burst") << numberedLines(12) << 2 << 5 << twelve.mid(0, 5) << O::LinkLost << 0;
        QTest::newRow("link lost in the burst") << numberedLines(12) << 5 << 3 << twelve.mid(0, 3) << O::LinkLost << 0;
        QTest::newRow("link down from the start") << numberedLines(12) << 5 << 0 << QStringList() << O::LinkLost << 0;
        QTest::newRow("local commands refused") << "a\n/quit\n/clear\nb\n/me x\n/j #c\n/reverse r\n/channel #d"
                                                << 1 << -1 << QStringList{"a", "b", "/me x", "/channel #d"} << O::Sent << 4;
        QTest::newRow("only local commands") << "/quit\n/clear\n" << 5 << -1 << QStringList() << O::Sent << 2;
        QTest::newRow("control characters as typed") << "a\tb\x01" "c\n\x1b[31m\x7f" << 1 << -1
                                                     << QStringList{"a\tb\x01" "c", "\x1b[31m\x7f"} << O::Sent << 0;
        QTest::newRow("empty lines kept") << "a\n\nb" << 1 << -1 << QStringList{"a", "", "b"} << O::Sent << 0;
    }
    void sends()
    {
        QFETCH(QString, text);
        QFETCH(int, burst);
        QFETCH(int, linkDownAt);
        QFETCH(QStringList, sent);
        QFETCH(PasteQueue::Outcome, outcome);
        QFETCH(int, refused);
        FakeLink link{linkDownAt, {}};
        PasteQueue queue(link.sender());
        queue.setPace(burst, 1);
        QSignalSpy finished(&queue, &PasteQueue::finished);
        QSignalSpy progress(&queue, &PasteQueue::progress);
        queue.load(text);
        QCOMPARE(queue.refused(), refused);
        const int total = queue.total();
        queue.start();
        QVERIFY(finished.size() == 1 || finished.wait(5000));
        QCOMPARE(link.lines, sent);
        QCOMPARE(finished.at(0).at(0).value<PasteQueue::Outcome>(), outcome);
        QCOMPARE(finished.at(0).at(1).toInt(), sent.size());
        QCOMPARE(finished.at(0).at(2).toInt(), total);
        QCOMPARE(progress.size(), sent.size()); // one report per line that went out
        for (int i = 0; i < progress.size(); ++i)
            QCOMPARE(progress.at(i), (QVariantList{i + 1, total - i - 1}));
        QVERIFY(!queue.isRunning());
        QTest::qWait(10);
        QCOMPARE(link.lines, sent); // nothing goes out after the end
    }

    void restWaitsForThePace()
    {
        FakeLink link;
        PasteQueue queue(link.sender());
        queue.setPace(3, 60 * 1000);
        QSignalSpy finished(&queue, &PasteQueue::finished);
        queue.load(numberedLines(10));
        queue.start();
        QCOMPARE(link.lines, (QStringList{"1", "2", "3"}));
        QCOMPARE(queue.left(), 7);
        QVERIFY(queue.isRunning());
        queue.start(); // pressed twice: no second burst
        QCOMPARE(link.lines.size(), 3);
        queue.stop();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0), (QVariantList{QVariant::fromValue(PasteQueue::Outcome::Stopped), 3, 10}));
        QVERIFY(!queue.isRunning());
    }

    void stopMidwaySendsNoMore()
    {
        FakeLink link;
        PasteQueue queue(link.sender());
        queue.setPace(1, 1);
        connect(&queue, &PasteQueue::progress, &queue, [&queue](int sent, int) {
            if (sent == 4)
                queue.stop();
        });
        QSignalSpy finished(&queue, &PasteQueue::finished);
        queue.load(numberedLines(12));
        queue.start();
        QVERIFY(finished.wait(5000));
        QTest::qWait(20);
        QCOMPARE(link.lines, (QStringList{"1", "2", "3", "4"}));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(1).toInt(), 4);
    }

    void aHugePasteIsHeldNotSent()
    {
        FakeLink link;
        PasteQueue queue(link.sender());
        queue.setPace(kPasteBurst, 60 * 1000);
        QString text;
        text.reserve(10 * 1024 * 1024);
        while (text.size() < 10 * 1024 * 1024)
            text += QStringLiteral("a line of pasted text, about a hundred characters long, as a page of prose would have it\n");
        queue.load(text);
        QVERIFY(queue.total() > 100000);
        QCOMPARE(link.lines.size(), 0); // asked first
        queue.start();
        QCOMPARE(link.lines.size(), kPasteBurst);
        queue.stop();
        QCOMPARE(queue.left(), 0);
        QCOMPARE(link.lines.size(), kPasteBurst);
    }

    void texts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        using O = PasteQueue::Outcome;
        // One line and refused commands; the plain plurals are read off the bar in its own tests.
        QTest::newRow("question, one line, no target") << pasteQuestion(1, "", 0) << "Send 1 line?";
        QTest::newRow("question with refused")
            << pasteQuestion(3, "#c", 2) << "Send 3 lines to #c? 2 local commands in it are not sent.";
        QTest::newRow("stopped") << pasteOutcomeText(O::Stopped, 0, 1, 1)
                                 << "Stopped: sent 0 of 1 line. 1 local command in it was not sent.";
        QTest::newRow("one left") << pasteLeftText(1) << "1 line left";
    }
    void texts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }
};

QTEST_GUILESS_MAIN(tst_pastequeue)
#include "tst_pastequeue.moc"
