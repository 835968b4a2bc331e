// SPDX-License-Identifier: MIT
#pragma once

#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

class QPlainTextEdit;

// Panes keep their last lines, at least this many of them unless they hold
// more than kPaneCharacterBudget characters; older ones are dropped so that
// a long session or a flood cannot grow memory without bound.
inline constexpr int kPaneLineLimit = 100000;
// 16 million UTF-16 code units, 32 MB of text: 100,000 lines of up to 160
// characters each, far above ordinary chat. The text store of a pane can
// hold up to about twice its text before it compacts, so both panes full
// stay near 130 MB whatever the lines' sizes.
inline constexpr qsizetype kPaneCharacterBudget = 16 * 1024 * 1024;

// Prepares a QPlainTextEdit for use as a chat pane: no undo history (it would
// keep every appended line twice). The appends below keep the bounds above.
void configurePane(QPlainTextEdit *pane);

// Appends "[" + time + "] " + body as one line and puts the caret at the end,
// so the pane shows its last line. Costs the same whatever the pane holds.
// Every line is shown with its control characters as U+FFFD and cut to
// kDisplayLineCut characters with a marker of how many were left out.
void appendDisplayLine(QPlainTextEdit *pane, const QString &body);
// The same with a body that writeBody appends to the buffer it is given, so
// that the line is built once, in place.
void appendDisplayLine(QPlainTextEdit *pane, const std::function<void(QString &out)> &writeBody);
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
    // The text gathered for pane, to append one line to.
    QString &linesFor(QPlainTextEdit *pane);
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
