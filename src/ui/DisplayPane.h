// SPDX-License-Identifier: MIT
#pragma once

#include <QPointer>
#include <QString>

#include <vector>

class QPlainTextEdit;

// Panes keep at least this many of their last lines; older ones are dropped
// so that a long session or a flood cannot grow memory without bound.
inline constexpr int kPaneLineLimit = 100000;

// Prepares a QPlainTextEdit for use as a chat pane: no undo history (it would
// keep every appended line twice). The appends below keep the line limit
// above, dropping old lines in steps of a thousand.
void configurePane(QPlainTextEdit *pane);

// Appends "[" + time + "] " + body as one line and puts the caret at the end,
// so the pane shows its last line. Costs the same whatever the pane holds.
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

    void addDisplayLine(QPlainTextEdit *pane, const QString &body);
    void addPlainLine(QPlainTextEdit *pane, const QString &text);
    // Writes what was gathered so far.
    void flush();

private:
    struct Pending {
        QPointer<QPlainTextEdit> pane;
        QString lines; // each followed by a line feed
    };
    QString &linesFor(QPlainTextEdit *pane);

    std::vector<Pending> m_pending;
    QString m_time;
};
