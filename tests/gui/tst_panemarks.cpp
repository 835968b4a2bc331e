// SPDX-License-Identifier: MIT
#include "ui/DisplayPane.h"
#include "ui/PaneMarks.h"

#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

class tst_panemarks : public QObject
{
    Q_OBJECT

    // The formats the pane draws over a block: (start, length, underlined, bold).
    static QList<QList<int>> formats(QPlainTextEdit &pane, int blockNumber)
    {
        QList<QList<int>> out;
        const QTextBlock block = pane.document()->findBlockByNumber(blockNumber);
        for (const QTextLayout::FormatRange &r : block.layout()->formats())
            out.append({r.start, r.length, r.format.fontUnderline() ? 1 : 0,
                        r.format.fontWeight() == QFont::Bold ? 1 : 0});
        return out;
    }

    // The middle of a character of a block, in viewport coordinates.
    static QPoint pointAt(QPlainTextEdit &pane, int blockNumber, int column)
    {
        QTextCursor cursor(pane.document()->findBlockByNumber(blockNumber));
        cursor.setPosition(cursor.position() + column);
        const QRect left = pane.cursorRect(cursor);
        cursor.movePosition(QTextCursor::NextCharacter);
        const QRect right = pane.cursorRect(cursor);
        return QPoint((left.left() + right.left()) / 2, left.center().y());
    }

private slots:
    void cleanup() { setLinkOpenerForTesting({}); }

    void linksUnderlinedAndMentionLineMarked()
    {
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        marks.markMentionRow(1);
        const QString text = QStringLiteral("[12:34] <cy> <b>http://a.example</b>\n"
                                            "[12:34] <bo> anna: see www.x.example\n"
                                            "[12:34] <bo> anna: see www.x.example");
        pane.appendPlainText(text);
        QCOMPARE(pane.toPlainText(), text); // the marks leave the text as it was
        QCOMPARE(formats(pane, 0), (QList<QList<int>>{{16, 16, 1, 0}}));
        // Only the line that was marked, not a later one with the same text.
        QCOMPARE(formats(pane, 1), (QList<QList<int>>{{0, 23, 0, 1}, {23, 13, 1, 1}}));
        QCOMPARE(formats(pane, 2), (QList<QList<int>>{{23, 13, 1, 0}}));
    }

    // The marks filter counts the chat pane's rows of a batch: whisper-pane
    // lines between them do not shift a mark. Mentions of a batch whose lines
    // never reached the pane are forgotten when the batch is over, so they
    // cannot mark a line of the next one.
    void mentionRowsOfABatch_data()
    {
        QTest::addColumn<QList<int>>("firstBatch");  // per line: 0 chat, 1 chat mention, 2 whisper
        QTest::addColumn<bool>("firstShown");        // the window appended the first batch
        QTest::addColumn<QList<int>>("secondBatch");
        QTest::addColumn<QList<bool>>("boldRows");   // the chat pane's lines after both
        QTest::newRow("whispers between") << QList<int>{2, 0, 2, 1, 0} << true << QList<int>{0}
                                          << QList<bool>{false, true, false, false};
        QTest::newRow("all shown") << QList<int>{1, 0} << true << QList<int>{0, 1}
                                   << QList<bool>{true, false, false, true};
        QTest::newRow("first never shown") << QList<int>{1, 1} << false << QList<int>{0, 0}
                                           << QList<bool>{false, false};
        QTest::newRow("first never shown, then a later row") << QList<int>{0, 0, 1} << false << QList<int>{0, 0, 0}
                                                             << QList<bool>{false, false, false};
    }
    void mentionRowsOfABatch()
    {
        QFETCH(QList<int>, firstBatch);
        QFETCH(bool, firstShown);
        QFETCH(QList<int>, secondBatch);
        QFETCH(QList<bool>, boldRows);
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        MentionMarks filter(&marks);
        int n = 0;
        auto pass = [&](const QList<int> &batch, bool shown) {
            ShownLines lines;
            QStringList chatLines;
            for (const int line : batch) {
                const QString body = QStringLiteral("<bo> line %1").arg(n++);
                lines.add(line == 2 ? ShownLine::Pane::Whisper : ShownLine::Pane::Chat, ShownLine::Kind::Talk, body,
                          nullptr, line == 1);
                if (line != 2)
                    chatLines << body;
            }
            filter.linesReady(lines);
            if (shown) {
                PaneAppendBatch append; // as the window appends a batch: one edit
                for (const QString &line : chatLines)
                    append.addPlainLine(&pane, line);
            }
            filter.batchShown();
        };
        pass(firstBatch, firstShown);
        pass(secondBatch, true);
        QList<bool> bold;
        for (int row = 0; row < pane.document()->blockCount() - 1; ++row) // the last block is the empty one after the last line
            bold << !formats(pane, row).isEmpty();
        QCOMPARE(bold, boldRows);
        QVERIFY(!marks.hasPendingMentions());
    }

    void clickOpensTheLink_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("opened");
        QTest::newRow("on the address") << 9 << "http://www.x.example/a";
        QTest::newRow("its last character") << 19 << "http://www.x.example/a";
        QTest::newRow("before it") << 2 << "";
        QTest::newRow("after it") << 22 << "";
    }
    void clickOpensTheLink()
    {
        QFETCH(int, column);
        QFETCH(QString, opened);
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        pane.resize(600, 200);
        pane.setPlainText(QStringLiteral("see: www.x.example/a, ok then"));
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QStringList urls;
        setLinkOpenerForTesting([&](const QUrl &url) {
            urls << url.toString();
            return true;
        });
        const QPoint at = pointAt(pane, 0, column);
        QTest::mouseMove(pane.viewport(), at);
        QCOMPARE(pane.viewport()->cursor().shape(), opened.isEmpty() ? Qt::IBeamCursor : Qt::PointingHandCursor);
        QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(urls, opened.isEmpty() ? QStringList() : QStringList{opened});
    }
};

QTEST_MAIN(tst_panemarks)
#include "tst_panemarks.moc"
