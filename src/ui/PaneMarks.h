// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QPlainTextEdit;
class QTextBlock;

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
    // The next pane line that ends with body is a mention; lines are matched
    // in the order they are appended.
    void markNextMention(const QString &body);
    // Forgets mentions not yet matched (their lines never reached the pane).
    void clearPendingMentions() { m_pendingMentions.clear(); }

    // The address under a point of the pane's viewport, or an empty URL.
    QUrl linkAt(const QPoint &viewportPos) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void linesAdded(int from, int removed, int added);
    void mark(const QTextBlock &block);

    QPlainTextEdit *m_pane;
    bool m_linksShown = true;
    QStringList m_pendingMentions;
};

// Opens an address in the user's browser; tests replace it.
bool openLink(const QUrl &url);
void setLinkOpenerForTesting(std::function<bool(const QUrl &)> opener);
