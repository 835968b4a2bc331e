// SPDX-License-Identifier: MIT
#include "support/TestSupport.h"
#include "reception/DisplayText.h"
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

    // A line is cut after kDisplayLineCut characters, the timestamp included.
    void cutsLongLines_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("marker");

        QTest::newRow("just under") << int(kDisplayLineCut - 1) << QString();
        QTest::newRow("at the cut") << int(kDisplayLineCut) << QString();
        QTest::newRow("one over") << int(kDisplayLineCut + 1) << QStringLiteral(" \u2026 [1 more character]");
        QTest::newRow("60,000") << 60000 << QStringLiteral(" \u2026 [%1 more characters]").arg(60000 - kDisplayLineCut);
    }

    void cutsLongLines()
    {
        QFETCH(int, length);
        QFETCH(QString, marker);
        FixedClock clock;
        QPlainTextEdit pane;
        configurePane(&pane);
        const QString stamp = QStringLiteral("[12:34] ");
        // A NUL just before the cut is replaced as well.
        QString body = QString(length - stamp.size(), u'x');
        body[kDisplayLineCut - stamp.size() - 1] = QChar(0);
        appendDisplayLine(&pane, body);
        QString shown = stamp + body.left(kDisplayLineCut - stamp.size()) + marker;
        shown[kDisplayLineCut - 1] = QChar::ReplacementCharacter;
        QCOMPARE(pane.document()->firstBlock().text(), shown);
        QCOMPARE(pane.blockCount(), 2);
    }

    void batchMatchesLineByLine()
    {
        FixedClock clock;
        QPlainTextEdit oneByOne[2], batched[2];
        auto line = [](int i) { return QString::number(i) + u'\u2029' + QString(i * 100, u'x'); };
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
        constexpr int kLines = kPaneLineLimit + kPaneLineLimit / 16 + 2750; // whole batches of 500
        for (int i = 0; i < kLines; i += 500) {
            PaneAppendBatch batch;
            for (int j = i; j < i + 500; ++j)
                batch.addPlainLine(&pane, QString::number(j));
        }
        appendPlainLine(&pane, QStringLiteral("last"));

        const int lines = pane.blockCount() - 1;
        QVERIFY2(lines >= kPaneLineLimit && lines <= kPaneLineLimit + kPaneLineLimit / 16,
                 qPrintable(QString::number(lines)));
        QCOMPARE(pane.document()->firstBlock().text(), QString::number(kLines - lines + 1));
        QCOMPARE(pane.document()->lastBlock().previous().text(), QStringLiteral("last"));
        QVERIFY(caretAtEnd(pane));
    }

    // Lines of the longest shown length fill the character budget long
    // before the line limit; the oldest go first, whole.
    void paneKeepsItsCharacterBudget()
    {
        QPlainTextEdit pane;
        configurePane(&pane);
        const int kLines = int(kPaneCharacterBudget / kDisplayLineCut / 100 + 10) * 100;
        const QString filler(kDisplayLineCut, u'x');
        for (int i = 0; i < kLines; i += 100) {
            PaneAppendBatch batch;
            for (int j = i; j < i + 100; ++j)
                batch.addPlainLine(&pane, QString::number(j).leftJustified(8) + filler);
        }
        appendPlainLine(&pane, QStringLiteral("last"));

        QTextDocument *doc = pane.document();
        QVERIFY(doc->characterCount() <= kPaneCharacterBudget);
        QVERIFY(doc->characterCount() > kPaneCharacterBudget / 2);
        const int lines = pane.blockCount() - 1;
        QCOMPARE(doc->firstBlock().text().left(8).trimmed(), QString::number(kLines - lines + 1));
        QCOMPARE(doc->lastBlock().previous().text(), QStringLiteral("last"));
        QVERIFY(caretAtEnd(pane));
    }
};

QTEST_MAIN(tst_displaypane)
#include "tst_displaypane.moc"
