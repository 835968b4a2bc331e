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

PaneAppendBatch *g_batch = nullptr;

// The document starts a new block at these besides the line feed, so a
// received line holding one would show as two pane lines; control
// characters would hide the rest of the line from screen readers.
bool isShownAsReplacement(QChar c)
{
    const char16_t u = c.unicode();
    return isHiddenControl(u) || u == QChar::ParagraphSeparator || u == QChar::LineSeparator || u == 0xFDD0
        || u == 0xFDD1;
}

// Ends the line that starts at out[start]: cut to the display length, every
// block break and control character made U+FFFD, then a line feed.
void finishLine(QString &out, qsizetype start)
{
    cutForDisplay(out, start, kDisplayLineCut);
    QChar *c = out.data() + start;
    for (QChar *end = out.data() + out.size(); c != end; ++c) {
        if (isShownAsReplacement(*c))
            *c = QChar::ReplacementCharacter;
    }
    out += u'\n';
}

// A full pane drops this many lines beyond its line limit at once, or down
// to this share of its character budget, so that trimming (which walks the
// lines it drops and lets the document compact its text store) is rare.
constexpr int kTrimLines = kPaneLineLimit / 8;
constexpr qsizetype kTrimmedCharacters = kPaneCharacterBudget / 8 * 7;

// How many of the oldest lines to drop so that the pane holds at most
// kPaneLineLimit lines and kTrimmedCharacters characters.
int linesToDrop(QTextDocument *doc, int lines)
{
    int drop = std::max(0, lines - kPaneLineLimit);
    const qsizetype excess = doc->characterCount() - kTrimmedCharacters;
    if (excess > 0) {
        // Lines are dropped whole; the last one kept may end past the excess.
        const QTextBlock first = doc->findBlock(int(excess));
        drop = std::max(drop, first.blockNumber() + (first.position() < excess ? 1 : 0));
    }
    return std::min(drop, lines);
}

// Drops the oldest lines once the pane holds kTrimLines more lines than its
// limit or more characters than its budget. Removing with the document's
// block limit would lay out every line it drops, so the lines are removed by
// a cursor; with undo off the document counts what it removed and compacts
// its text store on its own once enough is garbage.
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

// Appends one line to pane: into the batch when one gathers, else at once.
void appendLine(QPlainTextEdit *pane, const std::function<void(QString &out)> &write)
{
    if (g_batch) {
        QString &lines = g_batch->linesFor(pane);
        const qsizetype start = lines.size();
        write(lines);
        finishLine(lines, start);
        return;
    }
    QString line;
    write(line);
    finishLine(line, 0);
    writeLines(pane, line);
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
    appendLine(pane, [&text](QString &out) { out += text; });
}

void appendDisplayLine(QPlainTextEdit *pane, const std::function<void(QString &out)> &writeBody)
{
    const QString time = g_batch ? g_batch->time() : formattedTime();
    appendLine(pane, [&](QString &out) {
        out += u'[';
        out += time;
        out += QLatin1String("] ");
        writeBody(out);
    });
}

void appendDisplayLine(QPlainTextEdit *pane, const QString &body)
{
    appendDisplayLine(pane, [&body](QString &out) { out += body; });
}

PaneAppendBatch::PaneAppendBatch() : m_outermost(g_batch == nullptr)
{
    if (m_outermost)
        g_batch = this;
}

PaneAppendBatch::~PaneAppendBatch()
{
    if (!m_outermost)
        return;
    flush();
    g_batch = nullptr;
}

PaneAppendBatch *PaneAppendBatch::current()
{
    return g_batch;
}

const QString &PaneAppendBatch::time()
{
    if (!m_outermost)
        return g_batch->time();
    if (m_time.isEmpty())
        m_time = formattedTime();
    return m_time;
}

QString &PaneAppendBatch::linesFor(QPlainTextEdit *pane)
{
    if (!m_outermost)
        return g_batch->linesFor(pane);
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [pane](const Pending &p) { return p.pane == pane; });
    if (it == m_pending.end())
        it = m_pending.insert(m_pending.end(), Pending{pane, {}});
    return it->lines;
}

void PaneAppendBatch::flush()
{
    if (!m_outermost) {
        g_batch->flush();
        return;
    }
    for (Pending &pending : m_pending) {
        if (pending.pane && !pending.lines.isEmpty())
            writeLines(pending.pane, pending.lines);
    }
    m_pending.clear();
}
