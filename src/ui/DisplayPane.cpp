// SPDX-License-Identifier: MIT
#include "ui/DisplayPane.h"

#include "reception/DisplayText.h"
#include "time/Clock.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace {

// The document starts a new block at these besides the line feed, so a
// received line holding one would show as two pane lines; control
// characters would hide the rest of the line from screen readers.
bool isShownAsReplacement(QChar c)
{
    const char16_t u = c.unicode();
    return isHiddenControl(u) || u == QChar::ParagraphSeparator || u == QChar::LineSeparator || u == 0xFDD0
        || u == 0xFDD1;
}

// A full pane drops this many lines beyond its line limit at once, or down
// to this share of its character budget: steps large enough that trims are
// rare, small enough that one (it walks the lines it drops) takes a few ms.
constexpr int kTrimLines = kPaneLineLimit / 16;
constexpr qsizetype kTrimmedCharacters = kPaneCharacterBudget / 16 * 15;

// How many of the oldest lines to drop so that the pane holds at most
// kPaneLineLimit lines and kTrimmedCharacters characters.
int linesToDrop(QTextDocument *doc, int lines)
{
    int drop = std::max(0, lines - kPaneLineLimit);
    const qsizetype excess = doc->characterCount() - kTrimmedCharacters;
    if (excess > 0) {
        // Lines go whole: the one holding the excess's last character goes too.
        const QTextBlock first = doc->findBlock(int(excess));
        drop = std::max(drop, first.blockNumber() + (first.position() < excess ? 1 : 0));
    }
    return std::min(drop, lines);
}

// Drops the oldest lines once the pane holds kTrimLines more lines than its
// limit or more characters than its budget. Qt's own block limit would lay
// out every line it drops (for cursor movement), so a cursor removes them;
// with undo off, the document counts what was removed and compacts its text
// store by itself once that is large.
void trimOldLines(QTextDocument *doc)
{
    const int lines = doc->blockCount() - 1; // the text ends with a line end: an empty last block
    if (lines <= kPaneLineLimit + kTrimLines && doc->characterCount() <= kPaneCharacterBudget)
        return;
    const int drop = linesToDrop(doc, lines);
    if (drop <= 0)
        return;
    QTextCursor oldest(doc);
    oldest.setPosition(doc->findBlockByNumber(drop).position(), QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
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
    PaneAppendBatch batch;
    batch.addPlainLine(pane, text);
}

void appendDisplayLine(QPlainTextEdit *pane, const QString &body)
{
    PaneAppendBatch batch;
    batch.addDisplayLine(pane, body);
}

QString &PaneAppendBatch::linesFor(QPlainTextEdit *pane)
{
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [pane](const Pending &p) { return p.pane == pane; });
    if (it == m_pending.end())
        it = m_pending.insert(m_pending.end(), Pending{pane, {}});
    return it->lines;
}

qsizetype PaneAppendBatch::startDisplayLine(QString &lines)
{
    if (m_time.isEmpty())
        m_time = formattedTime();
    const qsizetype start = lines.size();
    lines += u'[';
    lines += m_time;
    lines += QLatin1String("] ");
    return start;
}

// Cuts the line to the display length, makes every block break and control
// character in it U+FFFD, and ends it with a line feed.
void PaneAppendBatch::finishLine(QString &lines, qsizetype start)
{
    cutForDisplay(lines, start, kDisplayLineCut);
    QChar *c = lines.data() + start;
    for (QChar *end = lines.data() + lines.size(); c != end; ++c) {
        if (isShownAsReplacement(*c))
            *c = QChar::ReplacementCharacter;
    }
    lines += u'\n';
}

void PaneAppendBatch::addPlainLine(QPlainTextEdit *pane, QStringView text)
{
    QString &lines = linesFor(pane);
    const qsizetype start = lines.size();
    lines += text;
    finishLine(lines, start);
}

void PaneAppendBatch::addDisplayLine(QPlainTextEdit *pane, QStringView body)
{
    writeDisplayLine(pane, [&body](QString &out) { out += body; });
}

void PaneAppendBatch::flush()
{
    for (Pending &pending : m_pending) {
        if (pending.pane && !pending.lines.isEmpty())
            writeLines(pending.pane, pending.lines);
    }
    m_pending.clear();
}
