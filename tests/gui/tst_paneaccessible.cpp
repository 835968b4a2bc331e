// SPDX-License-Identifier: MIT
#include "ui/PaneAccessible.h"
#include "ui/PaneMarks.h"

#include <QAccessible>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

// What a screen reader is told about a chat pane, through the interface Qt's
// accessibility bridge asks.
class tst_paneaccessible : public QObject
{
    Q_OBJECT

    static QAccessibleTextInterface *textOf(QWidget *widget)
    {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
        return iface ? iface->textInterface() : nullptr;
    }

    static int offsetOf(QPlainTextEdit &pane, int line, int column)
    {
        return pane.document()->findBlockByNumber(line).position() + column;
    }

    // A pane of short lines, scrolled so that `top` is its first shown line.
    static void fill(QPlainTextEdit &pane, int lines)
    {
        pane.setLineWrapMode(QPlainTextEdit::WidgetWidth);
        pane.resize(320, 160);
        for (int i = 0; i < lines; ++i)
            pane.appendPlainText(QStringLiteral("[12:34] <cy> line %1 of the chat").arg(i));
        // One line long enough to wrap in the pane.
        pane.appendPlainText(QStringLiteral("[12:34] <bo> ") + QString(40, QLatin1Char('w')) + QLatin1Char(' ')
                             + QString(40, QLatin1Char('v')));
    }

private slots:
    void initTestCase() { QAccessible::setActive(true); }
    void cleanup() { setLinkOpenerForTesting({}); }

    // The underline and colour of an address, the highlight of a mention, and
    // where each run of one look starts and ends.
    void attributesOfMarks_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::addColumn<int>("runStart"); // columns of the line
        QTest::addColumn<int>("runEnd");
        const QString underline = QStringLiteral("text-underline-style:solid;text-underline-type:single;");
        const QString linkColour = QStringLiteral("color:rgb(0,0,200);");
        const QString highlight = QStringLiteral("background-color:rgb(255,236,179);");
        const QString bold = QStringLiteral("font-weight:bold;");
        // Line 0: "[12:34] <cy> see http://a.example now", the address at 17..33.
        QTest::newRow("first character of an address") << 0 << 17 << QStringList{underline, linkColour}
                                                        << QStringList{highlight, bold} << 17 << 33;
        QTest::newRow("last character of an address") << 0 << 32 << QStringList{underline, linkColour}
                                                       << QStringList{highlight} << 17 << 33;
        QTest::newRow("plain text before an address") << 0 << 3 << QStringList{QStringLiteral("font-weight:normal;")}
                                                      << QStringList{QStringLiteral("text-underline"),
                                                                     QStringLiteral("color:"), highlight}
                                                      << 0 << 17;
        QTest::newRow("plain text after an address") << 0 << 34 << QStringList{}
                                                     << QStringList{QStringLiteral("text-underline"), linkColour}
                                                     << 33 << 37;
        QTest::newRow("end of a line with an address") << 0 << 37 << QStringList{}
                                                       << QStringList{QStringLiteral("text-underline")} << 37 << 38;
        // Line 1: "[12:34] <bo> anna: see www.x.example", a mention, the address at 23..36.
        QTest::newRow("mention") << 1 << 5
                                 << QStringList{highlight, bold, QStringLiteral("color:rgb(120,40,0);")}
                                 << QStringList{QStringLiteral("text-underline")} << 0 << 23;
        QTest::newRow("address in a mention") << 1 << 30 << QStringList{underline, linkColour, highlight, bold}
                                              << QStringList{} << 23 << 36;
        // Line 2: "[12:34] <bo> nothing to see here".
        QTest::newRow("plain line") << 2 << 20
                                    << QStringList{QStringLiteral("font-weight:normal;"), QStringLiteral("text-align:left;")}
                                    << QStringList{QStringLiteral("text-underline"), QStringLiteral("color:"),
                                                   QStringLiteral("background-color:")}
                                    << 0 << 32;
    }
    void attributesOfMarks()
    {
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        QFETCH(int, runStart);
        QFETCH(int, runEnd);
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        marks.markMentionRow(1);
        pane.appendPlainText(QStringLiteral("[12:34] <cy> see http://a.example now\n"
                                            "[12:34] <bo> anna: see www.x.example\n"
                                            "[12:34] <bo> nothing to see here"));
        QAccessibleTextInterface *text = textOf(&pane);
        QVERIFY(text);
        int start = -1;
        int end = -1;
        const QString attributes = text->attributes(offsetOf(pane, line, column), &start, &end);
        for (const QString &attribute : present)
            QVERIFY2(attributes.contains(attribute), qPrintable(attributes));
        for (const QString &attribute : absent)
            QVERIFY2(!attributes.contains(attribute), qPrintable(attributes));
        QCOMPARE(start, offsetOf(pane, line, runStart));
        QCOMPARE(end, offsetOf(pane, line, runEnd));
        // Every character of the run is told the same.
        int otherStart = -1;
        int otherEnd = -1;
        QCOMPARE(text->attributes(end - 1, &otherStart, &otherEnd), attributes);
        QCOMPARE(otherStart, start);
        QCOMPARE(text->attributes(start, &otherStart, &otherEnd), attributes);
        QCOMPARE(otherEnd, end);
    }

    // Offsets outside the text are refused; -1 and the end mean the last character.
    void attributesOutsideTheText()
    {
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        pane.appendPlainText(QStringLiteral("see http://a.example"));
        QAccessibleTextInterface *text = textOf(&pane);
        QVERIFY(text);
        int start = 0;
        int end = 0;
        QVERIFY(text->attributes(-5, &start, &end).isEmpty());
        QCOMPARE(start, -1);
        QCOMPARE(end, -1);
        QVERIFY(text->attributes(1000, &start, &end).isEmpty());
        QVERIFY(text->attributes(-1, &start, &end).contains(QStringLiteral("text-underline-style:solid")));
        QCOMPARE(end, 20);
        QCOMPARE(text->attributes(text->characterCount(), &start, &end),
                 text->attributes(text->characterCount() - 1, &start, &end));
    }

    // Only the panes get this interface; other widgets keep Qt's.
    void onlyPanes()
    {
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        QPlainTextEdit other;
        QLineEdit line;
        QVERIFY(dynamic_cast<PaneAccessible *>(QAccessible::queryAccessibleInterface(&pane)));
        QVERIFY(!dynamic_cast<PaneAccessible *>(QAccessible::queryAccessibleInterface(&other)));
        QVERIFY(!dynamic_cast<PaneAccessible *>(QAccessible::queryAccessibleInterface(&line)));
        QVERIFY(textOf(&other));
    }

    // A pane asked for before it became one is asked anew.
    void installAfterQtsInterface()
    {
        QPlainTextEdit pane;
        QVERIFY(!dynamic_cast<PaneAccessible *>(QAccessible::queryAccessibleInterface(&pane)));
        PaneAccessible::install(&pane);
        QVERIFY(dynamic_cast<PaneAccessible *>(QAccessible::queryAccessibleInterface(&pane)));
    }

    // Each character is where the pane draws it: on its own line, also on a
    // wrapped line's second row and after scrolling; a point on it finds it.
    void characterExtents_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("topLine"); // the scroll bar's value
        QTest::newRow("line 1") << 0 << 3 << 0;
        QTest::newRow("line 2") << 1 << 3 << 0;
        QTest::newRow("line 3, further right") << 2 << 20 << 0;
        QTest::newRow("a later line, scrolled to") << 35 << 5 << 33;
        QTest::newRow("a later line, scrolled to the end") << 39 << 8 << 36;
        QTest::newRow("wrapped line, first row") << 40 << 14 << 36;
        QTest::newRow("wrapped line, second row") << 40 << 80 << 36;
    }
    void characterExtents()
    {
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(int, topLine);
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        fill(pane, 40);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.verticalScrollBar()->setValue(topLine);
        QAccessibleTextInterface *text = textOf(&pane);
        QVERIFY(text);

        const int offset = offsetOf(pane, line, column);
        QTextCursor cursor(pane.document());
        cursor.setPosition(offset);
        const QRect caret = pane.cursorRect(cursor);
        QVERIFY2(pane.viewport()->rect().contains(caret.center()), "the character is shown");
        const QPoint drawn = pane.viewport()->mapToGlobal(caret.topLeft());
        cursor.movePosition(QTextCursor::NextCharacter);
        const int nextX = pane.viewport()->mapToGlobal(pane.cursorRect(cursor).topLeft()).x();

        const QRect rect = text->characterRect(offset);
        QVERIFY(rect.isValid());
        QVERIFY2(qAbs(rect.top() - drawn.y()) <= 1, qPrintable(QStringLiteral("%1 vs %2").arg(rect.top()).arg(drawn.y())));
        QVERIFY(qAbs(rect.height() - caret.height()) <= 1);
        QVERIFY(qAbs(rect.left() - drawn.x()) <= 1);
        if (nextX > drawn.x()) // not the last character of a wrapped row
            QVERIFY(qAbs(rect.right() + 1 - nextX) <= 1);
        QCOMPARE(text->offsetAtPoint(rect.center()), offset);
    }

    // Lines one above the other are told apart; characters of one line share it.
    void linesHaveTheirOwnExtents()
    {
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        fill(pane, 10);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.verticalScrollBar()->setValue(0);
        QAccessibleTextInterface *text = textOf(&pane);
        QVERIFY(text);
        const QRect first = text->characterRect(offsetOf(pane, 0, 4));
        const QRect second = text->characterRect(offsetOf(pane, 1, 4));
        const QRect third = text->characterRect(offsetOf(pane, 2, 4));
        const QRect sameLine = text->characterRect(offsetOf(pane, 1, 9));
        QVERIFY(first.bottom() < second.top());
        QVERIFY(second.bottom() < third.top());
        QCOMPARE(sameLine.top(), second.top());
        QVERIFY(sameLine.left() > second.left());
    }

    // Points on no character find none.
    void pointsOffTheText_data()
    {
        QTest::addColumn<QPoint>("inViewport");
        QTest::newRow("past a line's end") << QPoint(300, 10);
        QTest::newRow("above the pane") << QPoint(10, -20);
        QTest::newRow("left of the pane") << QPoint(-20, 10);
        QTest::newRow("below the last line") << QPoint(10, 150);
    }
    void pointsOffTheText()
    {
        QFETCH(QPoint, inViewport);
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        pane.resize(320, 160);
        pane.appendPlainText(QStringLiteral("short\nlines"));
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QAccessibleTextInterface *text = textOf(&pane);
        QVERIFY(text);
        QCOMPARE(text->offsetAtPoint(pane.viewport()->mapToGlobal(inViewport)), -1);
    }

    // Scrolling to a substring shows it and leaves the caret where it was.
    void scrollToSubstring()
    {
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        fill(pane, 40);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        const int caret = pane.textCursor().position();
        QAccessibleTextInterface *text = textOf(&pane);
        QVERIFY(text);
        const int offset = offsetOf(pane, 2, 3);
        text->scrollToSubstring(offset, offset + 4);
        QTextCursor cursor(pane.document());
        cursor.setPosition(offset);
        QVERIFY(pane.viewport()->rect().contains(pane.cursorRect(cursor).center()));
        QCOMPARE(pane.textCursor().position(), caret);
    }

    // The addresses of the lines shown are links: their text, where they go,
    // where they are, and an action that opens them.
    void linksOfShownLines()
    {
        QList<QUrl> opened;
        setLinkOpenerForTesting([&](const QUrl &url) {
            opened.append(url);
            return true;
        });
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        pane.resize(320, 160);
        pane.appendPlainText(QStringLiteral("[12:34] <cy> see http://a.example now\n"
                                            "[12:34] <bo> nothing here\n"
                                            "[12:34] <bo> www.x.example"));
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&pane);
        QList<QAccessibleInterface *> links;
        for (int i = 0; i < iface->childCount(); ++i) {
            if (iface->child(i)->role() == QAccessible::Link)
                links.append(iface->child(i));
        }
        QCOMPARE(links.size(), 2);
        QAccessibleHyperlinkInterface *second = links[1]->hyperlinkInterface();
        QVERIFY(second);
        QCOMPARE(second->anchor(), QStringLiteral("www.x.example"));
        QCOMPARE(second->anchorTarget(), QStringLiteral("http://www.x.example"));
        QCOMPARE(second->startIndex(), offsetOf(pane, 2, 13));
        QCOMPARE(second->endIndex(), offsetOf(pane, 2, 26));
        QCOMPARE(links[0]->text(QAccessible::Name), QStringLiteral("http://a.example"));
        QCOMPARE(links[0]->parent(), iface);
        QCOMPARE(iface->child(iface->indexOfChild(links[1])), links[1]);
        const QRect first = iface->textInterface()->characterRect(offsetOf(pane, 2, 13));
        QVERIFY(links[1]->rect().contains(first));
        QCOMPARE(iface->childAt(first.center().x(), first.center().y()), links[1]);
        links[1]->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("http://www.x.example"))});
        // Asked again, the same links are the same objects.
        iface->childCount();
        QCOMPARE(iface->child(iface->indexOfChild(links[0])), links[0]);
    }

    // Only the lines shown have link children; a line dropped takes its link along.
    void linksFollowTheView()
    {
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        pane.resize(320, 160);
        for (int i = 0; i < 40; ++i)
            pane.appendPlainText(QStringLiteral("[12:34] <cy> http://a.example/%1").arg(i));
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&pane);
        const auto linkStarts = [&] {
            QList<int> starts;
            for (int i = 0; i < iface->childCount(); ++i) {
                if (QAccessibleHyperlinkInterface *link = iface->child(i)->hyperlinkInterface())
                    starts.append(link->startIndex());
            }
            return starts;
        };
        pane.verticalScrollBar()->setValue(0);
        const QList<int> top = linkStarts();
        QVERIFY(top.size() >= 3 && top.size() < 20);
        QCOMPARE(top.first(), offsetOf(pane, 0, 13));
        QCOMPARE(top[1], offsetOf(pane, 1, 13));
        pane.verticalScrollBar()->setValue(30);
        const QList<int> later = linkStarts();
        QCOMPARE(later.first(), offsetOf(pane, 30, 13));

        QAccessibleInterface *link = nullptr;
        for (int i = 0; i < iface->childCount() && !link; ++i) {
            if (iface->child(i)->role() == QAccessible::Link)
                link = iface->child(i);
        }
        QVERIFY(link && link->isValid());
        pane.clear();
        QVERIFY(!link->isValid() || iface->indexOfChild(link) < 0);
        QCOMPARE(linkStarts(), QList<int>{});
    }

    // The text and its lines, as a screen reader reads them.
    void textByLine()
    {
        QPlainTextEdit pane;
        PaneMarks marks(&pane);
        pane.setLineWrapMode(QPlainTextEdit::NoWrap);
        pane.appendPlainText(QStringLiteral("first line\nsecond line"));
        QAccessibleTextInterface *text = textOf(&pane);
        QVERIFY(text);
        QCOMPARE(text->characterCount(), 22);
        QCOMPARE(text->text(0, 22), QStringLiteral("first line\nsecond line"));
        int start = -1;
        int end = -1;
        QCOMPARE(text->textAtOffset(13, QAccessible::LineBoundary, &start, &end), QStringLiteral("second line"));
        QCOMPARE(start, 11);
        QCOMPARE(text->textBeforeOffset(13, QAccessible::LineBoundary, &start, &end).trimmed(),
                 QStringLiteral("first line"));
        QCOMPARE(start, 0);
        QCOMPARE(text->textAfterOffset(3, QAccessible::LineBoundary, &start, &end), QStringLiteral("second line"));
        QCOMPARE(start, 11);
        QVERIFY(text->textAfterOffset(13, QAccessible::LineBoundary, &start, &end).isEmpty());
        QVERIFY(text->textBeforeOffset(0, QAccessible::WordBoundary, &start, &end).isEmpty());
    }
};

QTEST_MAIN(tst_paneaccessible)
#include "tst_paneaccessible.moc"
