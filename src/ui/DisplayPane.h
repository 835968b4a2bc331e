// SPDX-License-Identifier: MIT
#pragma once

#include <QPointer>
#include <QString>

#include <vector>

class QPlainTextEdit;

// Panes keep their last lines, at least this many of them unless they hold
// more than kPaneCharacterBudget characters; older ones are dropped so that
// a long session or a flood cannot grow memory without bound.
inline constexpr int kPaneLineLimit = 100000;
// 10 Mi UTF-16 code units, 20 MiB of text: 100,000 lines of 100 characters,
// more than ordinary chat lines hold. The document's text store grows to the
// next power of two in bytes and copies the whole text when it compacts at
// 90% full; a full pane's text (15/16 of this to all of it) sits just above
// 16 MiB, so it compacts after some 9 MB of new text, not after every trim.
inline constexpr qsizetype kPaneCharacterBudget = 10 * 1024 * 1024;

// Prepares a QPlainTextEdit for use as a chat pane: no undo history (it would
// keep every appended line twice). The appends below keep the bounds above.
void configurePane(QPlainTextEdit *pane);

// Appends "[" + time + "] " + body as one line and puts the caret at the end,
// so the pane shows its last line. Costs the same whatever the pane holds.
// Every pane line shows its control characters as U+FFFD and is cut after
// kDisplayLineCut characters with a marker of how many were left out.
void appendDisplayLine(QPlainTextEdit *pane, const QString &body);
// The same without the timestamp (server information lines).
void appendPlainLine(QPlainTextEdit *pane, const QString &text);

// Gathers the lines of one received slice and writes them when it ends (or
// at flush), in one edit per pane, caret at the end. The result is the same
// as appending line by line; a flood costs far less. The clock is read once
// per batch: a batch spans milliseconds, and reading the local time costs
// more than formatting a line.
class PaneAppendBatch
{
public:
    PaneAppendBatch() = default;
    ~PaneAppendBatch() { flush(); }
    PaneAppendBatch(const PaneAppendBatch &) = delete;
    PaneAppendBatch &operator=(const PaneAppendBatch &) = delete;

    void addDisplayLine(QPlainTextEdit *pane, QStringView body);
    void addPlainLine(QPlainTextEdit *pane, QStringView text);
    // A display line whose body writeBody(QString &out) appends to the
    // pane's gathered text, so that the line is built once, in place.
    template <typename WriteBody>
    void writeDisplayLine(QPlainTextEdit *pane, WriteBody &&writeBody)
    {
        QString &lines = linesFor(pane);
        const qsizetype start = startDisplayLine(lines);
        writeBody(lines);
        finishLine(lines, start);
    }
    // Writes what was gathered so far.
    void flush();

private:
    struct Pending {
        QPointer<QPlainTextEdit> pane;
        QString lines; // each followed by a line feed
    };
    QString &linesFor(QPlainTextEdit *pane);
    // Appends "[" + time + "] " and gives where the line starts.
    qsizetype startDisplayLine(QString &lines);
    static void finishLine(QString &lines, qsizetype start);

    std::vector<Pending> m_pending;
    QString m_time;
};
