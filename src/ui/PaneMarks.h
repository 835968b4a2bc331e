// SPDX-License-Identifier: MIT
#pragma once

#include "session/ShownLines.h"
#include "text/TextMarks.h"

#include <QColor>
#include <QObject>
#include <QPalette>
#include <QString>
#include <QStringList>
#include <QTextBlock>
#include <QUrl>

#include <functional>

class QPlainTextEdit;

// Marks a chat pane's plain text without changing it: web addresses are
// underlined and open in the browser on a click (the pointer changes over
// them), and lines that mention the user are shown highlighted. The pane's
// text stays exactly what was appended; only its display formats change.
// Lines are marked once, as they are appended (pane lines never change):
// unlike a syntax highlighter, a line with nothing to mark costs no formats.
class PaneMarks : public QObject
{
    Q_OBJECT

public:
    explicit PaneMarks(QPlainTextEdit *pane);

    void setLinksShown(bool shown);
    // Line row (from 0) of the next text appended to the pane is a mention:
    // lines are told apart by their place, never by their text.
    void markMentionRow(int row) { m_mentionRows.append(row); }
    // Forgets mentions not yet shown (their lines never reached the pane).
    void clearPendingMentions() { m_mentionRows.clear(); }
    bool hasPendingMentions() const { return !m_mentionRows.isEmpty(); }
    // Line row (from 0) of the next text appended to the pane is drawn
    // muted: an earlier line from the chat log.
    void markMutedRow(int row) { m_mutedRows.append(row); }
    // The muted text colour of a pane: between its text and its base, readable on either.
    static QColor mutedColour(const QPalette &palette);

    // The address under a point of the pane's viewport, or an empty URL.
    QUrl linkAt(const QPoint &viewportPos) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What one line gets: the mention format, underlined addresses.
    struct Marks {
        QTextBlock block;
        bool mention = false;
        bool muted = false;
        QList<TextRange> links; // in the line
    };
    void linesAdded(int from, int removed, int added);
    void mark(const Marks &marks);

    QPlainTextEdit *m_pane;
    bool m_linksShown = true;
    QList<int> m_mentionRows; // rows of the next appended text, ascending
    QList<int> m_mutedRows;   // the same for muted lines
};

// The mention marks as a session's filter: the chat pane's lines that
// mention the user are marked when the window appends the batch.
class MentionMarks : public ShownLineFilter
{
public:
    explicit MentionMarks(PaneMarks *chatMarks) : m_marks(chatMarks) {}
    void linesReady(const ShownLines &lines) override;
    // A mention whose line did not reach the pane must not mark a later line.
    void batchShown() override { m_marks->clearPendingMentions(); }

private:
    PaneMarks *m_marks;
};

// Opens an address in the user's browser; tests replace it.
bool openLink(const QUrl &url);
void setLinkOpenerForTesting(std::function<bool(const QUrl &)> opener);
