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

class TestDisplayPane : public QObject
{
    Q_OBJECT

private slots:
    void appends_data();
    void appends();
    void batchMatchesLineByLine();
    void paneKeepsItsLastLines();
};

void TestDisplayPane::appends_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain") << "<bob> hi" << "[12:34] <bob> hi";
    QTest::newRow("empty") << "" << "[12:34] ";
    // Each of these would start a new pane line inside the document.
    QTest::newRow("line feed") << "a\nb" << QString::fromUtf16(u"[12:34] a\uFFFDb");
    QTest::newRow("carriage return") << "a\rb" << QString::fromUtf16(u"[12:34] a\uFFFDb");
    QTest::newRow("paragraph separator") << QString::fromUtf16(u"a\u2029b") << QString::fromUtf16(u"[12:34] a\uFFFDb");
    QTest::newRow("line separator") << QString::fromUtf16(u"a\u2028b") << QString::fromUtf16(u"[12:34] a\uFFFDb");
    QTest::newRow("frame marks") << QString::fromUtf16(u"a\uFDD0\uFDD1b")
                                 << QString::fromUtf16(u"[12:34] a\uFFFD\uFFFDb");
}

void TestDisplayPane::appends()
{
    QFETCH(QString, body);
    QFETCH(QString, shown);

    FixedClock clock;
    for (bool batched : {false, true}) {
        QPlainTextEdit pane;
        configurePane(&pane);
        pane.setPlainText(QStringLiteral("Chat Window\r\n"));
        {
            std::optional<PaneAppendBatch> batch;
            if (batched)
                batch.emplace();
            appendDisplayLine(&pane, body);
        }
        QCOMPARE(pane.toPlainText(), QStringLiteral("Chat Window\n") + shown + QLatin1Char('\n'));
        QCOMPARE(pane.blockCount(), 3);
        QVERIFY(caretAtEnd(pane));
    }
}

void TestDisplayPane::batchMatchesLineByLine()
{
    FixedClock clock;
    QPlainTextEdit oneByOne[2];
    QPlainTextEdit batched[2];
    auto write = [](QPlainTextEdit *panes) {
        for (int i = 0; i < 50; ++i) {
            if (i % 7 == 0)
                appendPlainLine(&panes[i % 2], QString::number(i));
            else
                appendDisplayLine(&panes[i % 2], QString::number(i));
        }
    };
    write(oneByOne);
    {
        PaneAppendBatch outer;
        {
            PaneAppendBatch inner; // joins the outer one
            write(batched);
        }
        QCOMPARE(batched[0].toPlainText(), QString());
    }
    for (int p = 0; p < 2; ++p) {
        QCOMPARE(batched[p].toPlainText(), oneByOne[p].toPlainText());
        QVERIFY(caretAtEnd(batched[p]));
    }
}

void TestDisplayPane::paneKeepsItsLastLines()
{
    QPlainTextEdit pane;
    configurePane(&pane);
    constexpr int kLines = kPaneLineLimit + 2500;
    for (int i = 0; i < kLines; i += 500) {
        PaneAppendBatch batch;
        for (int j = i; j < i + 500; ++j)
            appendPlainLine(&pane, QString::number(j));
    }
    appendPlainLine(&pane, QStringLiteral("last"));

    const int lines = pane.blockCount() - 1;
    QVERIFY2(lines >= kPaneLineLimit && lines <= kPaneLineLimit + 1000, qPrintable(QString::number(lines)));
    QCOMPARE(pane.document()->firstBlock().text(), QString::number(kLines - lines + 1));
    QCOMPARE(pane.document()->lastBlock().previous().text(), QStringLiteral("last"));
    QVERIFY(caretAtEnd(pane));
}

QTEST_MAIN(TestDisplayPane)
#include "tst_displaypane.moc"
