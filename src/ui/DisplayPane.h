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

// While one of these lives, the appends above gather their lines and it
// writes them when it ends, in one edit per pane, caret at the end. The
// result is the same as appending line by line; a flood costs far less.
// The clock is read once per batch: a batch spans milliseconds, and reading
// the local time costs more than formatting a line. Nested batches join the
// outermost one.
class PaneAppendBatch
{
public:
    PaneAppendBatch();
    ~PaneAppendBatch();
    PaneAppendBatch(const PaneAppendBatch &) = delete;
    PaneAppendBatch &operator=(const PaneAppendBatch &) = delete;

    // The batch collecting appends right now, if any.
    static PaneAppendBatch *current();
    void add(QPlainTextEdit *pane, const QString &line);
    // The time of day for display lines, read at the first one.
    const QString &time();
    // Writes what was gathered so far.
    void flush();

private:
    struct Pending {
        QPointer<QPlainTextEdit> pane;
        QString lines; // each followed by a line feed
    };
    std::vector<Pending> m_pending;
    QString m_time;
    bool m_outermost;
};
