// SPDX-License-Identifier: MIT
#include "ui/DisplayPane.h"

#include "time/Clock.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace {

// The document starts a new block at these besides the line feed, so a
// received line holding one would show as two pane lines.
bool isBlockBreak(QChar c)
{
    return c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c.unicode() == 0xFDD0
        || c.unicode() == 0xFDD1 || c == u'\n' || c == u'\r';
}

// Appends text and a line feed, each block break inside text made visible as U+FFFD.
void appendLineTo(QString &out, const QString &text)
{
    const qsizetype start = out.size();
    out += text;
    QChar *c = out.data() + start;
    for (QChar *end = out.data() + out.size(); c != end; ++c) {
        if (isBlockBreak(*c))
            *c = QChar::ReplacementCharacter;
    }
    out += u'\n';
}

// The pane drops its oldest lines in steps of this many, so that a full pane
// does not pay for a removal with every line.
constexpr int kTrimStep = 1000;

// Drops the oldest lines once the pane holds kTrimStep more than its limit.
// Qt's own block limit would lay out every line it drops (for cursor
// movement), so the document's limit is switched on only to remove the last
// line and let it compact its text store; it stays off otherwise.
void trimOldLines(QTextDocument *doc)
{
    const int keep = kPaneLineLimit + 1; // the text ends with a line end: an empty last block
    const int excess = doc->blockCount() - keep;
    if (excess < kTrimStep)
        return;
    QTextCursor oldest(doc);
    oldest.beginEditBlock();
    oldest.setPosition(doc->findBlockByNumber(excess - 1).position(), QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
    oldest.endEditBlock();
    doc->setMaximumBlockCount(keep);
    doc->setMaximumBlockCount(0);
}

void writeLines(QPlainTextEdit *pane, const QString &lines)
{
    QTextDocument *doc = pane->document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    // setPosition, not movePosition: moving lays out the block it starts from.
    cursor.setPosition(doc->characterCount() - 1);
    cursor.insertText(lines);
    cursor.endEditBlock();
    trimOldLines(doc);
    pane->setTextCursor(cursor);
}

} // namespace

void configurePane(QPlainTextEdit *pane)
{
    pane->setUndoRedoEnabled(false);
    // The appends below bound the pane; see trimOldLines.
    pane->setMaximumBlockCount(0);
}

void appendPlainLine(QPlainTextEdit *pane, const QString &text)
{
    QString line;
    line.reserve(text.size() + 1);
    appendLineTo(line, text);
    writeLines(pane, line);
}

void appendDisplayLine(QPlainTextEdit *pane, const QString &body)
{
    appendPlainLine(pane, QLatin1Char('[') + formattedTime() + QLatin1String("] ") + body);
}

QString &PaneAppendBatch::linesFor(QPlainTextEdit *pane)
{
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [pane](const Pending &p) { return p.pane == pane; });
    if (it == m_pending.end())
        it = m_pending.insert(m_pending.end(), Pending{pane, {}});
    return it->lines;
}

void PaneAppendBatch::addPlainLine(QPlainTextEdit *pane, const QString &text)
{
    appendLineTo(linesFor(pane), text);
}

void PaneAppendBatch::addDisplayLine(QPlainTextEdit *pane, const QString &body)
{
    if (m_time.isEmpty())
        m_time = formattedTime();
    QString &lines = linesFor(pane);
    lines += u'[';
    lines += m_time;
    lines += QLatin1String("] ");
    appendLineTo(lines, body);
}

void PaneAppendBatch::flush()
{
    for (Pending &pending : m_pending) {
        if (pending.pane && !pending.lines.isEmpty())
            writeLines(pending.pane, pending.lines);
    }
    m_pending.clear();
}
