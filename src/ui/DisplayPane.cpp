// SPDX-License-Identifier: MIT
#include "ui/DisplayPane.h"

#include "ui/Clock.h"

#include <QPlainTextEdit>
#include <QTextCursor>

void configurePane(QPlainTextEdit *pane)
{
    pane->setUndoRedoEnabled(false);
    // One more block than lines: the text always ends with a line end, which
    // leaves an empty last block.
    pane->setMaximumBlockCount(kPaneLineLimit + 1);
}

void appendPlainLine(QPlainTextEdit *pane, const QString &text)
{
    QTextCursor cursor(pane->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    cursor.insertBlock();
    pane->setTextCursor(cursor);
}

void appendDisplayLine(QPlainTextEdit *pane, const QString &body)
{
    appendPlainLine(pane, QLatin1Char('[') + formattedTime() + QLatin1String("] ") + body);
}
