// SPDX-License-Identifier: MIT
#include "support/TestSupport.h"
#include "ui/DisplayPane.h"

#include <QPlainTextEdit>
#include <QTextBlock>

namespace {

bool caretAtEnd(const QPlainTextEdit &pane)
{
    return pane.textCursor().position() == pane.document()->characterCount() - 1;
}

} // namespace

class tst_displaypane : public QObject
{
    Q_OBJECT

private slots:
    // A body holding a character that would start a new line in the document stays on one pane line.
    void appendsOneLine()
    {
        FixedClock clock;
        QPlainTextEdit pane;
        configurePane(&pane);
        appendDisplayLine(&pane, QString::fromUtf16(u"a\nb\rc\u2029d\u2028e\uFDD0f\uFDD1g "));
        QCOMPARE(pane.toPlainText(), QString::fromUtf16(u"[12:34] a\uFFFDb\uFFFDc\uFFFDd\uFFFDe\uFFFDf\uFFFDg \n"));
        QCOMPARE(pane.blockCount(), 2);
        QVERIFY(caretAtEnd(pane));
    }

    void batchMatchesLineByLine()
    {
        FixedClock clock;
        QPlainTextEdit oneByOne[2], batched[2];
        auto line = [](int i) { return QString::number(i) + u'\u2029'; };
        for (int i = 0; i < 50; ++i)
            (i % 7 ? appendDisplayLine : appendPlainLine)(&oneByOne[i % 2], line(i));
        {
            PaneAppendBatch batch;
            for (int i = 0; i < 50; ++i) {
                if (i % 7)
                    batch.addDisplayLine(&batched[i % 2], line(i));
                else
                    batch.addPlainLine(&batched[i % 2], line(i));
            }
            QCOMPARE(batched[0].toPlainText(), QString());
        }
        for (int p = 0; p < 2; ++p) {
            QCOMPARE(batched[p].toPlainText(), oneByOne[p].toPlainText());
            QVERIFY(caretAtEnd(batched[p]));
        }
    }

    void paneKeepsItsLastLines()
    {
        QPlainTextEdit pane;
        configurePane(&pane);
        constexpr int kLines = kPaneLineLimit + 2500;
        for (int i = 0; i < kLines; i += 500) {
            PaneAppendBatch batch;
            for (int j = i; j < i + 500; ++j)
                batch.addPlainLine(&pane, QString::number(j));
        }
        appendPlainLine(&pane, QStringLiteral("last"));

        const int lines = pane.blockCount() - 1;
        QVERIFY2(lines >= kPaneLineLimit && lines <= kPaneLineLimit + 1000, qPrintable(QString::number(lines)));
        QCOMPARE(pane.document()->firstBlock().text(), QString::number(kLines - lines + 1));
        QCOMPARE(pane.document()->lastBlock().previous().text(), QStringLiteral("last"));
        QVERIFY(caretAtEnd(pane));
    }
};

QTEST_MAIN(tst_displaypane)
#include "tst_displaypane.moc"
